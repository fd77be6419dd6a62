#include "platform/QtFileSystem.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"
#include "support/Unprivileged.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

class TestPlatform : public QObject
{
    Q_OBJECT

    QtFileSystem mFs;
    std::unique_ptr<QTemporaryDir> mTemp;
    QString path(const char *relative) const { return mTemp->filePath(QString::fromUtf8(relative)); }

private slots:
    void init() { mTemp = std::make_unique<QTemporaryDir>(); }

    void createAndListFolders()
    {
        // Ordinal name order; a link to a folder is no folder, but keeps its parent from counting as empty.
        QVERIFY(!mFs.folderExists(QString()));   // not the current folder
        QTemporaryDir outside;
        for (const char *name : {"CAM10", "CAM01", "CAM02", "b", "Z", ".hidden"})
            QVERIFY(mFs.createFolder(path(name)));
        QVERIFY(WriteAll(path("AAA-file"), "x") && QFile::link(outside.path(), path("0-dirlink")));
        QVERIFY(mFs.folderExists(path("0-dirlink")));   // an archive reached through a link
        const QStringList expected = {path(".hidden"), path("CAM01"), path("CAM02"), path("CAM10"), path("Z"), path("b")};
        QCOMPARE(mFs.subFolders(mTemp->path()), expected);
        QCOMPARE(mFs.subFolders(mTemp->path() + '/'), expected);   // no doubled separator
        QCOMPARE(mFs.subFolderCount(mTemp->path()), 6);
        QCOMPARE(mFs.fileCount(mTemp->path()), 2);
        QCOMPARE(mFs.fileCount(path("b")), 0);
    }

    void deleteFolderAndFile()
    {
        // Links inside are removed, never followed; a link given as the folder goes alone.
        QTemporaryDir outside;
        QVERIFY(WriteAll(outside.filePath("keep.jpg"), "keep") && QDir().mkpath(path("CAM01/2006")));
        QVERIFY(QFile::link(outside.path(), path("CAM01/2006/out")) && QFile::link(outside.path(), path("link")));
        QVERIFY(QFile::link(outside.filePath("keep.jpg"), path("CAM01/file-link")));
        QString error = QStringLiteral("stale");
        QVERIFY(mFs.deleteFolder(path("CAM01"), &error) && error.isEmpty() && !QFileInfo::exists(path("CAM01")));
        QVERIFY(mFs.deleteFolder(path("link")) && !QFileInfo(path("link")).isSymLink());
        QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList{"keep.jpg"});

        QVERIFY(!mFs.deleteFolder(path("missing"), &error) && error.contains(QLatin1String("missing")));
        QVERIFY(WriteAll(path("file"), "x") && !mFs.deleteFolder(path("file")));
        QVERIFY(QFile::setPermissions(path("file"), QFile::ReadOwner) && mFs.deleteFile(path("file")));
        QVERIFY(!QFileInfo::exists(path("file")));

        // A read-only file in a read-only folder goes too.
        SKIP_AS_ROOT();
        QVERIFY(WriteAll(path("CAM02/2006/05/a.jpg"), "jpeg") && QFile::setPermissions(path("CAM02/2006/05/a.jpg"), QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(path("CAM02/2006/05"), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(mFs.deleteFolder(path("CAM02"), &error) && !QFileInfo::exists(path("CAM02")));
    }

    // Root's folders in an hour folder of nobody's: nobody may not delete them, the rest goes. The
    // deletion runs with nobody's file access (setfsuid affects this thread only); only root sets it up.
    void undeletableFileLeavesTheRestToGo()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to hand folders to another user; runs as root in tst_platform");
        QStringList nobodys = {mTemp->path(), path("13"), path("13/sub"), path("13/sub/g.jpg")};
        for (const char c : QByteArray("abcdef"))
            nobodys << path("13/") + c + ".jpg";
        for (const QString &file : nobodys.mid(3) + QStringList{path("13/locked1/x.jpg"), path("13/locked2/y.jpg")})
            QVERIFY(WriteAll(file, "x"));
        for (const QString &name : nobodys)
            QCOMPARE(::chown(QFile::encodeName(name).constData(), 65534, 65534), 0);

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
        QCOMPARE(QDir(path("13")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"locked1", "locked2"}));
    }

    void readAndWrite()
    {
        QVERIFY(mFs.writeFile(path("Bildfang.ini"), "a much longer first content\r\n") && mFs.writeFile(path("Bildfang.ini"), "short"));
        QByteArray data;
        QVERIFY(mFs.readFile(path("Bildfang.ini"), data));
        QCOMPARE(data, QByteArray("short"));
        // Atomic: no temporary file is left beside it.
        QCOMPARE(QDir(mTemp->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Bildfang.ini"});
        QVERIFY(!mFs.readFile(path("missing.jpg"), data));
        QCOMPARE(data, QByteArray("short"));   // untouched on failure
    }

    // More images than the sync worker keeps descriptors for: every one is published whole,
    // the worker never holds more than 256 at once (a burst faster than its one second would
    // pass that), and none outlives the file system object.
    void publishedFilesLeaveNoDescriptors()
    {
        const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(); };
        const qsizetype before = openFiles();
        {
            QtFileSystem fs;
            qsizetype most = 0;
            for (int i = 0; i < 600; ++i) {
                QVERIFY(fs.publishFile(path("img.jpg"), QByteArray::number(i), nullptr, nullptr));
                if (i % 32 == 31)
                    most = std::max(most, openFiles() - before);
            }
            QVERIFY2(most <= 256 + 4, qPrintable(QString::number(most)));
        }
        QCOMPARE(openFiles(), before);
        QCOMPARE(ReadAll(path("img-600.jpg")), QByteArray("599"));
    }

    // Files may not grow past 16 bytes: a larger image or file is refused with the system's
    // reason, also when it fails only as the buffer is written out at the end, and nothing half
    // written is left, nor a temporary file; killed in the middle of writing, the image's name
    // and the replaced file show nothing half written either.
    void fileSizeLimit()
    {
        const QByteArray large(64, 'n');
        QVERIFY(WriteAll(path("Bildfang.ini"), "old"));
        QString error;
        {
            FileSizeLimit full(16);
            QVERIFY(!mFs.publishFile(path("a.jpg"), large, nullptr, &error));
            QCOMPARE(error, path("a.jpg") + ": " + qt_error_string(EFBIG));
            QVERIFY(!mFs.writeFile(path("Bildfang.ini"), large, &error) && !error.isEmpty());
        }
        QCOMPARE(QDir(mTemp->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Bildfang.ini"});
        QVERIFY(KilledAtFileSize(16, [&] { QtFileSystem().publishFile(path("b.jpg"), large, nullptr); }));
        QVERIFY(KilledAtFileSize(16, [&] { QtFileSystem().writeFile(path("Bildfang.ini"), large); }));
        QVERIFY(QDir(mTemp->path()).entryList({"*.jpg"}, QDir::Files | QDir::Hidden).isEmpty());
        QCOMPARE(ReadAll(path("Bildfang.ini")), QByteArray("old"));
    }

    void freeSpaceOnNearestExistingAncestor()
    {
        const qint64 here = mFs.freeBytes(mTemp->path());
        QVERIFY(here > 0);
        // A folder not yet made is measured on the file system that would hold it.
        QVERIFY(mFs.driveReady(path("CAM01/2006/05")));
        QVERIFY(qAbs(mFs.freeBytes(path("CAM01/2006/05")) - here) < 64 * 1024 * 1024);   // others write meanwhile
        QVERIFY(!mFs.driveReady(QString()));
        QCOMPARE(mFs.freeBytes(QString()), qint64(-1));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
