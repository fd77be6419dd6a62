#pragma once

#include <QString>

class AppState;

// The free space of the file system holding ArchivePath, shown in status panel 2 as
// "Speicherort: <MB> MB frei.". True when it is at least SpaceLimitMB or no archive is
// set; false when it is less or cannot be read.
bool CheckFreeSpace(AppState &state);

// Enforces the selected limit: with the space limit the globally oldest hour of every
// camera goes, one hour per check; with the age limit, at most every 15 minutes, every
// hour (or day) older than the limit. Lets pending events run between folders;
// LimitCheckRunning is set meanwhile. A failure ends the check with a log line.
void CheckStorageLimits(AppState &state);

// Depth first below and including folder: deletes every folder without subfolders whose
// relative path sorts before threshold (then deleted := true), and every empty folder.
// Symbolic links are never entered. False with the reason when a step failed; the walk
// ends there.
bool DeleteOlderThan(AppState &state, const QString &folder, const QString &threshold, bool &deleted,
                     QString *error = nullptr);

