#include "ui/ExternalPrograms.h"

#include "state/AppState.h"
#include "platform/ShellWords.h"

#include <QDir>
#include <QLocale>
#include <QStringList>
#include <QUrl>

namespace {

const QString ErrorTitle = QStringLiteral("Bildfang - Fehler");
const QString XdgOpen = QStringLiteral("xdg-open");
const QString Placeholder = QStringLiteral("%1");

void Warn(AppState &state, const QString &text)
{
    state.platform.dialogs->messageBox(ErrorTitle, text, Dialogs::Icon::Warning);
}

} // namespace

QString FillPlaceholder(const QString &commandTemplate, const QString &target)
{
    // The target goes in as it is. Only where the template quotes "%1" are the characters
    // that would end or change the quoted word escaped, so the program still gets exactly the
    // target; Windows file names never hold them, ours may.
    QString filled;
    QChar quote;   // the open quote at this point of the template, if any
    const qsizetype n = commandTemplate.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = commandTemplate.at(i);
        if (c == QLatin1Char('%') && i + 1 < n && commandTemplate.at(i + 1) == QLatin1Char('1')) {
            if (quote == QLatin1Char('"'))
                filled += EscapeInDoubleQuotes(target);
            else if (quote == QLatin1Char('\''))
                filled += QString(target).replace(QStringLiteral("'"), QStringLiteral("'\\''"));
            else
                filled += target;
            ++i;
            continue;
        }
        filled += c;
        if (c == QLatin1Char('\\') && quote != QLatin1Char('\'') && i + 1 < n)
            filled += commandTemplate.at(++i);
        else if (quote.isNull() && (c == QLatin1Char('"') || c == QLatin1Char('\'')))
            quote = c;
        else if (c == quote)
            quote = QChar();
    }
    return filled;
}

QString ViewerCommandLine(const QString &viewerProgram, const QString &viewerArguments, const QString &imagePath)
{
    return viewerProgram + QLatin1Char(' ') + FillPlaceholder(viewerArguments, imagePath);
}

void ViewLastImage(AppState &state, const QString &viewerProgram, const QString &viewerArguments)
{
    if (state.Cams.Count() == 0)
        return;
    const auto cam = state.Cams.Item(state.SelectedCam);
    if (!cam)
        return;
    ViewImage(state, viewerProgram, viewerArguments, cam->mCamLastPic);
}

void ViewImage(AppState &state, const QString &viewerProgram, const QString &viewerArguments, const QString &imagePath)
{
    if (imagePath.isEmpty())
        return;
    if (viewerProgram.isEmpty()) {
        Warn(state, QStringLiteral("Es wurde kein verknüpftes Programm gefunden!"));
        return;
    }
    if (!state.platform.fileSystem->fileExists(imagePath)) {
        Warn(state, QStringLiteral("Diese Bilddatei existiert nicht mehr!"));
        return;
    }
    Launcher &launcher = *state.platform.launcher;
    if (!launcher.startDetached(ViewerCommandLine(viewerProgram, viewerArguments, imagePath)))
        Warn(state, QStringLiteral("Fehler beim Starten des verknüpften Programms!\r\n") + launcher.lastError());
}

bool StartForTarget(Platform &platform, const QString &command, const QString &target, const QString &failure)
{
    Launcher &launcher = *platform.launcher;
    QStringList reasons;
    if (!command.trimmed().isEmpty()) {
        const QString line = command.contains(Placeholder) ? FillPlaceholder(command, target)
                                                           : command + QLatin1Char(' ') + QuoteShellWord(target);
        if (launcher.startDetached(line))
            return true;
        reasons << launcher.lastError();
    }
    if (launcher.startDetached(XdgOpen + QLatin1Char(' ') + QuoteShellWord(target)))
        return true;
    reasons << launcher.lastError();
    reasons.removeAll(QString());
    reasons.prepend(failure);
    platform.dialogs->messageBox(ErrorTitle, reasons.join(QStringLiteral("\r\n")), Dialogs::Icon::Warning);
    return false;
}

bool OpenLogFile(AppState &state)
{
    return StartForTarget(state.platform, state.platform.associations->textEditor(), state.LogFileName,
                          QStringLiteral("Die Logdatei konnte nicht geöffnet werden!"));
}

QString HomePageAddress(const Platform &platform)
{
    const QString folder = platform.program->programFolder();
    const QStringList candidates = {
        folder + QStringLiteral("/../share/doc/bildfang/README.md"),
        folder + QStringLiteral("/README.md"),
    };
    QString found = candidates.first();
    for (const QString &candidate : candidates) {
        if (platform.fileSystem->fileExists(candidate)) {
            found = candidate;
            break;
        }
    }
    return QUrl::fromLocalFile(QDir::cleanPath(found)).toString();
}

bool OpenHomePage(Platform &platform, const QString &browserCommand, const QString &address)
{
    return StartForTarget(platform, browserCommand, address, QStringLiteral("Die Homepage konnte nicht geöffnet werden!"));
}

QString AboutText(const AppState &state)
{
    return QStringLiteral("BILDFANG Version ") + state.VersionText + QStringLiteral("\n\n")
        + QStringLiteral("Idee und Umsetzung: das Bildfang-Team\n")
        + QStringLiteral("Copyright © 2006-2026 das Bildfang-Team\n\n")
        + QStringLiteral("gestartet: ") + QLocale().toString(state.StartTime, QLocale::ShortFormat);
}
