#pragma once

#include <QString>
#include <functional>

class AppState;
class FolderLock;
class QCoreApplication;
class QObject;
class SettingsView;

// The parts of the program's start and end that need no window.

// Without a display (neither DISPLAY nor WAYLAND_DISPLAY) and without a platform chosen
// by the user, Qt is told to use its offscreen platform, so that a recorder started from a
// terminal or a service records instead of aborting. Call before QApplication exists.
void UseOffscreenWithoutDisplay();

// Qt's own texts (the folder chooser, the text boxes' context menus, the message boxes'
// buttons) in German whatever the locale, as is everything else the program shows. False
// when Qt's German translations are not installed.
bool LoadGermanQtTexts(QCoreApplication &app);

// Exit code when another instance works in the same folder.
constexpr int ExitFolderInUse = 3;

// The lock file in the folder of the settings file and the logs.
QString FolderLockFileName(const QString &folder);

// Takes the lock, so that a second instance in that folder refuses to start. Returns the
// text for the user when a running process holds it; empty otherwise, also when no lock
// file can be made there (a folder not writable keeps no settings anyway).
QString LockDataFolder(FolderLock &lock, const QString &folder);

// When the settings file exists but cannot be read (permissions, a folder of that name),
// logs it and keeps this run's saves from replacing it. True in that case.
bool ProtectUnreadableSettings(AppState &state);

// SaveSettings with its failure in the log: once per cause until a save succeeds again.
// A protected settings file is left alone (false).
bool SaveSettingsLogged(AppState &state, const SettingsView &view);

// A shutdown that arrives while the storage check lets events run must not run inside it:
// it is put off, the check ends at its next folder, and then shutdown runs from the event
// loop, once the check's callers have returned. True when it was put off so.
bool PutOffShutdownDuringLimitCheck(AppState &state, QObject *context, std::function<void()> shutdown);

// AppendLogFile at the program's end. When the file cannot be written, the window's lines
// go to standard error instead of being lost.
void AppendLogFileAtEnd(AppState &state);
