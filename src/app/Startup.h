#pragma once

#include <QString>

class AppState;
class FolderLock;
class SettingsView;

// The parts of the program's start and end that need no window.

// Without a display (neither DISPLAY nor WAYLAND_DISPLAY) and without a platform chosen
// by the user, Qt is told to use its offscreen platform, so that a recorder started from a
// terminal or a service records instead of aborting. Call before QApplication exists.
void UseOffscreenWithoutDisplay();

// Exit code when another instance works in the same folder.
constexpr int ExitFolderInUse = 3;

// The lock file in the folder of the settings file and the logs.
QString FolderLockFileName(const QString &folder);

// Takes the lock, so that a second instance in that folder refuses to start. Returns the
// text for the user when a running process holds it; empty otherwise, also when no lock
// file can be made there (a folder not writable keeps no settings anyway).
QString LockDataFolder(FolderLock &lock, const QString &folder);

// "Ein Fehler wurde verursacht!" and the detail in the log's two-line form.
QString ErrorLogText(const QString &detail);

// When the settings file exists but cannot be read (permissions, a folder of that name),
// logs it and keeps this run's saves from replacing it. True in that case.
bool ProtectUnreadableSettings(AppState &state);

// SaveSettings with its failure in the log: once per cause until a save succeeds again.
// A protected settings file is left alone (false).
bool SaveSettingsLogged(AppState &state, const SettingsView &view);

// One new engine at the end of CopyHelpers.
void AddEngine(AppState &state);

// Takes the last engine out of CopyHelpers. A busy one is kept aside until its transfer has
// ended, so the camera it serves still gets its outcome; idle ones are released at once.
void RemoveLastEngine(AppState &state);

// Releases the engines kept aside that have finished; not while a storage check lets
// events run, since the finishing engine's own report may still be on the stack then.
void ReleaseRetiredEngines(AppState &state);

// AppendLogFile at the program's end. When the file cannot be written, the window's lines
// go to standard error instead of being lost.
void AppendLogFileAtEnd(AppState &state);

// The window's lines to the log file, then an empty window; a failure keeps the lines and
// logs the reason. Returns whether the lines were saved.
bool SaveAndClearLog(AppState &state);
