#include "platform/Platform.h"
#include "platform/QtFileSystem.h"
#include "platform/QtServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void foldersCreatedOneLevelAtATime();
    void subFoldersInOrdinalOrderWithoutLinks();
    void deleteFolderRemovesReadOnlyContents();
    void deleteFolderNeverFollowsLinks();
    void deleteFolderAndFileFailures();
    void fileLengthAndRead();
    void writeReplacesWholeAndAppendCreates();
    void freeSpaceOnNearestExistingAncestor();
    void realPlatformFillsEveryService();
    void launcherSplitsLikeAShell();

private:
    QtFileSystem mFs;
    std::unique_ptr<QTemporaryDir> mTemp;
    QString mRoot;

    QString path(const char *relative) const { return mRoot + QLatin1Char('/') + QString::fromUtf8(relative); }
    static bool put(const QString &path, const QByteArray &data)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
};

void TestPlatform::init()
{
    mTemp = std::make_unique<QTemporaryDir>();
    QVERIFY(mTemp->isValid());
    mRoot = mTemp->path();
}

void TestPlatform::foldersCreatedOneLevelAtATime()
{
    QVERIFY(!mFs.createFolder(path("a/b")));   // parent missing
    QVERIFY(mFs.createFolder(path("a")));
    QVERIFY(mFs.createFolder(path("a/b")));
    QVERIFY(mFs.createFolder(path("a/b/c")));
    QVERIFY(mFs.folderExists(path("a/b/c")));
    QVERIFY(!mFs.fileExists(path("a/b/c")));
    QVERIFY(!mFs.createFolder(path("a/b")));   // already there
    QVERIFY(!mFs.createFolder(QString()));
    QVERIFY(!mFs.folderExists(QString()));     // not the current folder
    // An archive reached through a link is still a folder.
    QVERIFY(QFile::link(path("a"), path("link")));
    QVERIFY(mFs.folderExists(path("link")));
}

void TestPlatform::subFoldersInOrdinalOrderWithoutLinks()
{
    QTemporaryDir outside;
    for (const char *name : {"CAM10", "CAM02", "b", "CAM01", "Z", ".hidden", "a"})
        QVERIFY(mFs.createFolder(path(name)));
    QVERIFY(put(path("AAA-file"), "x"));
    QVERIFY(put(path(".dotfile"), "x"));
    QVERIFY(QFile::link(outside.path(), path("0-dirlink")));
    const QStringList expected = {path(".hidden"), path("CAM01"), path("CAM02"), path("CAM10"),
                                  path("Z"),       path("a"),     path("b")};
    QCOMPARE(mFs.subFolders(mRoot), expected);
    QCOMPARE(mFs.subFolders(mRoot + QLatin1Char('/')), expected);   // no doubled separator
    QCOMPARE(mFs.subFolderCount(mRoot), 7);
    // The link is no folder, but it keeps the folder from counting as empty.
    QCOMPARE(mFs.fileCount(mRoot), 3);
    QCOMPARE(mFs.fileCount(path("a")), 0);
    QCOMPARE(mFs.subFolders(path("missing")), QStringList());
    QCOMPARE(mFs.subFolderCount(QString()), 0);
    QCOMPARE(mFs.fileCount(QString()), 0);
}

void TestPlatform::deleteFolderRemovesReadOnlyContents()
{
    QVERIFY(mFs.createFolder(path("CAM01")));
    QVERIFY(mFs.createFolder(path("CAM01/2006")));
    QVERIFY(mFs.createFolder(path("CAM01/2006/05")));
    QVERIFY(put(path("CAM01/2006/05/a.jpg"), "jpeg"));
    QVERIFY(put(path("CAM01/2006/.hidden"), "h"));
    QVERIFY(QFile::setPermissions(path("CAM01/2006/05/a.jpg"), QFile::ReadOwner));
    // A read-only folder loses its entries only when the deletion opens it up first.
    QVERIFY(QFile::setPermissions(path("CAM01/2006/05"), QFile::ReadOwner | QFile::ExeOwner));
    QString error = QStringLiteral("stale");
    QVERIFY(mFs.deleteFolder(path("CAM01"), &error));
    QVERIFY(error.isEmpty());
    QVERIFY(!QFileInfo::exists(path("CAM01")));
}

void TestPlatform::deleteFolderNeverFollowsLinks()
{
    QTemporaryDir outside;
    QVERIFY(put(outside.filePath("keep.jpg"), "keep"));
    QVERIFY(mFs.createFolder(path("tree")));
    QVERIFY(mFs.createFolder(path("tree/hour")));
    QVERIFY(QFile::link(outside.path(), path("tree/hour/out")));
    QVERIFY(QFile::link(outside.filePath("keep.jpg"), path("tree/file-link")));
    QVERIFY(QFile::link(path("nowhere"), path("tree/dangling")));
    QVERIFY(mFs.deleteFolder(path("tree")));
    QVERIFY(!QFileInfo::exists(path("tree")));
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList{"keep.jpg"});

    // A link given as the folder itself: only the link goes.
    QVERIFY(QFile::link(outside.path(), path("link")));
    QVERIFY(mFs.deleteFolder(path("link")));
    QVERIFY(!QFileInfo(path("link")).isSymLink());
    QVERIFY(QFileInfo::exists(outside.filePath("keep.jpg")));
}

void TestPlatform::deleteFolderAndFileFailures()
{
    QString error;
    QVERIFY(!mFs.deleteFolder(path("missing"), &error));
    QVERIFY(error.contains(QLatin1String("missing")));
    QVERIFY(put(path("file"), "x"));
    QVERIFY(!mFs.deleteFolder(path("file"), &error));
    QVERIFY(QFileInfo::exists(path("file")));
    QVERIFY(!mFs.deleteFolder(QString()));

    QVERIFY(QFile::setPermissions(path("file"), QFile::ReadOwner));
    QVERIFY(mFs.deleteFile(path("file")));
    QVERIFY(!mFs.deleteFile(path("file")));
    QVERIFY(mFs.createFolder(path("dir")));
    QVERIFY(!mFs.deleteFile(path("dir")));
    QVERIFY(mFs.folderExists(path("dir")));
}

void TestPlatform::fileLengthAndRead()
{
    QCOMPARE(mFs.fileLength(path("missing.jpg")), qint64(-1));
    QVERIFY(mFs.createFolder(path("dir")));
    QCOMPARE(mFs.fileLength(path("dir")), qint64(-1));
    const QByteArray jpeg("\xFF\xD8\x00\x01\xFF\xD9", 6);
    QVERIFY(put(path("img.jpg"), jpeg));
    QCOMPARE(mFs.fileLength(path("img.jpg")), qint64(6));

    QByteArray data("old");
    QVERIFY(mFs.readFile(path("img.jpg"), data));
    QCOMPARE(data, jpeg);
    data = "old";
    QVERIFY(!mFs.readFile(path("missing.jpg"), data));
    QVERIFY(!mFs.readFile(path("dir"), data));
    QCOMPARE(data, QByteArray("old"));
}

void TestPlatform::writeReplacesWholeAndAppendCreates()
{
    QVERIFY(mFs.writeFile(path("Bildfang.ini"), "a much longer first content\r\n"));
    QVERIFY(mFs.writeFile(path("Bildfang.ini"), "short"));
    QByteArray data;
    QVERIFY(mFs.readFile(path("Bildfang.ini"), data));
    QCOMPARE(data, QByteArray("short"));
    // Atomic: no temporary file is left beside it.
    QCOMPARE(QDir(mRoot).entryList(QDir::Files | QDir::Hidden), QStringList{"Bildfang.ini"});

    const QString log = path("Bildfang Log 20060512.txt");
    QString error = QStringLiteral("stale");
    QVERIFY(mFs.appendFile(log, "eins\r\n", &error));
    QVERIFY(error.isEmpty());
    QVERIFY(mFs.appendFile(log, "zwei\r\n"));
    QVERIFY(mFs.readFile(log, data));
    QCOMPARE(data, QByteArray("eins\r\nzwei\r\n"));

    QVERIFY(!mFs.writeFile(path("no/such/folder/x.ini"), "x", &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!mFs.appendFile(path("no/such/folder/x.txt"), "x", &error));
    QVERIFY(!error.isEmpty());
}

void TestPlatform::freeSpaceOnNearestExistingAncestor()
{
    const qint64 here = mFs.freeBytes(mRoot);
    QVERIFY(here > 0);
    QVERIFY(mFs.driveReady(mRoot));
    // A folder not yet made is measured on the file system that would hold it.
    QVERIFY(mFs.driveReady(path("CAM01/2006/05")));
    const qint64 below = mFs.freeBytes(path("CAM01/2006/05"));
    QVERIFY(below > 0);
    QVERIFY(qAbs(below - here) < 64 * 1024 * 1024);   // others may write meanwhile
    QVERIFY(!mFs.driveReady(QString()));
    QCOMPARE(mFs.freeBytes(QString()), qint64(-1));
}

void TestPlatform::realPlatformFillsEveryService()
{
    const Platform platform = Platform::real();
    QVERIFY(platform.clock && platform.fileSystem && platform.events && platform.dialogs
            && platform.launcher && platform.program);
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime now = platform.clock->now();
    QVERIFY(now >= before && now <= before.addSecs(60));
    QCOMPARE(now.timeSpec(), Qt::LocalTime);
    QCOMPARE(platform.program->programFolder(), QCoreApplication::applicationDirPath());
    platform.dialogs->messageBox("t", "x", Dialogs::Icon::Warning);   // returns at once
}

void TestPlatform::launcherSplitsLikeAShell()
{
    // The started script writes its arguments, one per line, into the file named first.
    const QString script = path("args.sh");
    const QString out = path("out with blank.txt");
    QVERIFY(put(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$1\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QtLauncher launcher;
    QVERIFY(launcher.startDetached("\"" + script + "\" \"" + out + "\" plain \"two words\""));
    // It runs on its own; wait for its output, not for a timer.
    QByteArray data;
    for (int i = 0; i < 500 && !data.endsWith("two words\n"); ++i) {
        usleep(10000);
        mFs.readFile(out, data);
    }
    QCOMPARE(data, (out + "\nplain\ntwo words\n").toUtf8());
    QVERIFY(!launcher.startDetached(QString()));
    QVERIFY(!launcher.startDetached("   "));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
