#include "app/AppState.h"
#include "app/CaptureCycle.h"
#include "app/RecordingControl.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "support/RecordingView.h"
#include "support/TestPlatform.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

// The capture cycle and the recording switch, with real engines on loopback. Ticks are
// called directly; events run only where a test waits for a transfer to end.
class TestRecording : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestPlatform> tp;
    std::unique_ptr<AppState> state;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<LogLines> log;
    // Accepts and holds connections without answering: its transfers stay under way.
    std::unique_ptr<QTcpServer> silent;
    QList<QTcpSocket *> held;
    quint16 refusedPort = 0;

    std::shared_ptr<CamObject> cam(int i) const { return state->Cams.Item(i); }

    void setUpCameras(int count)
    {
        for (int i = 0; i < count; ++i) {
            auto c = std::make_shared<CamObject>(*state);
            c->mCamName = QStringLiteral("CAM") + QString::number(i + 1);
            c->mCamSocket = QStringLiteral("127.0.0.1:") + QString::number(silent->serverPort());
            c->mCamImagePath = QStringLiteral("/bild.jpg");
            state->Cams.Add(c);
            state->CopyHelpers.push_back(std::make_unique<CopyHelper>(state->platform, state->TimerNames));
        }
        state->CamCount = qint16(count);
    }
    CopyHelper &engine(int j) const { return *state->CopyHelpers[size_t(j - 1)]; }
    bool allIdle() const
    {
        for (const auto &e : state->CopyHelpers)
            if (e->isBusy())
                return false;
        return true;
    }

private slots:
    void init()
    {
        tp = std::make_unique<TestPlatform>();
        state = std::make_unique<AppState>(tp->platform);
        view = std::make_unique<RecordingView>();
        state->SetView(view.get());
        log = std::make_unique<LogLines>(*state);
        silent = std::make_unique<QTcpServer>();
        QVERIFY(silent->listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        connect(silent.get(), &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = silent->nextPendingConnection())
                held.append(s);
        });
        // A port that was just free: connections to it are refused at once.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        refusedPort = probe.serverPort();
        probe.close();
    }
    void cleanup()
    {
        log.reset();
        state.reset();
        view.reset();
        qDeleteAll(held);
        held.clear();
        silent.reset();
        tp.reset();
    }

    void urlCarriesCredentialsOnlyWhenBothAreSet()
    {
        CamObject c(*state);
        c.mCamSocket = QStringLiteral("192.168.1.20:8080");
        c.mCamImagePath = QStringLiteral("/record/current.jpg");
        QCOMPARE(CameraUrl(c), QStringLiteral("http://192.168.1.20:8080/record/current.jpg"));
        c.mCamUser = QStringLiteral("admin");
        QCOMPARE(CameraUrl(c), QStringLiteral("http://192.168.1.20:8080/record/current.jpg"));
        c.mCamPassword = QStringLiteral("p@ss:w");
        QCOMPARE(CameraUrl(c), QStringLiteral("http://admin:p@ss:w@192.168.1.20:8080/record/current.jpg"));
        c.mCamUser.clear();
        QCOMPARE(CameraUrl(c), QStringLiteral("http://192.168.1.20:8080/record/current.jpg"));
    }

    void intervalsDecideTheTicks_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QList<int>>("served");
        QTest::newRow("1") << 1 << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        QTest::newRow("0") << 0 << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        QTest::newRow("5") << 5 << QList<int>{5, 10};
        QTest::newRow("off") << -1 << QList<int>{};
    }
    void intervalsDecideTheTicks()
    {
        QFETCH(int, interval);
        QFETCH(QList<int>, served);
        setUpCameras(1);
        cam(1)->mCamUpdaterate = qint16(interval);
        cam(1)->mCamSocket = QStringLiteral("127.0.0.1:") + QString::number(refusedPort);
        QList<int> seen;
        for (int tick = 1; tick <= 10; ++tick) {
            MainTimer_Timer(*state);
            if (cam(1)->mCamIsBusy) {
                seen.append(tick);
                // A refused connection is retried once, then reported.
                QVERIFY(QTest::qWaitFor([&] { return !cam(1)->mCamIsBusy && allIdle(); }, 5000));
            }
        }
        QCOMPARE(seen, served);
        QCOMPARE(log->count(QStringLiteral("CAM1: Allgemeiner Verbindungsfehler!")), int(served.size()));
    }

    void busyCameraKeepsCountingAndIsServedOnceFree()
    {
        setUpCameras(2);
        cam(1)->mCamUpdaterate = 5;
        for (int i = 0; i < 5; ++i)
            MainTimer_Timer(*state);
        QVERIFY(cam(1)->mCamIsBusy);
        for (int i = 0; i < 7; ++i)
            MainTimer_Timer(*state);
        QCOMPARE(cam(1)->mCamTickCounter, qint16(7));
        QVERIFY(cam(1)->mCamIsBusy);

        // The outcome arrives (engine 1 still holds its connection): the next tick serves
        // the camera on engine 2.
        cam(1)->mCamIsBusy = false;
        MainTimer_Timer(*state);
        QVERIFY(cam(1)->mCamIsBusy);
        QCOMPARE(cam(1)->mCamTickCounter, qint16(0));
        QVERIFY(engine(2).isBusy());

        // Counting stops at the top of its range instead of wrapping.
        cam(1)->mCamTickCounter = 32766;
        MainTimer_Timer(*state);
        MainTimer_Timer(*state);
        QCOMPARE(cam(1)->mCamTickCounter, qint16(32767));
    }

    void noIdleEngineSkipsSilently()
    {
        setUpCameras(2);
        cam(1)->mCamUpdaterate = 1;
        cam(2)->mCamUpdaterate = 1;
        MainTimer_Timer(*state);
        QVERIFY(engine(1).isBusy() && engine(2).isBusy());
        cam(1)->mCamIsBusy = false;
        MainTimer_Timer(*state);
        QVERIFY(!cam(1)->mCamIsBusy);
        QCOMPARE(cam(1)->mCamTickCounter, qint16(0));
        QVERIFY(log->lines.isEmpty());
    }

    void everyTickCountsAndMovesTheLogFile()
    {
        setUpCameras(1);
        state->SpaceMeter.Reset();
        state->SpaceMeter.HighestInterval(3);
        tp->clock->current = QDateTime(QDate(2006, 5, 11), QTime(23, 59, 58));
        MainTimer_Timer(*state);
        MainTimer_Timer(*state);
        QVERIFY(!state->SpaceMeter.HasEnoughCycles());
        QVERIFY(state->LogFileName.endsWith(QStringLiteral("Bildfang Log 20060511.txt")));
        QVERIFY(state->LogFileName.startsWith(AddBackslash(tp->program->folder)));
        tp->clock->advanceSeconds(2);
        MainTimer_Timer(*state);
        QVERIFY(state->SpaceMeter.HasEnoughCycles());
        QVERIFY(state->LogFileName.endsWith(QStringLiteral("Bildfang Log 20060512.txt")));
        QCOMPARE(state->CurrentTime, tp->clock->current);
    }

    void switchingOnAndOff()
    {
        setUpCameras(3);
        cam(1)->mCamUpdaterate = 2;
        cam(2)->mCamUpdaterate = 5;
        cam(3)->mCamUpdaterate = -1;
        cam(2)->mCamTickCounter = 3;
        state->ArchivePath = AddBackslash(tp->programDir.path());
        RecordingControl control(*state);
        view->control = &control;

        control.mnuStartStop_Click();
        QVERIFY(control.Checked());
        QVERIFY(state->Recording);
        QVERIFY(control.MainTimer().isActive());
        QCOMPARE(control.MainTimer().interval(), 1000);
        QCOMPARE(state->SpaceMeter.HighestInterval(), qint16(5));
        QCOMPARE(view->recordingStates, QList<bool>{true});
        QCOMPARE(log->lines, QStringList(QStringLiteral("Aufnahme gestartet")));

        control.mnuStartStop_Click();
        QVERIFY(!state->Recording);
        QVERIFY(!control.MainTimer().isActive());
        QCOMPARE(view->recordingStates, (QList<bool>{true, false}));
        QCOMPARE(log->lines, QStringList({QStringLiteral("Aufnahme gestartet"), QStringLiteral("Aufnahme angehalten")}));
        // Counters are left alone.
        QCOMPARE(cam(2)->mCamTickCounter, qint16(3));

        // The view unchecking the box runs the same handling; an unchanged value runs nothing.
        control.SetChecked(true);
        view->SetRecordingChecked(false);
        view->SetRecordingChecked(false);
        QCOMPARE(log->lines.size(), 4);
        QVERIFY(!state->Recording);
        QVERIFY(tp->dialogs->boxes.isEmpty());
    }

    void switchingOnWithoutArchiveStaysOff()
    {
        setUpCameras(1);
        RecordingControl control(*state);
        control.SetChecked(true);
        QCOMPARE(tp->dialogs->boxes.size(), 1);
        QCOMPARE(tp->dialogs->boxes.first().text, QStringLiteral("Kein gültiger Speicherort angegeben!"));
        QCOMPARE(log->lines, QStringList(QStringLiteral("Aufnahme angehalten")));
        QVERIFY(!control.Checked());
        QVERIFY(!state->Recording);
        QVERIFY(!control.MainTimer().isActive());
        QCOMPARE(view->recordingStates, QList<bool>{false});
    }

    void timerDrivesTheCycle()
    {
        setUpCameras(1);
        cam(1)->mCamUpdaterate = 1;
        state->ArchivePath = AddBackslash(tp->programDir.path());
        RecordingControl control(*state);
        control.SetChecked(true);
        // The tick handler the timer is wired to.
        QVERIFY(QMetaObject::invokeMethod(&control.MainTimer(), "timeout", Qt::DirectConnection));
        QVERIFY(cam(1)->mCamIsBusy);
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
