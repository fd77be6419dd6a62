#pragma once

// Camera simulators as processes of their own, so that a benchmark's CPU time and memory
// are the recorder's alone. Needs CAMSIM_PATH defined by the benchmark's CMakeLists.txt.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdio>
#include <memory>
#include <vector>

// Starts camsim with the arguments; its first line tells the address it listens on.
inline std::unique_ptr<QProcess> StartCamSim(const QStringList &args, quint16 &port)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QStringLiteral(CAMSIM_PATH), args);
    if (!p->waitForStarted(5000) || !p->waitForReadyRead(5000)) {
        std::fprintf(stderr, "camsim did not start\n");
        return nullptr;
    }
    port = quint16(QUrl(QString::fromLatin1(p->readLine().trimmed())).port());
    return p;
}

// count simulators serving a new image of the given size for every request.
// With tls the ports are those of their TLS side.
inline bool StartNewImageSims(int count, int size, std::vector<std::unique_ptr<QProcess>> &sims,
                              std::vector<quint16> &ports, bool tls = false)
{
    for (int k = 0; k < count; ++k) {
        quint16 port = 0;
        QStringList args{QStringLiteral("--mode"), QStringLiteral("new"), QStringLiteral("--size"), QString::number(size)};
        if (tls)
            args << QStringLiteral("--tls");
        auto p = StartCamSim(args, port);
        if (!p)
            return false;
        ports.push_back(port);
        sims.push_back(std::move(p));
    }
    return true;
}
