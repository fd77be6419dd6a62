#include "app/AppState.h"
#include "archive/ArchiveLayout.h"
#include "archive/StorageLimits.h"
#include "cameras/CamObject.h"
#include "support/RecordingView.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// The real file system with a settable free space and folders that refuse deletion.
class TestFileSystem final : public QtFileSystem
{
public:
    qint64 free = qint64(500) * 1048576;
    bool ready = true;
    QStringList undeletable;
    qint64 freeBytes(const QString &) const override { return free; }
    bool driveReady(const QString &path) const override { return ready && QtFileSystem::driveReady(path); }
    bool deleteFolder(const QString &path, QString *error) override
    {
        if (undeletable.contains(path)) {
            if (error)
                *error = QStringLiteral("Zugriff verweigert");
            return false;
        }
        return QtFileSystem::deleteFolder(path, error);
    }
};

const QString Sep = QString(QDir::separator());

} // namespace

class TestStorageLimits : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestPlatform> tp;
    std::shared_ptr<TestFileSystem> fs;
    std::unique_ptr<AppState> state;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<LogLines> log;
    std::unique_ptr<QTemporaryDir> dir;

    void setTime(int day, int hour, int minute, int second = 0)
    {
        tp->clock->current = QDateTime(QDate(2006, 5, day), QTime(hour, minute, second));
    }
    QString hourFolder(int cam, const QString &rel) const
    {
        QString r = rel;
        r.replace(QLatin1Char('\\'), QDir::separator());
        return state->ArchivePath + CamFolderName(cam) + Sep + r;
    }
    // An hour folder holding one image.
    void makeHour(int cam, const QString &rel)
    {
        const QString folder = hourFolder(cam, rel);
        QVERIFY(QDir().mkpath(folder));
        QFile f(folder + Sep + QStringLiteral("x.jpg"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\xFF\xD8 image \xFF\xD9");
    }
    bool exists(int cam, const QString &rel) const { return QFileInfo::exists(hourFolder(cam, rel)); }
    int panelCount(const QString &text) const { return int(view->panel1.count(text)); }

private slots:
    void init()
    {
        tp = std::make_unique<TestPlatform>();
        fs = std::make_shared<TestFileSystem>();
        tp->platform.fileSystem = fs;
        state = std::make_unique<AppState>(tp->platform);
        view = std::make_unique<RecordingView>();
        state->SetView(view.get());
        log = std::make_unique<LogLines>(*state);
        dir = std::make_unique<QTemporaryDir>();
        state->ArchivePath = AddBackslash(dir->path());
        for (int i = 0; i < 2; ++i)
            state->Cams.Add(std::make_shared<CamObject>(*state));
        state->CamCount = 2;
    }
    void cleanup()
    {
        log.reset();
        state.reset();
        view.reset();
        dir.reset();
        tp.reset();
    }

    void freeSpaceDisplayAndResult()
    {
        state->SpaceLimitMB = 100;
        fs->free = qint64(99.6 * 1048576);
        QVERIFY(!CheckFreeSpace(*state));
        QCOMPARE(view->panel2.last(), QStringLiteral("Speicherort: 100 MB frei."));

        fs->free = qint64(100) * 1048576;
        QVERIFY(CheckFreeSpace(*state));

        // Halves go to the even neighbour.
        fs->free = qint64(102.5 * 1048576);
        CheckFreeSpace(*state);
        QCOMPARE(view->panel2.last(), QStringLiteral("Speicherort: 102 MB frei."));

        const int shown = int(view->panel2.size());
        fs->free = -1;
        QVERIFY(!CheckFreeSpace(*state));
        fs->free = qint64(500) * 1048576;
        fs->ready = false;
        QVERIFY(!CheckFreeSpace(*state));
        QCOMPARE(view->panel2.size(), shown);

        state->ArchivePath.clear();
        QVERIFY(CheckFreeSpace(*state));
        QCOMPARE(view->panel2.size(), shown);
    }

    void spaceLimitDeletesOldestHourOfEveryCameraPerCheck()
    {
        state->SpaceLimitOn = true;
        state->SpaceLimitMB = 100;
        fs->free = qint64(50) * 1048576;
        makeHour(1, "2006\\05\\11\\22");
        makeHour(1, "2006\\05\\11\\23");
        makeHour(2, "2006\\05\\11\\22");
        makeHour(2, "2006\\05\\12\\00");

        CheckStorageLimits(*state);
        QVERIFY(!exists(1, "2006\\05\\11\\22"));
        QVERIFY(!exists(2, "2006\\05\\11\\22"));
        QVERIFY(exists(1, "2006\\05\\11\\23"));
        QVERIFY(exists(2, "2006\\05\\12\\00"));
        QCOMPARE(log->lines.size(), 2);
        QCOMPARE(log->lines.at(0), QStringLiteral("Speicherplatzlimit wurde unterschritten\r\n  >\"")
                                       + hourFolder(1, "2006\\05\\11\\22") + QStringLiteral("\" wurde gelöscht!"));
        QCOMPARE(log->lines.at(1), QStringLiteral("Speicherplatzlimit wurde unterschritten\r\n  >\"")
                                       + hourFolder(2, "2006\\05\\11\\22") + QStringLiteral("\" wurde gelöscht!"));
        // Events run before and after each camera's folder.
        QCOMPARE(tp->events->calls, 4);
        QVERIFY(!state->LimitCheckRunning);
        QCOMPARE(view->panel1.last(), QString());

        // The next check takes the next hour, only from the camera that has it.
        CheckStorageLimits(*state);
        QVERIFY(!exists(1, "2006\\05\\11\\23"));
        QVERIFY(exists(2, "2006\\05\\12\\00"));
        QCOMPARE(log->lines.size(), 3);

        // Enough space again: nothing goes.
        fs->free = qint64(200) * 1048576;
        CheckStorageLimits(*state);
        QVERIFY(exists(2, "2006\\05\\12\\00"));
        QCOMPARE(log->lines.size(), 3);
    }

    void ageLimitEvaluatedAtMostEveryFifteenMinutes()
    {
        state->TimeLimitOn = true;
        state->TimeLimitUnit = QStringLiteral("h");
        state->TimeLimitValue = 24;
        const QString evaluating = QStringLiteral("Überprüfe, ob Löschen erforderlich...");

        setTime(12, 10, 5, 59);
        CheckStorageLimits(*state);
        QCOMPARE(panelCount(evaluating), 1);
        // Empty archive: the oldest known hour is now, nothing is due.
        QCOMPARE(state->OldestImageTime, tp->clock->current);

        setTime(12, 10, 12);
        CheckStorageLimits(*state);
        setTime(12, 10, 19, 59);
        CheckStorageLimits(*state);
        QCOMPARE(panelCount(evaluating), 1);

        setTime(12, 10, 20, 0);
        CheckStorageLimits(*state);
        QCOMPARE(panelCount(evaluating), 2);
        QCOMPARE(state->LastTimeLimitCheck, tp->clock->current);
        QVERIFY(log->lines.isEmpty());
    }

    void ageLimitInHoursKeepsThresholdHour()
    {
        state->TimeLimitOn = true;
        state->TimeLimitUnit = QStringLiteral("h");
        state->TimeLimitValue = 24;
        makeHour(1, "2006\\05\\10\\23");   // alone in its day
        makeHour(1, "2006\\05\\11\\12");
        makeHour(1, "2006\\05\\11\\13");
        makeHour(2, "2006\\05\\11\\12");
        setTime(12, 13, 45);

        CheckStorageLimits(*state);
        QVERIFY(!exists(1, "2006\\05\\10\\23"));
        QVERIFY(!exists(1, "2006\\05\\10"));   // emptied day goes in the same walk
        QVERIFY(!exists(1, "2006\\05\\11\\12"));
        QVERIFY(exists(1, "2006\\05\\11\\13"));
        QVERIFY(!exists(2, "2006\\05\\11\\12"));
        QVERIFY(!exists(2, "2006"));           // camera 2 had nothing newer
        QVERIFY(!QFileInfo::exists(state->ArchivePath + "CAM02"));
        QCOMPARE(log->lines, QStringList(QStringLiteral("Speicher-Zeitlimit wurde überschritten\r\n  >Bilder älter als \"2006")
                                         + Sep + "05" + Sep + "11" + Sep + "13\" wurden gelöscht!"));
        QCOMPARE(state->OldestImageTime, QDateTime(QDate(2006, 5, 11), QTime(13, 0)));
        QVERIFY(!state->LimitCheckRunning);
        // Events run before and after every subfolder of the walk: 7 in camera 1, 4 in camera 2.
        QCOMPARE(tp->events->calls, 22);
    }

    void ageLimitInDaysComparesWholeDays()
    {
        state->TimeLimitOn = true;
        state->TimeLimitUnit = QStringLiteral("Tage");
        state->TimeLimitValue = 7;
        makeHour(1, "2006\\05\\04\\23");
        makeHour(1, "2006\\05\\05\\00");
        setTime(12, 13, 45);

        CheckStorageLimits(*state);
        QVERIFY(!exists(1, "2006\\05\\04"));
        QVERIFY(exists(1, "2006\\05\\05\\00"));
        QCOMPARE(log->lines.size(), 1);
        QVERIFY(log->lines.first().endsWith(QStringLiteral(">Bilder älter als \"2006") + Sep + "05" + Sep
                                            + "05\" wurden gelöscht!"));
        QCOMPARE(state->OldestImageTime, QDateTime(QDate(2006, 5, 5), QTime(0, 0)));

        // The oldest hour is now the threshold day: an evaluation 15 minutes later on the
        // same day finds nothing due and walks nothing.
        setTime(12, 14, 0);
        CheckStorageLimits(*state);
        QVERIFY(exists(1, "2006\\05\\05\\00"));
        QCOMPARE(log->lines.size(), 1);
    }

    void transferEndingDuringCheckOnlyRefreshesFreeSpace()
    {
        state->SpaceLimitOn = true;
        state->SpaceLimitMB = 100;
        fs->free = qint64(50) * 1048576;
        makeHour(1, "2006\\05\\11\\22");
        makeHour(1, "2006\\05\\11\\23");
        const auto cam2 = state->Cams.Item(2);
        cam2->mCamIsBusy = true;
        bool nestedRan = false;
        bool flagDuringCheck = false;
        tp->events->onProcess = [&] {
            if (nestedRan)
                return;
            nestedRan = true;
            flagDuringCheck = state->LimitCheckRunning;
            cam2->CHCallBack(QByteArray(), -3);
        };
        const int before = int(view->panel2.size());

        CheckStorageLimits(*state);
        QVERIFY(nestedRan);
        QVERIFY(flagDuringCheck);
        QVERIFY(!cam2->mCamIsBusy);
        // The outer check and the transfer's refresh; no second deletion.
        QCOMPARE(int(view->panel2.size()), before + 2);
        QVERIFY(!exists(1, "2006\\05\\11\\22"));
        QVERIFY(exists(1, "2006\\05\\11\\23"));
        QCOMPARE(log->countContaining(QStringLiteral("Speicherplatzlimit")), 1);
        QCOMPARE(log->count(cam2->mCamName + QStringLiteral(": Allgemeiner Verbindungsfehler!")), 1);
        QVERIFY(!state->LimitCheckRunning);
    }

    void failedDeletionEndsCheckAndNextCheckRetries()
    {
        state->SpaceLimitOn = true;
        state->SpaceLimitMB = 100;
        fs->free = qint64(50) * 1048576;
        makeHour(1, "2006\\05\\11\\22");
        makeHour(2, "2006\\05\\11\\22");
        fs->undeletable.append(hourFolder(1, "2006\\05\\11\\22"));

        CheckStorageLimits(*state);
        QCOMPARE(log->lines, QStringList(QStringLiteral("Fehler beim Löschen!!! Speicher/-limit kontrollieren!\r\n  >\"Zugriff verweigert\"")));
        QVERIFY(exists(2, "2006\\05\\11\\22"));   // later cameras wait for the next check
        QVERIFY(!state->LimitCheckRunning);
        QCOMPARE(view->panel1.last(), QStringLiteral("Lösche ") + hourFolder(1, "2006\\05\\11\\22") + QStringLiteral(" ..."));

        fs->undeletable.clear();
        CheckStorageLimits(*state);
        QVERIFY(!exists(1, "2006\\05\\11\\22"));
        QVERIFY(!exists(2, "2006\\05\\11\\22"));
        QCOMPARE(log->countContaining(QStringLiteral("Speicherplatzlimit wurde unterschritten")), 2);
    }

    void failedDeletionInAgeWalk()
    {
        state->TimeLimitOn = true;
        state->TimeLimitUnit = QStringLiteral("h");
        state->TimeLimitValue = 1;
        makeHour(1, "2006\\05\\12\\10");
        makeHour(2, "2006\\05\\12\\10");
        fs->undeletable.append(hourFolder(1, "2006\\05\\12\\10"));
        setTime(12, 13, 45);

        CheckStorageLimits(*state);
        QCOMPARE(log->countContaining(QStringLiteral("Fehler beim Löschen!!!")), 1);
        QVERIFY(exists(2, "2006\\05\\12\\10"));
        QVERIFY(!state->LimitCheckRunning);

        fs->undeletable.clear();
        setTime(12, 14, 0);
        CheckStorageLimits(*state);
        QVERIFY(!exists(1, "2006\\05\\12\\10"));
        QVERIFY(!exists(2, "2006\\05\\12\\10"));
        QCOMPARE(log->countContaining(QStringLiteral("Speicher-Zeitlimit wurde überschritten")), 1);
    }

    void walksNeverFollowLinksOutOfTheArchive()
    {
        QTemporaryDir outside;
        const QString victim = outside.path() + Sep + "2006" + Sep + "05" + Sep + "01" + Sep + "00";
        QVERIFY(QDir().mkpath(victim));
        QFile(victim + Sep + "keep.jpg").open(QIODevice::WriteOnly);

        // A day folder that links out, and a whole camera folder that does.
        makeHour(1, "2006\\05\\11\\12");
        QVERIFY(QFile::link(outside.path() + Sep + "2006" + Sep + "05" + Sep + "01",
                            state->ArchivePath + "CAM01" + Sep + "2006" + Sep + "05" + Sep + "01"));
        QVERIFY(QFile::link(outside.path(), state->ArchivePath + "CAM02"));

        state->TimeLimitOn = true;
        state->TimeLimitUnit = QStringLiteral("h");
        state->TimeLimitValue = 1;
        setTime(12, 13, 45);
        state->OldestImageTime = QDateTime(QDate(2006, 5, 1), QTime(0, 0));
        CheckStorageLimits(*state);
        QVERIFY(QFile::exists(victim + Sep + "keep.jpg"));
        QVERIFY(!exists(1, "2006\\05\\11\\12"));

        // The space rule's target through the linked camera folder is not touched either.
        state->TimeLimitOn = false;
        state->SpaceLimitOn = true;
        state->SpaceLimitMB = 100;
        fs->free = 0;
        state->OldestImageTime = QDateTime();
        CheckStorageLimits(*state);
        QVERIFY(QFile::exists(victim + Sep + "keep.jpg"));
    }
};

QTEST_GUILESS_MAIN(TestStorageLimits)
#include "tst_storagelimits.moc"
