#include "app/CaptureCycle.h"
#include "support/AppRig.h"

#include "CamSim.h"

#include <QTest>

// The capture cycle and the recording switch, beyond what the end-to-end test of the
// pipeline shows. Ticks are called directly; no events run.
class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void urlCarriesCredentialsOnlyWhenBothAreSet()
    {
        AppRig r;
        CamObject c(r.state);
        c.mCamSocket = QStringLiteral("192.168.1.20:8080");
        c.mCamImagePath = QStringLiteral("/record/current.jpg");
        c.mCamUser = QStringLiteral("admin");
        QCOMPARE(CameraUrl(c), QStringLiteral("http://192.168.1.20:8080/record/current.jpg"));
        c.mCamPassword = QStringLiteral("p@ss:w");
        QCOMPARE(CameraUrl(c), QStringLiteral("http://admin:p@ss:w@192.168.1.20:8080/record/current.jpg"));
        c.mCamUser.clear();
        QCOMPARE(CameraUrl(c), QStringLiteral("http://192.168.1.20:8080/record/current.jpg"));
    }

    void busyCamerasAndBusyEngines()
    {
        AppRig r;
        CamSim silent;   // accepts and never answers: its transfers stay under way
        CamSim::Behaviour never;
        never.mode = CamSim::Mode::Silent;
        silent.setBehaviour(never);
        QVERIFY(silent.listen());
        const auto cam1 = r.addCamera(QStringLiteral("CAM1"), 5, QStringLiteral("127.0.0.1:%1").arg(silent.port()));
        const auto cam2 = r.addCamera(QStringLiteral("CAM2"), 1, QStringLiteral("127.0.0.1:%1").arg(silent.port()));

        // A busy camera keeps counting and is not served again.
        for (int i = 0; i < 12; ++i)
            MainTimer_Timer(r.state);
        QVERIFY(cam1->mCamIsBusy && cam2->mCamIsBusy);
        QCOMPARE(cam1->mCamTickCounter, qint16(7));

        // Its outcome arrived, but both engines are still under way: skipped without a
        // word, and the camera waits a whole interval again.
        cam1->mCamIsBusy = false;
        MainTimer_Timer(r.state);
        QVERIFY(!cam1->mCamIsBusy);
        QCOMPARE(cam1->mCamTickCounter, qint16(0));
        QVERIFY(r.log.isEmpty());

        // Counting stops at the top of its range instead of wrapping.
        cam2->mCamTickCounter = 32766;
        MainTimer_Timer(r.state);
        MainTimer_Timer(r.state);
        QCOMPARE(cam2->mCamTickCounter, qint16(32767));
    }

    void everyTickMovesTheLogFileToTheDate()
    {
        AppRig r;
        r.tp.clock->current = QDateTime(QDate(2006, 5, 11), QTime(23, 59, 59));
        MainTimer_Timer(r.state);
        QCOMPARE(r.state.LogFileName, AddBackslash(r.tp.program->folder) + QStringLiteral("Bildfang Log 20060511.txt"));
        r.tp.clock->advanceSeconds(1);
        MainTimer_Timer(r.state);
        QVERIFY(r.state.LogFileName.endsWith(QStringLiteral("Bildfang Log 20060512.txt")));
        QCOMPARE(r.state.CurrentTime, r.tp.clock->current);
    }

    void switchingOnAndOff()
    {
        AppRig r;
        r.addCamera(QStringLiteral("CAM1"), 2);
        const auto cam2 = r.addCamera(QStringLiteral("CAM2"), 5);
        r.addCamera(QStringLiteral("CAM3"), -1);
        cam2->mCamTickCounter = 3;
        r.state.SpaceMeter.HighestInterval(9);   // from an earlier run, cleared by the start

        r.control.mnuStartStop_Click();
        QVERIFY(r.control.Checked() && r.state.Recording);
        QVERIFY(r.control.MainTimer().isActive());
        QCOMPARE(r.control.MainTimer().interval(), 1000);
        QCOMPARE(r.state.SpaceMeter.HighestInterval(), qint16(5));
        QCOMPARE(r.view.recordingStates, QList<bool>{true});
        QCOMPARE(r.log, QStringList(QStringLiteral("Aufnahme gestartet")));
        // The timer is wired to the capture cycle.
        QVERIFY(QMetaObject::invokeMethod(&r.control.MainTimer(), "timeout", Qt::DirectConnection));
        QCOMPARE(cam2->mCamTickCounter, qint16(4));

        r.control.mnuStartStop_Click();
        QVERIFY(!r.control.Checked() && !r.state.Recording);
        QVERIFY(!r.control.MainTimer().isActive());
        QCOMPARE(r.view.recordingStates, (QList<bool>{true, false}));
        QCOMPARE(r.log.last(), QStringLiteral("Aufnahme angehalten"));
        QCOMPARE(cam2->mCamTickCounter, qint16(4));   // counters are left alone

        // Unchecking an unchecked box runs nothing.
        r.view.SetRecordingChecked(false);
        QCOMPARE(r.log.size(), 2);
        QVERIFY(r.tp.dialogs->boxes.isEmpty());
    }

    void switchingOnWithoutArchiveStaysOff()
    {
        AppRig r;
        r.state.ArchivePath.clear();
        r.view.SetRecordingChecked(true);
        QCOMPARE(r.tp.dialogs->boxes.size(), 1);
        QCOMPARE(r.tp.dialogs->boxes.first().text, QStringLiteral("Kein gültiger Speicherort angegeben!"));
        QCOMPARE(r.log, QStringList(QStringLiteral("Aufnahme angehalten")));
        QVERIFY(!r.control.Checked() && !r.state.Recording);
        QVERIFY(!r.control.MainTimer().isActive());
        QCOMPARE(r.view.recordingStates, QList<bool>{false});
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
