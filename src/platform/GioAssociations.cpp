#include "platform/GioAssociations.h"

#include "platform/ShellWords.h"

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace {

const QString Placeholder = QStringLiteral("%1");

// One word of the Exec line, its field codes resolved; false when nothing of it is left.
bool ResolveFieldCodes(const QString &word, bool fileCodes, QString *out, bool *hasPlaceholder)
{
    out->clear();
    *hasPlaceholder = false;
    bool dropped = false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word.at(i) != QLatin1Char('%') || i + 1 == word.size()) {
            *out += word.at(i);
            continue;
        }
        const QChar code = word.at(++i);
        if (code == QLatin1Char('%')) {
            *out += code;
        } else if (fileCodes && QStringLiteral("fFuU").contains(code)) {
            *out += Placeholder;
            *hasPlaceholder = true;
        } else {
            dropped = true;
        }
    }
    return !(dropped && out->isEmpty());
}

QString DefaultExec(GAppInfo *info)
{
    if (!info)
        return {};
    const char *commandLine = g_app_info_get_commandline(info);
    QString exec = commandLine ? QString::fromUtf8(commandLine) : QString();
    g_object_unref(info);
    return exec;
}

} // namespace

QStringList CommandFromDesktopExec(const QString &exec, bool fileCodes)
{
    QStringList parts;
    const QStringList words = SplitShellWords(exec);
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i == 0) {
            parts.append(QuoteShellWord(words.at(0)));
            continue;
        }
        QString word;
        bool hasPlaceholder = false;
        if (!ResolveFieldCodes(words.at(i), fileCodes, &word, &hasPlaceholder))
            continue;
        if (!hasPlaceholder) {
            parts.append(QuoteShellWord(word));
            continue;
        }
        // The image's path goes in unchanged, so only the rest of the word is escaped.
        QStringList pieces = word.split(Placeholder);
        for (QString &piece : pieces)
            piece = EscapeInDoubleQuotes(piece);
        parts.append(QLatin1Char('"') + pieces.join(Placeholder) + QLatin1Char('"'));
    }
    return parts;
}

void GioAssociations::jpegViewer(QString *program, QString *arguments) const
{
    QStringList parts = CommandFromDesktopExec(DefaultExec(g_app_info_get_default_for_type("image/jpeg", FALSE)), true);
    *program = parts.isEmpty() ? QString() : parts.takeFirst();
    *arguments = parts.join(QLatin1Char(' '));
}

QString GioAssociations::browserCommand() const
{
    return CommandFromDesktopExec(DefaultExec(g_app_info_get_default_for_uri_scheme("http")), true).join(QLatin1Char(' '));
}

QString GioAssociations::textEditor() const
{
    return CommandFromDesktopExec(DefaultExec(g_app_info_get_default_for_type("text/plain", FALSE)), true).join(QLatin1Char(' '));
}
