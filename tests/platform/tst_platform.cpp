#include "platform/Platform.h"
#include "platform/QtFileSystem.h"
#include "platform/QtServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <unistd.h>

namespace {

bool WriteBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void createFolderNeedsParentAndNests();
    void existenceOfFilesAndFolders();
    void subFoldersInOrdinalOrder();
    void countsLeaveLinksOutOfFolders();
    void deleteFolderRemovesReadOnlyContents();
    void deleteFolderDoesNotFollowLinks();
    void deleteFolderGivenALinkRemovesOnlyTheLink();
    void deleteFolderOfMissingPathFails();
    void deleteFile();
    void fileLengthAndReads();
    void writeFileReplacesWhole();
    void writeFileFailureReported();
    void appendFileCreatesAndAppends();
    void freeSpaceOnNearestExistingAncestor();

    void realPlatformFillsEveryService();
    void launcherSplitsLikeAShell();
    void eventsRunPendingEvents();

private:
    QtFileSystem mFs;
    QString mRoot;
    std::unique_ptr<QTemporaryDir> mHolder;

    QString path(const QString &relative) const { return mRoot + QLatin1Char('/') + relative; }
};

void TestPlatform::init()
{
    mHolder = std::make_unique<QTemporaryDir>();
    QVERIFY(mHolder->isValid());
    mRoot = mHolder->path();
}

void TestPlatform::createFolderNeedsParentAndNests()
{
    QVERIFY(!mFs.createFolder(path("a/b")));          // parent missing
    QVERIFY(mFs.createFolder(path("a")));
    QVERIFY(mFs.createFolder(path("a/b")));
    QVERIFY(mFs.createFolder(path("a/b/c")));
    QVERIFY(mFs.folderExists(path("a/b/c")));
    QVERIFY(!mFs.createFolder(path("a/b")));          // already there
    QVERIFY(!mFs.createFolder(QString()));
}

void TestPlatform::existenceOfFilesAndFolders()
{
    QVERIFY(mFs.createFolder(path("d")));
    QVERIFY(WriteBytes(path("f.jpg"), "x"));
    QVERIFY(mFs.folderExists(path("d")));
    QVERIFY(!mFs.fileExists(path("d")));
    QVERIFY(mFs.fileExists(path("f.jpg")));
    QVERIFY(!mFs.folderExists(path("f.jpg")));
    QVERIFY(!mFs.fileExists(path("none")));
    QVERIFY(!mFs.folderExists(QString()));
    QVERIFY(!mFs.fileExists(QString()));
    // An archive folder reached through a link is still a folder.
    QVERIFY(QFile::link(path("d"), path("linkToD")));
    QVERIFY(mFs.folderExists(path("linkToD")));
}

void TestPlatform::subFoldersInOrdinalOrder()
{
    for (const char *name : {"CAM10", "CAM02", "b", "CAM01", "Z", ".hidden", "a"})
        QVERIFY(mFs.createFolder(path(QString::fromLatin1(name))));
    QVERIFY(WriteBytes(path("AAA-file"), "x"));
    const QStringList expected = {path(".hidden"), path("CAM01"), path("CAM02"), path("CAM10"),
                                  path("Z"),       path("a"),     path("b")};
    QCOMPARE(mFs.subFolders(mRoot), expected);
    QCOMPARE(mFs.subFolders(mRoot + QLatin1Char('/')), expected);   // no doubled separator
    QCOMPARE(mFs.subFolderCount(mRoot), 7);
    QCOMPARE(mFs.subFolders(path("missing")), QStringList());
    QCOMPARE(mFs.subFolderCount(QString()), 0);
}

void TestPlatform::countsLeaveLinksOutOfFolders()
{
    QTemporaryDir outside;
    QVERIFY(mFs.createFolder(path("sub")));
    QVERIFY(WriteBytes(path("one.jpg"), "1"));
    QVERIFY(WriteBytes(path(".two"), "2"));
    QVERIFY(QFile::link(outside.path(), path("dirLink")));
    QCOMPARE(mFs.subFolderCount(mRoot), 1);
    QCOMPARE(mFs.subFolders(mRoot), QStringList{path("sub")});
    // The link is no folder, but it still keeps the folder from counting as empty.
    QCOMPARE(mFs.fileCount(mRoot), 3);
    QCOMPARE(mFs.fileCount(path("sub")), 0);
    QCOMPARE(mFs.fileCount(path("missing")), 0);
}

void TestPlatform::deleteFolderRemovesReadOnlyContents()
{
    QVERIFY(mFs.createFolder(path("CAM01")));
    QVERIFY(mFs.createFolder(path("CAM01/2006")));
    QVERIFY(mFs.createFolder(path("CAM01/2006/05")));
    QVERIFY(WriteBytes(path("CAM01/2006/05/a.jpg"), "jpeg"));
    QVERIFY(WriteBytes(path("CAM01/2006/.hidden"), "h"));
    QVERIFY(QFile::setPermissions(path("CAM01/2006/05/a.jpg"), QFile::ReadOwner));
    // A read-only folder cannot lose its entries unless the deletion opens it up.
    QVERIFY(QFile::setPermissions(path("CAM01/2006/05"), QFile::ReadOwner | QFile::ExeOwner));
    QString error = QStringLiteral("stale");
    QVERIFY(mFs.deleteFolder(path("CAM01"), &error));
    QVERIFY(error.isEmpty());
    QVERIFY(!QFileInfo::exists(path("CAM01")));
}

void TestPlatform::deleteFolderDoesNotFollowLinks()
{
    QTemporaryDir outside;
    QVERIFY(WriteBytes(outside.filePath("keep.jpg"), "keep"));
    QVERIFY(mFs.createFolder(path("tree")));
    QVERIFY(mFs.createFolder(path("tree/hour")));
    QVERIFY(QFile::link(outside.path(), path("tree/hour/out")));
    QVERIFY(QFile::link(outside.filePath("keep.jpg"), path("tree/file-link")));
    QVERIFY(QFile::link(path("nowhere"), path("tree/dangling")));
    QVERIFY(mFs.deleteFolder(path("tree")));
    QVERIFY(!QFileInfo::exists(path("tree")));
    QVERIFY(QFileInfo::exists(outside.filePath("keep.jpg")));
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files).size(), 1);
}

void TestPlatform::deleteFolderGivenALinkRemovesOnlyTheLink()
{
    QTemporaryDir outside;
    QVERIFY(WriteBytes(outside.filePath("keep.jpg"), "keep"));
    QVERIFY(QFile::link(outside.path(), path("link")));
    QVERIFY(mFs.deleteFolder(path("link")));
    QVERIFY(!QFileInfo(path("link")).isSymLink());
    QVERIFY(QFileInfo::exists(outside.filePath("keep.jpg")));
}

void TestPlatform::deleteFolderOfMissingPathFails()
{
    QString error;
    QVERIFY(!mFs.deleteFolder(path("missing"), &error));
    QVERIFY(error.contains(QLatin1String("missing")));
    QVERIFY(WriteBytes(path("file"), "x"));
    QVERIFY(!mFs.deleteFolder(path("file"), &error));
    QVERIFY(QFileInfo::exists(path("file")));
    QVERIFY(!mFs.deleteFolder(QString()));
}

void TestPlatform::deleteFile()
{
    QVERIFY(WriteBytes(path("ro.jpg"), "x"));
    QVERIFY(QFile::setPermissions(path("ro.jpg"), QFile::ReadOwner));
    QVERIFY(mFs.deleteFile(path("ro.jpg")));
    QVERIFY(!QFileInfo::exists(path("ro.jpg")));
    QVERIFY(!mFs.deleteFile(path("ro.jpg")));
    QVERIFY(mFs.createFolder(path("dir")));
    QVERIFY(!mFs.deleteFile(path("dir")));
    QVERIFY(mFs.folderExists(path("dir")));
}

void TestPlatform::fileLengthAndReads()
{
    QCOMPARE(mFs.fileLength(path("missing.jpg")), qint64(-1));
    QVERIFY(mFs.createFolder(path("dir")));
    QCOMPARE(mFs.fileLength(path("dir")), qint64(-1));
    QVERIFY(WriteBytes(path("empty"), QByteArray()));
    QCOMPARE(mFs.fileLength(path("empty")), qint64(0));
    const QByteArray jpeg("\xFF\xD8\x00\x01\xFF\xD9", 6);
    QVERIFY(WriteBytes(path("img.jpg"), jpeg));
    QCOMPARE(mFs.fileLength(path("img.jpg")), qint64(6));

    QByteArray data("old");
    QVERIFY(mFs.readFile(path("img.jpg"), data));
    QCOMPARE(data, jpeg);
    data = "old";
    QVERIFY(!mFs.readFile(path("missing.jpg"), data));
    QVERIFY(!mFs.readFile(path("dir"), data));
    QCOMPARE(data, QByteArray("old"));
}

void TestPlatform::writeFileReplacesWhole()
{
    QVERIFY(mFs.writeFile(path("Bildfang.ini"), "a much longer first content\r\n"));
    QVERIFY(mFs.writeFile(path("Bildfang.ini"), "short"));
    QByteArray data;
    QVERIFY(mFs.readFile(path("Bildfang.ini"), data));
    QCOMPARE(data, QByteArray("short"));
    // Atomic: no temporary file is left beside it.
    QCOMPARE(QDir(mRoot).entryList(QDir::Files | QDir::Hidden), QStringList{"Bildfang.ini"});
}

void TestPlatform::writeFileFailureReported()
{
    QString error;
    QVERIFY(!mFs.writeFile(path("no/such/folder/x.ini"), "x", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!mFs.appendFile(path("no/such/folder/x.txt"), "x", &error));
    QVERIFY(!error.isEmpty());
}

void TestPlatform::appendFileCreatesAndAppends()
{
    const QString log = path("Bildfang Log 20060512.txt");
    QString error = QStringLiteral("stale");
    QVERIFY(mFs.appendFile(log, "<12.05.2006 13:45> eins\r\n", &error));
    QVERIFY(error.isEmpty());
    QVERIFY(mFs.appendFile(log, "<12.05.2006 13:46> zwei\r\n"));
    QByteArray data;
    QVERIFY(mFs.readFile(log, data));
    QCOMPARE(data, QByteArray("<12.05.2006 13:45> eins\r\n<12.05.2006 13:46> zwei\r\n"));
}

void TestPlatform::freeSpaceOnNearestExistingAncestor()
{
    const qint64 here = mFs.freeBytes(mRoot);
    QVERIFY(here > 0);
    QVERIFY(mFs.driveReady(mRoot));
    // A folder that does not exist yet is measured on the file system that would hold it.
    QVERIFY(mFs.driveReady(path("CAM01/2006/05")));
    const qint64 below = mFs.freeBytes(path("CAM01/2006/05"));
    QVERIFY(below > 0);
    QVERIFY(qAbs(below - here) < 64 * 1024 * 1024);   // same file system, others may write meanwhile
    QVERIFY(!mFs.driveReady(QString()));
    QCOMPARE(mFs.freeBytes(QString()), qint64(-1));
}

void TestPlatform::realPlatformFillsEveryService()
{
    const Platform platform = Platform::real();
    QVERIFY(platform.clock);
    QVERIFY(platform.fileSystem);
    QVERIFY(platform.events);
    QVERIFY(platform.dialogs);
    QVERIFY(platform.launcher);
    QVERIFY(platform.program);
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime now = platform.clock->now();
    QVERIFY(now >= before.addSecs(-1) && now <= before.addSecs(60));
    QCOMPARE(now.timeSpec(), Qt::LocalTime);
    QCOMPARE(platform.program->programFolder(), QCoreApplication::applicationDirPath());
    platform.dialogs->messageBox(QStringLiteral("t"), QStringLiteral("x"), Dialogs::Icon::Warning);   // returns at once
}

void TestPlatform::launcherSplitsLikeAShell()
{
    // The started program writes its arguments, one per line, into a file we then read.
    const QString script = path("args.sh");
    const QString out = path("out with blank.txt");
    QVERIFY(WriteBytes(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$1\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QtLauncher launcher;
    QVERIFY(launcher.startDetached(QLatin1Char('"') + script + QStringLiteral("\" \"") + out
                                   + QStringLiteral("\" plain \"two words\"")));
    // The program runs on its own; poll the file system, not a timer.
    QByteArray data;
    for (int i = 0; i < 500 && !data.endsWith("two words\n"); ++i) {
        usleep(10000);
        mFs.readFile(out, data);
    }
    QCOMPARE(data, (out + QStringLiteral("\nplain\ntwo words\n")).toUtf8());
    QVERIFY(!launcher.startDetached(QString()));
    QVERIFY(!launcher.startDetached(QStringLiteral("   ")));
}

void TestPlatform::eventsRunPendingEvents()
{
    bool ran = false;
    QTimer::singleShot(0, this, [&ran] { ran = true; });
    QtEvents events;
    events.processPendingEvents();
    QVERIFY(ran);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
