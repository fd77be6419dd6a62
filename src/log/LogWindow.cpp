#include "log/LogWindow.h"

int LogWindow::CountLineBreaks(const QString &text)
{
    // CR LF cannot overlap itself, so a plain scan for LF preceded by CR counts the pairs.
    int count = 0;
    const QChar *data = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 1; i < size; ++i) {
        if (data[i] == QLatin1Char('\n') && data[i - 1] == QLatin1Char('\r'))
            ++count;
    }
    return count;
}

void LogWindow::append(const QString &line)
{
    if (line.isEmpty())
        return;
    int added = CountLineBreaks(line);
    // A CR at the end of the old text and an LF at the start of the line become a pair.
    if (!mText.isEmpty() && mText.back() == QLatin1Char('\r') && line.front() == QLatin1Char('\n'))
        ++added;
    mText += line;
    mLineBreaks += added;
    emit appended(line);
}

void LogWindow::clear()
{
    mText.clear();
    mLineBreaks = 0;
    emit cleared();
}
