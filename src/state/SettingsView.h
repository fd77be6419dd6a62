#pragma once

#include <QString>
#include <QtGlobal>

// The controls of the main window that the settings are read from and applied to. The
// main window implements it; setting a control runs that control's own handling, exactly
// as a user's edit or click would, so the shared values follow the controls.
class SettingsView
{
public:
    virtual ~SettingsView() = default;

    // lblSpeicherort: the archive folder as shown.
    virtual void SetSpeicherortText(const QString &text) = 0;
    virtual QString SpeicherortText() const = 0;

    // Select optPlatzlimit / optZeitlimit and run its click handling, even when it was
    // selected already.
    virtual void ClickPlatzlimit() = 0;
    virtual void ClickZeitlimit() = 0;

    // lblEinheit: the unit of the age limit.
    virtual void SetEinheitText(const QString &text) = 0;
    virtual QString EinheitText() const = 0;

    // txtSpeicherlimit and txtZeitlimit; their change handling runs when the text changes.
    virtual void SetSpeicherlimitText(const QString &text) = 0;
    virtual QString SpeicherlimitText() const = 0;
    virtual void SetZeitlimitText(const QString &text) = 0;
    virtual QString ZeitlimitText() const = 0;

    // chkLogAutoLeeren, chkLogAutoSichern, chkRecording; a change of value runs the box's
    // click handling, setting a box to the value it has changes nothing.
    virtual void SetLogAutoLeerenChecked(bool checked) = 0;
    virtual void SetLogAutoSichernChecked(bool checked) = 0;
    virtual void SetRecordingChecked(bool checked) = 0;

    // The main window's edges in twips and its state: 0 normal, 1 minimized, 2 maximized.
    virtual void SetWindowLeft(qint16 twips) = 0;
    virtual void SetWindowTop(qint16 twips) = 0;
    virtual void SetWindowState(qint16 state) = 0;
    virtual qint32 WindowLeft() const = 0;
    virtual qint32 WindowTop() const = 0;
    virtual qint16 WindowState() const = 0;
};
