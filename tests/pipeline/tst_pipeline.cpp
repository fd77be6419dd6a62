#include "archive/StorageLimits.h"
#include "support/AppRig.h"

#include "CamSim.h"

#include <QTest>
#include <memory>
#include <tuple>
#include <vector>

namespace {

QByteArray jpeg(const QByteArray &middle)
{
    return QByteArray("\xFF\xD8\xFF\xE0", 4) + middle + QByteArray("\xFF\xD9", 2);
}

CamSim::Behaviour behaviour(CamSim::Mode mode, int size = 20000)
{
    CamSim::Behaviour b;
    b.mode = mode;
    b.imageSize = size;
    return b;
}

} // namespace

// The road of one image without a window, end to end over loopback against the simulator;
// then failing steps of the outcome and the storage check, with fake clock and free space.
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
                QVERIFY(QFile(folder(cam, hour) + "/x.jpg").open(QIODevice::WriteOnly));
            }
        }
    }
    QString folder(int cam, const QString &rel) const { return r->state.ArchivePath + CamFolderName(cam) + '/' + rel; }
    bool exists(int cam, const QString &rel) const { return QFileInfo::exists(folder(cam, rel)); }

private slots:
    void init()
    {
        r = std::make_unique<AppRig>();
        r->tp.clock->current = QDateTime(QDate(2006, 5, 12), QTime(13, 45));
    }
    void cleanup()
    {
        r.reset();
        sims.clear();
    }

    void imagesLandInTheArchiveOnlyWhenNew()
    {
        CamSim *fresh = addCamera(QStringLiteral("Hof"), 1, behaviour(CamSim::Mode::NewJpeg));
        // Credentials go into the URL when user and password are both set.
        CamSim::Behaviour guarded = behaviour(CamSim::Mode::FixedJpeg);
        guarded.authUserInfo = "admin:geheim";
        CamSim *same = addCamera(QStringLiteral("Tor"), 0, guarded);
        r->state.Cams.Item(2)->mCamUser = QStringLiteral("admin");
        r->state.Cams.Item(2)->mCamPassword = QStringLiteral("geheim");
        startRecording();

        // Due at the same tick: camera 1 on engine 1, camera 2 on engine 2.
        r->tp.clock->advanceSeconds(1);
        r->control.MainTimer_Timer();
        QVERIFY(r->state.CopyHelpers[0]->getReport().startsWith(QStringLiteral("127.0.0.1:%1:").arg(fresh->port())));
        QVERIFY(r->state.CopyHelpers[1]->getReport().startsWith(QStringLiteral("127.0.0.1:%1:").arg(same->port())));
        QVERIFY(QTest::qWaitFor([this] { return r->settled(); }, 10000));
        tick(2);

        QCOMPARE(r->hourFolder(1), r->state.ArchivePath + "CAM01/2006/05/12/13");
        QCOMPARE(r->files(1), QStringList({"20060512-134501(Hof).jpg", "20060512-134502(Hof).jpg", "20060512-134503(Hof).jpg"}));
        QCOMPARE(r->read(1, "20060512-134503(Hof).jpg"), fresh->lastImage());
        QCOMPARE(same->answeredCount(), 3);   // interval 0: every tick
        QCOMPARE(r->files(2), QStringList("20060512-134501(Tor).jpg"));
        QCOMPARE(r->state.Cams.Item(2)->mCamLastPic, r->hourFolder(2) + "/20060512-134501(Tor).jpg");
        // Only the selected camera is shown.
        QCOMPARE(r->view.shown.size(), 3);
        QCOMPARE(r->view.shown.last(), QStringLiteral("20060512-134503(Hof).jpg"));
        QVERIFY(r->log.filter(QStringLiteral("Fehler")).isEmpty());
    }

    void failuresAreLoggedAndErrorPagesKeptAside()
    {
        CamSim *bad = addCamera(QStringLiteral("Keller"), 1, behaviour(CamSim::Mode::ErrorPage));
        r->addCamera(QStringLiteral("Weg"), 2, AppRig::refusedSocket());
        r->addCamera(QStringLiteral("CAM01"), 2, QStringLiteral("127.0.0.1:99999999999"));
        startRecording();
        tick(4);
        QCOMPARE(r->files(1), QStringList({"20060512-134501(Keller)-broken.http", "20060512-134502(Keller)-broken.http",
                                           "20060512-134503(Keller)-broken.http", "20060512-134504(Keller)-broken.http"}));
        QCOMPARE(r->read(1, "20060512-134504(Keller)-broken.http"), bad->lastResponse());
        QCOMPARE(r->log.count(QStringLiteral("Keller: Es wurde eine ungültige oder unvollständige Bilddatei zurückgeliefert!")), 4);
        QVERIFY(r->state.Cams.Item(1)->mCamLastPic.isEmpty());
        QVERIFY(r->view.shown.isEmpty());
        // A refused port and a refused URL: one line per interval, no folder.
        QCOMPARE(r->log.count(QStringLiteral("Weg: Allgemeiner Verbindungsfehler!")), 2);
        QCOMPARE(r->log.count(QStringLiteral("URL von CAM01 ungültig")), 2);
        QCOMPARE(QDir(r->state.ArchivePath).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList("CAM01"));
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
        r->tp.clock->current = QDateTime(QDate(2006, 5, 11), QTime(23, 59, 58));
        startRecording();
        r->log.clear();
        tick(3);
        // Every tick moves the log file to the date.
        QCOMPARE(r->state.LogFileName, AddBackslash(r->tp.program->folder) + "Bildfang Log 20060512.txt");
        QCOMPARE(r->log, QStringList({QStringLiteral("Weg: Allgemeiner Verbindungsfehler!"),
                                      QStringLiteral("0 KB werden ca. pro Stunde benötigt"),
                                      QStringLiteral("Aufnahme angehalten"),
                                      QStringLiteral("Aufnahme gestoppt! Innerhalb 3 Sekunden wurden insgesamt 0 Bytes übertragen.")}));
        QVERIFY(!r->state.Recording);
        QCOMPARE(r->view.recordingStates.last(), false);
    }

    void failingStepsAreLoggedAndHandlingGoesOn()
    {
        const auto hof = r->addCamera(QStringLiteral("Hof"));
        r->view.failShow = true;
        hof->CHCallBack(jpeg("x"), 0);
        QCOMPARE(r->log, QStringList(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"Bild kann nicht geladen werden\"")));
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Bild wurde gespeichert!"));
        QVERIFY(QFile::exists(hof->mCamLastPic));
        QCOMPARE(r->view.panel2.size(), 1);   // the closing storage check ran
        // A broken answer holding the last image is unchanged, not kept aside; bytes that
        // come along with a failure are neither compared nor saved.
        hof->CHCallBack(jpeg("x"), -6);
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Bild ist unverändert!"));
        hof->CHCallBack(jpeg("y"), -4);
        QCOMPARE(r->log.last(), QStringLiteral("Hof: Fehler beim Kopieren!"));
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Fehler!"));
        QCOMPARE(r->files(1).size(), 1);

        // A plain file where the camera folder should be: the image cannot be saved, and is
        // then neither reported as saved, nor counted, nor the last image.
        const auto tor = r->addCamera(QStringLiteral("Tor"));
        QVERIFY(QFile(r->state.ArchivePath + "CAM02").open(QIODevice::WriteOnly));
        r->state.SpaceMeter.Reset();
        r->state.SpaceMeter.HighestInterval(1);
        tor->CHCallBack(jpeg("lost"), 0);
        QVERIFY(r->log.last().startsWith(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"")));
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Tor: Fehler!"));
        QVERIFY(tor->mCamLastPic.isEmpty());
        r->state.SpaceMeter.CountCycles();
        QCOMPARE(r->state.SpaceMeter.EstimateSpace(), 0);
    }

    void failureCodesLogTheirLine_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("line");
        QTest::newRow("-1") << -1 << "Hof: Fehler beim erneuten Versuch!";
        QTest::newRow("-2") << -2 << "Hof: Ziel konnte nicht gefunden werden!";
        QTest::newRow("-3") << -3 << "Hof: Allgemeiner Verbindungsfehler!";
        QTest::newRow("-4") << -4 << "Hof: Fehler beim Kopieren!";
        QTest::newRow("-5") << -5 << QString();
        QTest::newRow("-7") << -7 << "Hof: Zeitüberschreitung!";
        QTest::newRow("-8") << -8 << "Hof: WATCHDOG Zeitüberschreitung!";
        QTest::newRow("0 empty") << 0 << QString();
    }
    void failureCodesLogTheirLine()
    {
        QFETCH(int, code);
        QFETCH(QString, line);
        const auto hof = r->addCamera(QStringLiteral("Hof"));
        hof->mCamIsBusy = true;
        hof->CHCallBack(QByteArray(), qint16(code));
        QCOMPARE(r->log, line.isEmpty() ? QStringList() : QStringList(line));
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Fehler!"));
        QVERIFY(!hof->mCamIsBusy);
    }

    void spaceLimitDeletesOldestHourOfEveryCameraPerCheck()
    {
        limitSpace();
        setFreeMB(99.6);   // shown rounded, yet below the limit
        archive({"2006/05/11/22", "2006/05/11/23"}, {"2006/05/11/22", "2006/05/12/00"});
        CheckStorageLimits(r->state);
        QCOMPARE(r->view.panel2.last(), QStringLiteral("Speicherort: 100 MB frei."));
        QVERIFY(!exists(1, "2006/05/11/22") && !exists(2, "2006/05/11/22"));
        QVERIFY(exists(1, "2006/05/11/23") && exists(2, "2006/05/12/00"));
        const QString line = QStringLiteral("Speicherplatzlimit wurde unterschritten\r\n  >\"%1\" wurde gelöscht!");
        QCOMPARE(r->log, QStringList({line.arg(folder(1, "2006/05/11/22")), line.arg(folder(2, "2006/05/11/22"))}));
        // Events run before and after each camera's folder.
        QCOMPARE(r->tp.events->calls, 4);

        // The next check takes the next hour, only from the camera that has it.
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006/05/11/23") && exists(2, "2006/05/12/00"));
        QCOMPARE(r->log.size(), 3);

        // Exactly at the limit is enough: nothing goes.
        setFreeMB(100);
        CheckStorageLimits(r->state);
        QVERIFY(exists(2, "2006/05/12/00"));
    }

    void ageLimitEvaluatedAtMostEveryFifteenMinutes()
    {
        limitAge("h", 24);
        const QString evaluating = QStringLiteral("Überprüfe, ob Löschen erforderlich...");
        for (const auto &[minute, second, evaluations] : {std::tuple{5, 59, 1}, {12, 0, 1}, {19, 59, 1}, {20, 0, 2}}) {
            r->tp.clock->current = QDateTime(QDate(2006, 5, 12), QTime(10, minute, second));
            CheckStorageLimits(r->state);
            QCOMPARE(r->view.panel1.count(evaluating), evaluations);
        }
        // Empty archive: the oldest known hour is the first evaluation's, nothing is due.
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 12), QTime(10, 5, 59)));
    }

    void ageLimitKeepsTheThresholdHourOrDay()
    {
        limitAge("h", 24);
        archive({"2006/05/10/23", "2006/05/11/12", "2006/05/11/13", "2006/05/12/00"}, {"2006/05/11/12"});
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006/05/10"));   // the emptied day goes in the same walk
        QVERIFY(!exists(1, "2006/05/11/12") && exists(1, "2006/05/11/13"));
        QVERIFY(!QFileInfo::exists(r->state.ArchivePath + "CAM02"));
        const QString line = QStringLiteral("Speicher-Zeitlimit wurde überschritten\r\n  >Bilder älter als \"%1\" wurden gelöscht!");
        QCOMPARE(r->log, QStringList(line.arg("2006/05/11/13")));
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 11), QTime(13, 0)));
        // Events run before and after every subfolder of the walk: 9 in camera 1, 4 in camera 2.
        QCOMPARE(r->tp.events->calls, 26);

        // In days whole days count: the days before the threshold day go, all of that day stays.
        limitAge("Tage", 1);
        r->tp.clock->current = QDateTime(QDate(2006, 5, 13), QTime(14, 0));
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006/05/11") && exists(1, "2006/05/12/00"));
        QCOMPARE(r->log.last(), line.arg("2006/05/12"));
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 12), QTime(0, 0)));
    }

    void transferEndingDuringCheckOnlyRefreshesFreeSpace()
    {
        limitSpace();
        archive({"2006/05/11/22", "2006/05/11/23"}, {});
        const auto tor = r->state.Cams.Item(2);
        tor->mCamIsBusy = true;
        r->tp.events->onProcess = [&] {
            if (tor->mCamIsBusy)
                tor->CHCallBack(QByteArray(), -3);
        };
        CheckStorageLimits(r->state);
        QVERIFY(!tor->mCamIsBusy);
        // The outer check and the transfer's refresh; no second walk.
        QCOMPARE(r->view.panel2.size(), 2);
        QCOMPARE(r->tp.events->calls, 4);
        QVERIFY(!exists(1, "2006/05/11/22") && exists(1, "2006/05/11/23"));
        QCOMPARE(r->log.filter(QStringLiteral("Speicherplatzlimit")).size(), 1);
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
        archive({"2006/05/12/10"}, {"2006/05/12/10"});
        r->tp.fileSystem->undeletable.append(folder(1, "2006/05/12/10"));
        CheckStorageLimits(r->state);
        QCOMPARE(r->log, QStringList(QStringLiteral("Fehler beim Löschen!!! Speicher/-limit kontrollieren!\r\n  >\"Zugriff verweigert\"")));
        QVERIFY(exists(2, "2006/05/12/10"));   // later cameras wait for the next check
        QVERIFY(!r->state.LimitCheckRunning);

        r->tp.fileSystem->undeletable.clear();
        r->tp.clock->advanceSeconds(15 * 60);
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006/05/12/10") && !exists(2, "2006/05/12/10"));
        QCOMPARE(r->log.size(), ageRule ? 2 : 3);
    }

    void walksNeverFollowALinkOutOfTheArchive()
    {
        QTemporaryDir outside;
        const QString kept = outside.path() + "/2006/05/11/12/keep.jpg";
        QVERIFY(QDir().mkpath(QFileInfo(kept).path()));
        QVERIFY(QFile(kept).open(QIODevice::WriteOnly));
        archive({"2006/05/11/12"}, {});
        QVERIFY(QFile::link(outside.path(), r->state.ArchivePath + "CAM02"));

        // Both rules are due for the hour that camera 2's folder leads to.
        limitSpace();
        limitAge("h", 1);
        r->state.OldestImageTime = QDateTime(QDate(2006, 5, 11), QTime(12, 0));
        CheckStorageLimits(r->state);
        QVERIFY(!exists(1, "2006/05/11/12"));
        QVERIFY(QFile::exists(kept));
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
