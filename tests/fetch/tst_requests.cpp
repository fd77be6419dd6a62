// What may go into a request and what comes back: unsafe addresses, credentials byte-exact,
// Digest authentication against the simulator, connection attempts that never complete.
#include "CamSim.h"
#include "fetch/CopyHelper.h"
#include "fetch/ResponseDecoder.h"
#include "support/TestPlatform.h"

#include <QtTest>

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

} // namespace

class TestRequests : public QObject
{
    Q_OBJECT
private slots:
    void unsafeAddressesAndReports();
    void chunkedHeaderWithTrailingBlanks();
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

QTEST_GUILESS_MAIN(TestRequests)
#include "tst_requests.moc"
