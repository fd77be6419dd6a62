// WriteLog with automatic clearing off: the window grows by every line, and the cost
// of one call must stay flat however long the window has become.

#include "state/AppState.h"
#include "log/Log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    AppState state(Platform::real());
    state.LogFileName = LogFileNameFor(dir.path(), QDateTime::currentDateTime());
    state.LogAutoClear = false;

    constexpr int Lines = 100000;
    constexpr int Block = 10000;
    const QString message = QStringLiteral("Hoftor: Keine Verbindung zur Kamera!\r\n  >\"Verbindung abgelehnt\"");

    std::printf("WriteLog, automatic clearing off, %d lines\n", Lines);
    std::printf("%10s %14s %12s\n", "lines", "window chars", "ns/call");
    QElapsedTimer timer;
    for (int start = 0; start < Lines; start += Block) {
        timer.start();
        for (int i = 0; i < Block; ++i)
            WriteLog(state, message);
        const double perCall = double(timer.nsecsElapsed()) / Block;
        std::printf("%10d %14lld %12.0f\n", start + Block, static_cast<long long>(state.txtLog.text().size()),
                    perCall);
    }
    std::printf("line breaks counted: %d\n", state.txtLog.lineBreaks());
    return 0;
}
