#pragma once

#include "app/AppState.h"
#include "config/SettingsView.h"
#include "util/Utils.h"

#include <QStringList>

// The main window's controls as far as the settings touch them. Each setter does what the
// control's own handling does to the shared state, and records the call.
class FakeSettingsView final : public SettingsView
{
public:
    explicit FakeSettingsView(AppState &state) : mState(state) {}

    QString speicherort, einheit = QStringLiteral("h"), speicherlimit, zeitlimit;
    bool logAutoLeeren = false, logAutoSichern = false, recording = false;
    qint32 left = 0, top = 0;
    qint16 windowState = 0;
    QStringList calls;

    void SetSpeicherortText(const QString &text) override
    {
        calls << QStringLiteral("lblSpeicherort");
        speicherort = text;
    }
    QString SpeicherortText() const override { return speicherort; }

    void ClickPlatzlimit() override
    {
        calls << QStringLiteral("optPlatzlimit");
        mState.SpaceLimitOn = true;
        mState.TimeLimitOn = false;
    }
    void ClickZeitlimit() override
    {
        calls << QStringLiteral("optZeitlimit");
        mState.TimeLimitOn = true;
        mState.SpaceLimitOn = false;
    }

    void SetEinheitText(const QString &text) override
    {
        calls << QStringLiteral("lblEinheit");
        einheit = text;
    }
    QString EinheitText() const override { return einheit; }

    void SetSpeicherlimitText(const QString &text) override
    {
        calls << QStringLiteral("txtSpeicherlimit");
        if (text == speicherlimit)
            return;
        speicherlimit = text;
        bool ok = false;
        const double number = text.trimmed().toDouble(&ok);
        qint32 mb = 100;
        if (ok && RoundToInt32(number, mb))
            mState.SpaceLimitMB = mb;
        else
            mState.SpaceLimitMB = 100;
    }
    QString SpeicherlimitText() const override { return speicherlimit; }

    void SetZeitlimitText(const QString &text) override
    {
        calls << QStringLiteral("txtZeitlimit");
        if (text == zeitlimit)
            return;
        zeitlimit = text;
        qint32 value = 0;
        if (!text.isEmpty() && RoundToInt32(LeadingNumber(text), value))
            mState.TimeLimitValue = value;
    }
    QString ZeitlimitText() const override { return zeitlimit; }

    void SetLogAutoLeerenChecked(bool checked) override
    {
        if (checked == logAutoLeeren)
            return;
        logAutoLeeren = checked;
        mState.LogAutoClear = checked;
        calls << QStringLiteral("chkLogAutoLeeren");
    }
    void SetLogAutoSichernChecked(bool checked) override
    {
        if (checked == logAutoSichern)
            return;
        logAutoSichern = checked;
        mState.LogAutoSave = checked;
        calls << QStringLiteral("chkLogAutoSichern");
    }
    void SetRecordingChecked(bool checked) override
    {
        if (checked == recording)
            return;
        recording = checked;
        mState.Recording = checked;
        calls << QStringLiteral("chkRecording");
    }

    void SetWindowLeft(qint16 twips) override { left = twips; }
    void SetWindowTop(qint16 twips) override { top = twips; }
    void SetWindowState(qint16 state) override { windowState = state; }
    qint32 WindowLeft() const override { return left; }
    qint32 WindowTop() const override { return top; }
    qint16 WindowState() const override { return windowState; }

private:
    AppState &mState;
};
