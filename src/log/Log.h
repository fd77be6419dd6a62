#pragma once

#include "log/LogWindow.h"

#include <QDateTime>
#include <QString>

class AppState;

// Appends one time-stamped line to the log window, emptying (and first saving) a full
// window as the log flags say. Returns false when the automatic saving failed; the window's
// lines are then kept aside as unsaved, and the line is written all the same.
bool WriteLog(AppState &state, const QString &message);
// Appends the lines kept aside and the whole window text to the file LogFileName; false when
// that failed (error, when given, says why). The window is not changed.
bool AppendLogFile(AppState &state, QString *error = nullptr);
// Empties the log window; nothing is saved.
void LogLeeren(AppState &state);
// "Bildfang Log yyyymmdd.txt" in the program's folder, for the date of time.
QString LogFileNameFor(const QString &programFolder, const QDateTime &time);
// "<dd.mm.yyyy hh:mm> ".
QString LogTimeStamp(const QDateTime &time);
// "Ein Fehler wurde verursacht!" and the detail in the log's two-line form.
QString ErrorLogText(const QString &detail);
// The window's lines to the log file, then an empty window; a failure keeps the lines and
// logs the reason. Returns whether the lines were saved.
bool SaveAndClearLog(AppState &state);
