#include "platform/QtFileSystem.h"
#include "platform/QtServices.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void createAndListFolders();
    void deleteFolderAndFile();
    void undeletableFileLeavesTheRestToGo();
    void readAndWrite();
    void freeSpaceOnNearestExistingAncestor();
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

void TestPlatform::createAndListFolders()
{
    QVERIFY(!mFs.createFolder(path("CAM01/2006")));   // one level at a time
    QVERIFY(mFs.createFolder(path("CAM01")));
    QVERIFY(mFs.createFolder(path("CAM01/2006")));
    QVERIFY(!mFs.createFolder(path("CAM01/2006")));   // already there
    QVERIFY(!mFs.folderExists(QString()));             // not the current folder

    // Ordinal name order; a link to a folder is no folder, but keeps its parent from counting as empty.
    QTemporaryDir outside;
    for (const char *name : {"CAM10", "CAM02", "b", "Z", ".hidden"})
        QVERIFY(mFs.createFolder(path(name)));
    QVERIFY(put(path("AAA-file"), "x"));
    QVERIFY(QFile::link(outside.path(), path("0-dirlink")));
    QVERIFY(mFs.folderExists(path("0-dirlink")));   // an archive reached through a link
    const QStringList expected = {path(".hidden"), path("CAM01"), path("CAM02"), path("CAM10"), path("Z"), path("b")};
    QCOMPARE(mFs.subFolders(mRoot), expected);
    QCOMPARE(mFs.subFolders(mRoot + QLatin1Char('/')), expected);   // no doubled separator
    QCOMPARE(mFs.subFolderCount(mRoot), 6);
    QCOMPARE(mFs.fileCount(mRoot), 2);
    QCOMPARE(mFs.fileCount(path("b")), 0);
}

void TestPlatform::deleteFolderAndFile()
{
    // Links inside are removed, never followed; a link given as the folder goes alone.
    QTemporaryDir outside;
    QVERIFY(put(outside.filePath("keep.jpg"), "keep"));
    QVERIFY(QDir().mkpath(path("CAM01/2006")));
    QVERIFY(QFile::link(outside.path(), path("CAM01/2006/out")));
    QVERIFY(QFile::link(outside.filePath("keep.jpg"), path("CAM01/file-link")));
    QVERIFY(QFile::link(outside.path(), path("link")));
    QString error = QStringLiteral("stale");
    QVERIFY(mFs.deleteFolder(path("CAM01"), &error));
    QVERIFY(error.isEmpty());
    QVERIFY(!QFileInfo::exists(path("CAM01")));
    QVERIFY(mFs.deleteFolder(path("link")));
    QVERIFY(!QFileInfo(path("link")).isSymLink());
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList{"keep.jpg"});

    QVERIFY(!mFs.deleteFolder(path("missing"), &error));
    QVERIFY(error.contains(QLatin1String("missing")));
    QVERIFY(put(path("file"), "x"));
    QVERIFY(!mFs.deleteFolder(path("file")));
    QVERIFY(QFile::setPermissions(path("file"), QFile::ReadOwner));
    QVERIFY(mFs.deleteFile(path("file")));
    QVERIFY(!QFileInfo::exists(path("file")));

    // A read-only file in a read-only folder goes too.
    SKIP_AS_ROOT();
    QVERIFY(QDir().mkpath(path("CAM02/2006/05")));
    QVERIFY(put(path("CAM02/2006/05/a.jpg"), "jpeg"));
    QVERIFY(QFile::setPermissions(path("CAM02/2006/05/a.jpg"), QFile::ReadOwner));
    QVERIFY(QFile::setPermissions(path("CAM02/2006/05"), QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY(mFs.deleteFolder(path("CAM02"), &error));
    QVERIFY(!QFileInfo::exists(path("CAM02")));
}

// Files nobody may not delete: root's folders in an hour folder of nobody's. The deletion runs
// with nobody's file access (setfsuid affects this thread only), so only root can set it up.
void TestPlatform::undeletableFileLeavesTheRestToGo()
{
    if (::geteuid() != 0)
        QSKIP("needs root to hand folders to another user; runs as root in tst_platform");
    for (const char *name : {"13/sub", "13/locked1", "13/locked2"})
        QVERIFY(QDir().mkpath(path(name)));
    for (const char *name : {"13/a.jpg", "13/b.jpg", "13/c.jpg", "13/d.jpg", "13/e.jpg", "13/f.jpg", "13/sub/g.jpg",
                             "13/locked1/x.jpg", "13/locked2/y.jpg"})
        QVERIFY(put(path(name), "x"));
    for (const char *name : {"", "13", "13/a.jpg", "13/b.jpg", "13/c.jpg", "13/d.jpg", "13/e.jpg", "13/f.jpg",
                             "13/sub", "13/sub/g.jpg"})
        QCOMPARE(::chown(QFile::encodeName(path(name)).constData(), 65534, 65534), 0);

    QString error;
    ::setfsgid(65534);
    ::setfsuid(65534);
    struct stat st;   // QFileInfo may ask access(), which goes by the real user
    const bool reachable = ::stat(QFile::encodeName(path("13/a.jpg")).constData(), &st) == 0;
    const bool deleted = reachable && mFs.deleteFolder(path("13"), &error);
    ::setfsuid(0);
    ::setfsgid(0);
    if (!reachable)
        QSKIP("nobody cannot reach the temporary folder; set TMPDIR to a folder others may enter");
    QVERIFY(!deleted);
    QVERIFY2(error.contains(QLatin1String(".jpg")), qPrintable(error));
    QCOMPARE(QDir(path("13")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
             QStringList({"locked1", "locked2"}));
}

void TestPlatform::readAndWrite()
{
    QVERIFY(mFs.writeFile(path("Bildfang.ini"), "a much longer first content\r\n"));
    QVERIFY(mFs.writeFile(path("Bildfang.ini"), "short"));
    QByteArray data;
    QVERIFY(mFs.readFile(path("Bildfang.ini"), data));
    QCOMPARE(data, QByteArray("short"));
    // Atomic: no temporary file is left beside it.
    QCOMPARE(QDir(mRoot).entryList(QDir::Files | QDir::Hidden), QStringList{"Bildfang.ini"});

    QVERIFY(!mFs.readFile(path("missing.jpg"), data));
    QCOMPARE(data, QByteArray("short"));   // untouched on failure
}

void TestPlatform::freeSpaceOnNearestExistingAncestor()
{
    const qint64 here = mFs.freeBytes(mRoot);
    QVERIFY(here > 0);
    // A folder not yet made is measured on the file system that would hold it.
    QVERIFY(mFs.driveReady(path("CAM01/2006/05")));
    QVERIFY(qAbs(mFs.freeBytes(path("CAM01/2006/05")) - here) < 64 * 1024 * 1024);   // others write meanwhile
    QVERIFY(!mFs.driveReady(QString()));
    QCOMPARE(mFs.freeBytes(QString()), qint64(-1));
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
    const QByteArray expected = (out + "\nplain\ntwo words\n").toUtf8();
    QByteArray data;
    QVERIFY(QTest::qWaitFor([&] { return mFs.readFile(out, data) && data == expected; }, 5000));
    QVERIFY(!launcher.startDetached("   "));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
