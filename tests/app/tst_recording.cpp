#include "app/CaptureCycle.h"
#include "support/AppRig.h"

#include <QTest>

// The capture cycle and the recording switch beyond the pipeline's end-to-end test; no events run.
class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void busyCamerasAndBusyEngines()
    {
        AppRig r;
        QTcpServer silent;   // never answers: its transfers stay under way
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString socket = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        const auto cam1 = r.addCamera(QStringLiteral("CAM1"), 5, socket);
        const auto cam2 = r.addCamera(QStringLiteral("CAM2"), 1, socket);

        // A busy camera keeps counting and is not served again.
        for (int i = 0; i < 12; ++i)
            MainTimer_Timer(r.state);
        QVERIFY(cam1->mCamIsBusy && cam2->mCamIsBusy);
        QCOMPARE(cam1->mCamTickCounter, qint16(7));

        // Free again, but no engine is idle: skipped silently, and it waits a whole interval again.
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

    void switchingOnAndOff()
    {
        AppRig r;
        const auto cam = r.addCamera(QStringLiteral("CAM1"), 5);
        r.control.mnuStartStop_Click();
        QVERIFY(r.control.Checked() && r.state.Recording);
        QVERIFY(r.control.MainTimer().isActive());
        QCOMPARE(r.control.MainTimer().interval(), 1000);
        QCOMPARE(r.view.recordingStates, QList<bool>{true});
        QCOMPARE(r.log, QStringList(QStringLiteral("Aufnahme gestartet")));

        // The timer runs the capture cycle.
        QVERIFY(QMetaObject::invokeMethod(&r.control.MainTimer(), "timeout", Qt::DirectConnection));
        QCOMPARE(cam->mCamTickCounter, qint16(1));

        r.control.mnuStartStop_Click();
        QVERIFY(!r.control.Checked() && !r.state.Recording);
        QVERIFY(!r.control.MainTimer().isActive());
        QCOMPARE(r.log.last(), QStringLiteral("Aufnahme angehalten"));
        QCOMPARE(cam->mCamTickCounter, qint16(1));   // counters are left alone

        // A whole sampling window counted, then switched on again: the estimate waits for a new one.
        for (int i = 0; i < 5; ++i)
            MainTimer_Timer(r.state);
        QVERIFY(r.state.SpaceMeter.HasEnoughCycles());
        r.control.mnuStartStop_Click();
        for (int i = 0; i < 4; ++i)
            MainTimer_Timer(r.state);
        QVERIFY(!r.state.SpaceMeter.HasEnoughCycles());
        MainTimer_Timer(r.state);
        QVERIFY(r.state.SpaceMeter.HasEnoughCycles());
        r.control.mnuStartStop_Click();

        // Without an archive: a message, and recording stays off.
        r.state.ArchivePath.clear();
        r.view.SetRecordingChecked(true);
        QCOMPARE(r.tp.dialogs->boxes.size(), 1);
        QCOMPARE(r.log.mid(4), QStringList(QStringLiteral("Aufnahme angehalten")));
        QVERIFY(!r.control.Checked() && !r.state.Recording);
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
