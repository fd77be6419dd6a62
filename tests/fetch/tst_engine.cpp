// The transfer engine against the camera simulator over loopback, and against a fake socket
// for the errors loopback cannot produce. The watchdog is driven by calling its tick.
#include "CamSim.h"
#include "fetch/CopyHelper.h"
#include "fetch/HttpRequest.h"
#include "platform/PosixTcpSocket.h"
#include "support/TestPlatform.h"

#include <QtTest>

Q_DECLARE_METATYPE(CamSim::Behaviour)

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

// Hands out whatever make returns: fakes or nothing.
class SocketsFrom final : public SocketFactory
{
public:
    explicit SocketsFrom(std::function<std::unique_ptr<TcpSocket>()> make) : mMake(std::move(make)) {}
    std::unique_ptr<TcpSocket> create() override { return mMake(); }

private:
    std::function<std::unique_ptr<TcpSocket>()> mMake;
};

// Runs the event loop until cond holds; unlike QTest::qWaitFor it never sleeps between events.
bool waitUntil(const std::function<bool()> &cond, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    QTimer wake;   // only keeps the loop from blocking past the deadline
    wake.start(20);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

struct Report
{
    QByteArray data;
    int code;
};

// Also checks that every report finds the socket idle and the watchdog stopped.
class RecordingParent final : public CopyHelperParent
{
public:
    QList<Report> reports;
    CopyHelper *engine = nullptr;
    void CHCallBack(const QByteArray &byData, qint16 iError) override
    {
        reports.append({byData, iError});
        QVERIFY(!engine->isBusy());
        QVERIFY(!engine->watchdogRunning());
    }
};

// Hands each report to a function, for callbacks that act on the engine.
class CallbackParent final : public CopyHelperParent
{
public:
    std::function<void(const QByteArray &, qint16)> onReport;
    void CHCallBack(const QByteArray &byData, qint16 iError) override { onReport(byData, iError); }
};

// One engine with a recording parent and a simulated camera; real sockets unless given others.
struct Rig
{
    TestPlatform tp;
    QSet<QString> names;
    CamSim sim;
    std::shared_ptr<RecordingParent> parent = std::make_shared<RecordingParent>();
    std::unique_ptr<CopyHelper> engine;

    explicit Rig(std::shared_ptr<SocketFactory> sockets = nullptr)
    {
        if (sockets)
            tp.platform.sockets = std::move(sockets);
        engine = std::make_unique<CopyHelper>(tp.platform, names);
        parent->engine = engine.get();
        engine->Parent(parent);
        engine->DataType(1);
        sim.listen();
    }
    // Dispatches and waits for the report: code 1 when Dispatch refused, 2 when none came.
    Report fetch(const QString &url)
    {
        const qsizetype before = parent->reports.size();
        if (!engine->Dispatch(url))
            return {{}, 1};
        if (!waitUntil([&] { return parent->reports.size() > before; }))
            return {{}, 2};
        return parent->reports.last();
    }
    // Lets late events in, so that a second report of the same transfer would be seen.
    qsizetype settledReports()
    {
        QTest::qWait(20);
        return parent->reports.size();
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            engine->mWatchdog_Timer();
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
    void watchdogEndsFailedRetryAndLetsCallbackRestart();
    void errorsLoopbackCannotProduce_data();
    void errorsLoopbackCannotProduce();
    void creationLimits();
    void socketEventsFromTheLoop();
};

void TestEngine::fetchAndRequestBytes()
{
    Rig rig;
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
    Rig rig;
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
    Rig rig;
    CamSim::Behaviour silent;
    silent.mode = CamSim::Mode::Silent;
    CamSim::Behaviour trickle;
    trickle.mode = CamSim::Mode::Trickle;
    trickle.imageSize = 30;
    trickle.trickleMs = 2;
    rig.sim.setBehaviours({silent, trickle});
    auto restarter = std::make_shared<CallbackParent>();
    QList<Report> reports;
    restarter->onReport = [&](const QByteArray &byData, qint16 iError) {
        reports.append({byData, iError});
        if (iError == -8)
            QVERIFY(rig.engine->Dispatch(rig.sim.url()));
    };
    rig.engine->Parent(restarter);

    QVERIFY(rig.engine->Dispatch(rig.sim.url()));
    QVERIFY(waitUntil([&] { return rig.engine->getStatus() == QStringLiteral("Verbunden - Auf Antwort warten..."); }));
    rig.ticks(29);
    QVERIFY(reports.isEmpty());
    rig.ticks(1);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).code, -8);
    QVERIFY(reports.at(0).data.isEmpty());

    // The transfer the callback started stays busy. On a trickle, 20 ticks pass between two
    // bytes, and every byte sets the count back, so it completes.
    QVERIFY(!rig.engine->isReady());
    QVERIFY(rig.engine->watchdogRunning());
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

void TestEngine::watchdogEndsFailedRetryAndLetsCallbackRestart()
{
    // A retry the socket rejects reports -1 and leaves the watchdog to end the attempt.
    FakeSocket *fake = nullptr;
    Rig faked(std::make_shared<SocketsFrom>([&] {
        auto s = std::make_unique<FakeSocket>();
        if (!fake) {
            fake = s.get();
            fake->refuseFrom = 2;
        }
        return s;
    }));
    auto seen = std::make_shared<CallbackParent>();
    QList<int> codes;
    seen->onReport = [&](const QByteArray &, qint16 iError) { codes << iError; };
    faked.engine->Parent(seen);
    QVERIFY(faked.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    fake->fireError(10061);
    QCOMPARE(codes, QList<int>({-1}));
    QVERIFY(faked.engine->watchdogRunning());
    QVERIFY(!faked.engine->isReady());
    faked.ticks(30);
    QCOMPARE(codes, QList<int>({-1, -8}));
    QVERIFY(faked.engine->isReady());
    QVERIFY(!faked.engine->watchdogRunning());
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
    FakeSocket *fake = nullptr;
    Rig rig(std::make_shared<SocketsFrom>([&] {
        auto s = std::make_unique<FakeSocket>();
        fake = s.get();
        return s;
    }));

    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    fake->fireError(first);
    if (second != 0) {
        QVERIFY(rig.parent->reports.isEmpty());
        QVERIFY(rig.engine->isBusy());
        fake->fireError(second);
    }
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, code);
    QVERIFY(rig.parent->reports.at(0).data.isEmpty());
    QCOMPARE(fake->connects, second != 0 ? 2 : 1);
    QVERIFY(rig.engine->isReady());
}

void TestEngine::creationLimits()
{
    TestPlatform tp;
    QSet<QString> names;
    std::vector<std::unique_ptr<CopyHelper>> engines;
    for (int i = 0; i < 100; ++i) {
        engines.push_back(std::make_unique<CopyHelper>(tp.platform, names));
        if (i % 3 == 1)
            engines.pop_back();   // a discarded engine keeps its number
    }
    QCOMPARE(engines.back()->getName(), QStringLiteral("CopyHelper100"));
    QCOMPARE(names.size(), 100);
    QVERIFY(names.contains(QStringLiteral("CopyHelper1_Timer")));
    QVERIFY(tp.dialogs->boxes.isEmpty());

    // No upper limit: 255 engines at once beside those discarded, each under a new name.
    while (engines.size() < 255)
        engines.push_back(std::make_unique<CopyHelper>(tp.platform, names));
    QCOMPARE(engines.back()->getName(), QStringLiteral("CopyHelper288"));
    QCOMPARE(names.size(), 288);
    QVERIFY(tp.dialogs->boxes.isEmpty());
    QVERIFY(tp.program->exits.isEmpty());

    TestPlatform noSockets;
    noSockets.platform.sockets = std::make_shared<SocketsFrom>([] { return nullptr; });
    QSet<QString> fresh;
    QVERIFY_THROWS_EXCEPTION(ProgramExited, CopyHelper(noSockets.platform, fresh));
    QCOMPARE(noSockets.dialogs->boxes.size(), 1);
    QCOMPARE(noSockets.program->exits.size(), 1);
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
