#include "archive/StorageLimits.h"
#include "support/AppRig.h"

#include <QTest>
#include <ctime>
#include <memory>

// The archive's names and the walk for its oldest folder; the storage limits against foreign
// content, a folder chosen anew mid-walk, an unreadable free space and the days the clock
// changes (in Europe/Berlin). Their everyday work is tested in tst_pipeline.
class TestStorageLimits : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppRig> r;

    QString at(const QString &rel) const { return r->state.ArchivePath + rel; }
    bool exists(const QString &rel) const { return QFileInfo::exists(at(rel)); }
    void put(const QString &rel) const { QVERIFY(WriteAll(at(rel), QByteArray())); }
    void mkpath(const QString &rel) const { QVERIFY(QDir().mkpath(at(rel))); }
    QString oldest(const char *kind = "HOUR") { return FindOldestFolder(r->state, QString::fromLatin1(kind)); }
    // One limit switched on, the space one due; the age one due at its first check.
    void limits(bool space, const QString &unit, int value)
    {
        r->state.SpaceLimitOn = r->state.TimeLimitOn = false;
        space ? r->limitSpace() : r->limitAge(unit, value);
        r->state.OldestImageTime = r->state.LastTimeLimitCheck = QDateTime();
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    void init()
    {
        r = std::make_unique<AppRig>();
        for (const char *name : {"Hof", "Tor", "Weg"})
            r->addCamera(QString::fromLatin1(name));
        r->tp.clock->current = QDateTime(QDate(2006, 5, 13), QTime(13, 45));
    }

    void namesInPaths()
    {
        QCOMPARE(CamFolderName(100), QStringLiteral("CAM100"));
        const QDateTime when(QDate(2006, 5, 12), QTime(13, 45, 7));
        const ImagePath image = ImagePathFor(r->state.ArchivePath, 1, QStringLiteral("../../etc/x"), when, false);
        QCOMPARE(image.folder, at("CAM01/2006/05/12/13"));
        QCOMPARE(image.fileName, QStringLiteral("20060512-134507(.._.._etc_x).jpg"));
        QCOMPARE(FileNameSafe(QStringLiteral("a\tb\nc") + QChar(0x7f) + QChar(0)), QStringLiteral("a_b_c__"));
        // Names that are fine stay exactly as typed.
        const QString fine = QStringLiteral("Einfahrt Süd-Ost ÄÖÜß a\\b:c*?\"<>|");
        QCOMPARE(FileNameSafe(fine), fine);
    }

    void oldestFolderOverSeveralCameras()
    {
        r->state.CamCount = 4;
        QCOMPARE(oldest("HOUR"), QStringLiteral("0000/00/00/00"));
        QCOMPARE(r->view.panel1, QStringList({QStringLiteral("Finde älteste Stunde..."), QString()}));
        QCOMPARE(oldest("day"), QStringLiteral("0000/00/00"));
        QCOMPARE(r->view.panel1.at(2), QStringLiteral("Finde ältesten Tag..."));

        for (const char *rel : {"CAM01/2006/05/12/13", "CAM01/2007/01/01/00", "CAM03/2006/05/11/22", "CAM03/2006/05/12/01"})
            mkpath(rel);   // CAM02 is missing: skipped
        mkpath("CAM05/2001/01/01/01");   // beyond CamCount: not looked at
        QCOMPARE(oldest("HOUR"), QStringLiteral("2006/05/11/22"));
        QCOMPARE(oldest("DAY"), QStringLiteral("2006/05/11"));

        // A camera folder that links out of the archive is neither searched nor pruned.
        QTemporaryDir outside;
        QVERIFY(QDir(outside.path()).mkdir(QStringLiteral("2005")) && QFile::link(outside.path(), at("CAM04")));
        QCOMPARE(oldest(), QStringLiteral("2006/05/11/22"));
        QVERIFY(QFileInfo::exists(outside.filePath(QStringLiteral("2005"))));
    }

    void emptyBranchesArePrunedOnTheWay()
    {
        r->state.CamCount = 2;
        for (const char *rel : {"CAM01/2005", "CAM01/2006/05/12/13", "CAM02/2006/05/12/14"})
            mkpath(rel);
        // The empty year goes; that camera has no result this time.
        QCOMPARE(oldest(), QStringLiteral("2006/05/12/14"));
        QVERIFY(!exists("CAM01/2005"));
        QCOMPARE(oldest(), QStringLiteral("2006/05/12/13"));

        // That hour folder was empty and still counted. A day without hours counts only when
        // looking for days; looking for hours prunes it, one level per call.
        QVERIFY(QDir(at("CAM02")).removeRecursively() && QDir(at("CAM01/2006/05/12/13")).removeRecursively());
        QCOMPARE(oldest("DAY"), QStringLiteral("2006/05/12"));
        QCOMPARE(oldest(), ZeroRelativePath(true));
        QVERIFY(!exists("CAM01/2006/05/12") && exists("CAM01/2006/05"));

        // A camera folder without years goes too, never the archive.
        mkpath("CAM02");
        QCOMPARE(oldest(), ZeroRelativePath(true));
        QVERIFY(!exists("CAM02") && QFileInfo(r->state.ArchivePath).isDir());
    }

    void zeroTextWithoutAUsableArchive()
    {
        // Names outside the tree's fixed widths give no usable result.
        r->state.CamCount = 2;
        mkpath("CAM01/x/y/z/w");
        QCOMPARE(oldest(), QStringLiteral("0000/00/00/00"));

        // No archive chosen: an empty year of CAM02 in the working directory is none of our business.
        mkpath("CAM02/2005");
        r->state.ArchivePath.clear();
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(r->archive.path()));
        const QString found = oldest();
        QVERIFY(QDir::setCurrent(cwd));
        QCOMPARE(found, QStringLiteral("0000/00/00/00"));
        QVERIFY(QFileInfo(r->archive.path() + "/CAM02/2005").isDir());
    }

    void foreignContentSurvivesBothLimits_data()
    {
        QTest::addColumn<QString>("foreign");
        for (const char *rel : {"CAM01/.snapshot/f", "CAM03/notes.txt", "CAM01/2005/readme.txt", "CAM01/2006/5/x.jpg",
                                "CAM01/2006/05/11/2x/x.jpg", "CAM01/2006/05/11/21/sub/x.jpg", "CAM02/2006/05/11.bak/x",
                                "CAM01/1/05/11/22/x.jpg", "CAM01/2006/05/11/123/x.jpg"})
            QTest::newRow(rel) << QString::fromLatin1(rel);
    }
    void foreignContentSurvivesBothLimits()
    {
        QFETCH(QString, foreign);
        for (const bool space : {true, false}) {
            r->log.clear();
            put(foreign);
            put("CAM01/2006/05/11/22/x.jpg");
            put("CAM02/2006/05/12/03/x.jpg");
            limits(space, "h", 1);
            for (int i = 0; i < 4; ++i)
                CheckStorageLimits(r->state);
            QVERIFY(QFile::exists(at(foreign)));
            QVERIFY(!exists("CAM01/2006/05/11/22") && !exists("CAM02/2006/05/12"));
            QCOMPARE(r->log.size(), space ? 2 : 1);
        }
        // With only foreign content left the age limit deletes nothing and says nothing.
        r->state.OldestImageTime = QDateTime(QDate(2000, 1, 1), QTime(0, 0));
        r->state.LastTimeLimitCheck = QDateTime();
        CheckStorageLimits(r->state);
        QVERIFY(QFile::exists(at(foreign)));
        QCOMPARE(r->log.size(), 1);
    }

    void walkKeepsTheArchiveItStartedWith()
    {
        QTemporaryDir other;
        const QString chosen = AddBackslash(other.path());
        for (const bool space : {true, false}) {
            for (const char *rel : {"CAM01/2006/05/11/22/x.jpg", "CAM02/2006/05/11/22/x.jpg", "CAM02/2006/05/12/09/x.jpg"}) {
                put(rel);
                QVERIFY(QDir().mkpath(chosen + QFileInfo(rel).path()));
            }
            limits(space, "h", 1);
            const QString first = r->state.ArchivePath;
            r->tp.events->onProcess = [&] { r->state.ArchivePath = chosen; };
            CheckStorageLimits(r->state);
            r->tp.events->onProcess = nullptr;
            r->state.ArchivePath = first;
            QVERIFY(!exists("CAM02/2006/05/11/22"));
            QCOMPARE(exists("CAM02/2006/05/12/09"), space);
            for (const char *rel : {"CAM01/2006/05/11/22", "CAM02/2006/05/11/22", "CAM02/2006/05/12/09"})
                QVERIFY(QFileInfo(chosen + rel).isDir());
        }
    }

    void freeSpace_data()
    {
        QTest::addColumn<double>("mb");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("enough");
        QTest::newRow("99.6") << 99.6 << "Speicherort: 100 MB frei." << false;
        QTest::newRow("100") << 100.0 << "Speicherort: 100 MB frei." << true;
        QTest::newRow("unreadable") << -1.0 << "Speicherort: unbekannt" << false;
    }
    void freeSpace()
    {
        QFETCH(double, mb);
        QFETCH(QString, shown);
        QFETCH(bool, enough);
        limits(true, "h", 1);
        put("CAM01/2006/05/11/22/x.jpg");
        put("CAM01/2006/05/11/23/x.jpg");
        r->tp.fileSystem->freeBytesValue = mb < 0 ? -1 : qint64(mb * 1048576);
        QCOMPARE(CheckFreeSpace(r->state), enough);
        for (int i = 0; i < 2; ++i)
            CheckStorageLimits(r->state);
        QCOMPARE(r->view.panel2.last(), shown);
        // Too little space takes one hour per check; an unknown one none, logged once.
        QCOMPARE(exists("CAM01/2006/05/11/23"), enough || mb < 0);
        const QString unreadable = QStringLiteral("Freier Speicher kann nicht gelesen werden!\r\n  >\"%1\"").arg(r->state.ArchivePath);
        QCOMPARE(r->log.count(unreadable), mb < 0 ? 1 : 0);
        // Logged again only after it could be read once more.
        r->tp.fileSystem->freeBytesValue = 200 * 1048576;
        CheckFreeSpace(r->state);
        r->tp.fileSystem->freeBytesValue = -1;
        CheckFreeSpace(r->state);
        QCOMPARE(r->log.count(unreadable), mb < 0 ? 2 : 1);
    }

    void repeatedHourKeepsEveryImage()
    {
        const auto hof = r->state.Cams.Item(1);
        for (const auto &[image, code] : {std::pair{"\xFF\xD8" "a\xFF\xD9", 0}, {"\xFF\xD8" "b\xFF\xD9", 0}, {"c", -6}, {"d", -6}})
            hof->CHCallBack(QByteArray(image), qint16(code));
        r->tp.clock->current = r->tp.clock->current.addSecs(1);
        hof->CHCallBack("\xFF\xD8" "e\xFF\xD9", 0);
        QCOMPARE(r->files(1), QStringList({"20060513-134500(Hof)-2.jpg", "20060513-134500(Hof)-broken-2.http",
                                           "20060513-134500(Hof)-broken.http", "20060513-134500(Hof).jpg",
                                           "20060513-134501(Hof).jpg"}));
        QCOMPARE(r->read(1, "20060513-134500(Hof).jpg"), QByteArray("\xFF\xD8" "a\xFF\xD9"));
        QCOMPARE(r->view.shown.at(1), QStringLiteral("20060513-134500(Hof)-2.jpg"));
    }

    void clockChangeDays_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("gone");
        QTest::addColumn<QString>("kept");
        const auto t = [](int y, int m, int d, int h, int min) { return QDateTime(QDate(y, m, d), QTime(h, min)); };
        QTest::newRow("autumn h") << t(2024, 10, 27, 10, 5) << "h" << "2024/10/26/09" << "2024/10/26/10";
        QTest::newRow("spring h") << t(2024, 3, 31, 10, 5) << "h" << "2024/03/30/09" << "2024/03/30/10";
        QTest::newRow("autumn Tage") << t(2024, 10, 28, 0, 30) << "Tage" << "2024/10/26/23" << "2024/10/27/00";
        QTest::newRow("spring Tage") << t(2024, 4, 1, 0, 30) << "Tage" << "2024/03/30/23" << "2024/03/31/00";
    }
    void clockChangeDays()
    {
        QFETCH(QDateTime, now);
        QFETCH(QString, unit);
        QFETCH(QString, gone);
        QFETCH(QString, kept);
        r->tp.clock->current = now;
        limits(false, unit, unit == "h" ? 24 : 1);
        put("CAM01/" + gone + "/x.jpg");
        put("CAM01/" + kept + "/x.jpg");
        CheckStorageLimits(r->state);
        QVERIFY(!exists("CAM01/" + gone) && exists("CAM01/" + kept));
        // 15 minutes on the clock face: after the clock went forward 01:55 to 03:05 is 70.
        r->state.LastTimeLimitCheck = QDateTime(QDate(2024, 3, 31), QTime(1, 55));
        r->tp.clock->current = QDateTime(QDate(2024, 3, 31), QTime(3, 5));
        CheckStorageLimits(r->state);
        QCOMPARE(r->state.LastTimeLimitCheck, r->tp.clock->current);
    }
};

QTEST_GUILESS_MAIN(TestStorageLimits)
#include "tst_storagelimits.moc"
