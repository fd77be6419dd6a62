// The transfer engine against the camera simulator over loopback, and against a fake socket
// for the errors loopback cannot produce. The watchdog is driven by calling its tick.
#include "CamSim.h"
#include "FakeSocket.h"
#include "fetch/CopyHelper.h"
#include "support/TestPlatform.h"

#include <QTcpServer>
#include <QtTest>

namespace {

// Runs the event loop until cond holds; unlike QTest::qWaitFor it never sleeps between events.
bool waitUntil(const std::function<bool()> &cond, int ms = 10000)
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
    qint16 code;
    bool busyAtCall;
};

class RecordingParent final : public CopyHelperParent
{
public:
    QList<Report> reports;
    CopyHelper *engine = nullptr;
    std::function<void()> onCallBack;
    void CHCallBack(const QByteArray &byData, qint16 iError) override
    {
        reports.append({byData, iError, engine && engine->isBusy()});
        if (onCallBack)
            onCallBack();
    }
};

// One engine with a recording parent; real sockets unless a factory is given.
struct Rig
{
    TestPlatform tp;
    QSet<QString> names;
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
    }
    bool waitReports(int n, int ms = 10000)
    {
        return waitUntil([&] { return parent->reports.size() >= n; }, ms);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            engine->mWatchdog_Timer();
    }
};

const QString MustEnd = QStringLiteral("\r\nDas Programm muß beendet werden!");

QString freePortUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QStringLiteral("http://127.0.0.1:") + QString::number(probe.serverPort()) + QStringLiteral("/x.jpg");
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT
private slots:
    // Loopback against the simulator.
    void fetchesImageWithExactRequest();
    void basicAuthentication();
    void bodies_data();
    void bodies();
    void pagesWithoutImage();
    void refusedTwiceRetriesOnce();
    void unresolvableHostNoRetry();
    void resetRetriedThenReported();
    void silentServerWatchdogAndReuse();
    void trickleKeepsWatchdogQuiet();
    void failureKeepsPreviousImage();
    void endlessAnswerBounded();
    void hugeChunkSizeBounded();
    // Fake socket.
    void statusTextsAndReport();
    void errorNumbers_data();
    void errorNumbers();
    void retryThatCannotStart();
    void refusedPortLeftToWatchdog();
    void dispatchRefusals();
    void dataTypeZero();
    void callbackStartsNextTransfer();
    void callbackDiscardsEngine();
    // Creation.
    void namesNeverReused();
    void hundredAndFirstEngineEndsProgram();
    void socketCreationFailureEndsProgram();
    // The socket itself.
    void socketEventsComeFromTheLoop();
    void socketResetIsErrorNotClose();
    void socketCloseInHandlerStopsEvents();
    void socketErrorNumbers();
};

void TestEngine::fetchesImageWithExactRequest()
{
    CamSim sim;
    QVERIFY(sim.listen());
    Rig rig;
    QCOMPARE(rig.engine->getReport(), QStringLiteral(":0: Nicht aktiv"));

    QVERIFY(rig.engine->Dispatch(sim.url(QStringLiteral("/record/current.jpg"))));
    const QString hostPort = QStringLiteral("127.0.0.1:") + QString::number(sim.port());
    // Nothing reported from inside the call; the socket is busy resolving.
    QVERIFY(rig.engine->isBusy());
    QVERIFY(!rig.engine->isReady());
    QCOMPARE(rig.engine->getReport(), hostPort + QStringLiteral(": Hostname wird aufgelöst..."));
    QVERIFY(rig.waitReports(1));

    const Report r = rig.parent->reports.first();
    QCOMPARE(r.code, qint16(0));
    QCOMPARE(r.data, sim.lastImage());
    QCOMPARE(r.data.size(), 200 * 1024);
    QVERIFY(!r.busyAtCall);
    QCOMPARE(sim.requests().size(), 1);
    QCOMPARE(sim.requests().first(),
             QByteArray("GET /record/current.jpg HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
    QCOMPARE(rig.engine->getReport(), hostPort + QStringLiteral(": Nicht aktiv"));
    QVERIFY(rig.engine->isReady());
    QVERIFY(!rig.engine->watchdogRunning());

    // The same engine serves the next transfer.
    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(0));
    QTest::qWait(20);
    QCOMPARE(rig.parent->reports.size(), 2);
}

void TestEngine::basicAuthentication()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.imageSize = 5000;
    b.authUserInfo = "user:pass";
    sim.setBehaviour(b);
    Rig rig;
    const QString authority = QStringLiteral("127.0.0.1:") + QString::number(sim.port());

    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://user:pass@") + authority + QStringLiteral("/a.jpg")));
    QVERIFY(rig.waitReports(1));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(0));
    QCOMPARE(rig.parent->reports.at(0).data, sim.lastImage());
    QCOMPARE(sim.requests().at(0),
             QByteArray("GET /a.jpg HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                        "Authorization: Basic dXNlcjpwYXNz\r\n\r\n"));

    // A wrong password brings the 401 page, kept whole as a broken answer.
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://user:wrong@") + authority + QStringLiteral("/a.jpg")));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-6));
    QCOMPARE(rig.parent->reports.at(1).data, sim.lastResponse());
    QVERIFY(sim.lastResponse().startsWith("HTTP/1.1 401"));
}

void TestEngine::bodies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("chunks");
    QTest::addColumn<bool>("splitAtChunks");
    QTest::addColumn<QList<qsizetype>>("splits");
    QTest::addColumn<QByteArray>("extension");
    QTest::addColumn<bool>("upper");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<bool>("thumbnail");
    QTest::addColumn<QByteArray>("after");

    const int plain = int(CamSim::Mode::FixedJpeg);
    const int chunked = int(CamSim::Mode::Chunked);
    const QList<qsizetype> none;
    QTest::newRow("plain") << plain << QList<int>{} << false << none << QByteArray() << false << QByteArray() << false << QByteArray();
    QTest::newRow("plain split") << plain << QList<int>{} << false << QList<qsizetype>{40, 41, 90, 2000} << QByteArray() << false << QByteArray() << false << QByteArray();
    QTest::newRow("thumbnail") << plain << QList<int>{} << false << none << QByteArray() << false << QByteArray() << true << QByteArray();
    QTest::newRow("trailing CR LF") << plain << QList<int>{} << false << none << QByteArray() << false << QByteArray() << false << QByteArray("\r\n");
    QTest::newRow("chunk per arrival") << chunked << QList<int>{1000} << true << none << QByteArray() << false << QByteArray("chunked") << false << QByteArray();
    QTest::newRow("chunks in one arrival") << chunked << QList<int>{100} << false << none << QByteArray() << false << QByteArray("chunked") << false << QByteArray();
    QTest::newRow("chunks split") << chunked << QList<int>{1000} << false << QList<qsizetype>{85, 95, 96, 600, 1100, 1104, 1105, 2050} << QByteArray() << false << QByteArray("chunked") << false << QByteArray();
    QTest::newRow("1f4") << chunked << QList<int>{500} << true << none << QByteArray() << false << QByteArray("chunked") << false << QByteArray();
    QTest::newRow("1F4;name=value") << chunked << QList<int>{500} << false << none << QByteArray(";name=value") << true << QByteArray("chunked") << false << QByteArray();
    QTest::newRow("gzip, chunked") << chunked << QList<int>{700} << false << none << QByteArray() << false << QByteArray("gzip, chunked") << false << QByteArray("\r\n");
}

void TestEngine::bodies()
{
    QFETCH(int, mode);
    QFETCH(QList<int>, chunks);
    QFETCH(bool, splitAtChunks);
    QFETCH(QList<qsizetype>, splits);
    QFETCH(QByteArray, extension);
    QFETCH(bool, upper);
    QFETCH(QByteArray, encoding);
    QFETCH(bool, thumbnail);
    QFETCH(QByteArray, after);

    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.mode = CamSim::Mode(mode);
    b.imageSize = 3000;
    b.chunkSizes = chunks;
    b.splitAtChunks = splitAtChunks;
    b.splitPoints = splits;
    b.splitDelayMs = 5;
    b.chunkExtension = extension;
    b.upperCaseHex = upper;
    b.transferEncoding = encoding;
    b.thumbnail = thumbnail;
    b.afterImage = after;
    sim.setBehaviour(b);

    Rig rig;
    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(1));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(0));
    QCOMPARE(rig.parent->reports.at(0).data, sim.lastImage());
    if (thumbnail)
        QVERIFY(sim.lastImage().indexOf("\xFF\xD9") < sim.lastImage().size() - 2);
}

void TestEngine::pagesWithoutImage()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour page;
    page.mode = CamSim::Mode::ErrorPage;
    CamSim::Behaviour headers;
    headers.mode = CamSim::Mode::HeadersOnly;
    sim.setBehaviours({page, headers});
    Rig rig;

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(1));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-6));
    QCOMPARE(rig.parent->reports.at(0).data, sim.lastResponse());
    QVERIFY(sim.lastResponse().contains("<html>"));

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-6));
    QCOMPARE(rig.parent->reports.at(1).data, sim.lastResponse());
    QVERIFY(sim.lastResponse().endsWith("\r\n\r\n"));
}

void TestEngine::refusedTwiceRetriesOnce()
{
    auto counting = std::make_shared<CountingSocketFactory>();
    Rig rig(counting);
    QVERIFY(rig.engine->Dispatch(freePortUrl()));
    QVERIFY(rig.waitReports(1));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-3));
    QVERIFY(rig.parent->reports.at(0).data.isEmpty());
    QVERIFY(!rig.parent->reports.at(0).busyAtCall);
    QCOMPARE(counting->connects, 2);
    QVERIFY(!rig.engine->watchdogRunning());
    QVERIFY(rig.engine->isReady());
    QTest::qWait(20);
    QCOMPARE(rig.parent->reports.size(), 1);
}

void TestEngine::unresolvableHostNoRetry()
{
    auto counting = std::make_shared<CountingSocketFactory>();
    Rig rig(counting);
    // Not a valid host name, so the answer comes without asking any name server.
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://nicht vorhanden/x.jpg")));
    QVERIFY(rig.waitReports(1));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-2));
    QVERIFY(rig.parent->reports.at(0).data.isEmpty());
    QCOMPARE(counting->connects, 1);
    QVERIFY(rig.engine->isReady());

    // An empty host name is not found either.
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http:///x.jpg")));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-2));
    QCOMPARE(counting->connects, 2);
}

void TestEngine::resetRetriedThenReported()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour reset;
    reset.imageSize = 4000;
    reset.resetAfter = 100;
    CamSim::Behaviour good;
    good.imageSize = 4000;
    sim.setBehaviours({reset, good, reset, reset});
    Rig rig;

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(1));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(0));
    QCOMPARE(rig.parent->reports.at(0).data, sim.lastImage());
    QCOMPARE(sim.connectionCount(), 2);

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-4));
    QCOMPARE(rig.parent->reports.at(1).data, sim.lastImage());   // the previous image
    QCOMPARE(sim.connectionCount(), 4);
    QTest::qWait(20);
    QCOMPARE(rig.parent->reports.size(), 2);
}

void TestEngine::silentServerWatchdogAndReuse()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour silent;
    silent.mode = CamSim::Mode::Silent;
    CamSim::Behaviour good;
    good.imageSize = 2000;
    sim.setBehaviours({silent, good});
    Rig rig;

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(waitUntil([&] {
        return rig.engine->getStatus() == QStringLiteral("Verbunden - Auf Antwort warten...");
    }, 5000));
    QCOMPARE(sim.requests().size(), 1);
    rig.ticks(29);
    QVERIFY(rig.parent->reports.isEmpty());
    QVERIFY(rig.engine->isBusy());
    rig.ticks(1);
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-8));
    QVERIFY(rig.parent->reports.at(0).data.isEmpty());
    QVERIFY(!rig.parent->reports.at(0).busyAtCall);
    QVERIFY(rig.engine->isReady());
    QVERIFY(!rig.engine->watchdogRunning());

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(0));
    QCOMPARE(rig.parent->reports.at(1).data, sim.lastImage());
}

void TestEngine::trickleKeepsWatchdogQuiet()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.mode = CamSim::Mode::Trickle;
    b.imageSize = 30;
    b.trickleMs = 2;
    sim.setBehaviour(b);
    Rig rig;

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(waitUntil([&] { return sim.requests().size() == 1; }, 5000));
    int rounds = 0;
    // 20 ticks, standing for 20 seconds, pass between two bytes; no arrival ever waits 30.
    while (rig.parent->reports.isEmpty()) {
        rig.ticks(20);
        QVERIFY(rig.parent->reports.isEmpty());
        QVERIFY(waitUntil([&] { return rig.engine->watchdogTicks() == 0 || !rig.parent->reports.isEmpty(); }, 5000));
        ++rounds;
    }
    QVERIFY(rounds > 10);
    QCOMPARE(rig.parent->reports.at(0).code, qint16(0));
    QCOMPARE(rig.parent->reports.at(0).data, sim.lastImage());
}

void TestEngine::failureKeepsPreviousImage()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.imageSize = 1000;
    sim.setBehaviour(b);
    Rig rig;
    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(1));
    const QByteArray image = rig.parent->reports.at(0).data;
    QCOMPARE(image, sim.lastImage());

    QVERIFY(rig.engine->Dispatch(freePortUrl()));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-3));
    QCOMPARE(rig.parent->reports.at(1).data, image);
}

void TestEngine::endlessAnswerBounded()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.mode = CamSim::Mode::Endless;
    b.imageSize = 100 * 1024;
    sim.setBehaviour(b);
    Rig rig;

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(1, 30000));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-3));
    QVERIFY(rig.parent->reports.at(0).data.isEmpty());
    QVERIFY(rig.engine->isReady());
    QVERIFY(!rig.engine->isBusy());
    QVERIFY(!rig.engine->watchdogRunning());
    QTest::qWait(20);
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(sim.connectionCount(), 1);   // no retry
}

void TestEngine::hugeChunkSizeBounded()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour huge;
    huge.mode = CamSim::Mode::Raw;
    huge.raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n\xFF\xD8 data";
    CamSim::Behaviour overflow = huge;
    overflow.raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000000000000000\r\n\xFF\xD8 data";
    sim.setBehaviours({huge, overflow});
    Rig rig;

    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(1));
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-3));
    QVERIFY(rig.engine->Dispatch(sim.url()));
    QVERIFY(rig.waitReports(2));
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-3));
    QCOMPARE(sim.connectionCount(), 2);
}

void TestEngine::statusTextsAndReport()
{
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    FakeSocket &s = *fakes->last;
    rig.engine->Task(7);
    rig.engine->Step(200);
    QCOMPARE(rig.engine->Task(), quint8(7));
    QCOMPARE(rig.engine->Step(), quint8(200));
    QCOMPARE(rig.engine->getName(), QStringLiteral("CopyHelper1"));

    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam:8080/a.jpg")));
    QCOMPARE(s.host, QStringLiteral("cam"));
    QCOMPARE(s.port, 8080);
    QCOMPARE(rig.engine->getReport(), QStringLiteral("cam:8080: Hostname wird aufgelöst..."));
    s.fireConnected();
    QCOMPARE(rig.engine->getStatus(), QStringLiteral("Verbunden - Anfrage senden..."));
    QCOMPARE(s.sent, QList<QByteArray>{"GET /a.jpg HTTP/1.1\r\nAccept: */*\r\nHost: cam\r\nConnection: close\r\n\r\n"});
    s.fireSent();
    QCOMPARE(rig.engine->getStatus(), QStringLiteral("Verbunden - Auf Antwort warten..."));
    s.fireData(QByteArray(1460, 'a'));
    QCOMPARE(rig.engine->getStatus(), QStringLiteral("Verbunden - Daten empfangen...(1460 bytes)"));
    rig.ticks(29);
    s.fireData("b");   // an arrival sets the watchdog back
    QCOMPARE(rig.engine->getStatus(), QStringLiteral("Verbunden - Daten empfangen...(1 bytes)"));
    rig.ticks(29);
    QVERIFY(rig.parent->reports.isEmpty());

    const QStringList texts = {
        "Nicht aktiv", "Offen", "Warte auf Verbindung...", "Verbindung anstehend",
        "Hostname wird aufgelöst...", "Host name wurde aufgelöst", "Verbinden...",
        "Verbunden - Daten empfangen...(1 bytes)", "Verbindung wird geschlossen...", "Fehler!", "Unbekannter Zustand"};
    for (int state = 0; state <= 10; ++state) {
        s.st = state;
        QCOMPARE(rig.engine->getStatus(), texts.at(state));
    }
    s.st = TcpSocket::Connected;
    s.fireClosed();
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-6));   // no image in it

    // Connected without a status text yet.
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/")));
    s.st = TcpSocket::Connected;
    QCOMPARE(rig.engine->getStatus(), QStringLiteral("Verbunden"));
}

void TestEngine::errorNumbers_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("connects");
    QTest::newRow("timed out") << 10060 << 0 << -7 << 1;
    QTest::newRow("aborted") << 10053 << 0 << -7 << 1;
    QTest::newRow("not found") << 11001 << 0 << -2 << 1;
    QTest::newRow("try again") << 11002 << 0 << -2 << 1;
    QTest::newRow("no buffers") << 10055 << 10055 << -4 << 2;
    QTest::newRow("control 40026") << 40026 << 40026 << -4 << 2;
    QTest::newRow("reset, refused") << 10054 << 10061 << -3 << 2;
    QTest::newRow("refused, reset") << 10061 << 10054 << -4 << 2;
    QTest::newRow("refused, timed out") << 10061 << 10060 << -7 << 2;
    QTest::newRow("unknown") << 20054 << 20054 << -3 << 2;
    QTest::newRow("failed read") << -3 << -3 << -3 << 2;
    QTest::newRow("empty read") << -5 << -5 << -5 << 2;
}

void TestEngine::errorNumbers()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, code);
    QFETCH(int, connects);
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    FakeSocket &s = *fakes->last;

    // -3 and -5 come from the engine's own reads.
    auto fail = [&](int number) {
        if (number == -3 || number == -5) {
            s.fireConnected();
            s.failRead = number == -3;
            s.st = TcpSocket::Connected;
            s.h.dataArrival(10);
            s.failRead = false;
        } else {
            s.fireError(number);
        }
    };

    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    fail(first);
    if (second != 0) {
        QVERIFY(rig.parent->reports.isEmpty());
        QVERIFY(rig.engine->isBusy());
        QVERIFY(rig.engine->watchdogRunning());
        QCOMPARE(rig.engine->transferState(), CopyHelper::TransferState::Retrying);
        fail(second);
    }
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, qint16(code));
    QVERIFY(rig.parent->reports.at(0).data.isEmpty());
    QVERIFY(!rig.parent->reports.at(0).busyAtCall);
    QCOMPARE(s.connects, connects);
    QVERIFY(!rig.engine->watchdogRunning());
    QVERIFY(rig.engine->isReady());
    QCOMPARE(rig.engine->transferState(), CopyHelper::TransferState::Idle);

    // The next transfer gets its own retry again.
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    s.fireError(10061);
    QCOMPARE(rig.parent->reports.size(), 1);
    s.fireError(10061);
    QCOMPARE(rig.parent->reports.size(), 2);
}

void TestEngine::retryThatCannotStart()
{
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    FakeSocket &s = *fakes->last;
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    s.refuseConnect = true;
    s.fireError(10061);
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-1));
    // The retry had marked the engine busy; the watchdog, still running, reports once more.
    QVERIFY(!rig.engine->isReady());
    QVERIFY(rig.engine->watchdogRunning());
    rig.ticks(30);
    QCOMPARE(rig.parent->reports.size(), 2);
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-8));
    QVERIFY(rig.engine->isReady());
    QVERIFY(!rig.engine->watchdogRunning());
}

void TestEngine::refusedPortLeftToWatchdog()
{
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    QVERIFY(!rig.engine->Dispatch(QStringLiteral("http://cam:70000/x.jpg")));
    QVERIFY(!rig.engine->isReady());
    QVERIFY(!rig.engine->isBusy());
    QVERIFY(rig.engine->watchdogRunning());
    QCOMPARE(rig.engine->getReport(), QStringLiteral("cam:70000: Nicht aktiv"));
    rig.ticks(30);
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, qint16(-8));
    QCOMPARE(fakes->created, 2);   // a fresh socket took the old one's place
    QVERIFY(rig.engine->isReady());
}

void TestEngine::dispatchRefusals()
{
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    QVERIFY(!rig.engine->Dispatch(QStringLiteral("cam/x.jpg")));
    QVERIFY(!rig.engine->watchdogRunning());
    QVERIFY(rig.engine->isReady());
    QCOMPARE(fakes->last->connects, 0);
    QVERIFY(!rig.engine->Dispatch(QStringLiteral("http://us") + QChar(0x20AC) + QStringLiteral(":pw@cam/x.jpg")));
    QVERIFY(!rig.engine->watchdogRunning());

    // A busy engine refuses and keeps its transfer.
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam:81/x.jpg")));
    QVERIFY(!rig.engine->Dispatch(QStringLiteral("http://other/y.jpg")));
    QCOMPARE(rig.engine->getReport(), QStringLiteral("cam:81: Hostname wird aufgelöst..."));
    QCOMPARE(fakes->last->connects, 1);
}

void TestEngine::dataTypeZero()
{
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    FakeSocket &s = *fakes->last;
    rig.engine->DataType(0);
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/status.txt")));
    s.fireConnected();
    s.fireData("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nte");
    s.fireData("xt\r\n0\r\n\r\n");
    s.fireClosed();
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, qint16(0));
    QCOMPARE(rig.parent->reports.at(0).data, QByteArray("text"));
}

void TestEngine::callbackStartsNextTransfer()
{
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    bool started = false;
    rig.parent->onCallBack = [&] { started = rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")); };
    rig.ticks(30);
    QVERIFY(started);
    // The transfer started inside the callback stays marked as running.
    QVERIFY(!rig.engine->isReady());
    QVERIFY(rig.engine->watchdogRunning());
    QVERIFY(rig.engine->isBusy());
    rig.parent->onCallBack = nullptr;
    fakes->last->fireError(10061);
    QVERIFY(rig.parent->reports.size() == 1);   // the new transfer still has its retry
    fakes->last->fireError(10061);
    QCOMPARE(rig.parent->reports.size(), 2);
    QCOMPARE(rig.parent->reports.at(1).code, qint16(-3));
}

void TestEngine::callbackDiscardsEngine()
{
    auto fakes = std::make_shared<FakeSocketFactory>();
    Rig rig(fakes);
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    rig.parent->onCallBack = [&] { rig.engine.reset(); };
    rig.engine->mWatchdog_Timer();
    for (int i = 1; i < 30 && rig.engine; ++i)
        rig.engine->mWatchdog_Timer();
    QVERIFY(!rig.engine);
    QCOMPARE(rig.parent->reports.size(), 1);

    // The parent may also let go of itself inside its callback.
    Rig second(std::make_shared<FakeSocketFactory>());
    QVERIFY(second.engine->Dispatch(QStringLiteral("http://cam/x.jpg")));
    std::weak_ptr<RecordingParent> watch = second.parent;
    CopyHelper *engine = second.engine.get();
    second.parent->onCallBack = [engine] { engine->Parent(nullptr); };
    second.parent.reset();
    second.ticks(30);
    QVERIFY(watch.expired());
}

void TestEngine::namesNeverReused()
{
    TestPlatform tp;
    tp.platform.sockets = std::make_shared<FakeSocketFactory>();
    QSet<QString> names;
    std::vector<std::unique_ptr<CopyHelper>> engines;
    for (int i = 0; i < 3; ++i)
        engines.push_back(std::make_unique<CopyHelper>(tp.platform, names));
    QCOMPARE(engines[1]->getName(), QStringLiteral("CopyHelper2"));
    engines.erase(engines.begin() + 1);
    engines.push_back(std::make_unique<CopyHelper>(tp.platform, names));
    QCOMPARE(engines.back()->getName(), QStringLiteral("CopyHelper4"));
    QVERIFY(names.contains(QStringLiteral("CopyHelper2_Timer")));
    QCOMPARE(names.size(), 4);
    QVERIFY(tp.dialogs->boxes.isEmpty());
}

void TestEngine::hundredAndFirstEngineEndsProgram()
{
    TestPlatform tp;
    tp.platform.sockets = std::make_shared<FakeSocketFactory>();
    QSet<QString> names;
    std::vector<std::unique_ptr<CopyHelper>> engines;
    for (int i = 0; i < 100; ++i) {
        engines.push_back(std::make_unique<CopyHelper>(tp.platform, names));
        if (i % 3 == 0)
            engines.pop_back();   // discarded engines keep their numbers
    }
    QCOMPARE(names.size(), 100);
    QVERIFY(tp.dialogs->boxes.isEmpty());
    bool exited = false;
    try {
        CopyHelper extra(tp.platform, names);
    } catch (const ProgramExited &) {
        exited = true;
    }
    QVERIFY(exited);
    QCOMPARE(tp.program->exits.size(), 1);
    QCOMPARE(tp.dialogs->boxes.size(), 1);
    QCOMPARE(tp.dialogs->boxes.at(0).title, QStringLiteral("Bildfang"));
    QCOMPARE(tp.dialogs->boxes.at(0).text, QStringLiteral("Fehler beim Anlegen der Timer des CopyHelpers!") + MustEnd);
}

void TestEngine::socketCreationFailureEndsProgram()
{
    TestPlatform tp;
    auto fakes = std::make_shared<FakeSocketFactory>();
    fakes->fail = true;
    tp.platform.sockets = fakes;
    QSet<QString> names;
    bool exited = false;
    try {
        CopyHelper engine(tp.platform, names);
    } catch (const ProgramExited &) {
        exited = true;
    }
    QVERIFY(exited);
    QCOMPARE(tp.dialogs->boxes.size(), 1);
    QCOMPARE(tp.dialogs->boxes.at(0).title, QStringLiteral("Bildfang"));
    QCOMPARE(tp.dialogs->boxes.at(0).text, QStringLiteral("WinSock- Objekte konnten nicht angelegt werden!") + MustEnd);
}

namespace {

struct SocketLog
{
    QStringList events;
    void attach(TcpSocket &s)
    {
        TcpSocket::Handlers h;
        h.connected = [this] { events << QStringLiteral("connected"); };
        h.sendComplete = [this] { events << QStringLiteral("sent"); };
        h.dataArrival = [this](qint64 n) { events << QStringLiteral("data ") + QString::number(n); };
        h.closed = [this] { events << QStringLiteral("closed"); };
        h.error = [this](int n) { events << QStringLiteral("error ") + QString::number(n); };
        s.setHandlers(h);
    }
};

} // namespace

void TestEngine::socketEventsComeFromTheLoop()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.imageSize = 1000;
    sim.setBehaviour(b);
    PosixTcpSocket s;
    SocketLog log;
    log.attach(s);
    QVERIFY(!s.setRemotePort(70000));
    QVERIFY(s.setRemotePort(sim.port()));
    QVERIFY(s.connectToHost(QStringLiteral("127.0.0.1")));
    QVERIFY(!s.connectToHost(QStringLiteral("127.0.0.1")));   // already under way
    QCOMPARE(s.state(), int(TcpSocket::ResolvingHost));
    QVERIFY(log.events.isEmpty());
    QVERIFY(waitUntil([&] { return log.events.contains(QStringLiteral("connected")); }, 5000));
    QCOMPARE(s.state(), int(TcpSocket::Connected));
    QVERIFY(s.send("GET / HTTP/1.1\r\n\r\n"));
    QCOMPARE(log.events, QStringList{QStringLiteral("connected")});   // send complete comes later
    QByteArray all;
    bool closedSeen = false;
    TcpSocket::Handlers h;
    h.sendComplete = [&] { log.events << QStringLiteral("sent"); };
    h.dataArrival = [&](qint64 n) {
        QByteArray piece;
        QVERIFY(s.getData(piece, n));
        QCOMPARE(piece.size(), n);
        all += piece;
    };
    h.closed = [&] {
        closedSeen = true;
        QCOMPARE(s.state(), int(TcpSocket::Closing));
    };
    h.error = [&](int n) { log.events << QStringLiteral("error ") + QString::number(n); };
    s.setHandlers(h);
    QVERIFY(waitUntil([&] { return closedSeen; }, 5000));
    QVERIFY(log.events.contains(QStringLiteral("sent")));
    QCOMPARE(all, sim.lastResponse());
    s.close();
    QCOMPARE(s.state(), int(TcpSocket::Closed));

    // Refused, reported from the loop as well.
    PosixTcpSocket refused;
    SocketLog refusedLog;
    refusedLog.attach(refused);
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    refused.setRemotePort(probe.serverPort());
    probe.close();
    QVERIFY(refused.connectToHost(QStringLiteral("127.0.0.1")));
    QVERIFY(refusedLog.events.isEmpty());
    QVERIFY(waitUntil([&] { return !refusedLog.events.isEmpty(); }, 5000));
    QCOMPARE(refusedLog.events, QStringList{QStringLiteral("error 10061")});
    QCOMPARE(refused.state(), int(TcpSocket::Error));
}

void TestEngine::socketResetIsErrorNotClose()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.imageSize = 1000;
    b.resetAfter = 300;
    sim.setBehaviour(b);
    PosixTcpSocket s;
    QByteArray all;
    QStringList events;
    TcpSocket::Handlers h;
    h.connected = [&] { s.send("GET / HTTP/1.1\r\n\r\n"); };
    h.dataArrival = [&](qint64 n) {
        QByteArray piece;
        s.getData(piece, n);
        all += piece;
    };
    h.closed = [&] { events << QStringLiteral("closed"); };
    h.error = [&](int n) { events << QStringLiteral("error ") + QString::number(n); };
    s.setHandlers(h);
    s.setRemotePort(sim.port());
    s.connectToHost(QStringLiteral("127.0.0.1"));
    QVERIFY(waitUntil([&] { return !events.isEmpty(); }, 5000));
    QTest::qWait(20);
    QCOMPARE(events, QStringList{QStringLiteral("error 10054")});
    QCOMPARE(all, sim.lastResponse().left(300));
}

void TestEngine::socketCloseInHandlerStopsEvents()
{
    CamSim sim;
    QVERIFY(sim.listen());
    CamSim::Behaviour b;
    b.imageSize = 1000;
    sim.setBehaviour(b);

    // Closed inside connected: the send's completion and everything after it never come.
    auto s = std::make_unique<PosixTcpSocket>();
    QStringList events;
    TcpSocket::Handlers h;
    h.connected = [&] {
        events << QStringLiteral("connected");
        s->send("GET / HTTP/1.1\r\n\r\n");
        s->close();
    };
    h.sendComplete = [&] { events << QStringLiteral("sent"); };
    h.dataArrival = [&](qint64) { events << QStringLiteral("data"); };
    h.closed = [&] { events << QStringLiteral("closed"); };
    h.error = [&](int) { events << QStringLiteral("error"); };
    s->setHandlers(h);
    s->setRemotePort(sim.port());
    s->connectToHost(QStringLiteral("127.0.0.1"));
    QVERIFY(waitUntil([&] { return !events.isEmpty(); }, 5000));
    QTest::qWait(30);
    QCOMPARE(events, QStringList{QStringLiteral("connected")});

    // Destroyed inside a data arrival: nothing else runs on the dead socket.
    events.clear();
    h.connected = [&] { s->send("GET / HTTP/1.1\r\n\r\n"); };
    h.dataArrival = [&](qint64) {
        events << QStringLiteral("data");
        s.reset();
    };
    s->setHandlers(h);
    s->setRemotePort(sim.port());
    QVERIFY(s->connectToHost(QStringLiteral("127.0.0.1")));
    QVERIFY(waitUntil([&] { return !s; }, 5000));
    QTest::qWait(30);
    QCOMPARE(events, (QStringList{QStringLiteral("sent"), QStringLiteral("data")}));

    // Destroyed while the connect is pending: no event arrives later.
    events.clear();
    {
        PosixTcpSocket pending;
        pending.setHandlers(h);
        pending.setRemotePort(sim.port());
        pending.connectToHost(QStringLiteral("127.0.0.1"));
    }
    QTest::qWait(30);
    QVERIFY(events.isEmpty());
}

void TestEngine::socketErrorNumbers()
{
    QCOMPARE(WinsockErrorFromErrno(ECONNRESET), 10054);
    QCOMPARE(WinsockErrorFromErrno(ECONNREFUSED), 10061);
    QCOMPARE(WinsockErrorFromErrno(ETIMEDOUT), 10060);
    QCOMPARE(WinsockErrorFromErrno(ECONNABORTED), 10053);
    QCOMPARE(WinsockErrorFromErrno(ENOBUFS), 10055);
    QCOMPARE(WinsockErrorFromErrno(EHOSTUNREACH), 10065);
    QCOMPARE(WinsockErrorFromErrno(ENETUNREACH), 10051);
    // Linux numbers that happen to equal a special Windows number minus 10000 stay apart.
    for (int e = 1; e < 140; ++e) {
        const int n = WinsockErrorFromErrno(e);
        if (e != ECONNRESET && e != EPIPE)
            QVERIFY2(n != 10054, qPrintable(QString::number(e)));
        if (e != ENOBUFS && e != ENOMEM)
            QVERIFY2(n != 10055, qPrintable(QString::number(e)));
        if (e != ETIMEDOUT && e != ECONNABORTED)
            QVERIFY2(n != 10060 && n != 10053, qPrintable(QString::number(e)));
        QVERIFY(n != 11001 && n != 11002 && n != 40026);
    }
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
