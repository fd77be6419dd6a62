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

void Warn(AppState &state, const QString &text)
{
    state.platform.dialogs->messageBox(ErrorTitle, text, Dialogs::Icon::Warning);
}

} // namespace

QString ViewerCommandLine(const QString &viewerProgram, const QString &viewerArguments, const QString &imagePath)
{
    // The path goes in as it is. Only where the template quotes "%1" are the characters that
    // would end or change the quoted word escaped, so the viewer still gets the exact path;
    // Windows file names never hold them, ours may.
    QString arguments;
    QChar quote;   // the open quote at this point of the template, if any
    const qsizetype n = viewerArguments.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = viewerArguments.at(i);
        if (c == QLatin1Char('%') && i + 1 < n && viewerArguments.at(i + 1) == QLatin1Char('1')) {
            if (quote == QLatin1Char('"'))
                arguments += EscapeInDoubleQuotes(imagePath);
            else if (quote == QLatin1Char('\''))
                arguments += QString(imagePath).replace(QStringLiteral("'"), QStringLiteral("'\\''"));
            else
                arguments += imagePath;
            ++i;
            continue;
        }
        arguments += c;
        if (c == QLatin1Char('\\') && quote != QLatin1Char('\'') && i + 1 < n)
            arguments += viewerArguments.at(++i);
        else if (quote.isNull() && (c == QLatin1Char('"') || c == QLatin1Char('\'')))
            quote = c;
        else if (c == quote)
            quote = QChar();
    }
    return viewerProgram + QLatin1Char(' ') + arguments;
}

void ViewLastImage(AppState &state, const QString &viewerProgram, const QString &viewerArguments)
{
    if (state.Cams.Count() == 0)
        return;
    const auto cam = state.Cams.Item(state.SelectedCam);
    if (!cam || cam->mCamLastPic.isEmpty())
        return;
    if (viewerProgram.isEmpty()) {
        Warn(state, QStringLiteral("Es wurde kein verknüpftes Programm gefunden!"));
        return;
    }
    if (!state.platform.fileSystem->fileExists(cam->mCamLastPic)) {
        Warn(state, QStringLiteral("Diese Bilddatei existiert nicht mehr!"));
        return;
    }
    Launcher &launcher = *state.platform.launcher;
    if (!launcher.startDetached(ViewerCommandLine(viewerProgram, viewerArguments, cam->mCamLastPic)))
        Warn(state, QStringLiteral("Fehler beim Starten des verknüpften Programms!\r\n") + launcher.lastError());
}

bool OpenLogFile(AppState &state)
{
    QString editor = state.platform.associations->textEditor();
    if (editor.isEmpty())
        editor = XdgOpen;
    return state.platform.launcher->startDetached(editor + QLatin1Char(' ') + QuoteShellWord(state.LogFileName));
}

QString BrowserCommandFrom(const QString &openCommand)
{
    QString command = openCommand;
    command.remove(QLatin1Char('"')).remove(QLatin1Char('%'));
    // Only a word's first "-" starts the options: program names such as firefox-esr keep theirs.
    for (qsizetype i = 0; i < command.size(); ++i) {
        if (command.at(i) == QLatin1Char('-') && (i == 0 || command.at(i - 1).isSpace())) {
            command.truncate(i);
            break;
        }
    }
    command = command.trimmed();
    return command.isEmpty() ? QString() : QLatin1Char('"') + command + QLatin1Char('"');
}

QString HomePageAddress(const Platform &platform)
{
    const QString folder = platform.program->programFolder();
    const QStringList candidates = {
        folder + QStringLiteral("/../share/doc/bildfang/README.md"),
        folder + QStringLiteral("/README.md"),
        QStringLiteral(BILDFANG_SOURCE_DIR "/README.md"),
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
    const QString browser = browserCommand.isEmpty() ? XdgOpen : browserCommand;
    return platform.launcher->startDetached(browser + QLatin1Char(' ') + QuoteShellWord(address));
}

QString AboutText(const AppState &state)
{
    return QStringLiteral("BILDFANG Version ") + state.VersionText + QStringLiteral("\n\n")
        + QStringLiteral("Idee und Umsetzung: das Bildfang-Team\n")
        + QStringLiteral("Copyright © 2006-2026 das Bildfang-Team\n\n")
        + QStringLiteral("gestartet: ") + QLocale().toString(state.StartTime, QLocale::ShortFormat);
}
