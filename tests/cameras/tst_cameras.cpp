#include "state/AppState.h"
#include "cameras/CamAddress.h"
#include "cameras/CamCollection.h"
#include "cameras/CamObject.h"
#include "cameras/SpaceObject.h"
#include "support/TestPlatform.h"
#include "support/Unprivileged.h"

#include <QTest>
#include <limits>

class TestCameras : public QObject
{
    Q_OBJECT

    TestPlatform mTp;
    AppState mState{mTp.platform};
    QTemporaryDir mDir;

    // A camera whose last saved picture holds these bytes; null bytes: that file is gone.
    CamObject camWithLastPic(const QByteArray &bytes)
    {
        CamObject cam(mState);
        cam.mCamLastPic = mDir.filePath(QStringLiteral("last.jpg"));
        QFile::remove(cam.mCamLastPic);
        if (!bytes.isNull())
            mTp.fileSystem->writeFile(cam.mCamLastPic, bytes);
        return cam;
    }

    // An image from a camera that numbers its frames.
    static QByteArray Frame(const QByteArray &frame, char pixel = 'a')
    {
        return QByteArray("\xff\xd8\xff\xfe" "PRD=MOBOTIX\r\nFRM=") + frame + QByteArray(64, pixel);
    }

    // "A#1" per camera: its name and its number.
    static QStringList names(const CamCollection &cams)
    {
        QStringList result;
        for (int i = 1; i <= cams.Count(); ++i)
            result << cams.Item(i)->mCamName + '#' + QString::number(cams.Item(i)->mCamNo);
        return result;
    }

private slots:
    // "Aktivieren" strips "http:" and every "/" as always, but keeps a leading "https:" (its
    // plain case: tst_mainwindow's activate).
    void normalizedAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("HTTPS without slashes") << "HTTPS:kamera" << "https://kamera";
        QTest::newRow("https only in the name") << "http://https.example/" << "https.example";
    }
    void normalizedAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QCOMPARE(NormalizeCamSocket(typed), kept);
        QCOMPARE(SplitCamSocket(kept).tls, kept.startsWith("https://"));
    }

    void isNewImage_data()
    {
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("isNew");

        const QByteArray jpeg("\xff\xd8 picture \xff\xd9");
        QTest::newRow("identical bytes") << jpeg << jpeg << false;
        QTest::newRow("one byte different") << jpeg << QByteArray(jpeg).replace('u', 'U') << true;
        QTest::newRow("the last file deleted") << QByteArray() << jpeg << true;
        // 6301 bytes: the remembered sample lies at multiples of 100, the difference between.
        const QByteArray large = QByteArray(6301, 'x');
        QTest::newRow("one byte different, not sampled") << large << QByteArray(large).replace(150, 1, "y") << true;

        const QByteArray frame1234 = Frame("1234\r\n", 'a');
        QTest::newRow("same frame, other pixels") << frame1234 << Frame("1234\r\n", 'b') << false;
        QTest::newRow("frame 1234 against 1235") << frame1234 << Frame("1235\r\n", 'a') << true;
        QTest::newRow("FRM= followed by CR LF on both") << Frame("\r\n", 'a') << Frame("\r\n", 'b') << false;
        QTest::newRow("frame without CR LF runs to the end")
            << QByteArray("PRD=MOBOTIX FRM=42") << QByteArray("PRD=MOBOTIX FRM=421") << true;

        const QByteArray noFrame = QByteArray(frame1234).replace("FRM=", "FRX=");
        QTest::newRow("FRM= missing on one side") << frame1234 << noFrame << true;
        QTest::newRow("FRM= missing on both, same bytes") << noFrame << noFrame << true;
        const QByteArray noMarker = QByteArray(frame1234).replace("PRD=MOBOTIX", "PRD=OTHERXX");
        QTest::newRow("marker in one image only") << frame1234 << noMarker << true;
        QTest::newRow("marker in the received image only") << noMarker << frame1234 << true;
        QTest::newRow("only the first FRM= counts") << QByteArray("FRM=7\r\nFRM=8\r\nPRD=MOBOTIX")
                                                    << QByteArray("FRM=7\r\nPRD=MOBOTIX") << false;
    }

    // Read from the file, and remembered from its saving with its marks unknown or known (asked
    // twice: the second time from memory).
    void isNewImage()
    {
        QFETCH(QByteArray, saved);
        QFETCH(QByteArray, received);
        QFETCH(bool, isNew);
        QCOMPARE(camWithLastPic(saved).IsNewImage(received), isNew);
        for (const bool marksKnown : {false, true}) {
            CamObject cam = camWithLastPic(saved);
            cam.RememberLastPic(saved, marksKnown ? std::optional(CamObject::ScanMarks(saved)) : std::nullopt);
            QCOMPARE(cam.IsNewImage(received), isNew);
            QCOMPARE(cam.IsNewImage(received), isNew);
        }
    }

    // The last file changed behind the program's back after it was saved and remembered:
    // the decision is the one its present content gives.
    void isNewImageAfterFileChanged_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("isNew");

        QTest::newRow("replaced by frame 2") << "replace" << Frame("2\r\n", 'b') << false;
        QTest::newRow("truncated before the marker") << "truncate" << Frame("1\r\n") << true;
        QTest::newRow("deleted") << "delete" << Frame("1\r\n") << true;
        QTest::newRow("unreadable") << "unreadable" << Frame("1\r\n") << true;
    }

    void isNewImageAfterFileChanged()
    {
        QFETCH(QString, change);
        QFETCH(QByteArray, received);
        QFETCH(bool, isNew);

        CamObject cam = camWithLastPic(Frame("1\r\n"));
        cam.RememberLastPic(Frame("1\r\n"), CamObject::ScanMarks(Frame("1\r\n")));   // marks known: only the stamp tells
        QFile file(cam.mCamLastPic);
        if (change == "replace") {
            QVERIFY(mTp.fileSystem->writeFile(cam.mCamLastPic, Frame("2\r\n")));
        } else if (change == "truncate") {
            QVERIFY(file.resize(8));
        } else if (change == "delete") {
            QVERIFY(file.remove());
        } else {
            SKIP_AS_ROOT();
            QVERIFY(file.setPermissions(QFileDevice::Permissions()));
        }
        QCOMPARE(cam.IsNewImage(received), isNew);
    }

    // Positions as the camera editor passes them; keys are not used by the program.
    void addRemoveAndRenumber()
    {
        const auto cam = [this](const char *name) {
            auto c = std::make_shared<CamObject>(mState);
            c->mCamName = name;
            return c;
        };
        CamCollection cams;
        QVERIFY(!cams.Add(nullptr));
        QVERIFY(cams.Add(cam("A")));
        QVERIFY(cams.Add(cam("B"), QString(), -1));
        QVERIFY(cams.Add(cam("N"), QString(), 2));   // in front of B, which becomes number 3
        QVERIFY(cams.Add(cam("F"), QString(), 1));
        QVERIFY(cams.Add(cam("L"), QString(), qint16(cams.Count() + 5)));
        QCOMPARE(names(cams), QStringList({"F#1", "A#2", "N#3", "B#4", "L#5"}));
        QVERIFY(!cams.Item(0) && !cams.Item(cams.Count() + 1));
        QVERIFY(cams.Remove(99));   // beyond the end: nothing removed, no error
        QVERIFY(!cams.Remove(0) && cams.Remove(1));
        QCOMPARE(names(cams), QStringList({"A#1", "N#2", "B#3", "L#4"}));
        cams.RemoveAll();
        QVERIFY(cams.Add(cam("C")));
        QCOMPARE(names(cams), QStringList({"C#1"}));
    }

    // The window itself (longest interval, once per window) runs in the end-to-end test.
    void spaceEstimateEdges()
    {
        constexpr qint32 top = std::numeric_limits<qint32>::max();
        SpaceObject space;
        // All cameras off: never complete, nothing to divide by, and the tick count stops at 32767.
        space.Reset();
        space.HighestInterval(-1);
        for (int i = 0; i < 40000; ++i)
            space.CountCycles();
        QVERIFY(!space.HasEnoughCycles());
        QCOMPARE(space.EstimateSpace(), -1);
        space.HighestInterval(32767);
        QVERIFY(space.HasEnoughCycles());

        // Bytes stop at 2147483647, even with the largest count there is; at 3600 s that is the estimate.
        space.Reset();
        space.HighestInterval(3600);
        space.CollectBytes(top - 10);
        space.CollectBytes(1000);
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
