#pragma once

#include "platform/FolderLock.h"

#include <QObject>
#include <QTimer>
#include <memory>

class AppState;

// Offers every camera's interval to SpaceMeter.HighestInterval, camera 1 first.
void UpdateHighestInterval(AppState &state);

// Switches recording for all cameras: the value of chkRecording, its click handling,
// the menu item and MainTimer. The window shows what this decides (MainView).
class RecordingControl : public QObject
{
    Q_OBJECT
public:
    explicit RecordingControl(AppState &state, QObject *parent = nullptr);

    // chkRecording's value. Setting a different value runs chkRecording_Click, whoever
    // sets it: the user, the menu item, the settings or the outcome handling.
    bool Checked() const { return mChecked; }
    void SetChecked(bool checked);

    // Runs after every change of the value.
    void chkRecording_Click();
    // Turns the value over; the click handling does the work.
    void mnuStartStop_Click();

    // One capture cycle, as at every tick of MainTimer.
    void MainTimer_Timer();

    QTimer &MainTimer() { return mMainTimer; }

private:
    // Held while recording into the archive folder, so that another instance recording
    // there is told in the log; taken once the folder exists.
    void LockArchive();

    AppState &mState;
    std::unique_ptr<FolderLock> mArchiveLock;
    QTimer mMainTimer;
    bool mChecked = false;
};
