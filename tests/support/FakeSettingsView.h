#pragma once

#include "state/AppState.h"
#include "state/SettingsView.h"

// The main window's controls as far as applying the settings touches them; each setter does
// what the control's handling does to the shared state.
class FakeSettingsView final : public SettingsView
{
public:
    explicit FakeSettingsView(AppState &s) : state(s) {}

    AppState &state;
    QString archive, unit = QStringLiteral("h"), space, age;
    qint32 left = 0, top = 0;
    qint16 windowState = 0;
    QString unitSeenByAge;   // the unit when the age box was set

    void SetSpeicherortText(const QString &text) override { archive = text; }
    QString SpeicherortText() const override { return archive; }
    void ClickPlatzlimit() override { state.SpaceLimitOn = true, state.TimeLimitOn = false; }
    void ClickZeitlimit() override { state.SpaceLimitOn = false, state.TimeLimitOn = true; }
    void SetEinheitText(const QString &text) override { unit = text; }
    QString EinheitText() const override { return unit; }
    void SetSpeicherlimitText(const QString &text) override { state.SpaceLimitMB = (space = text).toInt(); }
    QString SpeicherlimitText() const override { return space; }
    void SetZeitlimitText(const QString &text) override { unitSeenByAge = unit; state.TimeLimitValue = (age = text).toInt(); }
    QString ZeitlimitText() const override { return age; }
    void SetLogAutoLeerenChecked(bool checked) override { state.LogAutoClear = checked; }
    void SetLogAutoSichernChecked(bool checked) override { state.LogAutoSave = checked; }
    void SetRecordingChecked(bool checked) override { state.Recording = checked; }
    void SetWindowLeft(qint16 twips) override { left = twips; }
    void SetWindowTop(qint16 twips) override { top = twips; }
    void SetWindowState(qint16 s) override { windowState = s; }
    qint32 WindowLeft() const override { return left; }
    qint32 WindowTop() const override { return top; }
    qint16 WindowState() const override { return windowState; }
};
