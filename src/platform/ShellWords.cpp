#include "platform/ShellWords.h"

#include <algorithm>

namespace {

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool EscapedInDoubleQuotes(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\\') || c == QLatin1Char('$') || c == QLatin1Char('`');
}

} // namespace

QStringList SplitShellWords(const QString &commandLine)
{
    QStringList words;
    QString word;
    bool inWord = false;
    const qsizetype n = commandLine.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = commandLine.at(i);
        if (IsBlank(c)) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\'')) {
            for (++i; i < n && commandLine.at(i) != QLatin1Char('\''); ++i)
                word += commandLine.at(i);
        } else if (c == QLatin1Char('"')) {
            for (++i; i < n && commandLine.at(i) != QLatin1Char('"'); ++i) {
                if (commandLine.at(i) == QLatin1Char('\\') && i + 1 < n && EscapedInDoubleQuotes(commandLine.at(i + 1)))
                    ++i;
                word += commandLine.at(i);
            }
        } else if (c == QLatin1Char('\\') && i + 1 < n) {
            word += commandLine.at(++i);
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

QString QuoteShellWord(const QString &word)
{
    static const QString special = QStringLiteral(" \t\n'\"\\$`");
    const bool plain = !word.isEmpty()
        && std::none_of(word.begin(), word.end(), [](QChar c) { return special.contains(c); });
    if (plain)
        return word;
    return QLatin1Char('"') + EscapeInDoubleQuotes(word) + QLatin1Char('"');
}

QString EscapeInDoubleQuotes(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (EscapedInDoubleQuotes(c))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}
