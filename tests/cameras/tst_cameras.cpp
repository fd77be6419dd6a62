#include "app/AppState.h"
#include "cameras/CamCollection.h"
#include "cameras/CamObject.h"
#include "cameras/SpaceObject.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <limits>
#include <memory>

class TestCameras : public QObject
{
    Q_OBJECT

private:
    // Writes the bytes as the camera's last saved picture.
    QString writeLastPic(const QByteArray &bytes)
    {
        const QString path = mDir.filePath(QStringLiteral("last-%1.jpg").arg(++mFiles));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    std::shared_ptr<CamObject> newCam(AppState &state, const QString &name)
    {
        auto cam = std::make_shared<CamObject>(state);
        cam->mCamName = name;
        return cam;
    }

    static QStringList names(const CamCollection &cams)
    {
        QStringList result;
        for (int i = 1; i <= cams.Count(); ++i) {
            const auto cam = cams.Item(i);
            result << cam->mCamName + QLatin1Char('#') + QString::number(cam->mCamNo);
        }
        return result;
    }

    QTemporaryDir mDir;
    int mFiles = 0;

private slots:
    void newCameraHasItsDefaults()
    {
        TestPlatform tp;
        AppState state(tp.platform);
        CamObject cam(state);
        QCOMPARE(cam.mCamName, QStringLiteral("CAM"));
        QCOMPARE(cam.mCamNo, quint8(0));
        QCOMPARE(cam.mCamUpdaterate, qint16(-1));
        QCOMPARE(cam.mCamTickCounter, qint16(0));
        QVERIFY(!cam.mCamIsBusy);
        QVERIFY(cam.mCamSocket.isEmpty() && cam.mCamImagePath.isEmpty());
        QVERIFY(cam.mCamUser.isEmpty() && cam.mCamPassword.isEmpty());
        QVERIFY(cam.mCamLastPic.isEmpty());
    }

    void isNewImage_data()
    {
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("isNew");

        const QByteArray jpeg = QByteArray::fromHex("ffd8ffe000104a464946") + QByteArray(300, 'x')
            + QByteArray::fromHex("ffd9");
        QByteArray oneByteOff = jpeg;
        oneByteOff[150] = 'y';
        QTest::newRow("identical bytes") << jpeg << jpeg << false;
        QTest::newRow("one byte different") << jpeg << oneByteOff << true;
        QTest::newRow("one byte longer") << jpeg << jpeg + 'x' << true;
        QTest::newRow("saved file empty") << QByteArray() << jpeg << true;

        const auto mobotix = [](const QByteArray &frame, char pixel) {
            return QByteArray("\xff\xd8\xff\xfe" "PRD=MOBOTIX\r\nFRM=") + frame
                + QByteArray(64, pixel) + QByteArray("\xff\xd9", 2);
        };
        QTest::newRow("same frame, other pixels")
            << mobotix("1234\r\n", 'a') << mobotix("1234\r\n", 'b') << false;
        QTest::newRow("frame 1234 against 1235")
            << mobotix("1234\r\n", 'a') << mobotix("1235\r\n", 'a') << true;
        QTest::newRow("FRM= followed by CR LF on both")
            << mobotix("\r\n", 'a') << mobotix("\r\n", 'b') << false;
        QTest::newRow("blanks before the number, text after it")
            << mobotix("  77;x\r\n", 'a') << mobotix("77\r\n", 'b') << false;
        QTest::newRow("frame without CR LF runs to the end")
            << QByteArray("PRD=MOBOTIX FRM=42") << QByteArray("PRD=MOBOTIX FRM=421") << true;
        QTest::newRow("only the first FRM= counts")
            << QByteArray("PRD=MOBOTIX FRM=5\r\nFRM=6\r\n") << QByteArray("PRD=MOBOTIX FRM=5\r\nFRM=7\r\n")
            << false;

        QByteArray noFrame = mobotix("1234\r\n", 'a');
        noFrame.replace("FRM=", "FRX=");
        QTest::newRow("FRM= missing on one side") << mobotix("1234\r\n", 'a') << noFrame << true;
        QTest::newRow("FRM= missing on both sides, same bytes") << noFrame << noFrame << true;

        // Without the marker on both sides the frame numbers do not count.
        QByteArray noMarker = mobotix("1234\r\n", 'b');
        noMarker.replace("PRD=MOBOTIX", "PRD=OTHERXX");
        QTest::newRow("marker in one image only") << mobotix("1234\r\n", 'a') << noMarker << true;
        QByteArray lowerMarker = mobotix("1234\r\n", 'b');
        lowerMarker.replace("PRD=MOBOTIX", "prd=mobotix");
        QTest::newRow("marker is case-sensitive") << mobotix("1234\r\n", 'a') << lowerMarker << true;
    }

    void isNewImage()
    {
        QFETCH(QByteArray, saved);
        QFETCH(QByteArray, received);
        QFETCH(bool, isNew);
        TestPlatform tp;
        AppState state(tp.platform);
        CamObject cam(state);
        cam.mCamLastPic = writeLastPic(saved);
        QCOMPARE(cam.IsNewImage(received), isNew);
    }

    void isNewImageWithoutAReadableLastFile()
    {
        TestPlatform tp;
        AppState state(tp.platform);
        CamObject cam(state);
        const QByteArray jpeg("\xff\xd8 same \xff\xd9");
        QVERIFY(cam.IsNewImage(jpeg));   // nothing saved since start-up

        cam.mCamLastPic = writeLastPic(jpeg);
        QVERIFY(!cam.IsNewImage(jpeg));
        QVERIFY(QFile::remove(cam.mCamLastPic));   // e.g. the storage limit deleted it
        QVERIFY(cam.IsNewImage(jpeg));

        cam.mCamLastPic = mDir.path();   // a folder cannot be read as a picture
        QVERIFY(cam.IsNewImage(jpeg));
    }

    void appendInsertAndRenumber()
    {
        TestPlatform tp;
        AppState state(tp.platform);
        CamCollection cams;
        QVERIFY(!cams.Add(nullptr));
        QCOMPARE(cams.Count(), qint16(0));
        QVERIFY(cams.Add(newCam(state, "A")));
        QVERIFY(cams.Add(newCam(state, "B"), QString(), 0));
        QVERIFY(cams.Add(newCam(state, "C"), QString(), -1));
        QCOMPARE(names(cams), QStringList({"A#1", "B#2", "C#3"}));

        // Goes in front of the camera at position 2, which moves to number 3.
        QVERIFY(cams.Add(newCam(state, "N"), QString(), 2));
        QCOMPARE(names(cams), QStringList({"A#1", "N#2", "B#3", "C#4"}));
        QVERIFY(cams.Add(newCam(state, "F"), QString(), 1));
        QVERIFY(cams.Add(newCam(state, "E"), QString(), qint16(cams.Count() + 5)));
        QVERIFY(cams.Add(newCam(state, "L"), QString(), qint16(cams.Count() + 1)));
        QCOMPARE(names(cams), QStringList({"F#1", "A#2", "N#3", "B#4", "C#5", "E#6", "L#7"}));
    }

    void removeAndItem()
    {
        TestPlatform tp;
        AppState state(tp.platform);
        CamCollection cams;
        for (const char *name : {"A", "B", "C"})
            cams.Add(newCam(state, name));

        QVERIFY(!cams.Item(0));
        QVERIFY(!cams.Item(-3));
        QVERIFY(!cams.Item(cams.Count() + 1));
        QVERIFY(!cams.Item(QStringLiteral("unknown")));
        QVERIFY(!cams.Item(QString()));

        QVERIFY(cams.Remove(7));   // beyond the end: nothing removed, no error
        QCOMPARE(names(cams), QStringList({"A#1", "B#2", "C#3"}));
        QVERIFY(!cams.Remove(0));
        QVERIFY(!cams.Remove(-1));
        QCOMPARE(cams.Count(), qint16(3));

        const std::shared_ptr<CamObject> first = cams.Item(1);
        QVERIFY(cams.Remove(1));
        QCOMPARE(names(cams), QStringList({"B#1", "C#2"}));
        // Whoever still holds the removed camera (an engine's parent) keeps a valid object.
        QCOMPARE(first->mCamName, QStringLiteral("A"));
        QVERIFY(cams.Remove(2));
        QCOMPARE(names(cams), QStringList({"B#1"}));
    }

    void removeAllReleasesTheCameras()
    {
        TestPlatform tp;
        AppState state(tp.platform);
        std::weak_ptr<CamObject> watched;
        std::shared_ptr<CamObject> held;
        {
            CamCollection cams;
            auto a = newCam(state, "A");
            watched = a;
            cams.Add(std::move(a));
            cams.Add(newCam(state, "B"));
            held = cams.Item(2);
            cams.RemoveAll();
            QCOMPARE(cams.Count(), qint16(0));
            QVERIFY(watched.expired());
            QVERIFY(cams.Add(newCam(state, "C")));
            QCOMPARE(names(cams), QStringList({"C#1"}));
        }
        QCOMPARE(held->mCamName, QStringLiteral("B"));
    }

    void keys()
    {
        TestPlatform tp;
        AppState state(tp.platform);
        CamCollection cams;
        QVERIFY(cams.Add(newCam(state, "A")));
        QVERIFY(cams.Add(newCam(state, "K"), QStringLiteral("hof"), 1));
        QCOMPARE(cams.Item(QStringLiteral("hof"))->mCamName, QStringLiteral("K"));
        QCOMPARE(cams.Item(QStringLiteral("HOF"))->mCamName, QStringLiteral("K"));

        // A key in use refuses the camera and leaves the list as it was.
        QVERIFY(!cams.Add(newCam(state, "X"), QStringLiteral("Hof"), 1));
        QVERIFY(!cams.Add(newCam(state, "Y"), QStringLiteral("hof"), 9));
        QCOMPARE(names(cams), QStringList({"K#1", "A#2"}));

        // Appending with iPos 0 ignores the key.
        QVERIFY(cams.Add(newCam(state, "Z"), QStringLiteral("hof"), 0));
        QCOMPARE(cams.Item(QStringLiteral("hof"))->mCamName, QStringLiteral("K"));

        QVERIFY(cams.Remove(1));
        QVERIFY(!cams.Item(QStringLiteral("hof")));
        QVERIFY(cams.Add(newCam(state, "W"), QStringLiteral("hof"), 5));
        QCOMPARE(cams.Item(QStringLiteral("hof"))->mCamNo, quint8(3));
    }

    void atMost255Cameras()
    {
        TestPlatform tp;
        AppState state(tp.platform);
        CamCollection cams;
        for (int i = 1; i <= CamCollection::MaxCameras; ++i)
            QVERIFY(cams.Add(newCam(state, QString::number(i))));
        QCOMPARE(cams.Count(), qint16(255));
        QCOMPARE(cams.Item(255)->mCamNo, quint8(255));

        auto extra = newCam(state, "extra");
        QVERIFY(!cams.Add(extra));
        QVERIFY(!cams.Add(extra, QString(), 1));
        QCOMPARE(cams.Count(), qint16(255));
        QCOMPARE(extra->mCamNo, quint8(0));
        QCOMPARE(cams.Item(1)->mCamName, QStringLiteral("1"));

        QVERIFY(cams.Remove(1));
        QVERIFY(cams.Add(extra, QString(), 1));
        QCOMPARE(cams.Item(1)->mCamName, QStringLiteral("extra"));
        QCOMPARE(cams.Item(255)->mCamNo, quint8(255));
    }

    void freshSpaceObjectSamplesNothing()
    {
        SpaceObject space;
        QVERIFY(!space.HasEnoughCycles());
        QCOMPARE(space.EstimateSpace(), 0);
        space.HighestInterval(2);
        for (int i = 0; i < 5; ++i)
            space.CountCycles();
        space.CollectBytes(1000);
        QVERIFY(!space.HasEnoughCycles());   // no window before the first Reset
        QCOMPARE(space.EstimateSpace(), 0);
    }

    void highestIntervalOnlyRises()
    {
        SpaceObject space;
        space.Reset();
        space.HighestInterval(5);
        space.HighestInterval(3);
        space.HighestInterval(-1);
        QCOMPARE(space.HighestInterval(), qint16(5));
        space.Reset();
        QCOMPARE(space.HighestInterval(), qint16(0));
        space.HighestInterval(-1);
        QCOMPARE(space.HighestInterval(), qint16(0));
    }

    void windowCompletesAfterTheHighestInterval()
    {
        SpaceObject space;
        space.Reset();
        for (qint16 interval : {qint16(2), qint16(5), qint16(-1)})
            space.HighestInterval(interval);
        for (int i = 0; i < 4; ++i)
            space.CountCycles();
        space.CollectBytes(100000);
        QVERIFY(!space.HasEnoughCycles());
        space.CountCycles();
        space.CollectBytes(50000);
        QVERIFY(space.HasEnoughCycles());
        QCOMPARE(space.EstimateSpace(), 108000000);   // 150000 / 5 * 3600

        // Frozen until the next Reset.
        QVERIFY(!space.HasEnoughCycles());
        space.CollectBytes(999999);
        space.CountCycles();
        QCOMPARE(space.EstimateSpace(), 108000000);
        QVERIFY(!space.HasEnoughCycles());

        space.Reset();
        space.HighestInterval(1);
        space.CountCycles();
        QVERIFY(space.HasEnoughCycles());
        QCOMPARE(space.EstimateSpace(), 0);   // nothing saved: recording stops on this
    }

    void allCamerasOffNeverCompletes()
    {
        SpaceObject space;
        space.Reset();
        space.HighestInterval(-1);
        for (int i = 0; i < 100; ++i)
            space.CountCycles();
        QVERIFY(!space.HasEnoughCycles());
        // Asked anyway, there is nothing to divide by: still sampling, no value.
        QCOMPARE(space.EstimateSpace(), -1);
        space.HighestInterval(3);
        QVERIFY(space.HasEnoughCycles());
    }

    void estimateRoundsHalfToEven()
    {
        // 256 bytes in 8192 s is exactly 112.5 bytes per hour, 768 bytes 337.5.
        SpaceObject space;
        space.Reset();
        space.HighestInterval(8192);
        space.CollectBytes(256);
        QCOMPARE(space.EstimateSpace(), 112);
        space.Reset();
        space.HighestInterval(8192);
        space.CollectBytes(768);
        QCOMPARE(space.EstimateSpace(), 338);
    }

    void countsSaturateInsteadOfWrapping()
    {
        constexpr qint32 top = std::numeric_limits<qint32>::max();
        SpaceObject space;

        // About nine hours with every camera off: the tick count stops at 32767.
        space.Reset();
        for (int i = 0; i < 40000; ++i)
            space.CountCycles();
        space.HighestInterval(32767);
        QVERIFY(space.HasEnoughCycles());

        // Bytes: 2147483647 at most; at one byte per second-hour that is the estimate.
        space.Reset();
        space.HighestInterval(3600);
        space.CollectBytes(top - 10);
        space.CollectBytes(1000);
        QCOMPARE(space.EstimateSpace(), top);

        // A single huge count, even the largest there is, cannot wrap on the way in.
        space.Reset();
        space.HighestInterval(3600);
        space.CollectBytes(5000000000LL);
        QCOMPARE(space.EstimateSpace(), top);
        space.Reset();
        space.HighestInterval(3600);
        space.CollectBytes(1);
        space.CollectBytes(std::numeric_limits<qint64>::max());
        QCOMPARE(space.EstimateSpace(), top);

        // 1 MB every second is 3.6 GB per hour: more than 32 bits hold.
        space.Reset();
        space.HighestInterval(1);
        space.CollectBytes(1000000);
        QCOMPARE(space.EstimateSpace(), top);
    }
};

QTEST_GUILESS_MAIN(TestCameras)
#include "tst_cameras.moc"
