#include "app/CommandLine.h"

#include "state/AppState.h"

#include <QDir>
#include <cstdio>

CommandLineRequest ParseCommandLine(const QStringList &arguments, const QString &workingFolder)
{
    CommandLineRequest request;
    if (arguments.contains(QStringLiteral("--version"))) {
        request.answer = QStringLiteral("Bildfang ") + AppState::BuildVersionText() + QLatin1Char('\n');
        request.exitCode = 0;
        return request;
    }
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        request.answer = QStringLiteral(
            "Aufruf: bildfang [--config ORDNER] [--version | --help]\n"
            "Bildfang zeichnet Standbilder von Netzwerkkameras auf. Es öffnet sein Fenster;\n"
            "alles Weitere wird dort eingestellt.\n"
            "\n"
            "  --config ORDNER  Einstellungen und Logdateien liegen in ORDNER; so laufen\n"
            "                   mehrere Instanzen nebeneinander, jede mit eigenem Ordner\n"
            "  --version        zeigt die Version und endet\n"
            "  -h, --help       zeigt diese Hilfe und endet\n"
            "\n"
            "Ohne --config liegen Einstellungen (Bildfang.ini) und Logdateien neben dem\n"
            "Programm, wenn sein Ordner beschreibbar ist und es nicht installiert wurde, sonst in\n"
            "$XDG_CONFIG_HOME/bildfang/ (~/.config/bildfang/) und\n"
            "$XDG_STATE_HOME/bildfang/ (~/.local/state/bildfang/).\n");
        request.exitCode = 0;
        return request;
    }
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        QString folder;
        if (argument == QLatin1String("--config")) {
            folder = arguments.value(++i);
        } else if (argument.startsWith(QLatin1String("--config="))) {
            folder = argument.mid(9);
        } else {
            continue;
        }
        if (folder.isEmpty() || folder.startsWith(QLatin1String("--"))) {
            request.answer = QStringLiteral("Bildfang: --config braucht einen Ordner, zum Beispiel: bildfang --config ~/kameras/garten\n");
            request.exitCode = ExitUsage;
            return request;
        }
        request.configFolder = QDir::cleanPath(QDir(workingFolder).absoluteFilePath(folder));
    }
    return request;
}

CommandLineRequest HandleCommandLine(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLineRequest request = ParseCommandLine(arguments, QDir::currentPath());
    if (!request.answer.isEmpty()) {
        std::fputs(request.answer.toLocal8Bit().constData(), request.exitCode == 0 ? stdout : stderr);
        std::fflush(stdout);
        std::fflush(stderr);
    }
    return request;
}
