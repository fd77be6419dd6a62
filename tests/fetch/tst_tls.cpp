// The transfer engine over TLS against the camera simulator's TLS front on loopback:
// pinning on first use, a changed certificate, resumption, what goes wrong on the way, and
// redirects from HTTP to HTTPS.
#include "TlsFront.h"
#include "support/EngineRig.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>

namespace {

enum class Case {
    PlainServerOnTlsPort, TlsServerOnPlainPort, ExpiredFromTrustedCa, WrongHostFromTrustedCa,
    VerifiedByTrustedCa, HandshakeStalls, AlertMidBody, NoCloseNotify,
    TruncatedNoCloseNotify
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestTls : public QObject
{
    Q_OBJECT
private slots:
    // One full handshake, then resumed ones; a plain camera in between changes nothing.
    void pinRefuseForgetResume()
    {
        EngineRig rig;
        QVERIFY(rig.sim.listenTls());
        TlsFront &front = *rig.sim.tls();
        TlsPeer &peer = *rig.parent->mTlsPeer;
        const QString first = CertificateFingerprint(front.certificateDer());
        for (const QString &url : {rig.sim.tlsUrl(), rig.sim.url(), rig.sim.tlsUrl(), rig.sim.tlsUrl()}) {
            const Report r = rig.fetch(url);
            QCOMPARE(r.code, 0);
            QCOMPARE(r.data, rig.sim.lastImage());
            QCOMPARE(peer.take().pinnedNow, url == rig.sim.tlsUrl() && front.fullHandshakes() == 1
                     && front.resumedHandshakes() == 0 ? first : QString());
        }
        QCOMPARE(peer.pinned, first);
        QCOMPARE(front.fullHandshakes(), 1);
        QCOMPARE(front.resumedHandshakes(), 2);

        front.useCertificate(TlsFront::Certificate());
        const QString second = CertificateFingerprint(front.certificateDer());
        const qsizetype requests = rig.sim.requests().size();
        QCOMPARE(rig.fetch(rig.sim.tlsUrl()).code, -3);
        QCOMPARE(rig.sim.requests().size(), requests);   // the request never went out
        QCOMPARE(peer.take().refused, second);
        QCOMPARE(peer.pinned, first);
        QVERIFY(rig.engine->getStatus().contains(QStringLiteral("Zertifikat")));

        peer.forget();
        QCOMPARE(rig.fetch(rig.sim.tlsUrl()).code, 0);
        QCOMPARE(peer.take().pinnedNow, second);
        QCOMPARE(rig.engine->getStatus(), QStringLiteral("Nicht aktiv"));
    }

    // A changed certificate: pinRefuseForgetResume.
    void badInput_data()
    {
        QTest::addColumn<Case>("what");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("pins");
        QTest::addColumn<QString>("failure");   // part of the reason the camera is told
        QTest::newRow("plain server on the TLS port") << Case::PlainServerOnTlsPort << -3 << false << "wrong version number";
        QTest::newRow("TLS server on a plain port") << Case::TlsServerOnPlainPort << -6 << false << "";
        QTest::newRow("expired, trusted CA") << Case::ExpiredFromTrustedCa << 0 << true << "";
        QTest::newRow("wrong host, trusted CA") << Case::WrongHostFromTrustedCa << 0 << true << "";
        QTest::newRow("verified") << Case::VerifiedByTrustedCa << 0 << false << "";
        QTest::newRow("handshake stalls") << Case::HandshakeStalls << -8 << false << "";
        QTest::newRow("alert mid-body") << Case::AlertMidBody << -3 << true << "abgebrochen";
        QTest::newRow("no close_notify") << Case::NoCloseNotify << 0 << true << "";
        QTest::newRow("truncated, no close_notify") << Case::TruncatedNoCloseNotify << -6 << true << "";
    }


    void badInput()
    {
        QFETCH(Case, what);
        QFETCH(int, code);
        QFETCH(bool, pins);
        QFETCH(QString, failure);
        EngineRig rig;
        QVERIFY(rig.sim.listenTls());
        TlsFront &front = *rig.sim.tls();
        QTemporaryFile ca;
        QVERIFY(ca.open() && ca.write(front.caPem()) > 0 && ca.flush());
        rig.tp.platform.sockets->setTlsContext(std::make_shared<TlsContext>(ca.fileName()));
        TlsPeer &peer = *rig.parent->mTlsPeer;
        QString url = rig.sim.tlsUrl();
        QTcpServer plain;
        QList<QTcpSocket *> accepted;

        switch (what) {
        case Case::PlainServerOnTlsPort:
            // What a web server says to bytes it cannot read as a request.
            QVERIFY(plain.listen(QHostAddress::LocalHost));
            QObject::connect(&plain, &QTcpServer::newConnection, [&plain] {
                QTcpSocket *s = plain.nextPendingConnection();
                s->write("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
                s->disconnectFromHost();
            });
            url = QStringLiteral("https://127.0.0.1:%1/image.jpg").arg(plain.serverPort());
            break;
        case Case::TlsServerOnPlainPort:
            url = QStringLiteral("http://127.0.0.1:%1/image.jpg").arg(front.port());
            break;
        case Case::ExpiredFromTrustedCa:
            front.useCertificate({QStringLiteral("127.0.0.1"), true, true});
            break;
        case Case::WrongHostFromTrustedCa:
            front.useCertificate({QStringLiteral("kamera.example.com"), true, false});
            break;
        case Case::VerifiedByTrustedCa:
            front.useCertificate({QStringLiteral("127.0.0.1"), true, false});
            break;
        case Case::HandshakeStalls:
            QVERIFY(plain.listen(QHostAddress::LocalHost));
            QObject::connect(&plain, &QTcpServer::newConnection, [&] { accepted.append(plain.nextPendingConnection()); });
            url = QStringLiteral("https://127.0.0.1:%1/image.jpg").arg(plain.serverPort());
            break;
        case Case::AlertMidBody:
            front.setAlertAfter(1000);
            break;
        case Case::NoCloseNotify:
            front.setCloseNotify(false);
            break;
        case Case::TruncatedNoCloseNotify: {
            front.setCloseNotify(false);
            CamSim::Behaviour cut;
            cut.mode = CamSim::Mode::Raw;
            cut.raw = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n" + CamSim::makeJpeg(5000, 7).left(3000);
            rig.sim.setBehaviour(cut);
            break;
        }
        }

        Report r;
        if (what == Case::HandshakeStalls) {
            QVERIFY(rig.engine->Dispatch(url));
            QVERIFY(waitUntil([&] { return !accepted.isEmpty(); }));
            rig.ticks(CopyHelper::WatchdogLimit);
            QCOMPARE(rig.parent->reports.size(), 1);
            r = rig.parent->reports.at(0);
        } else {
            r = rig.fetch(url);
        }
        QCOMPARE(r.code, code);
        if (code == 0)
            QCOMPARE(r.data, rig.sim.lastImage());
        if (what == Case::TlsServerOnPlainPort)
            QVERIFY(r.data.startsWith("\x15\x03"));
        const TlsPeer::Findings found = peer.take();
        QCOMPARE(!found.pinnedNow.isEmpty(), pins);
        QCOMPARE(peer.pinned.isEmpty(), !pins);
        if (failure.isEmpty())
            QVERIFY2(found.failure.isEmpty(), qPrintable(found.failure));
        else
            QVERIFY2(found.failure.contains(failure), qPrintable(found.failure));
        QVERIFY(rig.engine->isReady());
        QCOMPARE(rig.settledReports(), 1);
    }

    void redirects_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("location");   // "tls", "plain", "self", or as it is
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("connections");    // to the redirecting simulator
        QTest::addColumn<QString>("refused");
        QTest::newRow("302 to https, other port") << 302 << "tls" << 0 << 1 << "";
        for (int status : {301, 303, 307, 308})
            QTest::addRow("%d to http, other port", status) << status << "plain" << 0 << 1 << "";
        QTest::newRow("path only") << 302 << "/moved.jpg" << 0 << 2 << "";
        QTest::newRow("loop") << 307 << "self" << -6 << 4 << "Zu viele Weiterleitungen";
        QTest::newRow("other host") << 302 << "http://localhost:1/image.jpg" << -6 << 1 << "anderen Rechner";
        QTest::newRow("other scheme") << 302 << "ftp://127.0.0.1/image.jpg" << -6 << 1 << "anderen Rechner";
        QTest::newRow("not a redirect status") << 305 << "tls" << -6 << 1 << "";
    }

    // Credentials go along to the same host: the target refuses any request without them.
    void redirects()
    {
        QFETCH(int, status);
        QFETCH(QString, location);
        QFETCH(int, code);
        QFETCH(int, connections);
        QFETCH(QString, refused);
        EngineRig rig;
        CamSim target;
        CamSim::Behaviour image;
        image.authUserInfo = "ich:geheim";
        target.setBehaviour(image);
        QVERIFY(target.listen() && target.listenTls());
        CamSim::Behaviour moved;
        moved.mode = CamSim::Mode::Redirect;
        moved.redirectStatus = status;
        moved.redirectTo = (location == "tls" ? target.tlsUrl() : location == "plain" ? target.url()
                            : location == "self" ? rig.sim.url() : location).toLatin1();
        image.authUserInfo.clear();
        rig.sim.setBehaviours(location.startsWith('/') ? QList{moved, image} : QList{moved});

        const Report r = rig.fetch(rig.sim.url().replace("://", "://ich:geheim@"));
        QCOMPARE(r.code, code);
        QCOMPARE(rig.sim.connectionCount(), connections);
        if (code == 0)
            QCOMPARE(r.data, connections == 2 ? rig.sim.lastImage() : target.lastImage());
        if (location.startsWith('/'))
            QVERIFY(rig.sim.requests().last().startsWith("GET /moved.jpg "));
        QVERIFY(rig.parent->mRedirectRefused.contains(refused));
        QCOMPARE(rig.parent->mRedirectRefused.isEmpty(), refused.isEmpty());
        QCOMPARE(rig.settledReports(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
