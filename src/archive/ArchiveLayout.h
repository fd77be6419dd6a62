#pragma once

#include "util/Utils.h"

#include <QDateTime>
#include <QString>

class AppState;
class FileSystem;

// Names and creation of the archive tree:
//   ArchivePath + "CAM01" / year / month / day / hour / "20060512-134507(Hof).jpg"
// Paths use the native separator.

// "CAM" + the camera number, at least two digits: CAM01, CAM12, CAM100.
QString CamFolderName(int n);

// Creates the folder and its missing parents, parents first. True unless a step failed;
// also true, without creating anything, when the file system holding the path is not ready.
bool EnsureFolder(FileSystem &fileSystem, const QString &path);
bool EnsureFolder(AppState &state, const QString &path);

// What FindOldestFolder returns when there is no folder: "0000/00/00/00" or "0000/00/00".
QString ZeroRelativePath(bool hours);

// True when name has the shape of the archive's folder at that level below a camera folder:
// 1 a four-digit year, 2 to 4 a two-digit month, day and hour. Nothing else is ours.
bool IsArchiveFolderName(int level, const QString &name);

// Relative path of the oldest hour ("HOUR") or day ("DAY") folder over cameras 1 to
// CamCount of archivePath (ArchivePath when not given); the zero text when there is none.
// Looks only at folders of the archive's shape; an hour holding a folder is not one of
// ours. Deletes the first empty folder of that shape it meets on the way down a camera's
// lowest-named branch (that camera then has no result this time) and passes over branches
// that hold only foreign things. Never fails. Looks at nothing without an archive.
QString FindOldestFolder(AppState &state, const QString &kind);
QString FindOldestFolder(AppState &state, const QString &archivePath, const QString &kind);

// The camera name as it may stand inside a file name here: the separator, NUL and other
// control characters become "_"; every other character stays as typed.
QString FileNameSafe(const QString &camName);

// Where an image (or a broken answer) saved at dateTime goes.
struct ImagePath
{
    QString folder;     // ArchivePath + CAMnn/yyyy/MM/dd/hh, without a separator at the end
    QString fileName;   // yyyyMMdd-hhmmss(name).jpg or yyyyMMdd-hhmmss(name)-broken.http
    QString path() const { return AddBackslash(folder) + fileName; }
};
ImagePath ImagePathFor(const QString &archivePath, int camNo, const QString &camName,
                       const QDateTime &dateTime, bool broken);
