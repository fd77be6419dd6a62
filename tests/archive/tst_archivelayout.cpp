#include "app/AppState.h"
#include "app/MainView.h"
#include "archive/ArchiveLayout.h"
#include "support/RecordingView.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// The real file system, recording every folder it creates; the drive can be made absent.
class RecordingFileSystem final : public QtFileSystem
{
public:
    QStringList created;
    bool ready = true;
    bool createFolder(const QString &path) override
    {
        created << path;
        return QtFileSystem::createFolder(path);
    }
    bool driveReady(const QString &path) const override { return ready && QtFileSystem::driveReady(path); }
};

QString sep()
{
    return QString(QDir::separator());
}

// "2006/05/12/13" with the native separator.
QString rel(const char *slashed)
{
    return QString::fromLatin1(slashed).replace(QLatin1Char('/'), QDir::separator());
}

} // namespace

class TestArchiveLayout : public QObject
{
    Q_OBJECT

private:
    struct Archive
    {
        TestPlatform tp;
        QTemporaryDir dir;
        RecordingView view;
        std::unique_ptr<AppState> state;

        Archive()
        {
            state = std::make_unique<AppState>(tp.platform);
            state->ArchivePath = AddBackslash(dir.path());
            state->SetView(&view);
        }
        QString path(const char *relative) const { return state->ArchivePath + rel(relative); }
        void mkpath(const char *relative) const
        {
            if (!QDir().mkpath(path(relative)))
                qFatal("mkpath failed");
        }
        void touch(const char *relative) const
        {
            QFile f(path(relative));
            if (!f.open(QIODevice::WriteOnly))
                qFatal("touch failed");
            f.write("x");
        }
        bool exists(const char *relative) const { return QFileInfo::exists(path(relative)); }
    };

private slots:
    void camFolderName()
    {
        QCOMPARE(CamFolderName(1), QStringLiteral("CAM01"));
        QCOMPARE(CamFolderName(9), QStringLiteral("CAM09"));
        QCOMPARE(CamFolderName(10), QStringLiteral("CAM10"));
        QCOMPARE(CamFolderName(99), QStringLiteral("CAM99"));
        QCOMPARE(CamFolderName(100), QStringLiteral("CAM100"));
        QCOMPARE(CamFolderName(255), QStringLiteral("CAM255"));
    }

    void addBackslash()
    {
        QCOMPARE(AddBackslash(rel("/data/Bilder")), rel("/data/Bilder/"));
        QCOMPARE(AddBackslash(rel("/data/Bilder/")), rel("/data/Bilder/"));
        QCOMPARE(AddBackslash(QString()), sep());
        QCOMPARE(AddBackslash(sep()), sep());
    }

    void ensureFolderCreatesParentsFirst()
    {
        QTemporaryDir dir;
        RecordingFileSystem fs;
        const QString base = dir.path();
        const QString hour = base + rel("/CAM01/2006/05/12/13");
        QVERIFY(EnsureFolder(fs, hour));
        QCOMPARE(fs.created, QStringList({base + rel("/CAM01"), base + rel("/CAM01/2006"),
                                          base + rel("/CAM01/2006/05"), base + rel("/CAM01/2006/05/12"),
                                          hour}));
        QVERIFY(QFileInfo(hour).isDir());

        fs.created.clear();
        QVERIFY(EnsureFolder(fs, hour));
        QVERIFY(EnsureFolder(fs, hour + sep()));
        QVERIFY(fs.created.isEmpty());

        // One trailing separator is dropped before the folder is created.
        QVERIFY(EnsureFolder(fs, base + rel("/CAM02/")));
        QCOMPARE(fs.created, QStringList({base + rel("/CAM02")}));
    }

    void ensureFolderFailures()
    {
        QTemporaryDir dir;
        RecordingFileSystem fs;
        const QString base = dir.path();

        // An absent drive creates nothing and still reports success.
        fs.ready = false;
        QVERIFY(EnsureFolder(fs, base + rel("/CAM01/2006")));
        QVERIFY(fs.created.isEmpty());
        fs.ready = true;

        // A file in the way refuses the creation.
        QFile blocker(base + rel("/CAM03"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!EnsureFolder(fs, base + rel("/CAM03/2006/05")));
        QVERIFY(!QFileInfo::exists(base + rel("/CAM03/2006")));

        // A path without any separator has no parent to create.
        QVERIFY(!EnsureFolder(fs, QStringLiteral("bildfang-no-such-folder-xyz")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("bildfang-no-such-folder-xyz")));

        QVERIFY(EnsureFolder(fs, sep()));   // the root exists
        QVERIFY(!EnsureFolder(fs, QString()));
    }

    void relativePath()
    {
        const QString archive = rel("/data/Bilder/");
        QCOMPARE(RelativePath(archive, archive + rel("CAM01/2006/05/12/13")), rel("2006/05/12/13"));
        QCOMPARE(RelativePath(archive, archive + rel("CAM01/2006/05/12")), rel("2006/05/12"));
        QCOMPARE(RelativePath(archive, archive + rel("CAM100/2006/05/12/13")), rel("2006/05/12/13"));
        QCOMPARE(RelativePath(archive, archive + rel("CAM01/2006/05/12/13/")), rel("2006/05/12/13"));
        QCOMPARE(RelativePath(archive, archive + rel("CAM01")), QString());
        QCOMPARE(RelativePath(archive, rel("/elsewhere/CAM01/2006")), QString());
        QCOMPARE(ZeroRelativePath(true), rel("0000/00/00/00"));
        QCOMPARE(ZeroRelativePath(false), rel("0000/00/00"));
    }

    void oldestHourOverSeveralCameras()
    {
        Archive a;
        a.mkpath("CAM01/2006/05/12/13");
        a.mkpath("CAM01/2006/05/12/14");
        a.mkpath("CAM01/2007/01/01/00");
        a.mkpath("CAM02/2006/05/11/22");
        a.mkpath("CAM02/2006/05/12/01");
        a.mkpath("CAM03/2001/01/01/01");   // beyond CamCount: not looked at
        a.state->CamCount = 2;

        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2006/05/11/22"));
        QCOMPARE(a.view.panel1, QStringList({QStringLiteral("Finde älteste Stunde..."), QString()}));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("hour")), rel("2006/05/11/22"));

        a.view.panel1.clear();
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("DAY")), rel("2006/05/11"));
        QCOMPARE(a.view.panel1, QStringList({QStringLiteral("Finde ältesten Tag..."), QString()}));

        // A missing camera folder in between is skipped.
        a.state->CamCount = 3;
        QVERIFY(QDir(a.path("CAM02")).removeRecursively());
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2001/01/01/01"));
        QVERIFY(a.exists("CAM01/2007/01/01/00"));
    }

    void emptyYearIsPrunedOneLevelPerCall()
    {
        Archive a;
        a.state->CamCount = 1;
        a.mkpath("CAM01/2005");
        a.touch("CAM01/2005/stray.jpg");
        a.mkpath("CAM01/2006/05/12/13");

        // The empty year goes, files and all, and the camera has no result this time.
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), ZeroRelativePath(true));
        QVERIFY(!a.exists("CAM01/2005"));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2006/05/12/13"));

        // A deeper empty branch: the month without days first, then its year.
        a.mkpath("CAM01/2004/02");
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), ZeroRelativePath(true));
        QVERIFY(!a.exists("CAM01/2004/02"));
        QVERIFY(a.exists("CAM01/2004"));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), ZeroRelativePath(true));
        QVERIFY(!a.exists("CAM01/2004"));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2006/05/12/13"));
    }

    void otherCamerasStillCountWhileOneIsPruned()
    {
        Archive a;
        a.state->CamCount = 2;
        a.mkpath("CAM01/2005");
        a.mkpath("CAM01/2006/05/12/13");
        a.mkpath("CAM02/2006/05/12/14");
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2006/05/12/14"));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2006/05/12/13"));
    }

    void linkedCameraFolderIsNeitherSearchedNorPruned()
    {
        Archive a;
        QTemporaryDir outside;
        QVERIFY(QDir().mkpath(outside.path() + sep() + QStringLiteral("2005")));
        a.state->CamCount = 2;
        QVERIFY(QFile::link(outside.path(), a.path("CAM01")));
        a.mkpath("CAM02/2006/05/12/13");

        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2006/05/12/13"));
        QVERIFY(QFileInfo::exists(outside.path() + sep() + QStringLiteral("2005")));
        QVERIFY(QFileInfo(a.path("CAM01")).isSymLink());
    }

    void targetDepthIsNeverPruned()
    {
        Archive a;
        a.state->CamCount = 1;
        a.mkpath("CAM01/2006/05/12/13");   // an empty hour folder still counts
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("2006/05/12/13"));
        QVERIFY(a.exists("CAM01/2006/05/12/13"));

        // A day without hours: kept when looking for days, pruned when looking for hours.
        QVERIFY(QDir(a.path("CAM01/2006/05/12/13")).removeRecursively());
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("DAY")), rel("2006/05/12"));
        QVERIFY(a.exists("CAM01/2006/05/12"));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), ZeroRelativePath(true));
        QVERIFY(!a.exists("CAM01/2006/05/12"));

        // The camera folder itself goes when it has no year left.
        QVERIFY(QDir(a.path("CAM01/2006")).removeRecursively());
        a.touch("CAM01/notes.txt");
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), ZeroRelativePath(true));
        QVERIFY(!a.exists("CAM01"));
        QVERIFY(QFileInfo::exists(a.state->ArchivePath));
    }

    void zeroTextWhenThereIsNothing()
    {
        Archive a;
        a.state->CamCount = 3;
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("0000/00/00/00"));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("DAY")), rel("0000/00/00"));

        // Names outside the tree's fixed widths give no usable result either.
        a.mkpath("CAM01/x/y/z/w");
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("0000/00/00/00"));
        QVERIFY(a.exists("CAM01/x/y/z/w"));

        // An archive folder that is gone: nothing found, nothing created.
        a.state->ArchivePath = AddBackslash(a.path("missing"));
        QCOMPARE(FindOldestFolder(*a.state, QStringLiteral("HOUR")), rel("0000/00/00/00"));
        QVERIFY(!a.exists("missing"));

        // No archive chosen: an empty CAM01 in the working directory is none of our business.
        QVERIFY(QDir().mkpath(a.dir.path() + rel("/CAM01/2005")));
        a.state->ArchivePath.clear();
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(a.dir.path()));
        const QString found = FindOldestFolder(*a.state, QStringLiteral("HOUR"));
        QVERIFY(QDir::setCurrent(cwd));
        QCOMPARE(found, rel("0000/00/00/00"));
        QVERIFY(QFileInfo(a.dir.path() + rel("/CAM01/2005")).isDir());
    }

    void imagePath()
    {
        const QString archive = rel("/data/Bilder/");
        const QDateTime when(QDate(2006, 5, 12), QTime(13, 45, 7));
        ImagePath image = ImagePathFor(archive, 1, QStringLiteral("Hof"), when, false);
        QCOMPARE(image.folder, rel("/data/Bilder/CAM01/2006/05/12/13"));
        QCOMPARE(image.fileName, QStringLiteral("20060512-134507(Hof).jpg"));
        QCOMPARE(image.path(), rel("/data/Bilder/CAM01/2006/05/12/13/20060512-134507(Hof).jpg"));

        image = ImagePathFor(archive, 100, QStringLiteral("Hof"), QDateTime(QDate(2007, 1, 2), QTime(3, 4, 5)), true);
        QCOMPARE(image.folder, rel("/data/Bilder/CAM100/2007/01/02/03"));
        QCOMPARE(image.fileName, QStringLiteral("20070102-030405(Hof)-broken.http"));
        QCOMPARE(ImagePathFor(archive, 2, QString(), when, false).fileName, QStringLiteral("20060512-134507().jpg"));
    }

    void cameraNamesInFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("inFileName");
        QTest::newRow("plain") << QStringLiteral("Hof") << QStringLiteral("Hof");
        QTest::newRow("umlauts and blanks") << QStringLiteral("Einfahrt Süd-Ost ÄÖÜß") << QStringLiteral("Einfahrt Süd-Ost ÄÖÜß");
        QTest::newRow("dots alone") << QStringLiteral("..") << QStringLiteral("..");
        QTest::newRow("dots and separators") << QStringLiteral("../../etc/x") << QStringLiteral(".._.._etc_x");
        QTest::newRow("separator") << QStringLiteral("Hof/Tor") << QStringLiteral("Hof_Tor");
        QTest::newRow("leading separator") << QStringLiteral("/") << QStringLiteral("_");
        QTest::newRow("control characters") << QStringLiteral("a\tb\nc\rd") + QChar(0x7f) + QChar(0x85)
                                            << QStringLiteral("a_b_c_d__");
        QTest::newRow("NUL") << QString(QChar(0)) + QStringLiteral("x") << QStringLiteral("_x");
        QTest::newRow("other punctuation stays") << QStringLiteral("a\\b:c*?\"<>|") << QStringLiteral("a\\b:c*?\"<>|");
    }

    void cameraNamesInFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, inFileName);
        QTemporaryDir dir;
        const QDateTime when(QDate(2006, 5, 12), QTime(13, 45, 7));
        const ImagePath image = ImagePathFor(AddBackslash(dir.path()), 1, name, when, false);
        QCOMPARE(image.fileName, QStringLiteral("20060512-134507(") + inFileName + QStringLiteral(").jpg"));

        // Whatever the name, the file lands in the hour folder.
        QCOMPARE(QFileInfo(image.path()).absolutePath(), image.folder);
        QCOMPARE(QFileInfo(QDir::cleanPath(image.path())).absolutePath(), image.folder);
        QtFileSystem fs;
        QVERIFY(EnsureFolder(fs, image.folder));
        QVERIFY(fs.writeFile(image.path(), "\xff\xd8\xff\xd9"));
        const QStringList files = QDir(image.folder).entryList(QDir::Files);
        QCOMPARE(files, QStringList({image.fileName}));
    }
};

QTEST_GUILESS_MAIN(TestArchiveLayout)
#include "tst_archivelayout.moc"
