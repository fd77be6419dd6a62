#include "app/RecordingControl.h"

#include "state/AppState.h"
#include "app/CaptureCycle.h"
#include "state/MainView.h"
#include "log/Log.h"

void UpdateHighestInterval(AppState &state)
{
    const qint16 count = state.Cams.Count();
    for (int i = 1; i <= count; ++i) {
        if (const auto cam = state.Cams.Item(i))
            state.SpaceMeter.HighestInterval(cam->mCamUpdaterate);
    }
}

RecordingControl::RecordingControl(AppState &state, QObject *parent)
    : QObject(parent)
    , mState(state)
{
    connect(&mMainTimer, &QTimer::timeout, this, &RecordingControl::MainTimer_Timer);
}

void RecordingControl::SetChecked(bool checked)
{
    if (checked == mChecked)
        return;
    mChecked = checked;
    chkRecording_Click();
}

void RecordingControl::mnuStartStop_Click()
{
    SetChecked(!mChecked);
}

void RecordingControl::chkRecording_Click()
{
    if (mChecked) {
        if (mState.ArchivePath.isEmpty()) {
            // Titled with the program's name, as the other message boxes of the program are.
            mState.platform.dialogs->messageBox(QStringLiteral("Bildfang"),
                                                QStringLiteral("Kein gültiger Speicherort angegeben!"),
                                                Dialogs::Icon::None);
            // Unchecking runs this handling again, which logs the stop and clears Recording.
            SetChecked(false);
            return;
        }
        mMainTimer.setInterval(1000);
        mMainTimer.start();
        mState.View().ShowRecordingState(true);
        mState.SpaceMeter.Reset();
        UpdateHighestInterval(mState);
        WriteLog(mState, QStringLiteral("Aufnahme gestartet"));
        LockArchive();
    } else {
        mMainTimer.stop();
        mArchiveLock.reset();
        WriteLog(mState, QStringLiteral("Aufnahme angehalten"));
        mState.View().ShowRecordingState(false);
    }
    mState.Recording = mChecked;
}

void RecordingControl::LockArchive()
{
    const QString path = mState.ArchivePath + QStringLiteral("Bildfang-Archiv.lock");
    if (mArchiveLock && mArchiveLock->filePath() != path)
        mArchiveLock.reset();
    if (mArchiveLock || mState.ArchivePath.isEmpty() || !mState.platform.fileSystem->folderExists(mState.ArchivePath))
        return;
    mArchiveLock = std::make_unique<FolderLock>(path);
    if (!mArchiveLock->tryLock() && !mArchiveLock->holder().isEmpty())
        WriteLog(mState, QStringLiteral("Speicherort wird auch von einer anderen Bildfang-Instanz benutzt!\r\n  >\"")
                             + mState.ArchivePath + QStringLiteral(" (") + mArchiveLock->holder() + QStringLiteral(")\""));
}

void RecordingControl::MainTimer_Timer()
{
    LockArchive();
    ::MainTimer_Timer(mState);
}
