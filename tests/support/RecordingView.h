#pragma once

#include "state/MainView.h"
#include "app/RecordingControl.h"

#include <QFile>
#include <QStringList>

// A main window that remembers what the logic showed on it. When a RecordingControl is
// attached, setting the recording box runs its click handling as the real window does.
class RecordingView final : public MainView
{
public:
    QStringList panel1, panel2;          // every text, in order
    QStringList shown;                   // labels of the pictures shown
    QList<bool> recordingStates;         // ShowRecordingState calls
    bool failShow = false;
    int settingsChanged = 0;
    RecordingControl *control = nullptr;

    void SetStatusText(int panel, const QString &text) override { (panel == 1 ? panel1 : panel2).append(text); }
    bool ShowLastImage(const QString &path, const QString &label, QString *error) override
    {
        if (failShow || !QFile::exists(path)) {
            if (error)
                *error = QStringLiteral("Bild kann nicht geladen werden");
            return false;
        }
        shown.append(label);
        return true;
    }
    void SetRecordingChecked(bool checked) override
    {
        if (control)
            control->SetChecked(checked);
    }
    void ShowRecordingState(bool on) override { recordingStates.append(on); }
    void SettingsChanged() override { ++settingsChanged; }
};
