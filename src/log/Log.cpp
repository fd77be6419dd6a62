#include "log/Log.h"

#include "state/AppState.h"
#include "util/TextCodec.h"
#include "util/Utils.h"

namespace {

const QLatin1String CrLf("\r\n");

} // namespace

QString LogTimeStamp(const QDateTime &time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    return QLatin1Char('<') + PadNumber(TrimBlank(date.day()), 2) + QLatin1Char('.')
        + PadNumber(TrimBlank(date.month()), 2) + QLatin1Char('.')
        + PadNumber(TrimBlank(date.year()), 4) + QLatin1Char(' ')
        + PadNumber(TrimBlank(clock.hour()), 2) + QLatin1Char(':')
        + PadNumber(TrimBlank(clock.minute()), 2) + QLatin1String("> ");
}

bool WriteLog(AppState &state, const QString &message)
{
    LogWindow &window = state.txtLog;
    const int needed = window.lineBreaks() + LogWindow::CountLineBreaks(message) + 1;
    bool saved = true;
    if (needed > LogWindow::Capacity && state.LogAutoClear) {
        // A failed save keeps the lines aside; the next append that works writes them first.
        if (state.LogAutoSave && !AppendLogFile(state)) {
            saved = false;
            window.unsaved += window.text();
        }
        LogLeeren(state);
    } else if (!state.LogAutoClear && window.lineBreaks() >= window.overflowAt) {
        // A failed save keeps the lines; it is tried again after as many lines more.
        if (AppendLogFile(state)) {
            LogLeeren(state);
            window.overflowAt = LogWindow::OverflowLines;
        } else {
            window.overflowAt = window.lineBreaks() + LogWindow::OverflowLines;
        }
    }

    state.CurrentTime = state.platform.clock->now();
    window.append(LogTimeStamp(state.CurrentTime) + message + CrLf);
    return saved;
}

bool AppendLogFile(AppState &state, QString *error)
{
    LogWindow &window = state.txtLog;
    if (!state.platform.fileSystem->appendFile(state.LogFileName, EncodeTextFile(window.unsaved + window.text()), error))
        return false;
    window.unsaved.clear();
    return true;
}

void LogLeeren(AppState &state)
{
    state.txtLog.clear();
}

QString LogFileNameFor(const QString &programFolder, const QDateTime &time)
{
    const QDate date = time.date();
    return AddBackslash(programFolder) + QLatin1String("Bildfang Log ")
        + PadNumber(TrimBlank(date.year()), 4) + PadNumber(TrimBlank(date.month()), 2)
        + PadNumber(TrimBlank(date.day()), 2) + QLatin1String(".txt");
}

QString ErrorLogText(const QString &detail)
{
    return QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"") + detail + QLatin1Char('"');
}

bool SaveAndClearLog(AppState &state)
{
    QString error;
    if (!AppendLogFile(state, &error)) {
        WriteLog(state, ErrorLogText(error.isEmpty() ? state.LogFileName : error));
        return false;
    }
    LogLeeren(state);
    return true;
}
