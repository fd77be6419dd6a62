#include "app/AppState.h"
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
    TestPlatform mTp;
    RecordingView mView;   // outlives the state that shows on it
    AppState mState{mTp.platform};
    std::unique_ptr<QTemporaryDir> mDir;

    QString path(const char *relative) const { return mState.ArchivePath + rel(relative); }
    bool exists(const char *relative) const { return QFileInfo::exists(path(relative)); }
    void mkpath(const char *relative) const { QVERIFY(QDir().mkpath(path(relative))); }
    QString oldest(const char *kind = "HOUR") { return FindOldestFolder(mState, QString::fromLatin1(kind)); }

private slots:
    void init()
    {
        mDir = std::make_unique<QTemporaryDir>();
        mState.ArchivePath = AddBackslash(mDir->path());
        mState.SetView(&mView);
        mView.panel1.clear();
    }

    void names()
    {
        QCOMPARE(CamFolderName(100), QStringLiteral("CAM100"));
    }

    void oldestFolderOverSeveralCameras()
    {
        mState.CamCount = 4;
        QCOMPARE(oldest("HOUR"), rel("0000/00/00/00"));
        QCOMPARE(mView.panel1, QStringList({QStringLiteral("Finde älteste Stunde..."), QString()}));
        QCOMPARE(oldest("day"), rel("0000/00/00"));
        QCOMPARE(mView.panel1.at(2), QStringLiteral("Finde ältesten Tag..."));

        mkpath("CAM01/2006/05/12/13");
        mkpath("CAM01/2007/01/01/00");
        mkpath("CAM03/2006/05/11/22");   // CAM02 is missing: skipped
        mkpath("CAM03/2006/05/12/01");
        mkpath("CAM05/2001/01/01/01");   // beyond CamCount: not looked at
        QCOMPARE(oldest("HOUR"), rel("2006/05/11/22"));
        QCOMPARE(oldest("DAY"), rel("2006/05/11"));

        // A camera folder that links out of the archive is neither searched nor pruned.
        QTemporaryDir outside;
        QVERIFY(QDir(outside.path()).mkdir(QStringLiteral("2005")));
        QVERIFY(QFile::link(outside.path(), path("CAM04")));
        QCOMPARE(oldest(), rel("2006/05/11/22"));
        QVERIFY(QFileInfo::exists(outside.filePath(QStringLiteral("2005"))));
    }

    void emptyBranchesArePrunedOnTheWay()
    {
        mState.CamCount = 2;
        mkpath("CAM01/2005");
        mkpath("CAM01/2006/05/12/13");
        mkpath("CAM02/2006/05/12/14");

        // The empty year goes; that camera has no result this time.
        QCOMPARE(oldest(), rel("2006/05/12/14"));
        QVERIFY(!exists("CAM01/2005"));
        QCOMPARE(oldest(), rel("2006/05/12/13"));

        // That hour folder was empty and still counted. A day without hours counts only when
        // looking for days; looking for hours prunes it, one level per call.
        QVERIFY(QDir(path("CAM02")).removeRecursively());
        QVERIFY(QDir(path("CAM01/2006/05/12/13")).removeRecursively());
        QCOMPARE(oldest("DAY"), rel("2006/05/12"));
        QCOMPARE(oldest(), ZeroRelativePath(true));
        QVERIFY(!exists("CAM01/2006/05/12"));
        QVERIFY(exists("CAM01/2006/05"));

        // A camera folder without years goes too, never the archive.
        mkpath("CAM02");
        QCOMPARE(oldest(), ZeroRelativePath(true));
        QVERIFY(!exists("CAM02"));
        QVERIFY(QFileInfo(mState.ArchivePath).isDir());
    }

    void zeroTextWithoutAUsableArchive()
    {
        // Names outside the tree's fixed widths give no usable result.
        mState.CamCount = 2;
        mkpath("CAM01/x/y/z/w");
        QCOMPARE(oldest(), rel("0000/00/00/00"));

        // No archive chosen: an empty year of CAM02 in the working directory is none of our business.
        QVERIFY(QDir().mkpath(mDir->path() + rel("/CAM02/2005")));
        mState.ArchivePath.clear();
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(mDir->path()));
        const QString found = oldest();
        QVERIFY(QDir::setCurrent(cwd));
        QCOMPARE(found, rel("0000/00/00/00"));
        QVERIFY(QFileInfo(mDir->path() + rel("/CAM02/2005")).isDir());
    }

    void cameraNamesInFileNames()
    {
        const QDateTime when(QDate(2006, 5, 12), QTime(13, 45, 7));
        const ImagePath image = ImagePathFor(mState.ArchivePath, 1, QStringLiteral("../../etc/x"), when, false);
        QCOMPARE(image.folder, path("CAM01/2006/05/12/13"));
        QCOMPARE(image.fileName, QStringLiteral("20060512-134507(.._.._etc_x).jpg"));
        QCOMPARE(FileNameSafe(QStringLiteral("a\tb\nc") + QChar(0x7f) + QChar(0)), QStringLiteral("a_b_c__"));
        // Names that are fine stay exactly as typed.
        QCOMPARE(FileNameSafe(QStringLiteral("Einfahrt Süd-Ost ÄÖÜß")), QStringLiteral("Einfahrt Süd-Ost ÄÖÜß"));
        QCOMPARE(FileNameSafe(QStringLiteral("a\\b:c*?\"<>|")), QStringLiteral("a\\b:c*?\"<>|"));
    }
};

QTEST_GUILESS_MAIN(TestArchiveLayout)
#include "tst_archivelayout.moc"
