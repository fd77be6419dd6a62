#pragma once

#include <QString>

// What the logic may do to the main window. The real window implements it; tests record.
class MainView
{
public:
    virtual ~MainView() = default;
    // MainStatusBar: panel 1 the current activity, panel 2 the free space.
    virtual void SetStatusText(int panel, const QString &text) = 0;
    // imgLetztesBild shows the picture at path and lblLetztesBild the label; false with the
    // reason when the picture cannot be loaded.
    virtual bool ShowLastImage(const QString &path, const QString &label, QString *error) = 0;
    // chkRecording's value; its click handling runs as on a click. A window forwards this
    // to RecordingControl::SetChecked, which runs chkRecording_Click when the value changes.
    virtual void SetRecordingChecked(bool checked) = 0;
    // Shows the state chkRecording_Click decided: the box checked or not, the captions of
    // chkRecording and mnuStartStop ("Aufnahme stoppen" / "Aufnahme starten") and the
    // box's colour (red on, green off). Must not run the click handling again.
    virtual void ShowRecordingState(bool on) { (void)on; }
    // Something the settings file holds changed outside the window, e.g. a certificate was
    // pinned: the window saves the settings.
    virtual void SettingsChanged() {}
};
