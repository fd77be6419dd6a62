// camsim: a camera simulator on 127.0.0.1 for trying the program by hand.
#include "CamSim.h"
#include "TlsFront.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Camera simulator: serves still images over HTTP on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")}, QStringLiteral("Port (0: a free one)."), QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption mode({QStringLiteral("m"), QStringLiteral("mode")},
        QStringLiteral("fixed, new, chunked, error, headers, silent, trickle, endless, endless-headers, empty."), QStringLiteral("mode"), QStringLiteral("fixed"));
    const QCommandLineOption size({QStringLiteral("s"), QStringLiteral("size")}, QStringLiteral("Image size in bytes."), QStringLiteral("bytes"), QStringLiteral("204800"));
    const QCommandLineOption chunks(QStringLiteral("chunks"), QStringLiteral("Chunk sizes, comma-separated."), QStringLiteral("list"), QStringLiteral("4096"));
    const QCommandLineOption split(QStringLiteral("split"), QStringLiteral("Response offsets where a new write starts, comma-separated."), QStringLiteral("list"));
    const QCommandLineOption splitDelay(QStringLiteral("split-delay-ms"), QStringLiteral("Pause between split writes."), QStringLiteral("ms"), QStringLiteral("20"));
    const QCommandLineOption reset(QStringLiteral("reset-after"), QStringLiteral("Send RST after this many response bytes."), QStringLiteral("bytes"), QStringLiteral("-1"));
    const QCommandLineOption trickle(QStringLiteral("trickle-ms"), QStringLiteral("Trickle period per byte."), QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption auth(QStringLiteral("auth"), QStringLiteral("Require Basic authentication with user:password."), QStringLiteral("user:password"));
    const QCommandLineOption digest(QStringLiteral("digest"), QStringLiteral("Require Digest authentication (with --auth) using this algorithm: MD5, MD5-sess, SHA-256, SHA-256-sess."), QStringLiteral("algorithm"));
    const QCommandLineOption utf8(QStringLiteral("utf8"), QStringLiteral("Hold the credentials as UTF-8 and say charset=\"UTF-8\" in the challenges."));
    const QCommandLineOption thumb(QStringLiteral("thumbnail"), QStringLiteral("Embed a thumbnail in the image."));
    const QCommandLineOption path(QStringLiteral("path"), QStringLiteral("Path shown in the printed URL."), QStringLiteral("path"), QStringLiteral("/image.jpg"));
    const QCommandLineOption tls(QStringLiteral("tls"), QStringLiteral("Also serve HTTPS with a self-signed certificate made at start; the HTTPS URL is printed."));
    const QCommandLineOption tlsPort(QStringLiteral("tls-port"), QStringLiteral("HTTPS port (0: a free one)."), QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption noCloseNotify(QStringLiteral("no-close-notify"), QStringLiteral("End HTTPS answers without TLS close_notify."));
    const QCommandLineOption redirect(QStringLiteral("redirect"), QStringLiteral("Answer plain HTTP with a 302 to the same path over HTTPS (with --tls)."));
    const QCommandLineOption secondCert(QStringLiteral("second-cert-after"), QStringLiteral("Switch to a second self-signed certificate after this many seconds."), QStringLiteral("seconds"));
    parser.addOptions({port, mode, size, chunks, split, splitDelay, reset, trickle, auth, digest, utf8, thumb, path, tls, tlsPort,
                       noCloseNotify, redirect, secondCert});
    parser.process(app);

    CamSim::Behaviour b;
    const QString m = parser.value(mode);
    if (m == QLatin1String("fixed")) b.mode = CamSim::Mode::FixedJpeg;
    else if (m == QLatin1String("new")) b.mode = CamSim::Mode::NewJpeg;
    else if (m == QLatin1String("chunked")) b.mode = CamSim::Mode::Chunked;
    else if (m == QLatin1String("error")) b.mode = CamSim::Mode::ErrorPage;
    else if (m == QLatin1String("headers")) b.mode = CamSim::Mode::HeadersOnly;
    else if (m == QLatin1String("silent")) b.mode = CamSim::Mode::Silent;
    else if (m == QLatin1String("trickle")) b.mode = CamSim::Mode::Trickle;
    else if (m == QLatin1String("endless")) b.mode = CamSim::Mode::Endless;
    else if (m == QLatin1String("endless-headers")) b.mode = CamSim::Mode::EndlessHeaders;
    else if (m == QLatin1String("empty")) b.mode = CamSim::Mode::Raw;   // accepts and closes
    else {
        std::fprintf(stderr, "unknown mode: %s\n", qPrintable(m));
        return 2;
    }
    b.imageSize = parser.value(size).toInt();
    b.chunkSizes.clear();
    for (const QString &s : parser.value(chunks).split(QLatin1Char(','), Qt::SkipEmptyParts))
        b.chunkSizes.append(s.toInt());
    for (const QString &s : parser.value(split).split(QLatin1Char(','), Qt::SkipEmptyParts))
        b.splitPoints.append(s.toLongLong());
    b.splitDelayMs = parser.value(splitDelay).toInt();
    b.resetAfter = parser.value(reset).toLongLong();
    b.trickleMs = parser.value(trickle).toInt();
    b.charsetUtf8 = parser.isSet(utf8);
    b.authUserInfo = b.charsetUtf8 ? parser.value(auth).toUtf8() : parser.value(auth).toLatin1();
    b.digestAlgorithm = parser.value(digest).toLatin1();
    b.thumbnail = parser.isSet(thumb);

    CamSim sim;
    sim.setRecordRequests(false);
    sim.setBehaviour(b);
    if (!sim.listen(quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%s\n", qPrintable(parser.value(port)));
        return 1;
    }
    CamSim images;
    if (parser.isSet(tls)) {
        if (!parser.isSet(redirect) && !sim.listenTls(quint16(parser.value(tlsPort).toUInt()))) {
            std::fprintf(stderr, "cannot serve TLS on 127.0.0.1:%s\n", qPrintable(parser.value(tlsPort)));
            return 1;
        }
        if (parser.isSet(redirect)) {
            // The plain side only redirects; a second simulator serves the images behind TLS.
            images.setRecordRequests(false);
            images.setBehaviour(b);
            if (!images.listen() || !images.listenTls(quint16(parser.value(tlsPort).toUInt())))
                return 1;
            images.tls()->setCloseNotify(!parser.isSet(noCloseNotify));
            CamSim::Behaviour moved;
            moved.mode = CamSim::Mode::Redirect;
            moved.redirectTo = images.tlsUrl(parser.value(path)).toLatin1();
            sim.setBehaviour(moved);
            QTextStream(stdout) << sim.url(parser.value(path)) << Qt::endl;
            return app.exec();
        }
        sim.tls()->setCloseNotify(!parser.isSet(noCloseNotify));
        if (parser.isSet(secondCert)) {
            QTimer::singleShot(parser.value(secondCert).toInt() * 1000, &sim, [&sim] {
                sim.tls()->useCertificate(TlsFront::Certificate());
                std::fprintf(stderr, "second certificate in use\n");
            });
        }
        QTextStream(stdout) << sim.tlsUrl(parser.value(path)) << Qt::endl;
        return app.exec();
    }
    QTextStream(stdout) << sim.url(parser.value(path)) << Qt::endl;
    return app.exec();
}
