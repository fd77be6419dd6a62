// The real program under faults: killed at random moments while recording, and saving onto
// a file system that refuses to grow files. Runs bildfang from a temporary program folder
// against the camera simulator on 127.0.0.1.
#include "CamSim.h"
#include "archive/ArchiveLayout.h"
#include "config/Settings.h"
#include "support/Files.h"
#include "support/SettingsText.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>

namespace {

constexpr int ImageSize = 64 * 1024;   // large enough that a save takes a moment to write

struct Program
{
    QTemporaryDir dir;
    CamSim sim;
    QString binary = dir.filePath(QStringLiteral("bildfang")), archive = dir.filePath(QStringLiteral("archiv"));
    int cameraCount = 0;

    // A program folder with a copy of the binary and a settings file that records `cameras`
    // cameras at interval 1 into archive/, with the log saved every few lines. One more camera,
    // switched off, is the selected one: the simulator's images are no pictures to show.
    bool prepare(int cameras, int imageSize)
    {
        cameraCount = cameras;
        CamSim::Behaviour b;
        b.mode = CamSim::Mode::NewJpeg;
        b.imageSize = imageSize;
        sim.setBehaviour(b);
        sim.setRecordRequests(false);
        if (!sim.listen())
            return false;
        const QString count = QString::number(cameras + 1);
        QString text = SettingsText({{"ARCHIVE", archive + '/'}, {"CAM_COUNT", count}, {"LASTCAM", count}, {"LIMIT_OPT", "Z"},
                                     {"LIMIT_TIME", "24"}, {"LIMIT_UNIT", "h"}, {"LOG_CLEAR", "True"}, {"LOG_SAVE", "True"}, {"RECORD", "True"}});
        for (int i = 1; i <= cameras + 1; ++i)
            text += QStringLiteral("<%1_NAME>Kamera %2</%1_NAME><%1_SOCKET>127.0.0.1:%3</%1_SOCKET><%1_PATH>/cam%2.jpg</%1_PATH>"
                                   "<%1_RATE>%4</%1_RATE>\r\n").arg(CamFolderName(i)).arg(i).arg(sim.port()).arg(i <= cameras ? 1 : -1);
        text += QStringLiteral("<WINDOW_TOP>0</WINDOW_TOP>\r\n");   // the last line, as the program writes it
        return QFile::copy(QStringLiteral(BILDFANG_BINARY), binary) && QDir().mkpath(archive)
            && WriteAll(SettingsFileNameFor(dir.path()), text.toUtf8());
    }

    void start(QProcess &p) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(binary, {});
    }

    // The settings file is whole: every camera and every line, and still recording. Returns
    // the file when it is not, for the failure message.
    QString brokenSettings() const
    {
        const QString text = QString::fromUtf8(ReadAll(SettingsFileNameFor(dir.path())));
        const bool whole = text.startsWith(QLatin1String("*** INI file of Bildfang")) && text.endsWith(QLatin1String("</WINDOW_TOP>\r\n"))
            && ReadTag(text, QStringLiteral("CAM_COUNT")).toInt() == cameraCount + 1
            && ReadTag(text, CamFolderName(cameraCount) + "_RATE") == QLatin1String("1")
            && QStringList{"TRUE", "WAHR"}.contains(ReadTag(text, QStringLiteral("RECORD")).toUpper());
        return whole ? QString() : text.right(700);
    }

    QStringList archiveFiles() const
    {
        QStringList files;
        for (QDirIterator it(archive, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            files << it.next();
        return files;
    }
};

} // namespace

class TestRobust : public QObject
{
    Q_OBJECT

private slots:
    // SIGKILL at ten random moments of a recording of 20 cameras, started again each time: every
    // .jpg is an image the simulator served, and the settings file stays whole.
    void killedAtRandomMoments()
    {
        Program program;
        QVERIFY(program.prepare(20, ImageSize));
        // BILDFANG_KILL_SEED repeats a run's kill moments.
        const quint32 seed = qEnvironmentVariableIsSet("BILDFANG_KILL_SEED") ? qgetenv("BILDFANG_KILL_SEED").toUInt()
                                                                             : QRandomGenerator::global()->generate();
        qInfo("kill moments from seed %u", seed);
        QRandomGenerator random(seed);
        int images = 0;
        JpegMaker jpegs;   // encodes each picture once
        for (int round = 0; round < 10; ++round) {
            QProcess p;
            program.start(p);
            QVERIFY(p.waitForStarted());
            // Killed within a second and a half of its first request, so every round records.
            const int requests = program.sim.connectionCount();
            QTRY_VERIFY_WITH_TIMEOUT(program.sim.connectionCount() > requests, 15000);
            QTest::qWait(int(random.bounded(1500)));
            p.kill();
            QVERIFY(p.waitForFinished());
            QVERIFY2(program.brokenSettings().isEmpty(), qPrintable(QStringLiteral("after kill %1: ").arg(round + 1) + program.brokenSettings()));

            QSet<QByteArray> served;
            for (int s = 1; s <= program.sim.connectionCount() + 1; ++s)
                served.insert(jpegs.make(ImageSize, quint32(s)));
            images = 0;
            for (const QString &path : program.archiveFiles().filter(QRegularExpression("\\.jpg$"))) {
                QVERIFY2(served.contains(ReadAll(path)), qPrintable(path));
                ++images;
            }
        }
        QVERIFY2(images >= 10, "recording resumed after the restarts");
    }

    // While recording, files may suddenly not grow beyond 64 KB with 96 KB images arriving: every
    // save fails and is logged, nothing is left behind; once files may grow again, saving resumes
    // by itself. (From the start it would stop recording: a first sampling window without data.)
    void fullDisk()
    {
        Program program;
        QVERIFY(program.prepare(5, 96 * 1024));
        QProcess p;
        p.setChildProcessModifier([] { std::signal(SIGXFSZ, SIG_IGN); });   // stays ignored across exec
        program.start(p);
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(program.archiveFiles().size() >= 5, 10000);

        rlimit open{};
        getrlimit(RLIMIT_FSIZE, &open);
        rlimit full = open;
        full.rlim_cur = 64 * 1024;
        QCOMPARE(prlimit(pid_t(p.processId()), RLIMIT_FSIZE, &full, nullptr), 0);
        QTest::qWait(200);   // a save under way may still end
        const QStringList before = program.archiveFiles();
        const int answered = program.sim.answeredCount();
        QTest::qWait(3000);
        QVERIFY(program.sim.answeredCount() >= answered + 5);
        QCOMPARE(program.archiveFiles(), before);

        QCOMPARE(prlimit(pid_t(p.processId()), RLIMIT_FSIZE, &open, nullptr), 0);
        QTRY_VERIFY_WITH_TIMEOUT(program.archiveFiles().size() >= before.size() + 5, 10000);

        p.terminate();
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.brokenSettings().isEmpty(), qPrintable(program.brokenSettings()));
        for (const QString &path : program.archiveFiles()) {
            QVERIFY2(path.endsWith(QLatin1String(".jpg")), qPrintable(path));
            QCOMPARE(QFileInfo(path).size(), 96 * 1024);
        }
        QString log;
        for (const QString &name : QDir(program.dir.path()).entryList({QStringLiteral("Bildfang Log *.txt")}))
            log += QString::fromUtf8(ReadAll(program.dir.filePath(name)));
        // Each failed save with the reason the system gave.
        const QRegularExpression failure(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"[^\"\r\n]*%1\"\r\n")
                                             .arg(QRegularExpression::escape(qt_error_string(EFBIG))));
        QVERIFY2(log.count(failure) >= 5, qPrintable(log.right(2000)));
    }
};

QTEST_GUILESS_MAIN(TestRobust)
#include "tst_robust.moc"
