#pragma once

#include "cameras/CamCollection.h"
#include "cameras/SpaceObject.h"
#include "log/LogWindow.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class CopyHelper;
class MainView;

// The program's shared state: one object, created by the main window or by a test and
// passed by reference to whoever needs it. Nothing of it lives in globals.
class AppState
{
public:
    explicit AppState(Platform platform);
    ~AppState();
    AppState(const AppState &) = delete;
    AppState &operator=(const AppState &) = delete;

    Platform platform;

    CamCollection Cams;
    std::vector<std::unique_ptr<CopyHelper>> CopyHelpers;   // position j is CopyHelpers[j - 1]
    SpaceObject SpaceMeter;
    LogWindow txtLog;

    qint16 CamCount = 1;
    qint16 SelectedCam = 1;
    QString ArchivePath;                 // empty, or ending in the separator
    bool SpaceLimitOn = false;
    bool TimeLimitOn = false;
    qint32 SpaceLimitMB = 0;
    qint32 TimeLimitValue = 0;
    QString TimeLimitUnit = QStringLiteral("h");
    bool LogAutoClear = false;
    bool LogAutoSave = false;
    bool Recording = false;
    QString SettingsFileName;
    QString LogFileName;
    QDateTime CurrentTime;
    QDateTime StartTime;
    QString VersionText;
    bool LimitCheckRunning = false;
    // A shutdown asked for while the storage check let events run: the check ends at its
    // next folder and then calls ShutdownAfterCheck, which runs the shutdown once.
    bool ShutdownRequested = false;
    std::function<void()> ShutdownAfterCheck;
    bool FreeSpaceUnreadable = false;    // logged; not again until it was read once more
    QDateTime OldestImageTime;           // invalid: not yet known
    QDateTime LastTimeLimitCheck;        // invalid: never, long past
    bool ConnStatusShown = false;

    // Watchdog names taken in this run; an engine's name is never reused.
    QSet<QString> TimerNames;
    // Engines taken out of CopyHelpers while a transfer was under way: they finish it and
    // report, and are released once idle (ReleaseRetiredEngines).
    std::vector<std::unique_ptr<CopyHelper>> RetiredHelpers;

    // The settings file existed but could not be read: this run never replaces it.
    bool SettingsFileProtected = false;
    // The reason of the last failed settings save already logged; empty after a success.
    QString SettingsSaveError;

    // The main window, or a test's fake; a silent view until one is set.
    MainView &View();
    void SetView(MainView *view);

    // "major.minor.revision" of this build.
    static QString BuildVersionText();

private:
    MainView *mView = nullptr;
};
