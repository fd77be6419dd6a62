#include "archive/StorageLimits.h"

#include "app/AppState.h"
#include "app/MainView.h"
#include "archive/ArchiveLayout.h"
#include "log/Log.h"
#include "util/Utils.h"

#include <QFileInfo>
#include <cmath>

namespace {

const QString CrLf = QStringLiteral("\r\n");

QChar Sep()
{
    return PathSeparator();
}

// True when no folder from below the archive base down to path is a symbolic link, so
// deleting at path cannot reach anything outside the archive.
bool StaysInArchive(const AppState &state, const QString &path)
{
    const QString base = AddBackslash(state.ArchivePath);
    if (!path.startsWith(base))
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

// Whole minutes, whole hours: both times are cut down before they are compared.
QDateTime ToMinute(const QDateTime &t)
{
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()));
}

QDateTime ToHour(const QDateTime &t)
{
    return QDateTime(t.date(), QTime(t.time().hour(), 0));
}

bool FifteenMinutesSince(const QDateTime &last, const QDateTime &now)
{
    if (!last.isValid())
        return true;   // never checked: the zero date lies long past
    return ToMinute(last).secsTo(ToMinute(now)) >= 15 * 60;
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
    const QTime time(h, 0);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
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

// The space rule: one hour, the globally oldest, from every camera that has it.
bool EnforceSpaceLimit(AppState &state, QString *error)
{
    FileSystem &fs = *state.platform.fileSystem;
    MainView &view = state.View();
    const QString oldest = FindOldestFolder(state, QStringLiteral("HOUR"));
    const qint16 count = state.Cams.Count();
    for (int n = 1; n <= count; ++n) {
        const QString folder = AddBackslash(state.ArchivePath + CamFolderName(n)) + oldest;
        state.platform.events->processPendingEvents();
        if (fs.folderExists(folder) && StaysInArchive(state, folder)) {
            view.SetStatusText(1, QStringLiteral("Lösche ") + folder + QStringLiteral(" ..."));
            if (!DeleteTree(state, folder, error))
                return false;
            WriteLog(state, QStringLiteral("Speicherplatzlimit wurde unterschritten") + CrLf + QStringLiteral("  >\"")
                         + folder + QStringLiteral("\" wurde gelöscht!"));
        }
        state.platform.events->processPendingEvents();
    }
    view.SetStatusText(1, QString());
    return true;
}

// The age rule, evaluated at most every 15 minutes and walked only when the oldest
// known hour lies before the threshold.
bool EnforceAgeLimit(AppState &state, const QDateTime &now, QString *error)
{
    FileSystem &fs = *state.platform.fileSystem;
    MainView &view = state.View();

    if (!state.OldestImageTime.isValid()) {
        const QString oldest = FindOldestFolder(state, QStringLiteral("HOUR"));
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

    QString threshold;
    QDateTime limitStart;
    bool due = false;
    if (days) {
        const QDateTime limit = now.addDays(-qint64(state.TimeLimitValue));
        const QDate d = limit.date();
        threshold = PadNumber(d.year(), 4) + Sep() + PadNumber(d.month(), 2) + Sep() + PadNumber(d.day(), 2);
        limitStart = QDateTime(d, QTime(0, 0));
        due = state.OldestImageTime.date().daysTo(d) >= 1;
    } else {
        const QDateTime limit = now.addSecs(-qint64(state.TimeLimitValue) * 3600);
        const QDate d = limit.date();
        const int h = limit.time().hour();
        threshold = PadNumber(d.year(), 4) + Sep() + PadNumber(d.month(), 2) + Sep() + PadNumber(d.day(), 2) + Sep()
            + PadNumber(h, 2);
        limitStart = QDateTime(d, QTime(h, 0));
        due = ToHour(state.OldestImageTime).secsTo(limitStart) >= 3600;
    }
    if (!due)
        return true;

    bool deleted = false;
    const qint16 count = state.Cams.Count();
    for (int n = 1; n <= count; ++n) {
        const QString camFolder = state.ArchivePath + CamFolderName(n);
        if (fs.folderExists(camFolder) && StaysInArchive(state, camFolder)) {
            if (!DeleteOlderThan(state, camFolder, threshold, deleted, error))
                return false;
        }
    }
    view.SetStatusText(1, QString());
    if (deleted) {
        WriteLog(state, QStringLiteral("Speicher-Zeitlimit wurde überschritten") + CrLf
                     + QStringLiteral("  >Bilder älter als \"") + threshold + QStringLiteral("\" wurden gelöscht!"));
        state.OldestImageTime = limitStart;
    }
    return true;
}

} // namespace

bool CheckFreeSpace(AppState &state)
{
    if (state.ArchivePath.isEmpty())
        return true;
    FileSystem &fs = *state.platform.fileSystem;
    if (!fs.driveReady(state.ArchivePath))
        return false;
    const qint64 free = fs.freeBytes(state.ArchivePath);
    if (free < 0)
        return false;
    const double mb = double(free) / 1048576.0;
    // The default rounding mode rounds halves to the even neighbour.
    const qint64 shown = static_cast<qint64>(std::nearbyint(mb));
    state.View().SetStatusText(2, QStringLiteral("Speicherort: ") + TrimBlank(shown) + QStringLiteral(" MB frei."));
    return !(mb < double(state.SpaceLimitMB));
}

bool DeleteOlderThan(AppState &state, const QString &folder, const QString &threshold, bool &deleted, QString *error)
{
    FileSystem &fs = *state.platform.fileSystem;
    Events &events = *state.platform.events;
    MainView &view = state.View();

    const QStringList subs = fs.subFolders(folder);
    for (const QString &sub : subs) {
        events.processPendingEvents();
        if (!QFileInfo(sub).isSymLink()) {
            view.SetStatusText(1, QStringLiteral("Suche Bilder älter als: ") + threshold + QStringLiteral(" ..."));
            if (!DeleteOlderThan(state, sub, threshold, deleted, error))
                return false;
        }
        events.processPendingEvents();
    }

    if (!fs.folderExists(folder))
        return true;   // gone while events ran
    const int subCount = fs.subFolderCount(folder);
    if (subCount == 0 && fs.fileCount(folder) == 0) {
        view.SetStatusText(1, QStringLiteral("Lösche: ") + folder);
        return DeleteTree(state, folder, error);
    }
    if (subCount == 0 && RelativePath(state.ArchivePath, folder) < threshold) {
        view.SetStatusText(1, QStringLiteral("Lösche: ") + folder);
        if (!DeleteTree(state, folder, error))
            return false;
        deleted = true;
    }
    return true;
}

void CheckStorageLimits(AppState &state)
{
    state.LimitCheckRunning = true;
    // Ticks run while events are let through and move CurrentTime; the check keeps its own.
    const QDateTime now = state.platform.clock->now();
    state.CurrentTime = now;

    QString error;
    bool ok = true;
    const bool enoughSpace = CheckFreeSpace(state);
    if (!enoughSpace && state.SpaceLimitOn)
        ok = EnforceSpaceLimit(state, &error);
    if (ok && state.TimeLimitOn)
        ok = EnforceAgeLimit(state, now, &error);

    if (!ok) {
        WriteLog(state, QStringLiteral("Fehler beim Löschen!!! Speicher/-limit kontrollieren!") + CrLf
                     + QStringLiteral("  >\"") + error + QStringLiteral("\""));
    }
    state.LimitCheckRunning = false;
}
