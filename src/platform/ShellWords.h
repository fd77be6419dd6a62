#pragma once

#include <QString>
#include <QStringList>

// Command lines are split the way a POSIX shell splits words, but never run through a shell:
// blanks and tabs separate words; '...' keeps everything literally; "..." keeps blanks and
// lets a backslash escape " \ $ and `; outside quotes a backslash keeps the next character.
// Quoted pieces next to each other form one word; "" is an empty word. An unclosed quote
// runs to the end of the line.
QStringList SplitShellWords(const QString &commandLine);

// The word as it must stand in a command line so that SplitShellWords gives it back
// unchanged: bare when it holds nothing special, else in double quotes.
QString QuoteShellWord(const QString &word);

// The text with " \ $ and ` escaped for its place between double quotes.
QString EscapeInDoubleQuotes(const QString &text);
