#include "archive/StorageLimits.h"
#include "support/AppRig.h"

#include "CamSim.h"

#include <QTest>
#include <memory>
#include <tuple>
#include <vector>

namespace {

const QString Sep = QDir::separator();

QByteArray jpeg(const QByteArray &middle)
{
    return QByteArray("\xFF\xD8\xFF\xE0", 4) + middle + QByteArray("\xFF\xD9", 2);
}

CamSim::Behaviour behaviour(CamSim::Mode mode, int size = 20000, const QByteArray &raw = QByteArray())
{
    CamSim::Behaviour b;
    b.mode = mode;
    b.imageSize = size;
    b.raw = raw;
    return b;
}

} // namespace

// The road of one image without a window: first end to end, with real engines over loopback
// against the simulator and ticks called by the test; then what that road hardly reaches:
// the failure codes and failing steps of the outcome, and the storage check on a temporary
// archive with the clock and the free space set by the test.
class TestPipeline : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AppRig> r;
    std::vector<std::unique_ptr<CamSim>> sims;

    CamSim *addCamera(const QString &name, qint16 interval, const CamSim::Behaviour &b)
    {
        sims.push_back(std::make_unique<CamSim>());
        sims.back()->setBehaviour(b);
        if (!sims.back()->listen())
            qFatal("simulator cannot listen");
        r->addCamera(name, interval, QStringLiteral("127.0.0.1:%1").arg(sims.back()->port()));
        return sims.back().get();
    }
    // Recording on; the test then takes the place of MainTimer.
    void startRecording()
    {
        r->control.SetChecked(true);
        QVERIFY(r->state.Recording);
        r->control.MainTimer().stop();
    }
    // A second passes and a tick runs, count times; every transfer ends before the next tick.
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            r->tp.clock->advanceSeconds(1);
            r->control.MainTimer_Timer();
            QVERIFY(QTest::qWaitFor([this] { return r->settled(); }, 10000));
        }
    }

    void setTime(int hour, int minute, int second = 0)
    {
        r->tp.clock->current = QDateTime(QDate(2006, 5, 12), QTime(hour, minute, second));
    }
    void setFreeMB(double mb) { r->tp.fileSystem->freeBytesValue = qint64(mb * 1048576); }
    void limitSpace()
    {
        r->state.SpaceLimitOn = true;
        r->state.SpaceLimitMB = 100;
        setFreeMB(50);
    }
    void limitAge(const char *unit, int value)
    {
        r->state.TimeLimitOn = true;
        r->state.TimeLimitUnit = QString::fromLatin1(unit);
        r->state.TimeLimitValue = value;
    }
    // Two cameras, and in camera 1 and 2 an hour folder with an image for each of ones and twos.
    void archive(const QStringList &ones, const QStringList &twos)
    {
        r->addCamera(QStringLiteral("Hof"));
        r->addCamera(QStringLiteral("Tor"));
        for (const auto &[cam, hours] : {std::pair{1, ones}, {2, twos}}) {
            for (const QString &hour : hours) {
                QVERIFY(QDir().mkpath(folder(cam, hour)));
                QVERIFY(QFile(folder(cam, hour) + Sep + "x.jpg").open(QIODevice::WriteOnly));
            }
        }
    }
    // rel is "yyyy\mm\dd\hh" or a part of it.
    QString folder(int cam, QString rel) const
    {
        return r->state.ArchivePath + CamFolderName(cam) + Sep + rel.replace(QLatin1Char('\\'), Sep);
    }
    bool exists(int cam, const QString &rel) const { return QFileInfo::exists(folder(cam, rel)); }

private slots:
    void init()
    {
        r = std::make_unique<AppRig>();
        setTime(13, 45);
    }
    void cleanup()
    {
        r.reset();
        sims.clear();
    }

    void imagesLandInTheArchiveOnlyWhenNew()
    {
        CamSim *fresh = addCamera(QStringLiteral("Hof"), 1, behaviour(CamSim::Mode::NewJpeg));
        CamSim *same = addCamera(QStringLiteral("Tor"), 0, behaviour(CamSim::Mode::FixedJpeg));
        // With the MOBOTIX marker the frame number decides, not the bytes.
        QList<CamSim::Behaviour> frames;
        for (const auto &[frame, pixel] : {std::pair<QByteArray, char>{"1234", 'a'}, {"1234", 'b'}, {"1235", 'b'}}) {
            const QByteArray image = QByteArray("\xFF\xD8\xFF\xFE", 4) + "PRD=MOBOTIX\r\nFRM=" + frame + "\r\n"
                + QByteArray(4000, pixel) + QByteArray("\xFF\xD9", 2);
            frames.append(behaviour(CamSim::Mode::Raw, 0, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n" + image));
        }
        addCamera(QStringLiteral("MX"), 1, frames.first())->setBehaviours(frames);
        startRecording();

        // Due at the same tick: camera 1 on engine 1, camera 2 on engine 2.
        r->tp.clock->advanceSeconds(1);
        r->control.MainTimer_Timer();
        QVERIFY(r->state.CopyHelpers[0]->getReport().startsWith(QStringLiteral("127.0.0.1:%1:").arg(fresh->port())));
        QVERIFY(r->state.CopyHelpers[1]->getReport().startsWith(QStringLiteral("127.0.0.1:%1:").arg(same->port())));
        QVERIFY(QTest::qWaitFor([this] { return r->settled(); }, 10000));
        const QByteArray firstSame = same->lastImage();
        tick(2);

        QCOMPARE(r->hourFolder(1), r->state.ArchivePath + "CAM01" + Sep + "2006" + Sep + "05" + Sep + "12" + Sep + "13");
        QCOMPARE(r->files(1), QStringList({"20060512-134501(Hof).jpg", "20060512-134502(Hof).jpg", "20060512-134503(Hof).jpg"}));
        QCOMPARE(r->read(1, "20060512-134503(Hof).jpg"), fresh->lastImage());
        QCOMPARE(same->answeredCount(), 3);   // interval 0: every tick
        QCOMPARE(r->files(2), QStringList("20060512-134501(Tor).jpg"));
        QCOMPARE(r->read(2, "20060512-134501(Tor).jpg"), firstSame);
        QCOMPARE(r->state.Cams.Item(2)->mCamLastPic, r->hourFolder(2) + Sep + "20060512-134501(Tor).jpg");
        QVERIFY(r->view.panel1.contains(QStringLiteral("Tor: Bild ist unverändert!")));
        QCOMPARE(r->files(3), QStringList({"20060512-134501(MX).jpg", "20060512-134503(MX).jpg"}));
        // Only the selected camera is shown.
        QCOMPARE(r->view.shown.size(), 3);
        QCOMPARE(r->view.shown.last().label, QStringLiteral("20060512-134503(Hof).jpg"));
        QVERIFY(r->log.filter(QStringLiteral("Fehler")).isEmpty());
    }

    void failuresAreLoggedAndErrorPagesKeptAside()
    {
        CamSim *bad = addCamera(QStringLiteral("Keller"), 1, behaviour(CamSim::Mode::ErrorPage));
        r->addCamera(QStringLiteral("Weg"), 2, AppRig::refusedSocket());
        r->addCamera(QStringLiteral("CAM01"), 2, QStringLiteral("127.0.0.1:99999999999"));
        startRecording();
        tick(4);
        const QStringList kept = r->files(1);
        QCOMPARE(kept.size(), 4);
        for (const QString &f : kept)
            QVERIFY(f.endsWith(QStringLiteral("(Keller)-broken.http")));
        QCOMPARE(r->read(1, kept.last()), bad->lastResponse());
        QCOMPARE(r->log.count(QStringLiteral("Keller: Es wurde eine ungültige oder unvollständige Bilddatei zurückgeliefert!")), 4);
        QVERIFY(r->state.Cams.Item(1)->mCamLastPic.isEmpty());
        QVERIFY(r->view.shown.isEmpty());
        // A refused port and a refused URL: one line per interval, no folder.
        QCOMPARE(r->log.count(QStringLiteral("Weg: Allgemeiner Verbindungsfehler!")), 2);
        QCOMPARE(r->log.count(QStringLiteral("URL von CAM01 ungültig")), 2);
        QVERIFY(!QFileInfo::exists(r->state.ArchivePath + "CAM02"));
        QVERIFY(!QFileInfo::exists(r->state.ArchivePath + "CAM03"));
        QVERIFY(r->state.Recording);
    }

    void estimateAfterTheHighestInterval()
    {
        CamSim *big = addCamera(QStringLiteral("Gross"), 5, behaviour(CamSim::Mode::FixedJpeg, 150000));
        r->addCamera(QStringLiteral("Weg"), 2, AppRig::refusedSocket());
        r->addCamera(QStringLiteral("Aus"), -1, QStringLiteral("127.0.0.1:%1").arg(big->port()));
        startRecording();
        const QString estimate = QStringLiteral("KB werden ca. pro Stunde benötigt");
        tick(4);
        QVERIFY(r->log.filter(estimate).isEmpty());
        tick();
        QCOMPARE(r->log.filter(estimate), QStringList(QStringLiteral("105469 ") + estimate));
        tick(5);
        QCOMPARE(r->log.filter(estimate).size(), 1);
        QVERIFY(r->state.Recording);
    }

    void nothingTransferredStopsRecording()
    {
        r->addCamera(QStringLiteral("Weg"), 3, AppRig::refusedSocket());
        startRecording();
        r->log.clear();
        tick(3);
        QCOMPARE(r->log, QStringList({QStringLiteral("Weg: Allgemeiner Verbindungsfehler!"),
                                      QStringLiteral("0 KB werden ca. pro Stunde benötigt"),
                                      QStringLiteral("Aufnahme angehalten"),
                                      QStringLiteral("Aufnahme gestoppt! Innerhalb 3 Sekunden wurden insgesamt 0 Bytes übertragen.")}));
        QVERIFY(!r->state.Recording);
        QVERIFY(!r->control.Checked());
        QCOMPARE(r->view.recordingStates.last(), false);
    }

    void failureCodesLogTheirText_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("line");
        QTest::newRow("-1") << -1 << QStringLiteral("Hof: Fehler beim erneuten Versuch!");
        QTest::newRow("-2") << -2 << QStringLiteral("Hof: Ziel konnte nicht gefunden werden!");
        QTest::newRow("-3") << -3 << QStringLiteral("Hof: Allgemeiner Verbindungsfehler!");
        QTest::newRow("-4") << -4 << QStringLiteral("Hof: Fehler beim Kopieren!");
        QTest::newRow("-5") << -5 << QString();
        QTest::newRow("-7") << -7 << QStringLiteral("Hof: Zeitüberschreitung!");
        QTest::newRow("-8") << -8 << QStringLiteral("Hof: WATCHDOG Zeitüberschreitung!");
        QTest::newRow("0 empty") << 0 << QString();
        QTest::newRow("-6 empty") << -6 << QString();
    }
    void failureCodesLogTheirText()
    {
        QFETCH(int, code);
        QFETCH(QString, line);
        const auto hof = r->addCamera(QStringLiteral("Hof"));
        hof->mCamIsBusy = true;
        // Bytes of an earlier transfer may still come along; they are neither compared nor saved.
        hof->CHCallBack(code == 0 || code == -6 ? QByteArray() : jpeg("old"), qint16(code));
        QCOMPARE(r->log, line.isEmpty() ? QStringList() : QStringList(line));
        QCOMPARE(r->view.panel1, QStringList({QStringLiteral("Hof: Speichere Bild..."), QStringLiteral("Hof: Fehler!")}));
        QVERIFY(!QFileInfo::exists(r->state.ArchivePath + "CAM01"));
        QVERIFY(!hof->mCamIsBusy);
        // Every transfer ends with the storage check, which shows the free space.
        QCOMPARE(r->view.panel2.size(), 1);
    }

    void brokenAnswerEqualToTheLastImageIsNotKept()
    {
        const auto hof = r->addCamera(QStringLiteral("Hof"));
        hof->CHCallBack(jpeg("real"), 0);
        r->tp.clock->advanceSeconds(1);
        hof->CHCallBack(jpeg("real"), -6);
        QCOMPARE(r->files(1), QStringList("20060512-134500(Hof).jpg"));
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Bild ist unverändert!"));
    }

    void failingStepsAreLoggedAndHandlingGoesOn()
    {
        const auto hof = r->addCamera(QStringLiteral("Hof"));
        hof->mCamIsBusy = true;
        r->view.failShow = true;
        hof->CHCallBack(jpeg("x"), 0);
        QCOMPARE(r->log, QStringList(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"Bild kann nicht geladen werden\"")));
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Bild wurde gespeichert!"));
        QVERIFY(QFile::exists(hof->mCamLastPic));
        QVERIFY(!hof->mCamIsBusy);
        QCOMPARE(r->view.panel2.size(), 1);

        // A plain file where the camera folder should be: the image cannot be saved, and is
        // then neither reported as saved, nor counted, nor the last image.
        const auto tor = r->addCamera(QStringLiteral("Tor"));
        QVERIFY(QFile(r->state.ArchivePath + "CAM02").open(QIODevice::WriteOnly));
        r->state.SpaceMeter.Reset();
        r->state.SpaceMeter.HighestInterval(1);
        r->log.clear();
        tor->CHCallBack(jpeg("lost"), 0);
        QCOMPARE(r->log.size(), 1);
        QVERIFY(r->log.first().startsWith(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"")));
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Tor: Fehler!"));
        QVERIFY(tor->mCamLastPic.isEmpty());
        r->state.SpaceMeter.CountCycles();
        QCOMPARE(r->state.SpaceMeter.EstimateSpace(), 0);
    }

    void freeSpaceDisplayAndResult_data()
    {
        QTest::addColumn<double>("freeMB");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<bool>("enough");
        QTest::addColumn<QString>("shown");
        QTest::newRow("just below") << 99.6 << true << false << QStringLiteral("Speicherort: 100 MB frei.");
        QTest::newRow("at the limit") << 100.0 << true << true << QStringLiteral("Speicherort: 100 MB frei.");
        QTest::newRow("half to even") << 102.5 << true << true << QStringLiteral("Speicherort: 102 MB frei.");
        QTest::newRow("unknown") << -1.0 / 1048576 << true << false << QString();
        QTest::newRow("drive not ready") << 500.0 << false << false << QString();
    }
    void freeSpaceDisplayAndResult()
    {
        QFETCH(double, freeMB);
        QFETCH(bool, ready);
        QFETCH(bool, enough);
        QFETCH(QString, shown);
        r->state.SpaceLimitMB = 100;
        setFreeMB(freeMB);
        r->tp.fileSystem->ready = ready;
        QCOMPARE(CheckFreeSpace(r->state), enough);
        QCOMPARE(r->view.panel2, shown.isEmpty() ? QStringList() : QStringList(shown));

        // No archive chosen: nothing to check.
        r->state.ArchivePath.clear();
        QVERIFY(CheckFreeSpace(r->state));
        QCOMPARE(r->view.panel2.size(), shown.isEmpty() ? 0 : 1);
    }

    void spaceLimitDeletesOldestHourOfEveryCameraPerCheck()
    {
        limitSpace();
        archive({"2006\\05\\11\\22", "2006\\05\\11\\23"}, {"2006\\05\\11\\22", "2006\\05\\12\\00"});
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006\\05\\11\\22") && !exists(2, "2006\\05\\11\\22"));
        QVERIFY(exists(1, "2006\\05\\11\\23") && exists(2, "2006\\05\\12\\00"));
        const QString line = QStringLiteral("Speicherplatzlimit wurde unterschritten\r\n  >\"%1\" wurde gelöscht!");
        QCOMPARE(r->log, QStringList({line.arg(folder(1, "2006\\05\\11\\22")), line.arg(folder(2, "2006\\05\\11\\22"))}));
        // Events run before and after each camera's folder.
        QCOMPARE(r->tp.events->calls, 4);
        QVERIFY(!r->state.LimitCheckRunning);

        // The next check takes the next hour, only from the camera that has it.
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006\\05\\11\\23") && exists(2, "2006\\05\\12\\00"));
        QCOMPARE(r->log.size(), 3);

        // Enough space again: nothing goes.
        setFreeMB(200);
        CheckStorageLimits(r->state);
        QVERIFY(exists(2, "2006\\05\\12\\00"));
    }

    void ageLimitEvaluatedAtMostEveryFifteenMinutes()
    {
        limitAge("h", 24);
        const QString evaluating = QStringLiteral("Überprüfe, ob Löschen erforderlich...");
        for (const auto &[minute, second, evaluations] : {std::tuple{5, 59, 1}, {12, 0, 1}, {19, 59, 1}, {20, 0, 2}}) {
            setTime(10, minute, second);
            CheckStorageLimits(r->state);
            QCOMPARE(r->view.panel1.count(evaluating), evaluations);
        }
        QCOMPARE(r->state.LastTimeLimitCheck, r->tp.clock->current);
        // Empty archive: the oldest known hour is the first evaluation's, nothing is due.
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 12), QTime(10, 5, 59)));
        QVERIFY(r->log.isEmpty());
    }

    void ageLimitInHoursKeepsTheThresholdHour()
    {
        limitAge("h", 24);
        archive({"2006\\05\\10\\23", "2006\\05\\11\\12", "2006\\05\\11\\13"}, {"2006\\05\\11\\12"});
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006\\05\\10"));   // the emptied day goes in the same walk
        QVERIFY(!exists(1, "2006\\05\\11\\12"));
        QVERIFY(exists(1, "2006\\05\\11\\13"));
        QVERIFY(!QFileInfo::exists(r->state.ArchivePath + "CAM02"));
        QCOMPARE(r->log, QStringList(QStringLiteral("Speicher-Zeitlimit wurde überschritten\r\n  >Bilder älter als \"2006")
                                     + Sep + "05" + Sep + "11" + Sep + "13\" wurden gelöscht!"));
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 11), QTime(13, 0)));
        // Events run before and after every subfolder of the walk: 7 in camera 1, 4 in camera 2.
        QCOMPARE(r->tp.events->calls, 22);
    }

    void ageLimitInDaysComparesWholeDays()
    {
        limitAge("Tage", 7);
        archive({"2006\\05\\04\\23", "2006\\05\\05\\00"}, {});
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006\\05\\04") && exists(1, "2006\\05\\05\\00"));
        QCOMPARE(r->log.size(), 1);
        QVERIFY(r->log.first().endsWith(QStringLiteral(">Bilder älter als \"2006") + Sep + "05" + Sep + "05\" wurden gelöscht!"));
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 5), QTime(0, 0)));
    }

    void transferEndingDuringCheckOnlyRefreshesFreeSpace()
    {
        limitSpace();
        archive({"2006\\05\\11\\22", "2006\\05\\11\\23"}, {});
        const auto tor = r->state.Cams.Item(2);
        tor->mCamIsBusy = true;
        r->tp.events->onProcess = [&] {
            if (!tor->mCamIsBusy)
                return;
            QVERIFY(r->state.LimitCheckRunning);
            tor->CHCallBack(QByteArray(), -3);
        };
        CheckStorageLimits(r->state);
        QVERIFY(!tor->mCamIsBusy);
        // The outer check and the transfer's refresh; no second deletion.
        QCOMPARE(r->view.panel2.size(), 2);
        QVERIFY(!exists(1, "2006\\05\\11\\22") && exists(1, "2006\\05\\11\\23"));
        QCOMPARE(r->log.filter(QStringLiteral("Speicherplatzlimit")).size(), 1);
        QVERIFY(!r->state.LimitCheckRunning);
    }

    void failedDeletionEndsTheCheckAndTheNextOneRetries_data()
    {
        QTest::addColumn<bool>("ageRule");
        QTest::newRow("space") << false;
        QTest::newRow("age") << true;
    }
    void failedDeletionEndsTheCheckAndTheNextOneRetries()
    {
        QFETCH(bool, ageRule);
        ageRule ? limitAge("h", 1) : limitSpace();
        archive({"2006\\05\\12\\10"}, {"2006\\05\\12\\10"});
        r->tp.fileSystem->undeletable.append(folder(1, "2006\\05\\12\\10"));
        CheckStorageLimits(r->state);
        QCOMPARE(r->log, QStringList(QStringLiteral("Fehler beim Löschen!!! Speicher/-limit kontrollieren!\r\n  >\"Zugriff verweigert\"")));
        QVERIFY(exists(2, "2006\\05\\12\\10"));   // later cameras wait for the next check
        QVERIFY(!r->state.LimitCheckRunning);

        r->tp.fileSystem->undeletable.clear();
        setTime(14, 0);
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006\\05\\12\\10") && !exists(2, "2006\\05\\12\\10"));
        QCOMPARE(r->log.size(), ageRule ? 2 : 3);
    }

    void walksNeverFollowLinksOutOfTheArchive()
    {
        QTemporaryDir outside;
        const QString kept = outside.path() + Sep + "2006" + Sep + "05" + Sep + "01" + Sep + "00" + Sep + "keep.jpg";
        QVERIFY(QDir().mkpath(QFileInfo(kept).path()));
        QVERIFY(QFile(kept).open(QIODevice::WriteOnly));
        // A day folder that links out, and a whole camera folder that does.
        archive({"2006\\05\\11\\12"}, {});
        QVERIFY(QFile::link(outside.path() + Sep + "2006" + Sep + "05" + Sep + "01", folder(1, "2006\\05\\01")));
        QVERIFY(QFile::link(outside.path(), r->state.ArchivePath + "CAM02"));

        limitAge("h", 1);
        r->state.OldestImageTime = QDateTime(QDate(2006, 5, 1), QTime(0, 0));
        CheckStorageLimits(r->state);
        QVERIFY(QFile::exists(kept));
        QVERIFY(!exists(1, "2006\\05\\11\\12"));

        // The space rule's target through the linked camera folder is not touched either.
        r->state.TimeLimitOn = false;
        limitSpace();
        CheckStorageLimits(r->state);
        QVERIFY(QFile::exists(kept));
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
