// Unsafe addresses refused, credentials byte-exact, Digest, connection attempts that never end.
#include "app/CaptureCycle.h"
#include "CamSim.h"
#include "fetch/CopyHelper.h"
#include "platform/PosixTcpSocket.h"
#include "support/TestPlatform.h"

#include <QtTest>

#include <netinet/in.h>
#include <unistd.h>

Q_DECLARE_METATYPE(CamSim::Behaviour)

namespace {

struct Report { QByteArray data; int code; };
struct RecordingParent final : CopyHelperParent
{
    QList<Report> reports;
    void CHCallBack(const QByteArray &byData, qint16 iError) override { reports.append({byData, iError}); }
};

struct NotingSockets final : SocketFactory   // real sockets, the last one kept in view
{
    PosixTcpSocket *last = nullptr;
    std::unique_ptr<TcpSocket> create() override { auto s = std::make_unique<PosixTcpSocket>(); last = s.get(); return s; }
};

bool waitUntil(const std::function<bool()> &cond)
{
    QDeadlineTimer deadline(10000);
    while (!cond() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return cond();
}

struct Rig
{
    TestPlatform tp;
    QSet<QString> names;
    CamSim sim;
    std::shared_ptr<NotingSockets> sockets = std::make_shared<NotingSockets>();
    std::shared_ptr<RecordingParent> parent = std::make_shared<RecordingParent>();
    std::unique_ptr<CopyHelper> engine;
    Rig()
    {
        tp.platform.sockets = sockets;
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
        return waitUntil([&] { return parent->reports.size() > before; }) ? parent->reports.last() : Report{{}, 2};
    }
};

} // namespace

class TestRequests : public QObject
{
    Q_OBJECT
private slots:
    void unsafeAddressesAndReports();
    void connectAttemptTimesOut();
    void credentialsByteExact_data();
    void credentialsByteExact();
    void digest_data();
    void digest();
    void digestKnownAnswer();
};

void TestRequests::unsafeAddressesAndReports()
{
    Rig rig;
    for (const char *bad : {"http://cam/a\r\nX-Injected: 1", "http://cam/a\nb", "http://ca\rm/x", "http://cam/x\x7f"}) {
        QVERIFY2(!rig.engine->Dispatch(QString::fromLatin1(bad)), bad);
        QCOMPARE(rig.engine->getReport(), QStringLiteral(":0: Nicht aktiv"));
    }
    // A port that does not fit keeps the host taken apart before it.
    QVERIFY(!rig.engine->Dispatch(QStringLiteral("http://u:p@cam:99999999999/x")));
    QCOMPARE(rig.engine->getReport(), QStringLiteral("cam:0: Nicht aktiv"));
}

// A loopback port whose accept queue is full (backlog 0, one connection never accepted): the
// kernel drops further SYNs, so connect stays pending. Watchdog and connect timer tick together.
void TestRequests::connectAttemptTimesOut()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0), filler = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    const bool holeReady = ::bind(listener, reinterpret_cast<sockaddr *>(&a), len) == 0 && ::listen(listener, 0) == 0
        && ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) == 0
        && ::connect(filler, reinterpret_cast<sockaddr *>(&a), len) == 0;
    const auto closeHole = qScopeGuard([&] { ::close(filler); ::close(listener); });
    QVERIFY(holeReady);
    Rig rig;
    QVERIFY(rig.engine->Dispatch(QStringLiteral("http://127.0.0.1:%1/x.jpg").arg(ntohs(a.sin_port))));
    QVERIFY(waitUntil([&] { return rig.sockets->last->state() == TcpSocket::Connecting; }));
    for (int second = 1; second <= 21; ++second) {
        QCOMPARE(rig.parent->reports.size(), 0);
        rig.engine->mWatchdog_Timer();
        rig.sockets->last->mConnectTimer_Timer();
    }
    QCOMPARE(rig.parent->reports.size(), 1);
    QVERIFY(rig.parent->reports.at(0).code == -7 && rig.engine->isReady() && !rig.engine->watchdogRunning());
}

void TestRequests::credentialsByteExact_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("slash, at") << "us@er" << "se/cret@";
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
    b.authUserInfo = (user + QLatin1Char(':') + password).toLatin1();
    rig.sim.setBehaviour(b);
    QCOMPARE(rig.fetch(QStringLiteral("http://%1:%2@127.0.0.1:%3/a.jpg")
                           .arg(EscapeUrlCredential(user), EscapeUrlCredential(password), QString::number(rig.sim.port()))).code, 0);
    QCOMPARE(rig.sim.requests(), QList<QByteArray>{"GET /a.jpg HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\n"
        "Connection: close\r\nAuthorization: Basic " + b.authUserInfo.toBase64() + "\r\n\r\n"});
}

// Two fetches per row, connections counted after each. The first request carries Basic as it
// always did; a remembered challenge makes the second fetch one request.
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
    const QList<int> twoThenOne{0, 2, 0, 3}, refused{-6, 1, -6, 2};
    auto with = [&](auto change) { CamSim::Behaviour b = md5; change(b); return b; };
    QTest::newRow("MD5, qop=auth") << md5 << right << twoThenOne;
    QTest::newRow("MD5 without qop") << with([](auto &b) { b.digestQop.clear(); }) << right << twoThenOne;
    QTest::newRow("SHA-256") << with([](auto &b) { b.digestAlgorithm = "SHA-256"; }) << right << twoThenOne;
    QTest::newRow("SHA-256-sess") << with([](auto &b) { b.digestAlgorithm = "SHA-256-sess"; }) << right << twoThenOne;
    QTest::newRow("MD5-sess, no qop") << with([](auto &b) { b.digestAlgorithm = "MD5-sess"; b.digestQop.clear(); })
                                      << right << twoThenOne;
    QTest::newRow("stale nonce") << with([](auto &b) { b.digestNonceUses = 1; }) << right << QList<int>{0, 2, 0, 4};
    QTest::newRow("wrong password") << md5 << QStringLiteral("Circle Of Life") << QList<int>{-6, 2, -6, 3};
    QTest::newRow("unknown algorithm") << with([](auto &b) { b.digestAlgorithm = "SHA-512-256"; }) << right << refused;
    QTest::newRow("auth-int only") << with([](auto &b) { b.digestQop = "auth-int"; }) << right << refused;
    QTest::newRow("Basic offered too") << with([](auto &b) { b.digestAlsoBasic = true; }) << right << QList<int>{0, 1, 0, 2};
}

void TestRequests::digest()
{
    QFETCH(CamSim::Behaviour, camera);
    QFETCH(QString, password);
    QFETCH(QList<int>, codesAndConnections);
    Rig rig;
    rig.sim.setBehaviour(camera);
    const QString url = QStringLiteral("http://Mufasa:%1@127.0.0.1:%2/dir/index.html")
                            .arg(EscapeUrlCredential(password), QString::number(rig.sim.port()));
    for (int fetch = 0; fetch < 2; ++fetch) {
        const Report r = rig.fetch(url);
        QCOMPARE(r.code, codesAndConnections.at(2 * fetch));
        QCOMPARE(rig.sim.connectionCount(), codesAndConnections.at(2 * fetch + 1));
        QCOMPARE(r.data, r.code == 0 ? rig.sim.lastImage() : rig.sim.lastResponse());   // or the last 401 page
    }
    const QList<QByteArray> requests = rig.sim.requests();
    QCOMPARE(requests.first(), "GET /dir/index.html HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
             "Authorization: Basic " + ("Mufasa:" + password.toLatin1()).toBase64() + "\r\n\r\n");
    for (const QByteArray &request : requests.mid(1))
        QCOMPARE(request.contains("\r\nAuthorization: Digest username=\"Mufasa\""), codesAndConnections.at(1) == 2);
    if (codesAndConnections == QList<int>{0, 2, 0, 3} && !camera.digestQop.isEmpty())
        QVERIFY(requests.last().contains(", nc=00000002, "));
}

// RFC 7616, 3.9.1 (its headers folded as there): the SHA-256 challenge comes first and is answered.
void TestRequests::digestKnownAnswer()
{
    const QByteArray challenge = "WWW-Authenticate: Digest\r\n realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
        "algorithm=%1, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n";
    const QByteArray head = "HTTP/1.1 401 Unauthorized\r\n" + QByteArray(challenge).replace("%1", "SHA-256")
        + QByteArray(challenge).replace("%1", "MD5") + "\r\n";
    QVERIFY(IsUnauthorized(head));
    DigestChallenge c = ParseAuthChallenges(head).digest.value_or(DigestChallenge());
    const QByteArray cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    auto answer = [&] { return DigestAuthorization(c, "Mufasa", "Circle of Life", "GET", "/dir/index.html", 1, cnonce); };
    QCOMPARE(answer(), "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", uri=\"/dir/index.html\", "
        "algorithm=SHA-256, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", nc=00000001, cnonce=\"" + cnonce
        + "\", qop=auth, response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\", "
          "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"");
    c.algorithm = DigestChallenge::Algorithm::Md5;
    QVERIFY(answer().contains("response=\"8ca523f5e9506fed4657c9700eebdbec\""));

    // Malformed lines offer nothing; a token68 challenge before Digest is stepped over.
    for (const char *line : {"Digest realm=\"r, nonce=\"n\"", "Digest nonce=\"n\"", "Negotiate abc==, Digest realm=r nonce=n",
                             "Negotiate abc==, Digest realm=r, nonce=n"})
        QCOMPARE(bool(ParseAuthChallenges("HTTP/1.1 401 X\r\nWWW-Authenticate: " + QByteArray(line) + "\r\n\r\n").digest),
                 QByteArrayView(line).endsWith(", nonce=n"));
}

QTEST_GUILESS_MAIN(TestRequests)
#include "tst_requests.moc"
