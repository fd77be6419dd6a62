#include "app/CaptureCycle.h"
#include "archive/StorageLimits.h"
#include "support/AppRig.h"

#include "CamSim.h"
#include "TlsFront.h"
#include "cameras/CamAddress.h"
#include "config/Settings.h"
#include "support/FakeSettingsView.h"
#include "support/FileSizeLimit.h"

#include <QDirIterator>
#include <QTest>
#include <memory>
#include <tuple>
#include <vector>

// The capture cycle, the recording switch and the road of one image without a window, end to
// end over loopback against the simulator; then failing steps of the outcome and the storage
// check, with fake clock and free space.
class TestPipeline : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<CamSim>> sims;   // outlive the engines that talk to them
    std::unique_ptr<AppRig> r;

    CamSim *addCamera(const QString &name, qint16 interval, CamSim::Mode mode, int size = 20000, const QByteArray &auth = {})
    {
        CamSim &sim = *sims.emplace_back(std::make_unique<CamSim>());
        CamSim::Behaviour b;
        b.mode = mode;
        b.imageSize = size;
        b.authUserInfo = auth;
        sim.setBehaviour(b);
        if (!sim.listen())
            qFatal("simulator cannot listen");
        r->addCamera(name, interval, QStringLiteral("127.0.0.1:%1").arg(sim.port()));
        return &sim;
    }
    // Recording on; the test then takes the place of MainTimer, count times, and every
    // transfer ends before the next tick.
    void startRecording()
    {
        r->control.SetChecked(true);
        QVERIFY(r->state.Recording);
        r->control.MainTimer().stop();
    }
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            r->tp.clock->advanceSeconds(1);
            r->control.MainTimer_Timer();
            QVERIFY(QTest::qWaitFor([this] { return r->settled(); }, 10000));
        }
    }

    // Two cameras, and in camera 1 and 2 an hour folder with an image for each of ones and twos.
    void archive(const QStringList &ones, const QStringList &twos)
    {
        r->addCamera(QStringLiteral("Hof"));
        r->addCamera(QStringLiteral("Tor"));
        for (const auto &[cam, hours] : {std::pair{1, ones}, {2, twos}})
            for (const QString &hour : hours)
                QVERIFY(WriteAll(folder(cam, hour) + "/x.jpg", QByteArray()));
    }
    QString folder(int cam, const QString &rel) const { return r->state.ArchivePath + CamFolderName(cam) + '/' + rel; }
    // The folders of the archive that hold no folder, relative to it, sorted.
    QStringList leaves() const
    {
        QStringList found;
        for (QDirIterator it(r->state.ArchivePath, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
            if (const QString dir = it.next(); QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty())
                found << dir.mid(r->state.ArchivePath.size());
        found.sort();
        return found;
    }

private slots:
    void init()
    {
        r.reset();
        sims.clear();
        r = std::make_unique<AppRig>();
        r->tp.clock->current = QDateTime(QDate(2006, 5, 12), QTime(13, 45));
    }

    void busyCamerasAndBusyEngines()
    {
        addCamera("CAM1", 5, CamSim::Mode::Silent);   // transfers stay under way
        addCamera("CAM2", 1, CamSim::Mode::Silent);
        const auto cam1 = r->state.Cams.Item(1), cam2 = r->state.Cams.Item(2);
        for (int i = 0; i < 12; ++i)   // a busy camera keeps counting and is not served again
            MainTimer_Timer(r->state);
        QVERIFY(cam1->mCamIsBusy && cam2->mCamIsBusy);
        QCOMPARE(cam1->mCamTickCounter, qint16(7));
        // Free again, but no engine is idle: skipped silently, and it waits a whole interval again.
        cam1->mCamIsBusy = false;
        MainTimer_Timer(r->state);
        QVERIFY(!cam1->mCamIsBusy && cam1->mCamTickCounter == 0 && r->log.isEmpty());
        // Counting stops at the top of its range instead of wrapping.
        cam2->mCamTickCounter = 32766;
        MainTimer_Timer(r->state);
        MainTimer_Timer(r->state);
        QCOMPARE(cam2->mCamTickCounter, qint16(32767));
    }

    // Recorded like a plain camera; the certificate is pinned, written, and refused once changed
    // (pinned anew once forgotten: tst_fetch_tls).
    void httpsCamera()
    {
        CamSim &sim = *sims.emplace_back(std::make_unique<CamSim>());
        CamSim::Behaviour b;
        b.mode = CamSim::Mode::NewJpeg;
        b.imageSize = 20000;
        sim.setBehaviour(b);
        QVERIFY(sim.listen() && sim.listenTls());
        r->addCamera("Hof", 1, NormalizeCamSocket(QStringLiteral("HTTPS://127.0.0.1:%1/").arg(sim.tls()->port())));
        const QString first = CertificateFingerprint(sim.tls()->certificateDer());
        startRecording();
        tick(2);
        QCOMPARE(r->files(1).size(), 2);
        QCOMPARE(r->read(1, r->files(1).last()), sim.lastImage());
        const auto certLines = [this] { return r->log.filter(QStringLiteral("Zertifikat")); };
        QCOMPARE(certLines(), QStringList{"Zertifikat von Hof gemerkt: " + first});
        QCOMPARE(r->view.settingsChanged, 1);
        FakeSettingsView settings(r->state);
        QVERIFY(BuildSettingsText(r->state, settings).contains("<CAM01_CERT>" + first + "</CAM01_CERT>"));

        sim.tls()->useCertificate(TlsFront::Certificate());
        const QString second = CertificateFingerprint(sim.tls()->certificateDer());
        tick();
        QCOMPARE(r->files(1).size(), 2);
        QCOMPARE(certLines().last(), "Hof: Zertifikat hat sich geändert, kein Bild gespeichert! Gemerkt: " + first + ", jetzt: " + second);
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Fehler!"));
    }

    // The timer and the sampling window; its log lines and the menu: tst_mainwindow.
    void switchingOnAndOff()
    {
        const auto cam = r->addCamera(QStringLiteral("CAM1"), 5);
        r->control.mnuStartStop_Click();
        QVERIFY(r->state.Recording && r->control.MainTimer().isActive() && r->control.MainTimer().interval() == 1000);
        QVERIFY(QMetaObject::invokeMethod(&r->control.MainTimer(), "timeout", Qt::DirectConnection));   // runs the cycle
        r->control.mnuStartStop_Click();
        QVERIFY(!r->state.Recording && !r->control.MainTimer().isActive() && cam->mCamTickCounter == 1);
        // A whole sampling window counted, then switched on again: the estimate waits for a new one.
        for (const int ticks : {5, 4, 1}) {
            for (int i = 0; i < ticks; ++i)
                MainTimer_Timer(r->state);
            QCOMPARE(r->state.SpaceMeter.HasEnoughCycles(), ticks != 4);
            if (ticks == 5)
                r->control.mnuStartStop_Click();
        }
    }

    void imagesLandInTheArchiveOnlyWhenNew()
    {
        CamSim *fresh = addCamera("Hof", 1, CamSim::Mode::NewJpeg);
        // Credentials go into the URL when user and password are both set, exactly as typed.
        CamSim *same = addCamera("Tor", 0, CamSim::Mode::FixedJpeg, 20000, "ad@min:ge/h:e%im");
        r->state.Cams.Item(2)->mCamUser = QStringLiteral("ad@min");
        r->state.Cams.Item(2)->mCamPassword = QStringLiteral("ge/h:e%im");
        startRecording();
        // Due at the same tick: camera 1 on engine 1, camera 2 on engine 2.
        r->tp.clock->advanceSeconds(1);
        r->control.MainTimer_Timer();
        for (int i : {0, 1})
            QVERIFY(r->state.CopyHelpers[i]->getReport().startsWith(QStringLiteral("127.0.0.1:%1:").arg(sims[i]->port())));
        QVERIFY(QTest::qWaitFor([this] { return r->settled(); }, 10000));
        // A camera folder deleted behind the program's back comes back with the next image.
        QVERIFY(QDir(r->state.ArchivePath + QStringLiteral("CAM01")).removeRecursively());
        tick(2);

        QCOMPARE(r->files(1), QStringList({"20060512-134502(Hof).jpg", "20060512-134503(Hof).jpg"}));
        QCOMPARE(r->read(1, "20060512-134503(Hof).jpg"), fresh->lastImage());
        QCOMPARE(same->answeredCount(), 3);   // interval 0: every tick
        QCOMPARE(r->files(2), QStringList("20060512-134501(Tor).jpg"));
        // Only the selected camera is shown.
        QCOMPARE(r->view.shown, QStringList({"20060512-134501(Hof).jpg", "20060512-134502(Hof).jpg", "20060512-134503(Hof).jpg"}));
        QVERIFY(r->log.filter(QStringLiteral("Fehler")).isEmpty());
        // Only when both are set (the user's "@" goes out escaped).
        r->state.Cams.Item(1)->mCamPassword = QStringLiteral("pw");
        r->state.Cams.Item(2)->mCamPassword.clear();
        QVERIFY(!CameraUrl(*r->state.Cams.Item(2)).contains('@') && !CameraUrl(*r->state.Cams.Item(1)).contains('@'));
    }

    void failuresAreLoggedAndErrorPagesKeptAside()
    {
        CamSim *bad = addCamera("Keller", 1, CamSim::Mode::ErrorPage);
        r->addCamera(QStringLiteral("Weg"), 2, AppRig::refusedSocket());
        r->addCamera(QStringLiteral("CAM01"), 2, QStringLiteral("127.0.0.1:99999999999"));
        addCamera("Leer", 2, CamSim::Mode::Raw);   // accepts and closes without a byte
        startRecording();
        tick(4);
        QCOMPARE(r->files(1).filter(QStringLiteral("(Keller)-broken.http")).size(), 4);
        QCOMPARE(r->read(1, "20060512-134504(Keller)-broken.http"), bad->lastResponse());
        QCOMPARE(r->log.count(QStringLiteral("Keller: HTTP 404: Bildpfad nicht gefunden!")), 4);
        QCOMPARE(r->state.Cams.Item(1)->mLastOutcome, QStringLiteral("HTTP 404: Bildpfad nicht gefunden"));
        QVERIFY(r->state.Cams.Item(1)->mCamLastPic.isEmpty() && r->view.shown.isEmpty());
        // A refused port and a refused URL: one line per interval, no folder.
        QCOMPARE(r->log.count(QStringLiteral("Weg: Allgemeiner Verbindungsfehler!")), 2);
        QCOMPARE(r->log.count(QStringLiteral("URL von CAM01 ungültig")), 2);
        QCOMPARE(r->log.count(QStringLiteral("Leer: Keine Daten empfangen!")), 2);
        QCOMPARE(leaves(), QStringList("CAM01/2006/05/12/13"));
    }

    // The estimate comes once, after a window of the highest interval; a camera that fails at
    // once does not end the window before the others' images arrive, one switched off adds nothing.
    void estimateAfterTheHighestInterval()
    {
        for (const auto &[interval, kb] : {std::pair{1, "12656"}, {5, "2531"}}) {
            init();
            r->addCamera(QStringLiteral("Weg"), qint16(interval), AppRig::refusedSocket());
            CamSim::Behaviour late;   // its image comes after the refusal
            late.imageSize = 3600;
            late.splitPoints = {100};
            late.splitDelayMs = 50;
            addCamera("Hof", qint16(interval), CamSim::Mode::FixedJpeg)->setBehaviour(late);
            addCamera("Aus", -1, CamSim::Mode::NewJpeg);
            startRecording();
            tick(interval - 1);
            QVERIFY(r->log.filter("KB werden").isEmpty());
            tick(interval + 1);
            QVERIFY(r->state.Recording && r->log.filter("KB werden") == QStringList(kb + QStringLiteral(" KB werden ca. pro Stunde benötigt")));
        }
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
        QVERIFY(!r->state.Recording && !r->view.recordingStates.last());
    }

    void failingStepsAreLoggedAndHandlingGoesOn()
    {
        const auto hof = r->addCamera(QStringLiteral("Hof"));
        const auto jpeg = [](const QByteArray &middle) { return QByteArray("\xFF\xD8\xFF\xE0") + middle + "\xFF\xD9"; };
        r->view.failShow = true;
        hof->CHCallBack(jpeg("x"), 0);
        QCOMPARE(r->log, QStringList(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"Bild kann nicht geladen werden\"")));
        QVERIFY(QFile::exists(hof->mCamLastPic));
        QCOMPARE(r->view.panel2.size(), 1);   // the closing storage check ran
        // A broken answer holding the last image is unchanged, not kept aside; bytes that
        // come along with a failure are neither compared nor saved.
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Bild wurde gespeichert!"));
        hof->CHCallBack(jpeg("x"), -6);
        QCOMPARE(r->view.panel1.last(), QStringLiteral("Hof: Bild ist unverändert!"));
        hof->CHCallBack(jpeg("y"), -4);
        QVERIFY(r->log.last() == QStringLiteral("Hof: Fehler beim Kopieren!") && r->view.panel1.last() == QStringLiteral("Hof: Fehler!"));
        QCOMPARE(r->files(1).size(), 1);

        // A disk that refuses to grow files: the image is neither reported as saved, nor counted,
        // nor the last image, and the log says why. With room again, saving goes on by itself.
        const auto tor = r->addCamera(QStringLiteral("Tor"));
        r->state.SpaceMeter.Reset();
        r->state.SpaceMeter.HighestInterval(1);
        {
            FileSizeLimit full(1024);
            tor->CHCallBack(jpeg(QByteArray(2048, 'l')), 0);
        }
        QVERIFY2(r->log.last().startsWith(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\""))
                     && r->log.last().endsWith(": " + qt_error_string(EFBIG) + '"'), qPrintable(r->log.last()));
        QVERIFY(r->view.panel1.last() == QStringLiteral("Tor: Fehler!") && tor->mCamLastPic.isEmpty() && r->files(2).isEmpty());
        r->state.SpaceMeter.CountCycles();
        QCOMPARE(r->state.SpaceMeter.EstimateSpace(), 0);
        tor->CHCallBack(jpeg(QByteArray(2048, 'l')), 0);
        QCOMPARE(r->files(2), QStringList(QFileInfo(tor->mCamLastPic).fileName()));
    }

    // Every code from 0 to -8 without data: "Fehler!" shown, a line only for some.
    void failureCodesLogTheirLine()
    {
        const auto hof = r->addCamera(QStringLiteral("Hof"));
        for (int code = 0; code >= -8; --code) {
            hof->mCamIsBusy = true;
            hof->CHCallBack(QByteArray(), qint16(code));
            QVERIFY(r->view.panel1.last() == QStringLiteral("Hof: Fehler!") && !hof->mCamIsBusy);
        }
        QCOMPARE(r->log, QStringList({"Hof: Keine Daten empfangen!", "Hof: Fehler beim erneuten Versuch!",
                                      "Hof: Ziel konnte nicht gefunden werden!", "Hof: Allgemeiner Verbindungsfehler!",
                                      "Hof: Fehler beim Kopieren!", "Hof: Keine Daten empfangen!",
                                      "Hof: Keine Daten empfangen!", "Hof: Zeitüberschreitung!",
                                      "Hof: WATCHDOG Zeitüberschreitung!"}));
    }

    void spaceLimitDeletesOldestHourOfEveryCameraPerCheck()
    {
        r->limitSpace();   // the edge at the limit and the text shown: tst_storagelimits' freeSpace
        archive({"2006/05/11/22", "2006/05/11/23"}, {"2006/05/11/22", "2006/05/12/00"});
        CheckStorageLimits(r->state);
        QCOMPARE(leaves(), QStringList({"CAM01/2006/05/11/23", "CAM02/2006/05/11", "CAM02/2006/05/12/00"}));
        const QString line = QStringLiteral("Speicherplatzlimit wurde unterschritten\r\n  >\"%1\" wurde gelöscht!");
        QCOMPARE(r->log, QStringList({line.arg(folder(1, "2006/05/11/22")), line.arg(folder(2, "2006/05/11/22"))}));
        QCOMPARE(r->tp.events->calls, 4);   // before and after each camera's folder
        // The next check takes the next hour, only from the camera that has it.
        CheckStorageLimits(r->state);
        QVERIFY(!leaves().contains("CAM01/2006/05/11/23") && leaves().contains("CAM02/2006/05/12/00") && r->log.size() == 3);
    }

    void ageLimitEvaluatedAtMostEveryFifteenMinutes()
    {
        r->limitAge("h", 24);
        for (const auto &[minute, second, evaluations] : {std::tuple{5, 59, 1}, {12, 0, 1}, {19, 59, 1}, {20, 0, 2}}) {
            r->tp.clock->current = QDateTime(QDate(2006, 5, 12), QTime(10, minute, second));
            CheckStorageLimits(r->state);
            QCOMPARE(r->view.panel1.count(QStringLiteral("Überprüfe, ob Löschen erforderlich...")), evaluations);
        }
        // Empty archive: the oldest known hour is the first evaluation's, nothing is due.
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 12), QTime(10, 5, 59)));
    }

    void ageLimitKeepsTheThresholdHourOrDay()
    {
        r->limitAge("h", 24);
        archive({"2006/05/10/23", "2006/05/11/12", "2006/05/11/13", "2006/05/12/00"}, {"2006/05/11/12"});
        CheckStorageLimits(r->state);
        // The emptied day and camera folder go in the same walk.
        QCOMPARE(leaves(), QStringList({"CAM01/2006/05/11/13", "CAM01/2006/05/12/00"}));
        const QString line = QStringLiteral("Speicher-Zeitlimit wurde überschritten\r\n  >Bilder älter als \"%1\" wurden gelöscht!");
        QCOMPARE(r->log, QStringList(line.arg("2006/05/11/13")));
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 11), QTime(13, 0)));
        QCOMPARE(r->tp.events->calls, 26);   // before and after every subfolder of the walk: 9 + 4

        // In days whole days count: the days before the threshold day go, all of that day stays.
        r->limitAge("Tage", 1);
        r->tp.clock->current = QDateTime(QDate(2006, 5, 13), QTime(14, 0));
        CheckStorageLimits(r->state);
        QCOMPARE(leaves(), QStringList("CAM01/2006/05/12/00"));
        QCOMPARE(r->log.last(), line.arg("2006/05/12"));
        QCOMPARE(r->state.OldestImageTime, QDateTime(QDate(2006, 5, 12), QTime(0, 0)));
    }

    void transferEndingDuringCheckOnlyRefreshesFreeSpace()
    {
        r->limitSpace();
        archive({"2006/05/11/22", "2006/05/11/23"}, {});
        const auto tor = r->state.Cams.Item(2);
        tor->mCamIsBusy = true;
        r->tp.events->onProcess = [&] {
            if (tor->mCamIsBusy)
                tor->CHCallBack(QByteArray(), -3);
        };
        CheckStorageLimits(r->state);
        // The outer check and the transfer's refresh; no second walk.
        QVERIFY(!tor->mCamIsBusy && r->view.panel2.size() == 2 && r->tp.events->calls == 4);
        QCOMPARE(leaves(), QStringList({"CAM01/2006/05/11/23"}));
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
        ageRule ? r->limitAge("h", 1) : r->limitSpace();
        archive({"2006/05/12/10"}, {"2006/05/12/10"});
        r->tp.fileSystem->undeletable.append(folder(1, "2006/05/12/10"));
        CheckStorageLimits(r->state);
        QCOMPARE(r->log, QStringList(QStringLiteral("Fehler beim Löschen!!! Speicher/-limit kontrollieren!\r\n  >\"Zugriff verweigert\"")));
        QVERIFY(QFileInfo::exists(folder(2, "2006/05/12/10")) && !r->state.LimitCheckRunning);   // later cameras wait

        r->tp.fileSystem->undeletable.clear();
        r->tp.clock->advanceSeconds(15 * 60);
        CheckStorageLimits(r->state);
        QVERIFY(leaves().filter(QStringLiteral("/12/10")).isEmpty());
        QCOMPARE(r->log.size(), ageRule ? 2 : 3);
    }

    void walksNeverFollowALinkOutOfTheArchive()
    {
        QTemporaryDir outside;
        const QString kept = outside.path() + "/2006/05/11/12/keep.jpg";
        QVERIFY(WriteAll(kept, QByteArray()));
        archive({"2006/05/11/12"}, {});
        QVERIFY(QFile::link(outside.path(), r->state.ArchivePath + "CAM02"));
        // Both rules are due for the hour that camera 2's folder leads to.
        r->limitSpace();
        r->limitAge("h", 1);
        r->state.OldestImageTime = QDateTime(QDate(2006, 5, 11), QTime(12, 0));
        CheckStorageLimits(r->state);
        QVERIFY(!QFileInfo::exists(folder(1, "2006/05/11/12")) && QFile::exists(kept));
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
