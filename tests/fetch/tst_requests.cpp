// What may go into a request and what comes back: unsafe addresses, credentials byte-exact,
// Digest authentication against the simulator, connection attempts that never complete.
#include "CamSim.h"
#include "fetch/CopyHelper.h"
#include "fetch/DigestAuth.h"
#include "fetch/ResponseDecoder.h"
#include "platform/PosixTcpSocket.h"
#include "support/TestPlatform.h"

#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Report
{
    QByteArray data;
    int code;
};

class RecordingParent final : public CopyHelperParent
{
public:
    QList<Report> reports;
    void CHCallBack(const QByteArray &byData, qint16 iError) override { reports.append({byData, iError}); }
};

// One engine serving one camera of the simulator over loopback.
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
        engine->Parent(parent);
        engine->DataType(1);
        sim.listen();
    }
    // Code 1 when Dispatch refused, 2 when no report came.
    Report fetch(const QString &url)
    {
        const qsizetype before = parent->reports.size();
        if (!engine->Dispatch(url))
            return {{}, 1};
        QDeadlineTimer deadline(10000);
        while (parent->reports.size() == before && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return parent->reports.size() > before ? parent->reports.last() : Report{{}, 2};
    }
};

// The capture cycle's rule for user and password in the URL.
QString encodeCredential(const QString &typed)
{
    QString out;
    for (const QChar c : typed) {
        const char16_t u = c.unicode();
        if (QStringView(u"%@:/").contains(c) || u <= 0x20 || (u >= 0x7F && u <= 0xFF))
            out += QLatin1Char('%') + QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// Runs the event loop until cond holds or 10 s passed.
bool waitUntil(const std::function<bool()> &cond)
{
    QDeadlineTimer deadline(10000);
    while (!cond() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return cond();
}

// A loopback port that never completes a connection: its accept queue is full (backlog 0, one
// connection never accepted), so the kernel drops further SYNs and connect stays pending.
struct BlackHole
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 port = 0;
    BlackHole()
    {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        if (::bind(listener, reinterpret_cast<sockaddr *>(&a), len) == 0 && ::listen(listener, 0) == 0
            && ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) == 0
            && ::connect(filler, reinterpret_cast<sockaddr *>(&a), len) == 0)
            port = ntohs(a.sin_port);
    }
    ~BlackHole()
    {
        ::close(filler);
        ::close(listener);
    }
};

} // namespace

Q_DECLARE_METATYPE(CamSim::Behaviour)

class TestRequests : public QObject
{
    Q_OBJECT
private slots:
    void unsafeAddressesAndReports();
    void chunkedHeaderWithTrailingBlanks();
    void connectAttemptTimesOut();
    void credentialsByteExact_data();
    void credentialsByteExact();
    void digest_data();
    void digest();
    void digestKnownAnswer();
    void bodiesKeptOrDropped();
};

void TestRequests::unsafeAddressesAndReports()
{
    Rig rig;
    for (const char *bad : {"http://cam/a\r\nX-Injected: 1", "http://cam/a\nb", "http://ca\rm/x", "http://cam\t/x",
                            "http://cam/x\x7f", "http://u:p@cam\n/x"}) {
        QVERIFY2(!rig.engine->Dispatch(QString::fromLatin1(bad)), bad);
        QCOMPARE(rig.engine->getReport(), QStringLiteral(":0: Nicht aktiv"));
    }
    // A port that does not fit keeps the host taken apart before it.
    QVERIFY(!rig.engine->Dispatch(QStringLiteral("http://u:p@cam:99999999999/x")));
    QCOMPARE(rig.engine->getReport(), QStringLiteral("cam:0: Nicht aktiv"));
    QVERIFY(rig.tp.dialogs->boxes.isEmpty());
    QVERIFY(rig.sim.requests().isEmpty());
}

// Byte-exact through every split of the arrivals.
void TestRequests::chunkedHeaderWithTrailingBlanks()
{
    const QByteArray image = CamSim::makeJpeg(600, 3);
    CamSim::Behaviour b;
    b.chunkSizes = {100, 7, 250};
    for (const QByteArray end : {" ", "\t", " \t  "}) {
        const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked" + end + "\r\n\r\n";
        const QByteArray wire = head + CamSim::chunkEncode(image, b);
        for (int cut = 0; cut <= wire.size(); cut += 7) {
            ResponseDecoder d;
            QVERIFY(d.feed(wire.left(cut)) && d.feed(wire.mid(cut)));
            d.finish();
            bool noImage = true;
            QCOMPARE(d.extractBody(1, noImage), image);
            QVERIFY(!noImage);
        }
    }
}

void TestRequests::credentialsByteExact_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("slash") << "admin" << "se/cret";
    QTest::newRow("at") << "us@er" << "p@ss";
    QTest::newRow("colons") << "a:b" << "c:d";
    QTest::newRow("percent") << "100%" << "%41%";
    QTest::newRow("blanks") << "max muster" << " pass word ";
    QTest::newRow("latin-1") << QStringLiteral("j\u00f6rg") << QStringLiteral("gr\u00fc\u00dfe");
}

void TestRequests::credentialsByteExact()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    Rig rig;
    CamSim::Behaviour b;
    b.imageSize = 2000;
    b.authUserInfo = (user + QLatin1Char(':') + password).toLatin1();
    rig.sim.setBehaviour(b);
    const QString url = QStringLiteral("http://%1:%2@127.0.0.1:%3/a.jpg")
                            .arg(encodeCredential(user), encodeCredential(password), QString::number(rig.sim.port()));
    const Report r = rig.fetch(url);
    QCOMPARE(r.code, 0);
    QCOMPARE(rig.sim.requests(), QList<QByteArray>{"GET /a.jpg HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\n"
        "Connection: close\r\nAuthorization: Basic " + b.authUserInfo.toBase64() + "\r\n\r\n"});
}

// Two fetches per row; connections counted after each. The first request always carries Basic,
// as before; a remembered challenge makes the second fetch one request.
void TestRequests::digest_data()
{
    QTest::addColumn<CamSim::Behaviour>("camera");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QList<int>>("codesAndConnections");
    CamSim::Behaviour md5;
    md5.imageSize = 3000;
    md5.authUserInfo = "Mufasa:Circle of Life";
    md5.digestAlgorithm = "MD5";
    const QString right = QStringLiteral("Circle of Life");
    const QList<int> twoThenOne{0, 2, 0, 3};
    auto with = [&](auto change) { CamSim::Behaviour b = md5; change(b); return b; };

    QTest::newRow("MD5, qop=auth") << md5 << right << twoThenOne;
    QTest::newRow("MD5 without qop") << with([](auto &b) { b.digestQop.clear(); }) << right << twoThenOne;
    QTest::newRow("SHA-256") << with([](auto &b) { b.digestAlgorithm = "SHA-256"; }) << right << twoThenOne;
    QTest::newRow("SHA-256-sess") << with([](auto &b) { b.digestAlgorithm = "SHA-256-sess"; }) << right << twoThenOne;
    QTest::newRow("MD5-sess without qop") << with([](auto &b) { b.digestAlgorithm = "MD5-sess"; b.digestQop.clear(); })
                                          << right << twoThenOne;
    QTest::newRow("stale nonce") << with([](auto &b) { b.digestNonceUses = 1; }) << right << QList<int>{0, 2, 0, 4};
    QTest::newRow("wrong password") << md5 << QStringLiteral("Circle Of Life") << QList<int>{-6, 2, -6, 3};
    QTest::newRow("unknown algorithm") << with([](auto &b) { b.digestAlgorithm = "SHA-512-256"; }) << right
                                       << QList<int>{-6, 1, -6, 2};
    QTest::newRow("qop auth-int only") << with([](auto &b) { b.digestQop = "auth-int"; }) << right
                                       << QList<int>{-6, 1, -6, 2};
    QTest::newRow("Basic offered too") << with([](auto &b) { b.digestAlsoBasic = true; }) << right
                                       << QList<int>{0, 1, 0, 2};
}

void TestRequests::digest()
{
    QFETCH(CamSim::Behaviour, camera);
    QFETCH(QString, password);
    QFETCH(QList<int>, codesAndConnections);
    Rig rig;
    rig.sim.setBehaviour(camera);
    const QString url = QStringLiteral("http://Mufasa:%1@127.0.0.1:%2/dir/index.html")
                            .arg(encodeCredential(password), QString::number(rig.sim.port()));
    for (int fetch = 0; fetch < 2; ++fetch) {
        const Report r = rig.fetch(url);
        QCOMPARE(r.code, codesAndConnections.at(2 * fetch));
        QCOMPARE(rig.sim.connectionCount(), codesAndConnections.at(2 * fetch + 1));
        // An image, or the last 401 page kept whole.
        QCOMPARE(r.data, r.code == 0 ? rig.sim.lastImage() : rig.sim.lastResponse());
    }
    // The first request is today's, byte for byte; a Digest answer replaces the Basic line.
    const QList<QByteArray> requests = rig.sim.requests();
    QCOMPARE(requests.first(), "GET /dir/index.html HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
             "Authorization: Basic " + ("Mufasa:" + password.toLatin1()).toBase64() + "\r\n\r\n");
    for (const QByteArray &request : requests.mid(1))
        QCOMPARE(request.contains("\r\nAuthorization: Digest username=\"Mufasa\""), codesAndConnections.at(1) == 2);
    if (codesAndConnections == QList<int>{0, 2, 0, 3} && !camera.digestQop.isEmpty())
        QVERIFY(requests.last().contains(", nc=00000002, "));
}

// RFC 7616, 3.9.1: the SHA-256 challenge comes first, so it is the one answered.
void TestRequests::digestKnownAnswer()
{
    const QByteArray head = "HTTP/1.1 401 Unauthorized\r\n"
        "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=SHA-256, "
        "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n"
        "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=MD5, "
        "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n\r\n";
    QVERIFY(IsUnauthorized(head));
    const AuthChallenges offered = ParseAuthChallenges(head);
    QVERIFY(!offered.basic && offered.digest);
    DigestChallenge c = *offered.digest;
    const QByteArray cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    auto answer = [&] { return DigestAuthorization(c, "Mufasa", "Circle of Life", "GET", "/dir/index.html", 1, cnonce); };
    QCOMPARE(answer(), QByteArray("Digest username=\"Mufasa\", realm=\"http-auth@example.org\", uri=\"/dir/index.html\", "
        "algorithm=SHA-256, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", nc=00000001, cnonce=\"" + cnonce
        + "\", qop=auth, response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\", "
        "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""));
    c.algorithm = DigestChallenge::Algorithm::Md5;
    QVERIFY(answer().contains("response=\"8ca523f5e9506fed4657c9700eebdbec\""));

    // Unanswerable or not Digest at all.
    for (const QByteArray &line : {QByteArray("Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256"),
                                   QByteArray("Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\""),
                                   QByteArray("Digest realm=\"r, nonce=\"n\""), QByteArray("Digest nonce=\"n\""),
                                   QByteArray("Negotiate abc==, Digest realm=\"r\" nonce=\"n\"")})
        QVERIFY2(!ParseAuthChallenges("HTTP/1.1 401 X\r\nWWW-Authenticate: " + line + "\r\n\r\n").digest, line);
    QVERIFY(ParseAuthChallenges("HTTP/1.1 401 X\r\nWWW-Authenticate: Negotiate abc==, Digest realm=r, nonce=n\r\n\r\n").digest);
    QVERIFY(!IsUnauthorized("HTTP/1.1 4010 X\r\n\r\n"));
}

// The body's buffer is reused for the next response only when the camera let go of it.
void TestRequests::bodiesKeptOrDropped()
{
    Rig rig;
    CamSim::Behaviour b;
    b.mode = CamSim::Mode::NewJpeg;
    b.imageSize = 150 * 1024;
    rig.sim.setBehaviour(b);
    QList<QByteArray> kept, expected;
    for (int i = 0; i < 6; ++i) {
        const Report r = rig.fetch(rig.sim.url());
        QCOMPARE(r.data, rig.sim.lastImage());
        if (i % 2 == 0) {
            kept.append(r.data);
            expected.append(rig.sim.lastImage());
        }
        rig.parent->reports.clear();
    }
    QCOMPARE(kept, expected);
}

// The watchdog and the socket's connect timer ticked together, second by second.
void TestRequests::connectAttemptTimesOut()
{
    BlackHole hole;
    QVERIFY(hole.port != 0);
    QList<PosixTcpSocket *> sockets;
    struct Factory final : SocketFactory {
        QList<PosixTcpSocket *> &made;
        explicit Factory(QList<PosixTcpSocket *> &m) : made(m) {}
        std::unique_ptr<TcpSocket> create() override
        {
            auto s = std::make_unique<PosixTcpSocket>();
            made.append(s.get());
            return s;
        }
    };
    Rig rig(std::make_shared<Factory>(sockets));
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://127.0.0.1:%1/x.jpg").arg(hole.port)));
    QVERIFY(waitUntil([&] { return sockets.at(0)->state() == TcpSocket::Connecting; }));
    for (int second = 1; second <= 21; ++second) {
        QCOMPARE(rig.parent->reports.size(), 0);
        rig.engine->mWatchdog_Timer();
        sockets.at(0)->mConnectTimer_Timer();
    }
    QCOMPARE(rig.parent->reports.size(), 1);
    QCOMPARE(rig.parent->reports.at(0).code, -7);
    QVERIFY(rig.engine->isReady());
    QVERIFY(!rig.engine->watchdogRunning());
}

QTEST_GUILESS_MAIN(TestRequests)
#include "tst_requests.moc"
