// Several instances of the real program side by side: the folder given by --config, its
// lock, and an archive folder that two instances record into.
#include "config/Settings.h"
#include "support/Files.h"
#include "support/SettingsText.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs in `work` without a display, the XDG folders inside it; given an archive, its settings
// record one camera (nobody answers on port 1) there. Ready once it holds its lock: a SIGTERM then ends it as
// "Beenden" does.
struct Instance
{
    QProcess process;
    QString folder;

    Instance(const QTemporaryDir &work, const QString &name, const QString &archive)
        : folder(work.filePath(name))
    {
        if (!archive.isEmpty())
            WriteAll(SettingsFileNameFor(folder), SettingsText({{"ARCHIVE", archive + '/'}, {"CAM_COUNT", "1"}, {"RECORD", "True"},
                                                                {"CAM01_SOCKET", "127.0.0.1:1"}, {"CAM01_RATE", "5"}}).toUtf8());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), work.filePath(QStringLiteral("xdg")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), work.filePath(QStringLiteral("xdg")));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(work.path());
    }

    bool ready() const { return ReadAll(folder + "/Bildfang.lock").startsWith(QByteArray::number(process.processId()) + '\n'); }

    // The day's log after a SIGTERM; empty when it did not end cleanly.
    QString stop()
    {
        process.terminate();
        if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return QString();
        return QString::fromUtf8(ReadAll(folder + '/' + QDir(folder).entryList({QStringLiteral("Bildfang Log *.txt")}).value(0)));
    }
};

} // namespace

class TestInstances : public QObject
{
    Q_OBJECT

private slots:
    // A relative folder counts from the working folder. The second instance there refuses and
    // names the first; once the first was killed, the lock file it left is taken over.
    void sameConfigFolder()
    {
        QTemporaryDir work;
        Instance first(work, "garten", work.filePath("archiv")), second(work, "garten", ""), third(work, "garten", "");
        first.process.start(QStringLiteral(BILDFANG_PATH), {"--config", "garten/"});
        QTRY_VERIFY_WITH_TIMEOUT(first.ready(), 20000);
        second.process.start(QStringLiteral(BILDFANG_PATH), {"--config=" + first.folder});
        QVERIFY(second.process.waitForFinished());
        QCOMPARE(second.process.exitCode(), 3);
        const QString refusal = QString::fromUtf8(second.process.readAllStandardError());
        QVERIFY2(refusal.contains(QStringLiteral("Der Ordner \"%1\" wird schon von einer laufenden Bildfang-Instanz benutzt (Prozess %2)")
                                      .arg(first.folder).arg(first.process.processId())),
                 qPrintable(refusal));

        first.process.kill();
        QVERIFY(first.process.waitForFinished());
        third.process.start(QStringLiteral(BILDFANG_PATH), {"--config", first.folder});
        QTRY_VERIFY_WITH_TIMEOUT(third.ready(), 20000);
        QVERIFY(third.stop().contains(QLatin1String("Aufnahme gestartet")));
        QVERIFY(!QFile::exists(first.folder + "/Bildfang.lock") && !QDir(work.filePath("xdg")).exists());
    }

    // Two instances recording into one archive folder: the later one warns in its log.
    void sharedArchive()
    {
        QTemporaryDir work;
        const QString archive = work.filePath("archiv");
        QVERIFY(QDir().mkpath(archive));
        Instance first(work, "hof", archive), second(work, "garten", archive);
        first.process.start(QStringLiteral(BILDFANG_PATH), {"--config", first.folder});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(archive + "/Bildfang-Archiv.lock") && first.ready(), 20000);
        second.process.start(QStringLiteral(BILDFANG_PATH), {"--config", second.folder});
        QTRY_VERIFY_WITH_TIMEOUT(second.ready(), 20000);
        const QString log = second.stop();
        QVERIFY2(log.contains(QStringLiteral("Speicherort wird auch von einer anderen Bildfang-Instanz benutzt!\r\n  >\"%1/ (Prozess %2)\"")
                                  .arg(archive).arg(first.process.processId())),
                 qPrintable(log));
        QVERIFY(!first.stop().contains(QLatin1String("Speicherort wird auch")));
    }
};

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
