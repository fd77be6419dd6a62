#include "app/CommandLine.h"

#include "state/AppState.h"

#include <cstdio>

bool CommandLineAnswer(const QStringList &arguments, QString *answer)
{
    if (arguments.contains(QStringLiteral("--version"))) {
        *answer = QStringLiteral("Bildfang ") + AppState::BuildVersionText() + QLatin1Char('\n');
        return true;
    }
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        *answer = QStringLiteral(
            "Aufruf: bildfang [--version | --help]\n"
            "Bildfang zeichnet Standbilder von Netzwerkkameras auf. Ohne Argumente öffnet es sein\n"
            "Fenster; alles Weitere wird dort eingestellt.\n"
            "\n"
            "  --version   zeigt die Version und endet\n"
            "  -h, --help  zeigt diese Hilfe und endet\n"
            "\n"
            "Einstellungen (Bildfang.ini) und Logdateien liegen neben dem Programm, wenn sein\n"
            "Ordner beschreibbar ist und es nicht installiert wurde, sonst in\n"
            "$XDG_CONFIG_HOME/bildfang/ (~/.config/bildfang/) und\n"
            "$XDG_STATE_HOME/bildfang/ (~/.local/state/bildfang/).\n");
        return true;
    }
    return false;
}

int HandleCommandLine(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString answer;
    if (!CommandLineAnswer(arguments, &answer))
        return -1;
    std::fputs(answer.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    return 0;
}
