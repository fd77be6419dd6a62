#include "app/AppState.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "support/RecordingView.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// What a finished transfer leaves behind: status texts, log lines, files in the archive,
// the last image, the volume estimate and the recording switch.
class TestOutcome : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestPlatform> tp;
    std::unique_ptr<AppState> state;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<LogLines> log;
    std::unique_ptr<QTemporaryDir> dir;
    std::shared_ptr<CamObject> hof, tor;

    static QByteArray jpeg(const QByteArray &middle)
    {
        return QByteArray("\xFF\xD8\xFF\xE0", 4) + middle + QByteArray("\xFF\xD9", 2);
    }
    QString hourFolder(const std::shared_ptr<CamObject> &cam) const
    {
        const QDateTime t = tp->clock->current;
        return ImagePathFor(state->ArchivePath, cam->mCamNo, cam->mCamName, t, false).folder;
    }
    QStringList filesOf(const std::shared_ptr<CamObject> &cam) const
    {
        return QDir(hourFolder(cam)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        tp = std::make_unique<TestPlatform>();
        state = std::make_unique<AppState>(tp->platform);
        view = std::make_unique<RecordingView>();
        state->SetView(view.get());
        log = std::make_unique<LogLines>(*state);
        dir = std::make_unique<QTemporaryDir>();
        state->ArchivePath = AddBackslash(dir->path());
        hof = std::make_shared<CamObject>(*state);
        hof->mCamName = QStringLiteral("Hof");
        tor = std::make_shared<CamObject>(*state);
        tor->mCamName = QStringLiteral("Tor");
        state->Cams.Add(hof);
        state->Cams.Add(tor);
        state->CamCount = 2;
        state->SelectedCam = 1;
        hof->mCamIsBusy = tor->mCamIsBusy = true;
    }
    void cleanup()
    {
        log.reset();
        hof.reset();
        tor.reset();
        state.reset();
        view.reset();
        dir.reset();
        tp.reset();
    }

    void newImageIsSavedShownAndRemembered()
    {
        const QByteArray image = jpeg("first");
        hof->CHCallBack(image, 0);

        const QString path = hourFolder(hof) + QDir::separator() + QStringLiteral("20060512-134507(Hof).jpg");
        QVERIFY(path.startsWith(state->ArchivePath + QStringLiteral("CAM01") + QDir::separator() + QStringLiteral("2006")));
        QCOMPARE(read(path), image);
        QCOMPARE(filesOf(hof), QStringList(QStringLiteral("20060512-134507(Hof).jpg")));   // no temporary left
        QCOMPARE(hof->mCamLastPic, path);
        QVERIFY(!hof->mCamIsBusy);
        QCOMPARE(view->shown.size(), 1);
        QCOMPARE(view->shown.first().path, path);
        QCOMPARE(view->shown.first().label, QStringLiteral("20060512-134507(Hof).jpg"));
        QCOMPARE(view->panel1.mid(0, 1), QStringList(QStringLiteral("Hof: Speichere Bild...")));
        QVERIFY(view->panel1.contains(QStringLiteral("Hof: Bild wurde gespeichert!")));
        QVERIFY(log->lines.isEmpty());
        // Every transfer ends with the storage check, which refreshes the free space.
        QCOMPARE(view->panel2.size(), 1);

        // The same bytes a second later: not saved, nothing changes.
        tp->clock->advanceSeconds(1);
        hof->mCamIsBusy = true;
        hof->CHCallBack(image, 0);
        QVERIFY(view->panel1.contains(QStringLiteral("Hof: Bild ist unverändert!")));
        QCOMPARE(filesOf(hof).size(), 1);
        QCOMPARE(hof->mCamLastPic, path);
        QCOMPARE(view->shown.size(), 1);
        QVERIFY(!hof->mCamIsBusy);
        QCOMPARE(view->panel2.size(), 2);
    }

    void otherCameraSavesButDisplayStays()
    {
        tor->CHCallBack(jpeg("tor"), 0);
        QVERIFY(view->shown.isEmpty());
        QVERIFY(tor->mCamLastPic.endsWith(QStringLiteral("20060512-134507(Tor).jpg")));
        QVERIFY(tor->mCamLastPic.contains(QStringLiteral("CAM02")));
        QVERIFY(QFile::exists(tor->mCamLastPic));
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
        // Bytes of an earlier transfer may still come along; they are neither compared nor saved.
        const QByteArray leftOver = (code == 0 || code == -6) ? QByteArray() : jpeg("old");
        hof->CHCallBack(leftOver, qint16(code));
        QCOMPARE(log->lines, line.isEmpty() ? QStringList() : QStringList(line));
        QCOMPARE(view->panel1.at(1), QStringLiteral("Hof: Fehler!"));
        QVERIFY(!QFileInfo::exists(state->ArchivePath + QStringLiteral("CAM01")));
        QVERIFY(hof->mCamLastPic.isEmpty());
        QVERIFY(!hof->mCamIsBusy);
        QCOMPARE(view->panel2.size(), 1);
    }

    void brokenAnswerIsKeptAsideUnlessEqualToTheLastImage()
    {
        const QByteArray image = jpeg("real");
        hof->CHCallBack(image, 0);
        const QString lastPic = hof->mCamLastPic;
        const QByteArray page("HTTP/1.1 500 Internal\r\n\r\n<html>kaputt</html>");
        tp->clock->advanceSeconds(1);
        hof->CHCallBack(page, -6);
        QCOMPARE(filesOf(hof), QStringList({QStringLiteral("20060512-134507(Hof).jpg"),
                                            QStringLiteral("20060512-134508(Hof)-broken.http")}));
        QCOMPARE(hof->mCamLastPic, lastPic);
        QCOMPARE(view->shown.size(), 1);

        tp->clock->advanceSeconds(1);
        hof->CHCallBack(image, -6);
        QCOMPARE(filesOf(hof).size(), 2);
        QCOMPARE(view->panel1.last(), QStringLiteral("Hof: Bild ist unverändert!"));
    }

    void failedDisplayIsLoggedAndHandlingGoesOn()
    {
        view->failShow = true;
        hof->CHCallBack(jpeg("x"), 0);
        QCOMPARE(log->lines, QStringList(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"Bild kann nicht geladen werden\"")));
        QVERIFY(QFile::exists(hof->mCamLastPic));
        QVERIFY(!hof->mCamIsBusy);
        QCOMPARE(view->panel2.size(), 1);
    }

    void failedSaveIsNotReportedAsSaved()
    {
        // A plain file where the camera folder should be: the hour folder cannot be made.
        QFile blocker(state->ArchivePath + QStringLiteral("CAM01"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        state->SpaceMeter.Reset();
        state->SpaceMeter.HighestInterval(1);

        hof->CHCallBack(jpeg("lost"), 0);
        QCOMPARE(log->lines.size(), 1);
        QVERIFY(log->lines.at(0).startsWith(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"")));
        QVERIFY(!view->panel1.contains(QStringLiteral("Hof: Bild wurde gespeichert!")));
        QVERIFY(hof->mCamLastPic.isEmpty());
        QVERIFY(view->shown.isEmpty());
        QVERIFY(!hof->mCamIsBusy);
        // Nothing was saved, so nothing was counted.
        state->SpaceMeter.CountCycles();
        QVERIFY(state->SpaceMeter.HasEnoughCycles());
        QCOMPARE(state->SpaceMeter.EstimateSpace(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOutcome)
#include "tst_outcome.moc"
