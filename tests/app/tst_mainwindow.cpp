#include "app/AppState.h"
#include "app/MainWindow.h"
#include "fetch/CopyHelper.h"
#include "support/TestPlatform.h"
#include "ui/PictureBox.h"
#include "ui/UpDown.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <memory>

namespace {

QString Tags(const QList<std::pair<const char *, QString>> &tags)
{
    QString text = QStringLiteral("*** INI file of Bildfang. Do NOT edit ***\r\n");
    for (const auto &[name, value] : tags)
        text += QStringLiteral("<%1>%2</%1>\r\n").arg(QLatin1String(name), value);
    return text;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// The main window on the test platform, its log's messages without time stamps.
struct WindowRig
{
    TestPlatform tp;
    QTemporaryDir archive;
    AppState state{tp.platform};
    QStringList log;
    std::unique_ptr<frmMain> w;

    WindowRig()
    {
        QObject::connect(&state.txtLog, &LogWindow::appended, [this](const QString &line) { log.append(line.mid(19).chopped(2)); });
    }
    QString ini() const { return tp.programDir.filePath(QStringLiteral("Bildfang.ini")); }
    QString logFile() const { return tp.programDir.filePath(QStringLiteral("Bildfang Log 20060512.txt")); }
    frmMain &load(const QString &settings = QString())
    {
        if (!settings.isNull())
            WriteAll(ini(), settings.toUtf8());
        w = std::make_unique<frmMain>(state);
        w->chooseArchiveFolder = [] { return QString(); };
        w->Form_Load();
        return *w;
    }
    bool red(QWidget *widget, QPalette::ColorRole role) const { return widget->palette().color(role) == QColor(255, 0, 0); }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data()
    {
        QTest::addColumn<QString>("settings");   // null: no file
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("boxes");
        const QString start = QStringLiteral("*** Bildfang gestartet ***");
        QTest::newRow("no file") << QString() << QStringList{start, QStringLiteral("Keine INI Datei vorhanden. Benutze Vorgaben.")}
                                 << QStringList{QStringLiteral("CAM01")} << 0;
        QTest::newRow("three characters")
            << Tags({{"CAM_COUNT", "2"}, {"CAM01_NAME", "ABC"}, {"CAM02_NAME", "ABCD"}, {"LASTCAM", "2"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}})
            << QStringList{start} << QStringList{QStringLiteral("CAM01"), QStringLiteral("ABCD")} << 0;
        QTest::newRow("record without archive")
            << Tags({{"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}, {"RECORD", "Wahr"}})
            << QStringList{start, QStringLiteral("Aufnahme angehalten")} << QStringList{QStringLiteral("CAM01")} << 1;
        QTest::newRow("three faults, one line") << Tags({}) << QStringList{start, QStringLiteral("Fehler in INI Datei!")}
                                                << QStringList{QStringLiteral("CAM01")} << 0;
    }
    void startUp()
    {
        QFETCH(QString, settings);
        WindowRig r;
        frmMain &w = r.load(settings);
        QTEST(r.log, "log");
        QStringList names;
        for (int i = 0; i < w.cmbKameraname->count(); ++i)
            names << w.cmbKameraname->itemText(i);
        QTEST(names, "names");
        QCOMPARE(int(r.state.CopyHelpers.size()), names.size());
        QTEST(int(r.tp.dialogs->boxes.size()), "boxes");
        if (!r.tp.dialogs->boxes.isEmpty())
            QCOMPARE(r.tp.dialogs->boxes.first().text, QStringLiteral("Kein gültiger Speicherort angegeben!"));
        QVERIFY(!r.state.Recording && !w.chkRecording->isChecked() && !w.Recording().MainTimer().isActive());
        QCOMPARE(w.chkRecording->text(), QStringLiteral("Aufnahme starten"));
        QVERIFY(w.chkRecording->styleSheet().contains(QStringLiteral("#00ff00")));
        QCOMPARE(w.windowTitle(), QStringLiteral("Bildfang ") + AppState::BuildVersionText());
        QVERIFY(w.MainStatusBarPanel1->text().isEmpty() && !w.btAktivieren->isEnabled());
        QVERIFY(!r.state.LogAutoClear && !r.state.LogAutoSave);
        if (settings.isNull()) {
            QCOMPARE(w.cmbUpdaterate->currentText(), QStringLiteral("OFF"));
            QVERIFY(r.state.TimeLimitOn && !r.state.SpaceLimitOn && w.optZeitlimit->isChecked());
            QCOMPARE(r.state.TimeLimitValue, 24);
            QCOMPARE(w.lblEinheit->text(), QStringLiteral("h"));
            QVERIFY(!QFile::exists(r.ini()));   // nothing written before the first save
        }
    }

    void fullFile()
    {
        WindowRig r;
        r.tp.fileSystem->freeBytesValue = 400LL * 1048576;
        const QString settings = Tags({{"ARCHIVE", r.archive.path()}, {"CAM_COUNT", "2"}, {"CAM01_NAME", "Hof1"},
                                       {"CAM02_NAME", "Tor2"}, {"CAM02_SOCKET", "127.0.0.1:1"}, {"CAM02_PATH", "/a.jpg"},
                                       {"CAM02_USER", "u"}, {"CAM02_PWD", "p"}, {"CAM02_RATE", "45"}, {"LASTCAM", "2"},
                                       {"LIMIT_OPT", "P"}, {"LIMIT_SPACE", "500"}, {"LIMIT_TIME", "3"}, {"LIMIT_UNIT", "Tage"},
                                       {"LOG_CLEAR", "True"}, {"LOG_SAVE", "1"}, {"RECORD", "True"},
                                       {"WINDOW_LEFT", "1500"}, {"WINDOW_TOP", "750"}, {"WINDOW_STATE", "0"}});
        frmMain &w = r.load(settings);
        QCOMPARE(w.lblSpeicherort->text(), r.archive.path());
        QCOMPARE(r.state.ArchivePath, r.archive.path() + QDir::separator());
        QCOMPARE(w.cmbKameraname->currentText(), QStringLiteral("Tor2"));
        QCOMPARE(w.lblCamFolder->text(), QStringLiteral("CAM02"));
        QCOMPARE(QStringList({w.txtSocket->text(), w.txtImgPath->text(), w.txtUser->text(), w.txtPassword->text()}),
                 QStringList({"127.0.0.1:1", "/a.jpg", "u", "p"}));
        QCOMPARE(w.cmbUpdaterate->currentData().toInt(), 45);
        QVERIFY(w.optPlatzlimit->isChecked() && r.state.SpaceLimitOn && !r.state.TimeLimitOn);
        QCOMPARE(r.state.SpaceLimitMB, 500);
        QVERIFY(r.red(w.txtSpeicherlimit, QPalette::Base));   // 400 MB free, 500 asked
        QCOMPARE(r.state.TimeLimitValue, 3);
        QCOMPARE(r.state.TimeLimitUnit, QStringLiteral("Tage"));
        QVERIFY(w.chkLogAutoLeeren->isChecked() && w.chkLogAutoSichern->isChecked() && r.state.LogAutoClear && r.state.LogAutoSave);
        QVERIFY(r.state.Recording && w.Recording().MainTimer().isActive());
        QCOMPARE(w.mnuStartStop->text(), QStringLiteral("Aufnahme stoppen"));
        QVERIFY(w.chkRecording->styleSheet().contains(QStringLiteral("#ff0000")));
        QCOMPARE(w.pos(), QPoint(100, 50));
        QCOMPARE(w.WindowLeft(), 1500);
        QCOMPARE(r.log, QStringList({"*** Bildfang gestartet ***", "Aufnahme gestartet"}));
        QCOMPARE(ReadAll(r.ini()), settings.toUtf8());   // the log boxes did not save while initialising
    }

    void closing_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("close box") << false;
        QTest::newRow("Beenden") << true;
    }
    void closing()
    {
        QFETCH(bool, byMenu);
        QByteArray files[2];
        for (const bool menu : {false, byMenu}) {
            WindowRig r;
            frmMain &w = r.load(Tags({{"ARCHIVE", r.archive.path()}, {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"},
                                      {"LIMIT_TIME", "5"}, {"RECORD", "True"}}));
            w.show();
            menu ? w.mnuExit->trigger() : void(w.close());
            w.close();   // a second close unloads nothing more
            QCOMPARE(r.log.last(), QStringLiteral("--- Bildfang beendet ---"));
            QCOMPARE(r.log.count(QStringLiteral("--- Bildfang beendet ---")), 1);
            QByteArray settings = ReadAll(r.ini());
            QVERIFY(settings.contains("<RECORD>True</RECORD>") && settings.contains("<LIMIT_TIME>5</LIMIT_TIME>"));
            files[menu] = settings.replace(r.archive.path().toUtf8(), "A") + ReadAll(r.logFile());
        }
        QCOMPARE(files[byMenu], files[false]);
        QVERIFY(files[0].endsWith("> --- Bildfang beendet ---\r\n"));
    }

    void menuItemTwice()
    {
        WindowRig r;
        frmMain &w = r.load(Tags({{"ARCHIVE", r.archive.path()}, {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        w.mnuStartStop->trigger();
        QVERIFY(w.chkRecording->isChecked() && w.chkRecording->text() == QStringLiteral("Aufnahme stoppen"));
        w.mnuStartStop->trigger();
        QCOMPARE(r.log.mid(1), QStringList({"Aufnahme gestartet", "Aufnahme angehalten"}));
        QVERIFY(!w.chkRecording->isChecked() && !r.state.Recording);
        QCOMPARE(w.mnuStartStop->text(), QStringLiteral("Aufnahme starten"));
        QVERIFY(w.chkRecording->styleSheet().contains(QStringLiteral("#00ff00")));
    }

    // Steps: "t:x" types x into the age box, "T" leaves it, "u+"/"u-" step it; "s:x", "S",
    // "v+"/"v-" the same for the space box.
    void limitBoxes_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("timeText");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("timeValue");
        QTest::addColumn<QString>("spaceText");
        QTest::addColumn<int>("spaceMB");
        const auto row = [](const char *name, const QString &steps, const char *t, const char *u, int tv, const char *s, int sv) {
            QTest::newRow(name) << steps.split(QLatin1Char(' ')) << QString::fromUtf8(t) << QString::fromUtf8(u) << tv
                                << QString::fromUtf8(s) << sv;
        };
        row("48 h gives 2 Tage", "t:48", "2", "Tage", 2, "", 0);
        row("1 Tag gives 47 h", "t:48 t:1", "47", "h", 47, "", 0);
        row("100 digit by digit", "t:1 t:10 t:100", "2", "Tage", 2, "", 0);
        row("empty in hours", "t:5 t: T", "1", "h", 1, "", 0);
        row("empty in days", "t:48 t: T", "47", "h", 47, "", 0);
        row("200 Tage cut to 120", "t:48 t:200 T", "120", "Tage", 120, "", 0);
        row("0 h gives 1", "t:0 T", "1", "h", 1, "", 0);
        row("letters leave the unit", "t:48 t:x", "x", "Tage", 0, "", 0);
        row("letters on leaving", "t:x T", "1", "h", 1, "", 0);
        row("step up past 47 h", "t:47 u+", "2", "Tage", 2, "", 0);
        row("step down past 2 Tage", "t:48 u-", "47", "h", 47, "", 0);
        row("50 MB gives 100", "s:50 S", "", "h", 24, "100", 100);
        row("200000 gives 102400", "s:200000 S", "", "h", 24, "102400", 102400);
        row("no number counts 100", "s:abc", "", "h", 24, "abc", 100);
        row("no number on leaving", "s:abc S", "", "h", 24, "100", 100);
        row("space steps of 100", "s:150 v+ v+ v-", "", "h", 24, "200", 200);
    }
    void limitBoxes()
    {
        QFETCH(QStringList, steps);
        WindowRig r;
        frmMain &w = r.load();
        for (const QString &step : steps) {
            if (step.startsWith(QLatin1String("t:")))
                w.txtZeitlimit->setText(step.mid(2));
            else if (step.startsWith(QLatin1String("s:")))
                w.txtSpeicherlimit->setText(step.mid(2));
            else if (step == QLatin1String("T"))
                w.txtZeitlimit_LostFocus();
            else if (step == QLatin1String("S"))
                w.txtSpeicherlimit_LostFocus();
            else
                emit (step[0] == QLatin1Char('u') ? w.udZeitlimit : w.udSpeicherlimit)->stepped(step[1] == QLatin1Char('+') ? 1 : -1);
        }
        QTEST(w.txtZeitlimit->text(), "timeText");
        QTEST(w.lblEinheit->text(), "unit");
        QTEST(r.state.TimeLimitUnit, "unit");
        QTEST(int(r.state.TimeLimitValue), "timeValue");
        QTEST(w.txtSpeicherlimit->text(), "spaceText");
        QTEST(int(r.state.SpaceLimitMB), "spaceMB");
    }

    void freeSpaceAndFolder()
    {
        WindowRig r;
        r.tp.fileSystem->freeBytesValue = 200LL * 1048576;
        frmMain &w = r.load();
        w.txtSpeicherlimit->setText(QStringLiteral("300"));
        QVERIFY(!r.red(w.txtSpeicherlimit, QPalette::Base));   // no archive yet: nothing to compare
        // Cancel changes nothing; a folder is taken, saved, and the box follows its free space.
        w.btSpeicherort->click();
        QVERIFY(w.lblSpeicherort->text().isEmpty() && r.state.ArchivePath.isEmpty() && !QFile::exists(r.ini()));
        w.chooseArchiveFolder = [&r] { return r.archive.path(); };
        w.btSpeicherort->click();
        QCOMPARE(r.state.ArchivePath, r.archive.path() + QDir::separator());
        QCOMPARE(w.lblSpeicherort->text(), r.state.ArchivePath);
        QVERIFY(ReadAll(r.ini()).contains("<ARCHIVE>" + r.state.ArchivePath.toUtf8() + "</ARCHIVE>"));
        QVERIFY(r.red(w.txtSpeicherlimit, QPalette::Base));
        w.txtSpeicherlimit->setText(QStringLiteral("150"));
        QVERIFY(!r.red(w.txtSpeicherlimit, QPalette::Base));
    }

    void logControls()
    {
        WindowRig r;
        frmMain &w = r.load();
        QVERIFY(w.txtLog->isReadOnly());
        QCOMPARE(w.txtLog->toPlainText(), QString(r.state.txtLog.text()).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        w.chkLogAutoSichern->click();
        QVERIFY(r.state.LogAutoSave && ReadAll(r.ini()).contains("<LOG_SAVE>True</LOG_SAVE>"));
        w.chkLogAutoLeeren->click();
        QVERIFY(r.state.LogAutoClear && ReadAll(r.ini()).contains("<LOG_CLEAR>True</LOG_CLEAR>"));

        const QByteArray lines = r.state.txtLog.text().toUtf8();
        w.btLogSpeichern->click();
        QCOMPARE(ReadAll(r.logFile()), lines);
        QVERIFY(r.state.txtLog.text().isEmpty() && w.txtLog->toPlainText().isEmpty());
        WriteLog(r.state, QStringLiteral("x"));
        w.btLogLeeren->click();
        QVERIFY(w.txtLog->toPlainText().isEmpty());
        QCOMPARE(ReadAll(r.logFile()), lines);

        w.btLogDatei->click();
        QCOMPARE(r.tp.launcher->commandLines, QStringList(QStringLiteral("xdg-open \"") + r.logFile() + QLatin1Char('"')));
        QCOMPARE(QProcess::splitCommand(r.tp.launcher->commandLines.first()).last(), r.logFile());
    }

    void lastImage()
    {
        WindowRig r;
        frmMain &w = r.load(Tags({{"CAM_COUNT", "2"}, {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        const QString jpeg = r.archive.filePath(QStringLiteral("20060512-134507(CAM02).jpg"));
        QImage(40, 20, QImage::Format_RGB32).save(jpeg, "JPG");
        const QString broken = r.archive.filePath(QStringLiteral("broken.jpg"));
        WriteAll(broken, "no picture");
        r.state.Cams.Item(2)->mCamLastPic = jpeg;
        r.state.Cams.Item(1)->mCamLastPic = broken;
        w.cmbKameraname->setCurrentIndex(1);
        emit w.cmbKameraname->activated(1);
        QCOMPARE(w.lblLetztesBild->text(), QStringLiteral("20060512-134507(CAM02).jpg"));
        QVERIFY(w.imgLetztesBild->hasPicture());
        w.cmbKameraname->setCurrentIndex(0);
        emit w.cmbKameraname->activated(0);
        QVERIFY(!w.imgLetztesBild->hasPicture() && w.lblLetztesBild->text().isEmpty());
        QVERIFY(r.state.Cams.Item(1)->mCamLastPic.isEmpty());   // a failing load forgets the picture
    }

    void faults()
    {
        WindowRig r;
        // An existing settings file that cannot be read is reported and never replaced.
        QVERIFY(QDir().mkdir(r.ini()));
        frmMain &w = r.load();
        QVERIFY(r.log.at(1).startsWith(QStringLiteral("INI Datei kann nicht gelesen werden")));
        w.chkLogAutoLeeren->click();
        QVERIFY(QFileInfo(r.ini()).isDir());

        // A failing save is logged once per cause, and again after a save succeeded.
        r.state.SettingsFileProtected = false;
        const int before = int(r.log.size());
        for (int i = 0; i < 3; ++i)
            w.chkLogAutoLeeren->click();
        QCOMPARE(int(r.log.size()), before + 1);
        QVERIFY(r.log.last().startsWith(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"")));
        const QString broken = r.state.SettingsFileName;
        r.state.SettingsFileName = r.archive.filePath(QStringLiteral("Bildfang.ini"));
        w.chkLogAutoLeeren->click();
        r.state.SettingsFileName = broken;
        w.chkLogAutoLeeren->click();
        QCOMPARE(int(r.log.size()), before + 2);

        // "Log speichern!" that cannot write keeps the window's lines.
        r.state.LogFileName = r.archive.filePath(QStringLiteral("missing/log.txt"));
        const QString lines = r.state.txtLog.text();
        w.btLogSpeichern->click();
        QVERIFY(r.state.txtLog.text().startsWith(lines) && r.log.last().startsWith(QStringLiteral("Ein Fehler")));

        // Without automatic clearing, a window of 10,000 lines goes to the file and is emptied.
        r.state.LogFileName = r.logFile();
        w.chkLogAutoLeeren->setChecked(false);
        while (r.state.txtLog.lineBreaks() < LogWindow::OverflowLines)
            WriteLog(r.state, QStringLiteral("Zeile"));
        QVERIFY(!QFile::exists(r.logFile()));
        WriteLog(r.state, QStringLiteral("danach"));
        QCOMPARE(ReadAll(r.logFile()).count("\r\n"), LogWindow::OverflowLines);
        QCOMPARE(r.state.txtLog.lineBreaks(), 1);
        QCOMPARE(w.txtLog->document()->blockCount(), 2);   // the line and the empty one after it

        // At the end, a log file that cannot be written gets the lines on standard error.
        r.state.LogFileName = r.archive.filePath(QStringLiteral("missing/log.txt"));
        const QString errFile = r.archive.filePath(QStringLiteral("stderr.txt"));
        std::fflush(stderr);
        const int saved = ::dup(2);
        std::FILE *err = std::fopen(qPrintable(errFile), "w");
        ::dup2(::fileno(err), 2);
        w.close();
        std::fflush(stderr);
        ::dup2(saved, 2);
        std::fclose(err);
        QVERIFY(ReadAll(errFile).endsWith(r.state.txtLog.text().toUtf8()));
        QVERIFY(r.state.txtLog.text().endsWith(QStringLiteral("--- Bildfang beendet ---\r\n")));
    }

    // The real program, started without a display, ends on SIGTERM as "Beenden" does.
    void terminationSignal()
    {
        QTemporaryDir folder;
        QTemporaryDir archive;
        const QString program = folder.filePath(QStringLiteral("bildfang"));
        QVERIFY(QFile::copy(QStringLiteral(BILDFANG_PATH), program));
        WriteAll(folder.filePath(QStringLiteral("Bildfang.ini")),
                 Tags({{"ARCHIVE", archive.path()}, {"CAM01_SOCKET", "127.0.0.1:1"}, {"CAM01_RATE", "1"}, {"LASTCAM", "1"},
                       {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}, {"LIMIT_TIME", "5"}, {"RECORD", "True"}})
                     .toUtf8());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        p.setProcessEnvironment(env);
        p.start(program, {});
        QVERIFY(p.waitForStarted());
        // Ready once SIGTERM is caught (bit 15 of the caught-signals mask).
        bool caught = false;
        for (int i = 0; i < 500 && !caught; ++i) {
            const QByteArray status = ReadAll(QStringLiteral("/proc/%1/status").arg(p.processId()));
            const qsizetype at = status.indexOf("SigCgt:");
            caught = at >= 0 && (status.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGTERM - 1)));
            if (!caught)
                QThread::msleep(10);
        }
        QVERIFY(caught);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QStringList logs = QDir(folder.path()).entryList({QStringLiteral("Bildfang Log *.txt")});
        QCOMPARE(logs.size(), 1);
        const QByteArray log = ReadAll(folder.filePath(logs.first()));
        QVERIFY(log.contains("> Aufnahme gestartet\r\n"));
        QVERIFY(log.endsWith("> --- Bildfang beendet ---\r\n"));
        const QByteArray settings = ReadAll(folder.filePath(QStringLiteral("Bildfang.ini")));
        QVERIFY(settings.contains("<RECORD>True</RECORD>") && settings.contains("<LIMIT_TIME>5</LIMIT_TIME>"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
