#pragma once

#include <QObject>
#include <QString>

// The text of the log window txtLog; the main window shows it and follows the signals.
// It keeps a running count of its CR LF pairs, so asking for it costs nothing however
// long the text has grown (with automatic clearing off it grows without limit).
class LogWindow : public QObject
{
    Q_OBJECT
public:
    // Lines the window holds before it counts as full.
    static constexpr int Capacity = 9;
    // Without automatic clearing the window goes to the log file and is emptied once it
    // holds this many lines, so it cannot grow without bound.
    static constexpr int OverflowLines = 10000;

    const QString &text() const { return mText; }
    int lineBreaks() const { return mLineBreaks; }
    void append(const QString &line);
    void clear();

    // CR LF pairs in a text.
    static int CountLineBreaks(const QString &text);

    // Line count at which the next overflow save is tried; raised after a failed save, so a
    // full disk does not cost a whole-window write for every further line.
    int overflowAt = OverflowLines;

    // Lines an automatic emptying could not save: written before the window by the next
    // append that works, or to standard error at the end.
    QString unsaved;

signals:
    void appended(const QString &line);
    void cleared();

private:
    QString mText;
    int mLineBreaks = 0;
};
