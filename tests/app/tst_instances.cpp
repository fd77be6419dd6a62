// Several instances of the real program side by side: the folder given by --config, its
// lock, and an archive folder that two instances record into.
#include "app/CommandLine.h"
#include "config/Settings.h"
#include "support/Files.h"
#include "support/SettingsText.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Started in `work` with no display and XDG folders inside it. Ready once it holds its lock,
// so a SIGTERM from then on ends it as "Beenden" does.
struct Instance
{
    QProcess process;

    void start(const QTemporaryDir &work, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), work.filePath(QStringLiteral("xdg-config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), work.filePath(QStringLiteral("xdg-state")));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(work.path());
        process.start(QStringLiteral(BILDFANG_PATH), arguments);
    }

    bool ready(const QString &folder) const
    {
        return ReadAll(folder + QStringLiteral("/Bildfang.lock")).startsWith(QByteArray::number(process.processId()) + '\n');
    }

    // The day's log after a SIGTERM; empty when it did not end cleanly.
    QString stop(const QString &folder)
    {
        process.terminate();
        if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return QString();
        QString log;
        for (const QString &name : QDir(folder).entryList({QStringLiteral("Bildfang Log *.txt")}))
            log += QString::fromUtf8(ReadAll(folder + QLatin1Char('/') + name));
        return log;
    }
};

// Records its one camera (nobody answers on port 1) into archive.
QByteArray RecordingSettings(const QString &archive)
{
    return SettingsText({{"ARCHIVE", archive + '/'}, {"CAM_COUNT", "1"}, {"LASTCAM", "1"}, {"RECORD", "True"},
                         {"CAM01_SOCKET", "127.0.0.1:1"}, {"CAM01_RATE", "5"}})
        .toUtf8();
}

} // namespace

class TestInstances : public QObject
{
    Q_OBJECT

private slots:
    void configFolder_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("relative") << QStringList{"--config", "garten/"} << "/work/garten" << -1;
        QTest::newRow("equals sign") << QStringList{"-platform", "offscreen", "--config=/srv/../hof"} << "/hof" << -1;
        QTest::newRow("no folder") << QStringList{"--config"} << "" << int(ExitUsage);
        QTest::newRow("empty") << QStringList{"--config="} << "" << int(ExitUsage);
    }

    void configFolder()
    {
        QFETCH(QStringList, arguments);
        const CommandLineRequest request = ParseCommandLine(arguments, QStringLiteral("/work"));
        QTEST(request.configFolder, "folder");
        QTEST(request.exitCode, "exitCode");
    }

    // The second instance in a folder refuses and names the first; once the first was killed,
    // its lock file left behind is taken over. Settings and logs stay in the folder.
    void sameConfigFolder()
    {
        QTemporaryDir work;
        const QString folder = work.filePath(QStringLiteral("garten"));
        QVERIFY(WriteAll(SettingsFileNameFor(folder), RecordingSettings(work.filePath(QStringLiteral("archiv")))));
        Instance first, second, third;
        first.start(work, {"--config", "garten"});
        QTRY_VERIFY_WITH_TIMEOUT(first.ready(folder), 20000);

        second.start(work, {"--config", folder});
        QVERIFY(second.process.waitForFinished());
        QCOMPARE(second.process.exitCode(), 3);
        const QString refusal = QString::fromUtf8(second.process.readAllStandardError());
        QVERIFY2(refusal.contains(QStringLiteral("Der Ordner \"%1\" wird schon von einer laufenden Bildfang-Instanz benutzt (Prozess %2)")
                                      .arg(folder).arg(first.process.processId())),
                 qPrintable(refusal));

        first.process.kill();
        QVERIFY(first.process.waitForFinished());
        third.start(work, {"--config", folder});
        QTRY_VERIFY_WITH_TIMEOUT(third.ready(folder), 20000);
        QVERIFY(third.stop(folder).contains(QLatin1String("Aufnahme gestartet")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/Bildfang.lock")));
        QVERIFY(!QDir(work.filePath(QStringLiteral("xdg-config"))).exists());
    }

    // Two instances recording into one archive folder: the later one warns in its log.
    void sharedArchive()
    {
        QTemporaryDir work;
        const QString archive = work.filePath(QStringLiteral("archiv")), hof = work.filePath(QStringLiteral("hof")),
                      garten = work.filePath(QStringLiteral("garten"));
        QVERIFY(QDir().mkpath(archive));
        QVERIFY(WriteAll(SettingsFileNameFor(hof), RecordingSettings(archive)));
        QVERIFY(WriteAll(SettingsFileNameFor(garten), RecordingSettings(archive)));
        Instance first, second;
        first.start(work, {"--config", hof});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(archive + QStringLiteral("/Bildfang-Archiv.lock")) && first.ready(hof), 20000);
        second.start(work, {"--config", garten});
        QTRY_VERIFY_WITH_TIMEOUT(second.ready(garten), 20000);
        const QString log = second.stop(garten);
        QVERIFY2(log.contains(QStringLiteral("Speicherort wird auch von einer anderen Bildfang-Instanz benutzt!\r\n  >\"%1/ (Prozess %2)\"")
                                  .arg(archive).arg(first.process.processId())),
                 qPrintable(log));
        QVERIFY(!first.stop(hof).contains(QLatin1String("Speicherort wird auch")));
    }
};

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
