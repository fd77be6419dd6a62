#include "app/AppState.h"
#include "app/RecordingControl.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "support/RecordingView.h"
#include "support/TestPlatform.h"

#include "CamSim.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// The road of one image without a window: real engines over loopback sockets against the
// simulator, ticks called by the test, the clock set by the test.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestPlatform> tp;
    std::unique_ptr<AppState> state;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<LogLines> log;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<RecordingControl> control;
    QList<CamSim *> sims;

    CamSim *sim(const CamSim::Behaviour &b)
    {
        auto *s = new CamSim(this);
        s->setBehaviour(b);
        if (!s->listen())
            qFatal("simulator cannot listen");
        sims.append(s);
        return s;
    }
    static CamSim::Behaviour mode(CamSim::Mode m, int size = 20000)
    {
        CamSim::Behaviour b;
        b.mode = m;
        b.imageSize = size;
        return b;
    }
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        return probe.serverPort();
    }
    std::shared_ptr<CamObject> addCamera(const QString &name, qint16 interval, const QString &socket)
    {
        auto cam = std::make_shared<CamObject>(*state);
        cam->mCamName = name;
        cam->mCamUpdaterate = interval;
        cam->mCamSocket = socket;
        cam->mCamImagePath = QStringLiteral("/image.jpg");
        state->Cams.Add(cam);
        state->CopyHelpers.push_back(std::make_unique<CopyHelper>(state->platform, state->TimerNames));
        state->CamCount = state->Cams.Count();
        return cam;
    }
    std::shared_ptr<CamObject> addCamera(const QString &name, qint16 interval, CamSim *s)
    {
        return addCamera(name, interval, QStringLiteral("127.0.0.1:") + QString::number(s->port()));
    }
    // Recording on; the test then takes the place of MainTimer.
    void startRecording()
    {
        control->SetChecked(true);
        QVERIFY(state->Recording);
        control->MainTimer().stop();
    }
    bool settled() const
    {
        for (int i = 1; i <= state->Cams.Count(); ++i)
            if (state->Cams.Item(i)->mCamIsBusy)
                return false;
        for (const auto &e : state->CopyHelpers)
            if (e->isBusy())
                return false;
        return true;
    }
    // One second passes, one tick runs, and every transfer it started ends.
    void tick()
    {
        tp->clock->advanceSeconds(1);
        control->MainTimer_Timer();
        QVERIFY(QTest::qWaitFor([this] { return settled(); }, 10000));
    }
    QString hourFolder(int camNo) const
    {
        return ImagePathFor(state->ArchivePath, camNo, QString(), tp->clock->current, false).folder;
    }
    QStringList files(int camNo) const
    {
        return QDir(hourFolder(camNo)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QByteArray mobotixAnswer(const QByteArray &frame, char pixel)
    {
        QByteArray image("\xFF\xD8\xFF\xFE", 4);
        image += "PRD=MOBOTIX\r\nFRM=" + frame + "\r\n";
        image += QByteArray(4000, pixel);
        image += QByteArray("\xFF\xD9", 2);
        return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n" + image;
    }

private slots:
    void init()
    {
        tp = std::make_unique<TestPlatform>();
        tp->clock->current = QDateTime(QDate(2006, 5, 12), QTime(13, 45, 0));
        state = std::make_unique<AppState>(tp->platform);
        view = std::make_unique<RecordingView>();
        state->SetView(view.get());
        log = std::make_unique<LogLines>(*state);
        dir = std::make_unique<QTemporaryDir>();
        state->ArchivePath = AddBackslash(dir->path());
        control = std::make_unique<RecordingControl>(*state);
        view->control = control.get();
    }
    void cleanup()
    {
        control.reset();
        log.reset();
        state.reset();
        view.reset();
        qDeleteAll(sims);
        sims.clear();
        dir.reset();
        tp.reset();
    }

    void newImagesLandInTheArchiveUnchangedOnesDoNot()
    {
        CamSim *fresh = sim(mode(CamSim::Mode::NewJpeg));
        CamSim *same = sim(mode(CamSim::Mode::FixedJpeg));
        CamSim *chunked = sim(mode(CamSim::Mode::Chunked, 30000));
        addCamera(QStringLiteral("Hof"), 1, fresh);
        addCamera(QStringLiteral("Tor"), 1, same);
        addCamera(QStringLiteral("Garten"), 2, chunked);
        startRecording();

        // Both due at the first tick: camera 1 on engine 1, camera 2 on engine 2.
        tp->clock->advanceSeconds(1);
        control->MainTimer_Timer();
        QVERIFY(state->CopyHelpers[0]->getReport().startsWith(QStringLiteral("127.0.0.1:") + QString::number(fresh->port()) + ":"));
        QVERIFY(state->CopyHelpers[1]->getReport().startsWith(QStringLiteral("127.0.0.1:") + QString::number(same->port()) + ":"));
        QVERIFY(!state->CopyHelpers[2]->isBusy());
        QVERIFY(QTest::qWaitFor([this] { return settled(); }, 10000));
        const QByteArray firstFresh = fresh->lastImage();
        const QByteArray firstSame = same->lastImage();

        tick();
        tick();
        const QString sep = QDir::separator();
        const QString hour1 = state->ArchivePath + "CAM01" + sep + "2006" + sep + "05" + sep + "12" + sep + "13";
        QCOMPARE(hourFolder(1), hour1);
        QCOMPARE(files(1), QStringList({QStringLiteral("20060512-134501(Hof).jpg"), QStringLiteral("20060512-134502(Hof).jpg"),
                                        QStringLiteral("20060512-134503(Hof).jpg")}));
        QCOMPARE(read(hour1 + sep + "20060512-134501(Hof).jpg"), firstFresh);
        QCOMPARE(read(hour1 + sep + "20060512-134503(Hof).jpg"), fresh->lastImage());
        QCOMPARE(files(2), QStringList(QStringLiteral("20060512-134501(Tor).jpg")));
        QCOMPARE(read(hourFolder(2) + sep + "20060512-134501(Tor).jpg"), firstSame);
        QCOMPARE(same->answeredCount(), 3);
        QCOMPARE(state->Cams.Item(2)->mCamLastPic, hourFolder(2) + sep + "20060512-134501(Tor).jpg");
        QVERIFY(view->panel1.contains(QStringLiteral("Tor: Bild ist unverändert!")));
        QCOMPARE(files(3), QStringList(QStringLiteral("20060512-134502(Garten).jpg")));
        QCOMPARE(read(hourFolder(3) + sep + "20060512-134502(Garten).jpg"), chunked->lastImage());
        // Only the selected camera is shown.
        QCOMPARE(view->shown.size(), 3);
        QCOMPARE(view->shown.last().label, QStringLiteral("20060512-134503(Hof).jpg"));
        QVERIFY(log->lines.filter(QStringLiteral("Fehler")).isEmpty());
    }

    void frameNumberDecidesForMobotixImages()
    {
        QList<CamSim::Behaviour> answers;
        for (const auto &[frame, pixel] : {std::pair<QByteArray, char>{"1234", 'a'}, {"1234", 'b'}, {"1235", 'b'}}) {
            CamSim::Behaviour b = mode(CamSim::Mode::Raw);
            b.raw = mobotixAnswer(frame, pixel);
            answers.append(b);
        }
        CamSim *mx = sim(answers.first());
        mx->setBehaviours(answers);
        addCamera(QStringLiteral("MX"), 1, mx);
        startRecording();
        tick();
        tick();
        tick();
        QCOMPARE(files(1), QStringList({QStringLiteral("20060512-134501(MX).jpg"), QStringLiteral("20060512-134503(MX).jpg")}));
        QVERIFY(read(hourFolder(1) + QDir::separator() + "20060512-134503(MX).jpg").contains("FRM=1235"));
    }

    void errorPageIsKeptAsideEveryTime()
    {
        CamSim *bad = sim(mode(CamSim::Mode::ErrorPage));
        addCamera(QStringLiteral("Keller"), 1, bad);
        startRecording();
        tick();
        tick();
        tick();
        const QStringList kept = files(1);
        QCOMPARE(kept.size(), 3);
        for (const QString &f : kept)
            QVERIFY(f.endsWith(QStringLiteral("(Keller)-broken.http")));
        QCOMPARE(read(hourFolder(1) + QDir::separator() + kept.last()), bad->lastResponse());
        QCOMPARE(log->count(QStringLiteral("Keller: Es wurde eine ungültige oder unvollständige Bilddatei zurückgeliefert!")), 3);
        QVERIFY(state->Cams.Item(1)->mCamLastPic.isEmpty());
        QVERIFY(view->shown.isEmpty());
    }

    void connectionFailuresAndRefusedUrls()
    {
        addCamera(QStringLiteral("Weg"), 2, QStringLiteral("127.0.0.1:") + QString::number(closedPort()));
        addCamera(QStringLiteral("CAM01"), 2, QStringLiteral("127.0.0.1:99999999999"));
        addCamera(QStringLiteral("Gut"), 1, sim(mode(CamSim::Mode::FixedJpeg)));   // keeps data flowing
        startRecording();
        for (int i = 0; i < 4; ++i)
            tick();
        QCOMPARE(log->count(QStringLiteral("Weg: Allgemeiner Verbindungsfehler!")), 2);
        QCOMPARE(log->count(QStringLiteral("URL von CAM01 ungültig")), 2);
        QVERIFY(!QFileInfo::exists(state->ArchivePath + "CAM01"));
        QVERIFY(!QFileInfo::exists(state->ArchivePath + "CAM02"));
        QVERIFY(state->Recording);
    }

    void estimateAfterTheHighestInterval()
    {
        CamSim *big = sim(mode(CamSim::Mode::FixedJpeg, 150000));
        addCamera(QStringLiteral("Gross"), 5, big);
        addCamera(QStringLiteral("Weg"), 2, QStringLiteral("127.0.0.1:") + QString::number(closedPort()));
        addCamera(QStringLiteral("Aus"), -1, big);
        startRecording();
        for (int i = 0; i < 4; ++i)
            tick();
        QCOMPARE(log->countContaining(QStringLiteral("KB werden ca. pro Stunde benötigt")), 0);
        tick();
        QCOMPARE(log->count(QStringLiteral("105469 KB werden ca. pro Stunde benötigt")), 1);
        for (int i = 0; i < 5; ++i)
            tick();
        QCOMPARE(log->countContaining(QStringLiteral("KB werden ca. pro Stunde benötigt")), 1);
        QVERIFY(state->Recording);
    }

    void nothingTransferredStopsRecording()
    {
        addCamera(QStringLiteral("Weg"), 3, QStringLiteral("127.0.0.1:") + QString::number(closedPort()));
        startRecording();
        log->lines.clear();
        for (int i = 0; i < 3; ++i)
            tick();
        QCOMPARE(log->lines, QStringList({QStringLiteral("Weg: Allgemeiner Verbindungsfehler!"),
                                          QStringLiteral("0 KB werden ca. pro Stunde benötigt"),
                                          QStringLiteral("Aufnahme angehalten"),
                                          QStringLiteral("Aufnahme gestoppt! Innerhalb 3 Sekunden wurden insgesamt 0 Bytes übertragen.")}));
        QVERIFY(!state->Recording);
        QVERIFY(!control->Checked());
        QCOMPARE(view->recordingStates.last(), false);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
