#pragma once

#include <QString>

class AppState;

// The free space of the file system holding ArchivePath, shown in status panel 2 as
// "Speicherort: <MB> MB frei." ("Speicherort: unbekannt" when it cannot be read, logged
// once until it can be read again). True when it is at least SpaceLimitMB or no archive is
// set; false when it is less or cannot be read.
bool CheckFreeSpace(AppState &state);

// Enforces the selected limit: with the space limit the globally oldest hour of every
// camera goes, one hour per check (none while the free space cannot be read); with the age
// limit, at most every 15 minutes, every hour (or day) older than the limit. Works on the
// archive folder it started with; lets pending events run between folders;
// LimitCheckRunning is set meanwhile. A failure ends the check with a log line. A shutdown
// requested meanwhile (ShutdownRequested) ends the walk at the next folder; the check then
// hands over to ShutdownAfterCheck. No check starts once a shutdown was requested.
void CheckStorageLimits(AppState &state);

// Depth first below and including a camera folder, through folders of the archive's shape
// only: deletes every hour folder without subfolders whose relative path sorts before
// threshold, with its files (then deleted := true), and every such folder, or the camera
// folder, that is empty. Nothing else is touched; symbolic links are never entered. False
// with the reason when a step failed; the walk ends there.
bool DeleteOlderThan(AppState &state, const QString &camFolder, const QString &threshold, bool &deleted,
                     QString *error = nullptr);

