#include "archive/ArchiveLayout.h"

#include "state/AppState.h"
#include "state/MainView.h"
#include "platform/FileSystem.h"
#include "util/Utils.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

QString CamFolderName(int n)
{
    return QStringLiteral("CAM") + PadNumber(n, 2);
}

bool EnsureFolder(FileSystem &fileSystem, const QString &path)
{
    const QChar sep = PathSeparator();
    QString folder = path;
    if (folder.endsWith(sep))
        folder.chop(1);
    if (folder.isEmpty())   // the root itself, or nothing at all
        return !path.isEmpty() && fileSystem.folderExists(path);
    if (fileSystem.folderExists(folder))
        return true;
    if (!fileSystem.driveReady(folder))
        return true;   // nothing to be done on an absent drive; the write after it fails
    const qsizetype last = folder.lastIndexOf(sep);
    if (last < 0)
        return false;
    // The parent's own result does not matter: creating the folder fails if it is missing.
    const QString parent = last == 0 ? QString(sep) : folder.left(last);
    EnsureFolder(fileSystem, parent);
    return fileSystem.createFolder(folder);
}

bool EnsureFolder(AppState &state, const QString &path)
{
    return EnsureFolder(*state.platform.fileSystem, path);
}

QString ZeroRelativePath(bool hours)
{
    const QChar sep = PathSeparator();
    QString zero = QStringLiteral("0000") + sep + QStringLiteral("00") + sep + QStringLiteral("00");
    if (hours)
        zero += sep + QStringLiteral("00");
    return zero;
}

namespace {

QString LastPart(const QString &path)
{
    QString p = path;
    if (p.endsWith(PathSeparator()))
        p.chop(1);
    return p.mid(p.lastIndexOf(PathSeparator()) + 1);
}

} // namespace

bool IsArchiveFolderName(int level, const QString &name)
{
    const int width = level == 1 ? 4 : 2;
    if (level < 1 || level > 4 || name.size() != width)
        return false;
    return std::all_of(name.begin(), name.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

namespace {

enum class Descent { Found, Pruned, Nothing };

// The lowest-named folder at depth below folder (at level), its relative path in relative.
Descent OldestBelow(FileSystem &fs, const QString &folder, int level, int depth, QString &relative)
{
    const QStringList subs = fs.subFolders(folder);
    for (const QString &sub : subs) {
        const QString name = LastPart(sub);
        if (!IsArchiveFolderName(level + 1, name))
            continue;
        if (level + 1 == depth) {
            // An hour folder holding a folder is not ours to delete, so it is no result.
            if (depth == 4 && fs.subFolderCount(sub) > 0)
                continue;
            relative = name;
            return Descent::Found;
        }
        QString below;
        const Descent d = OldestBelow(fs, sub, level + 1, depth, below);
        if (d == Descent::Pruned)
            return d;
        if (d == Descent::Found) {
            relative = name + PathSeparator() + below;
            return d;
        }
    }
    // Nothing of ours below: an empty folder is what the storage limit left behind, so it
    // goes; one holding anything else stays and is passed over.
    if (fs.subFolderCount(folder) == 0 && fs.fileCount(folder) == 0) {
        fs.deleteFolder(folder);
        return Descent::Pruned;
    }
    return Descent::Nothing;
}

} // namespace

QString FindOldestFolder(AppState &state, const QString &kind)
{
    return FindOldestFolder(state, state.ArchivePath, kind);
}

QString FindOldestFolder(AppState &state, const QString &archivePath, const QString &kind)
{
    const bool hours = kind.compare(QLatin1String("HOUR"), Qt::CaseInsensitive) == 0;
    const int depth = hours ? 4 : 3;
    FileSystem &fs = *state.platform.fileSystem;

    state.View().SetStatusText(1, hours ? QStringLiteral("Finde älteste Stunde...")
                                        : QStringLiteral("Finde ältesten Tag..."));

    bool haveBest = false;
    QString best;
    // Without an archive the camera folders would name folders in the working directory,
    // and the pruning below must never delete anything there.
    const int cameras = archivePath.isEmpty() ? 0 : state.CamCount;
    for (int n = 1; n <= cameras; ++n) {
        const QString camFolder = archivePath + CamFolderName(n);
        // A linked camera folder leads out of the archive: its pruning would delete there.
        if (!fs.folderExists(camFolder) || QFileInfo(camFolder).isSymLink())
            continue;
        QString relative;
        if (OldestBelow(fs, camFolder, 0, depth, relative) == Descent::Found && (!haveBest || relative < best)) {
            best = relative;
            haveBest = true;
        }
    }

    if (!haveBest)
        best = ZeroRelativePath(hours);
    state.View().SetStatusText(1, QString());
    return best;
}

QString FileNameSafe(const QString &camName)
{
    QString safe = camName;
    for (QChar &c : safe) {
        if (c == PathSeparator() || c == QLatin1Char('/') || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    return safe;
}

ImagePath ImagePathFor(const QString &archivePath, int camNo, const QString &camName,
                       const QDateTime &dateTime, bool broken)
{
    const QChar sep = PathSeparator();
    const QDate date = dateTime.date();
    const QTime time = dateTime.time();
    const QString year = TrimBlank(date.year());
    const QString month = PadNumber(date.month(), 2);
    const QString day = PadNumber(date.day(), 2);
    const QString hour = PadNumber(time.hour(), 2);
    const QString minute = PadNumber(time.minute(), 2);
    const QString second = PadNumber(time.second(), 2);

    ImagePath result;
    result.folder = archivePath + CamFolderName(camNo) + sep + year + sep + month + sep + day + sep + hour;
    result.fileName = year + month + day + QLatin1Char('-') + hour + minute + second + QLatin1Char('(')
        + FileNameSafe(camName)
        + (broken ? QStringLiteral(")-broken.http") : QStringLiteral(").jpg"));
    return result;
}
