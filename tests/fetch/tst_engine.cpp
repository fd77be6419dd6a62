// The transfer engine against the camera simulator over loopback, and against a fake socket
// for the errors loopback cannot produce. The watchdog is driven by calling its tick.
#include "fetch/HttpRequest.h"
#include "platform/PosixTcpSocket.h"
#include "support/EngineRig.h"

namespace {

// A socket the test drives by hand, for errors a loopback connection cannot produce.
class FakeSocket final : public TcpSocket
{
public:
    Handlers h;
    int st = Closed;
    int connects = 0;
    int refuseFrom = 0;   // connect request number from which the socket rejects it at once

    void setHandlers(Handlers handlers) override { h = std::move(handlers); }
    bool setRemotePort(int) override { return true; }
    bool connectToHost(const QString &) override
    {
        ++connects;
        if (refuseFrom > 0 && connects >= refuseFrom)
            return false;
        st = ResolvingHost;
        return true;
    }
    bool send(const QByteArray &) override { return true; }
    bool getData(QByteArray &, qint64) override { return false; }
    void close() override { st = Closed; }
    int state() const override { return st; }

    void fireError(int number)
    {
        st = Error;
        h.error(number);
    }
};

// An engine on a fake socket; the slot comes first so that it exists when the engine asks.
struct FakeSlot
{
    FakeSocket *fake = nullptr;
};
struct FakedRig : FakeSlot, EngineRig
{
    explicit FakedRig(int refuseFrom = 0)
        : EngineRig(std::make_shared<SocketsFrom>([this, refuseFrom] {
              auto s = std::make_unique<FakeSocket>();
              if (!fake) {
                  fake = s.get();
                  fake->refuseFrom = refuseFrom;
              }
              return s;
          }))
    {
    }
};

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT
private slots:
    void fetchAndRequestBytes();
    void failuresAndRetries();
    void watchdog();
    void watchdogEndsFailedRetry();
    void errorsLoopbackCannotProduce_data();
    void errorsLoopbackCannotProduce();
    void creationLimits();
    void socketEventsFromTheLoop();
};

void TestEngine::fetchAndRequestBytes()
{
    EngineRig rig;
    // Chunks that the socket delivers split (the framing itself is the decoder's).
    CamSim::Behaviour split;
    split.mode = CamSim::Mode::Chunked;
    split.imageSize = 3000;
    split.splitDelayMs = 5;
    split.chunkSizes = {1000};
    split.splitPoints = {85, 95, 96, 600, 1100, 1104, 1105, 2050};
    rig.sim.setBehaviour(split);
    QCOMPARE(rig.engine->getReport(), QStringLiteral(":0: Nicht aktiv"));
    QVERIFY(!rig.engine->Dispatch(QStringLiteral("cam/x.jpg")));

    // Nothing is reported from inside the call; the resolving socket refuses a second transfer.
    QVERIFY(rig.engine->Dispatch(rig.sim.url(QStringLiteral("/record/current.jpg"))));
    const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(rig.sim.port());
    QVERIFY(rig.engine->isBusy());
    QVERIFY(!rig.engine->Dispatch(rig.sim.url()));
    QCOMPARE(rig.engine->getReport(), hostPort + QStringLiteral(": Hostname wird aufgelöst..."));
    QVERIFY(waitUntil([&] { return !rig.parent->reports.isEmpty(); }));
    Report r = rig.parent->reports.at(0);
    QCOMPARE(r.code, 0);
    QCOMPARE(r.data, rig.sim.lastImage());
    QCOMPARE(rig.engine->getReport(), hostPort + QStringLiteral(": Nicht aktiv"));
    QVERIFY(rig.engine->isReady());

    QCOMPARE(rig.sim.requests().first(), BuildRequest(*ParseUrlParts(rig.sim.url(QStringLiteral("/record/current.jpg")))));
    QCOMPARE(rig.settledReports(), 1);
}

void TestEngine::failuresAndRetries()
{
    EngineRig rig;
    // Not a valid host name, so no name server is asked: not found.
    QCOMPARE(rig.fetch(QStringLiteral("http://nicht vorhanden/x.jpg")).code, -2);
    QCOMPARE(rig.fetch(QStringLiteral("http:///x.jpg")).code, -2);

    // A reset is retried; in the next transfer's retry it is -4 with the previous image.
    CamSim::Behaviour reset;
    reset.resetAfter = 100;
    CamSim::Behaviour endless;
    endless.mode = CamSim::Mode::Endless;
    endless.imageSize = 100 * 1024;
    rig.sim.setBehaviours({reset, CamSim::Behaviour(), reset, reset, endless, reset, CamSim::Behaviour()});
    Report r = rig.fetch(rig.sim.url());
    QCOMPARE(r.code, 0);
    const QByteArray image = rig.sim.lastImage();
    QCOMPARE(r.data, image);
    QCOMPARE(rig.sim.connectionCount(), 2);
    r = rig.fetch(rig.sim.url());
    QCOMPARE(r.code, -4);
    QCOMPARE(r.data, image);
    QCOMPARE(rig.sim.connectionCount(), 4);

    // Past 64 MiB: -3 at once, no retry; the next transfer still gets its retry.
    r = rig.fetch(rig.sim.url());
    QCOMPARE(r.code, -3);
    QCOMPARE(r.data, image);
    QCOMPARE(rig.sim.connectionCount(), 5);
    QCOMPARE(rig.fetch(rig.sim.url()).code, 0);
    QCOMPARE(rig.sim.connectionCount(), 7);
    QVERIFY(rig.engine->isReady());
    QCOMPARE(rig.settledReports(), 6);
}

void TestEngine::watchdog()
{
    EngineRig rig;
    CamSim::Behaviour silent;
    silent.mode = CamSim::Mode::Silent;
    CamSim::Behaviour trickle;
    trickle.mode = CamSim::Mode::Trickle;
    trickle.imageSize = 30;
    trickle.trickleMs = 2;
    rig.sim.setBehaviours({silent, trickle});
    const QList<Report> &reports = rig.parent->reports;
    rig.parent->onReport = [&](const QByteArray &, qint16 iError) {
        if (iError == -8)
            QVERIFY(rig.engine->Dispatch(rig.sim.url()));
    };

    QVERIFY(rig.engine->Dispatch(rig.sim.url()));
    QVERIFY(waitUntil([&] { return rig.engine->getStatus() == QStringLiteral("Verbunden - Auf Antwort warten..."); }));
    rig.ticks(29);
    QVERIFY(reports.isEmpty());
    rig.ticks(1);
    QVERIFY(reports.size() == 1 && reports.at(0).code == -8 && reports.at(0).data.isEmpty());

    // The transfer the callback started stays busy. On a trickle, 20 ticks pass between two
    // bytes, and every byte sets the count back, so it completes.
    QVERIFY(!rig.engine->isReady() && rig.engine->watchdogRunning());
    int rounds = 0;
    while (reports.size() == 1) {
        rig.ticks(20);
        QCOMPARE(reports.size(), 1);
        QVERIFY(waitUntil([&] { return rig.engine->watchdogTicks() == 0 || reports.size() > 1; }));
        ++rounds;
    }
    QVERIFY(rounds > 10);
    QCOMPARE(reports.at(1).code, 0);
    QCOMPARE(reports.at(1).data, rig.sim.lastImage());
    QVERIFY(rig.engine->isReady());
}

// A retry the socket rejects reports -1 and leaves the watchdog to end the attempt.
void TestEngine::watchdogEndsFailedRetry()
{
    FakedRig rig(2);
    rig.parent->onReport = [](const QByteArray &, qint16) {};
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    rig.fake->fireError(10061);
    QVERIFY(rig.engine->watchdogRunning() && !rig.engine->isReady());
    rig.ticks(30);
    QCOMPARE(rig.parent->reports.size(), 2);
    QVERIFY(rig.parent->reports[0].code == -1 && rig.parent->reports[1].code == -8);
    QVERIFY(rig.engine->isReady() && !rig.engine->watchdogRunning());
}

void TestEngine::errorsLoopbackCannotProduce_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");   // 0: no retry expected
    QTest::addColumn<int>("code");
    QTest::newRow("name not found") << 11001 << 0 << -2;
    QTest::newRow("name not found, for now") << 11002 << 0 << -2;
    QTest::newRow("refused twice") << 10061 << 10061 << -3;
    QTest::newRow("empty data, twice") << -5 << -5 << -5;
    QTest::newRow("timed out") << 10060 << 0 << -7;
    QTest::newRow("aborted") << 10053 << 0 << -7;
    QTest::newRow("refused, then timed out") << 10061 << 10060 << -7;
    QTest::newRow("no buffers") << 10055 << 10055 << -4;
    QTest::newRow("control 40026") << 40026 << 40026 << -4;
}

void TestEngine::errorsLoopbackCannotProduce()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, code);
    FakedRig rig;
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    rig.fake->fireError(first);
    if (second != 0) {
        QVERIFY(rig.parent->reports.isEmpty());
        QVERIFY(rig.engine->isBusy());
        rig.fake->fireError(second);
    }
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, code);
    QVERIFY(rig.parent->reports.at(0).data.isEmpty());
    QCOMPARE(rig.fake->connects, second != 0 ? 2 : 1);
    QVERIFY(rig.engine->isReady());
}

void TestEngine::creationLimits()
{
    // No upper limit: 255 engines at once; a discarded engine keeps its number.
    TestPlatform tp;
    QSet<QString> names;
    std::vector<std::unique_ptr<CopyHelper>> engines;
    for (int i = 0; i < 340; ++i) {
        engines.push_back(std::make_unique<CopyHelper>(tp.platform, names));
        if (i % 4 == 1)
            engines.pop_back();
    }
    QVERIFY(engines.size() == 255 && engines.back()->getName() == QStringLiteral("CopyHelper340"));
    QVERIFY(names.size() == 340 && names.contains(QStringLiteral("CopyHelper1_Timer")));
    QVERIFY(tp.dialogs->boxes.isEmpty() && tp.program->exits.isEmpty());

    TestPlatform noSockets;
    noSockets.platform.sockets = std::make_shared<SocketsFrom>([] { return nullptr; });
    QSet<QString> fresh;
    QVERIFY_THROWS_EXCEPTION(ProgramExited, CopyHelper(noSockets.platform, fresh));
    QVERIFY(noSockets.dialogs->boxes.size() == 1 && noSockets.program->exits.size() == 1);
}

// Events come from the loop only, and none reaches a socket its handler destroyed.
void TestEngine::socketEventsFromTheLoop()
{
    CamSim sim;
    QVERIFY(sim.listen());
    auto s = std::make_unique<PosixTcpSocket>();
    QStringList events;
    TcpSocket::Handlers h;
    h.connected = [&] { s->send("GET / HTTP/1.1\r\n\r\n"); };
    h.sendComplete = [&] { events << QStringLiteral("sent"); };
    h.dataArrival = [&](qint64) {
        events << QStringLiteral("data");
        s.reset();
    };
    h.closed = [&] { events << QStringLiteral("closed"); };
    h.error = [&](int) { events << QStringLiteral("error"); };
    s->setHandlers(h);
    QVERIFY(s->setRemotePort(sim.port()));
    QVERIFY(s->connectToHost(QStringLiteral("127.0.0.1")));
    QVERIFY(!s->connectToHost(QStringLiteral("127.0.0.1")));   // already under way
    QCOMPARE(s->state(), int(TcpSocket::ResolvingHost));
    QVERIFY(waitUntil([&] { return !s; }));
    QTest::qWait(30);
    QCOMPARE(events, (QStringList{QStringLiteral("sent"), QStringLiteral("data")}));
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
