#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

class AppState;

// The text of the log window txtLog; the main window shows it (placeholder declaration).
class LogWindow : public QObject
{
    Q_OBJECT
public:
    const QString &text() const;
    int lineBreaks() const;
    void append(const QString &line);
    void clear();

signals:
    void appended(const QString &line);
    void cleared();
};

// Returns false when the automatic saving failed; the line is then not written.
bool WriteLog(AppState &state, const QString &message);
bool AppendLogFile(AppState &state);
void LogLeeren(AppState &state);
QString LogFileNameFor(const QString &programFolder, const QDateTime &time);
