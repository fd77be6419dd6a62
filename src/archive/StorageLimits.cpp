#include "archive/StorageLimits.h"

#include "state/AppState.h"
#include "state/MainView.h"
#include "archive/ArchiveLayout.h"
#include "log/Log.h"
#include "util/Utils.h"

#include <QFileInfo>
#include <cmath>
#include <utility>

namespace {

const QString CrLf = QStringLiteral("\r\n");

QChar Sep()
{
    return PathSeparator();
}

QString LastPart(const QString &path)
{
    return path.mid(path.lastIndexOf(Sep()) + 1);
}

// True when no folder from below the archive base down to path is a symbolic link, so
// deleting at path cannot reach anything outside the archive.
bool StaysInArchive(const QString &archive, const QString &path)
{
    const QString base = AddBackslash(archive);
    if (archive.isEmpty() || !path.startsWith(base))
        return false;
    const QStringList parts = path.mid(base.size()).split(Sep(), Qt::SkipEmptyParts);
    QString current = base;
    for (const QString &part : parts) {
        if (part == QLatin1String("..") || part == QLatin1String("."))
            return false;
        current += part;
        if (QFileInfo(current).isSymLink())
            return false;
        current += Sep();
    }
    return true;
}

// Minutes and hours are counted on the clock face: the local date and time fields taken as
// a time without daylight saving, so that the days the clock changes count like any other.
QDateTime ClockFace(const QDate &date, int hour, int minute = 0)
{
    return QDateTime(date, QTime(hour, minute), Qt::UTC);
}

bool FifteenMinutesSince(const QDateTime &last, const QDateTime &now)
{
    if (!last.isValid())
        return true;   // never checked: the zero date lies long past
    return ClockFace(last.date(), last.time().hour(), last.time().minute())
               .secsTo(ClockFace(now.date(), now.time().hour(), now.time().minute()))
        >= 15 * 60;
}

// The start of that local hour; for the hour skipped when the clock goes forward, which
// has no start, the next one.
QDateTime LocalHour(const QDate &date, int hour)
{
    const QDateTime start(date, QTime(hour, 0));
    return start.isValid() || hour == 23 ? start : QDateTime(date, QTime(hour + 1, 0));
}

// "yyyy/mm/dd/hh" as the start of that hour; invalid when the text holds no such date.
QDateTime HourFromRelativePath(const QString &rel)
{
    bool okY = false, okM = false, okD = false, okH = false;
    const int y = rel.mid(0, 4).toInt(&okY);
    const int m = rel.mid(5, 2).toInt(&okM);
    const int d = rel.mid(8, 2).toInt(&okD);
    const int h = rel.mid(11, 2).toInt(&okH);
    if (!okY || !okM || !okD || !okH)
        return {};
    const QDate date(y, m, d);
    if (!date.isValid() || h < 0 || h > 23)
        return {};
    return LocalHour(date, h);
}

bool DeleteTree(AppState &state, const QString &folder, QString *error)
{
    QString reason;
    if (state.platform.fileSystem->deleteFolder(folder, &reason))
        return true;
    if (error)
        *error = reason.isEmpty() ? QStringLiteral("%1 konnte nicht gelöscht werden").arg(folder) : reason;
    return false;
}

// Lets pending events run between folders. False when a shutdown was asked for meanwhile:
// the walk ends here, so that no folder goes after the log was written.
bool LetEventsRun(AppState &state)
{
    if (!state.ShutdownRequested)
        state.platform.events->processPendingEvents();
    return !state.ShutdownRequested;
}

enum class FreeSpace { Enough, Low, Unknown };

// Reads the free space once and shows it. Unreadable figures are logged once, until they
// can be read again.
FreeSpace MeasureFreeSpace(AppState &state)
{
    if (state.ArchivePath.isEmpty())
        return FreeSpace::Enough;
    const qint64 free = state.platform.fileSystem->freeBytes(state.ArchivePath);
    if (free < 0) {
        state.View().SetStatusText(2, QStringLiteral("Speicherort: unbekannt"));
        if (!state.FreeSpaceUnreadable) {
            state.FreeSpaceUnreadable = true;
            WriteLog(state, QStringLiteral("Freier Speicher kann nicht gelesen werden!") + CrLf + QStringLiteral("  >\"")
                         + state.ArchivePath + QStringLiteral("\""));
        }
        return FreeSpace::Unknown;
    }
    state.FreeSpaceUnreadable = false;
    const double mb = double(free) / 1048576.0;
    // The default rounding mode rounds halves to the even neighbour.
    const qint64 shown = static_cast<qint64>(std::nearbyint(mb));
    state.View().SetStatusText(2, QStringLiteral("Speicherort: ") + TrimBlank(shown) + QStringLiteral(" MB frei."));
    return mb < double(state.SpaceLimitMB) ? FreeSpace::Low : FreeSpace::Enough;
}

// The space rule: one hour, the globally oldest, from every camera that has it.
bool EnforceSpaceLimit(AppState &state, const QString &archive, QString *error)
{
    FileSystem &fs = *state.platform.fileSystem;
    MainView &view = state.View();
    const QString oldest = FindOldestFolder(state, archive, QStringLiteral("HOUR"));
    const qint16 count = state.Cams.Count();
    for (int n = 1; n <= count; ++n) {
        const QString folder = AddBackslash(archive + CamFolderName(n)) + oldest;
        if (!LetEventsRun(state))
            break;
        // Only an hour of ours: one holding a folder is not.
        if (fs.folderExists(folder) && fs.subFolderCount(folder) == 0 && StaysInArchive(archive, folder)) {
            view.SetStatusText(1, QStringLiteral("Lösche ") + folder + QStringLiteral(" ..."));
            if (!DeleteTree(state, folder, error))
                return false;
            WriteLog(state, QStringLiteral("Speicherplatzlimit wurde unterschritten") + CrLf + QStringLiteral("  >\"")
                         + folder + QStringLiteral("\" wurde gelöscht!"));
        }
        if (!LetEventsRun(state))
            break;
    }
    view.SetStatusText(1, QString());
    return true;
}

// Depth first below folder, a folder of the archive's shape at level (0: a camera folder)
// with that relative path. Only folders of that shape are entered.
bool DeleteBelow(AppState &state, const QString &folder, int level, const QString &relative,
                 const QString &threshold, bool &deleted, QString *error)
{
    FileSystem &fs = *state.platform.fileSystem;
    MainView &view = state.View();

    if (level < 4) {
        const QStringList subs = fs.subFolders(folder);
        for (const QString &sub : subs) {
            const QString name = LastPart(sub);
            if (!IsArchiveFolderName(level + 1, name))
                continue;   // not ours: never touched
            if (!LetEventsRun(state))
                return true;
            view.SetStatusText(1, QStringLiteral("Suche Bilder älter als: ") + threshold + QStringLiteral(" ..."));
            if (!DeleteBelow(state, sub, level + 1, relative.isEmpty() ? name : relative + Sep() + name, threshold,
                             deleted, error))
                return false;
            if (!LetEventsRun(state))
                return true;
        }
    }

    if (!fs.folderExists(folder) || fs.subFolderCount(folder) > 0)
        return true;   // gone while events ran, or still holding folders
    if (fs.fileCount(folder) == 0) {
        view.SetStatusText(1, QStringLiteral("Lösche: ") + folder);
        return DeleteTree(state, folder, error);
    }
    // Files go only with an hour of ours; a year, month, day or camera folder holding
    // anything stays.
    if (level == 4 && relative < threshold) {
        view.SetStatusText(1, QStringLiteral("Lösche: ") + folder);
        if (!DeleteTree(state, folder, error))
            return false;
        deleted = true;
    }
    return true;
}

// The age rule, evaluated at most every 15 minutes and walked only when the oldest
// known hour lies before the threshold.
bool EnforceAgeLimit(AppState &state, const QString &archive, const QDateTime &now, QString *error)
{
    FileSystem &fs = *state.platform.fileSystem;
    MainView &view = state.View();

    if (!state.OldestImageTime.isValid()) {
        const QString oldest = FindOldestFolder(state, archive, QStringLiteral("HOUR"));
        const QDateTime hour = HourFromRelativePath(oldest);
        if (hour.isValid()) {
            state.OldestImageTime = hour;
        } else if (oldest == ZeroRelativePath(true)) {
            state.OldestImageTime = now;   // no images yet
        } else {
            if (error)
                *error = QStringLiteral("Ungültiger Ordnername: ") + oldest;
            return false;
        }
    }

    const bool days = state.TimeLimitUnit == QLatin1String("Tage");
    const bool hours = state.TimeLimitUnit == QLatin1String("h");
    if ((!days && !hours) || !FifteenMinutesSince(state.LastTimeLimitCheck, now))
        return true;

    state.LastTimeLimitCheck = now;
    view.SetStatusText(1, QStringLiteral("Überprüfe, ob Löschen erforderlich..."));

    // The limit is taken on the calendar and the clock face, not in elapsed seconds.
    QString threshold;
    QDateTime limitStart;
    bool due = false;
    const QDate oldestDay = state.OldestImageTime.date();
    if (days) {
        const QDate d = now.date().addDays(-qint64(state.TimeLimitValue));
        threshold = PadNumber(d.year(), 4) + Sep() + PadNumber(d.month(), 2) + Sep() + PadNumber(d.day(), 2);
        limitStart = LocalHour(d, 0);
        due = oldestDay.daysTo(d) >= 1;
    } else {
        const QDateTime limit =
            ClockFace(now.date(), now.time().hour()).addSecs(-qint64(state.TimeLimitValue) * 3600);
        const QDate d = limit.date();
        const int h = limit.time().hour();
        threshold = PadNumber(d.year(), 4) + Sep() + PadNumber(d.month(), 2) + Sep() + PadNumber(d.day(), 2) + Sep()
            + PadNumber(h, 2);
        limitStart = LocalHour(d, h);
        due = ClockFace(oldestDay, state.OldestImageTime.time().hour()).secsTo(limit) >= 3600;
    }
    if (!due)
        return true;

    bool deleted = false;
    const qint16 count = state.Cams.Count();
    for (int n = 1; n <= count && !state.ShutdownRequested; ++n) {
        const QString camFolder = archive + CamFolderName(n);
        if (fs.folderExists(camFolder) && StaysInArchive(archive, camFolder)) {
            if (!DeleteBelow(state, camFolder, 0, QString(), threshold, deleted, error))
                return false;
        }
    }
    view.SetStatusText(1, QString());
    // A walk ended early by a shutdown still reports what it deleted, but older hours may
    // remain, so the oldest hour stays where it was.
    if (deleted) {
        WriteLog(state, QStringLiteral("Speicher-Zeitlimit wurde überschritten") + CrLf
                     + QStringLiteral("  >Bilder älter als \"") + threshold + QStringLiteral("\" wurden gelöscht!"));
        if (!state.ShutdownRequested)
            state.OldestImageTime = limitStart;
    }
    return true;
}

} // namespace

bool CheckFreeSpace(AppState &state)
{
    return MeasureFreeSpace(state) == FreeSpace::Enough;
}

bool DeleteOlderThan(AppState &state, const QString &camFolder, const QString &threshold, bool &deleted, QString *error)
{
    return DeleteBelow(state, camFolder, 0, QString(), threshold, deleted, error);
}

void CheckStorageLimits(AppState &state)
{
    if (state.ShutdownRequested)
        return;   // the program is about to end
    state.LimitCheckRunning = true;
    // Ticks run while events are let through and move CurrentTime, and the archive folder
    // may be chosen anew meanwhile; the check keeps the time and the folder it started with.
    const QDateTime now = state.platform.clock->now();
    state.CurrentTime = now;
    const QString archive = state.ArchivePath;

    QString error;
    bool ok = true;
    // An unreadable free space deletes nothing: it says nothing about the space.
    const FreeSpace space = MeasureFreeSpace(state);
    if (space == FreeSpace::Low && state.SpaceLimitOn && !archive.isEmpty())
        ok = EnforceSpaceLimit(state, archive, &error);
    if (ok && state.TimeLimitOn && !archive.isEmpty())
        ok = EnforceAgeLimit(state, archive, now, &error);

    if (!ok) {
        WriteLog(state, QStringLiteral("Fehler beim Löschen!!! Speicher/-limit kontrollieren!") + CrLf
                     + QStringLiteral("  >\"") + error + QStringLiteral("\""));
    }
    state.LimitCheckRunning = false;
    if (state.ShutdownRequested && state.ShutdownAfterCheck)
        std::exchange(state.ShutdownAfterCheck, nullptr)();
}
