#include "app/CaptureCycle.h"
#include "app/TerminationSignals.h"
#include "archive/ArchiveLayout.h"
#include "archive/StorageLimits.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "support/SettingsText.h"
#include "support/WindowRig.h"
#include "ui/AboutWindow.h"
#include "ui/ConnectionStatusWindow.h"
#include "ui/ExternalPrograms.h"
#include "ui/OverviewWindow.h"
#include "ui/PictureBox.h"
#include "ui/TestDialog.h"
#include "ui/UpDown.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDirIterator>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace {

// Names of the files below a folder, at any depth.
QStringList FilesBelow(const QString &folder)
{
    QStringList names;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        names << QFileInfo(it.next()).fileName();
    return names;
}

const QString ThreeCameras = SettingsText({{"CAM_COUNT", "3"}, {"CAM01_NAME", "Cam-A"}, {"CAM02_NAME", "Cam-B"}, {"CAM03_NAME", "Cam-C"},
                                           {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}});

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
            << SettingsText({{"CAM_COUNT", "2"}, {"CAM01_NAME", "ABC"}, {"CAM02_NAME", "ABCD"}, {"LASTCAM", "2"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}})
            << QStringList{start} << QStringList{QStringLiteral("CAM01"), QStringLiteral("ABCD")} << 0;
        QTest::newRow("record without archive")
            << SettingsText({{"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}, {"RECORD", "Wahr"}})
            << QStringList{start, QStringLiteral("Aufnahme angehalten")} << QStringList{QStringLiteral("CAM01")} << 1;
        QTest::newRow("three faults, one line") << SettingsText({}) << QStringList{start, QStringLiteral("Fehler in INI Datei!")}
                                                << QStringList{QStringLiteral("CAM01")} << 0;
    }
    void startUp()
    {
        QFETCH(QString, settings);
        WindowRig r;
        frmMain &w = r.load(settings);
        QTEST(r.log, "log");
        QTEST(r.names(), "names");
        QCOMPARE(int(r.state.CopyHelpers.size()), r.names().size());
        QTEST(int(r.tp.dialogs->boxes.size()), "boxes");
        QVERIFY(!r.state.Recording && !w.chkRecording->isChecked() && !w.Recording().MainTimer().isActive());
        QCOMPARE(QFile::exists(r.ini()), !settings.isNull());   // nothing written before the first save
    }

    void fullFile()
    {
        WindowRig r;
        r.tp.fileSystem->freeBytesValue = 400LL * 1048576;
        const QString settings = SettingsText({{"ARCHIVE", r.archive.path()}, {"CAM_COUNT", "2"}, {"CAM01_NAME", "Hof1"},
                                       {"CAM02_NAME", "Tor2"}, {"CAM02_SOCKET", "127.0.0.1:1"}, {"CAM02_PATH", "/a.jpg"},
                                       {"CAM02_USER", "u"}, {"CAM02_PWD", "p"}, {"CAM02_RATE", "45"}, {"LASTCAM", "2"},
                                       {"LIMIT_OPT", "P"}, {"LIMIT_SPACE", "500"}, {"LIMIT_TIME", "3"}, {"LIMIT_UNIT", "Tage"},
                                       {"LOG_CLEAR", "True"}, {"LOG_SAVE", "1"}, {"RECORD", "True"},
                                       {"WINDOW_LEFT", "1500"}, {"WINDOW_TOP", "750"}, {"WINDOW_STATE", "0"}});
        frmMain &w = r.load(settings);
        QCOMPARE(ReadAll(r.ini()), settings.toUtf8());   // the log boxes did not save while initialising
        CameraEditor &c = r.cams();
        QCOMPARE(QStringList({r.state.ArchivePath, c.txtSocket->text(), c.txtImgPath->text(), c.txtUser->text(),
                              c.txtPassword->text(), c.cmbUpdaterate->currentText(), r.state.TimeLimitUnit}),
                 QStringList({r.archive.path() + QDir::separator(), "127.0.0.1:1", "/a.jpg", "u", "p", "45", "Tage"}));
        QVERIFY(r.state.SpaceLimitOn && !r.state.TimeLimitOn && r.state.SpaceLimitMB == 500 && r.state.TimeLimitValue == 3);
        QVERIFY(r.red(r.limits().txtSpeicherlimit, QPalette::Base));   // 400 MB free, 500 asked
        QVERIFY(r.state.LogAutoClear && r.state.LogAutoSave && w.Recording().MainTimer().isActive());
        // The menu item and the box each turn recording over, one line each.
        r.menu(w.mnuStartStop);
        QVERIFY(!w.chkRecording->isChecked() && !r.state.Recording);
        r.click(w.chkRecording);
        QCOMPARE(r.log, QStringList({"*** Bildfang gestartet ***", "Aufnahme gestartet", "Aufnahme angehalten", "Aufnahme gestartet"}));
        QVERIFY(r.state.Recording && w.mnuStartStop->text() == QStringLiteral("Aufnahme stoppen"));
    }

    // The close box and "Beenden" write the same settings and log lines, and leave no window
    // open that would keep the program running.
    void closing()
    {
        QByteArray files[2];
        for (const bool menu : {false, true}) {
            WindowRig r;
            frmMain &w = r.load(SettingsText({{"ARCHIVE", r.archive.path()}, {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"},
                                              {"LIMIT_TIME", "5"}, {"RECORD", "True"}}));
            r.menu(w.mnuConnStatus);
            r.type(r.limits().txtZeitlimit, QStringLiteral("7"));   // still typing: saved all the same
            menu ? r.menu(w.mnuExit) : r.closeBox();
            const QWidgetList windows = QApplication::topLevelWidgets();
            QVERIFY(std::none_of(windows.begin(), windows.end(), [](QWidget *window) { return window->isVisible(); }));
            QCloseEvent again;   // the close box once more, before the window manager took it away
            QApplication::sendEvent(&w, &again);
            QVERIFY(r.log.last() == QStringLiteral("--- Bildfang beendet ---") && r.log.count(r.log.last()) == 1);
            QByteArray settings = ReadAll(r.ini());
            QVERIFY(settings.contains("<RECORD>True</RECORD>") && settings.contains("<LIMIT_TIME>7</LIMIT_TIME>"));
            files[menu] = settings.replace(r.archive.path().toUtf8(), "A") + ReadAll(r.logFile());
        }
        QCOMPARE(files[1], files[0]);
    }

    // Steps: "t:x" types x into the age box, "s:x" into the space box; typing ends with "ret"
    // (Enter), "tab" (focus to the next control), "u+"/"u-" and "v+"/"v-" (the steppers) or
    // "opt" (a click on "nach Speicher"). Then: age text, unit, age value, space text, MB.
    void limitBoxes_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("boxes");
        QTest::newRow("typing keeps the age in force") << "t:12" << "12 h 24 / 0";
        QTest::newRow("typing keeps the space in force") << "s:99999" << " h 24 /99999 0";
        QTest::newRow("Enter applies") << "t:12 ret" << "12 h 12 / 0";
        QTest::newRow("the option applies") << "s:500 opt" << " h 24 /500 500";
        QTest::newRow("48 h gives 2 Tage") << "t:48 tab" << "2 Tage 2 / 0";
        QTest::newRow("1 Tag gives 47 h") << "t:48 ret t:1 ret" << "47 h 47 / 0";
        QTest::newRow("empty in hours") << "t:5 ret t: tab" << "1 h 1 / 0";
        QTest::newRow("empty in days") << "t:48 ret t: tab" << "47 h 47 / 0";
        QTest::newRow("200 Tage cut to 120") << "t:48 ret t:200 ret" << "120 Tage 120 / 0";
        QTest::newRow("0 h gives 1") << "t:0 tab" << "1 h 1 / 0";
        QTest::newRow("typed, then stepped") << "t:47 u+" << "2 Tage 2 / 0";
        QTest::newRow("step down past 2 Tage") << "t:48 ret u-" << "47 h 47 / 0";
        QTest::newRow("50 MB gives 100") << "s:50 tab" << " h 24 /100 100";
        QTest::newRow("200000 gives 102400") << "s:200000 ret" << " h 24 /102400 102400";
        QTest::newRow("no number gives 100") << "s:abc tab" << " h 24 /100 100";
        QTest::newRow("space steps of 100") << "s:150 v+ v+ v-" << " h 24 /200 200";
    }
    void limitBoxes()
    {
        QFETCH(QString, steps);
        WindowRig r;
        r.load();
        ArchiveEditor &l = r.limits();
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (step.startsWith(QLatin1String("t:")) || step.startsWith(QLatin1String("s:")))
                r.type(step[0] == QLatin1Char('t') ? l.txtZeitlimit : l.txtSpeicherlimit, step.mid(2));
            else if (step == QLatin1String("tab") || step == QLatin1String("ret"))
                QTest::keyClick(QApplication::focusWidget(), step == QLatin1String("tab") ? Qt::Key_Tab : Qt::Key_Return);
            else if (step == QLatin1String("opt"))
                r.click(l.optPlatzlimit);
            else
                r.click((step[0] == QLatin1Char('u') ? l.udZeitlimit : l.udSpeicherlimit)->findChildren<QToolButton *>().at(step[1] == QLatin1Char('+') ? 0 : 1));
        }
        QCOMPARE(r.state.TimeLimitUnit, l.lblEinheit->text());
        QTEST(QStringLiteral("%1 %2 %3 /%4 %5").arg(l.txtZeitlimit->text(), l.lblEinheit->text()).arg(r.state.TimeLimitValue)
                  .arg(l.txtSpeicherlimit->text()).arg(r.state.SpaceLimitMB),
              "boxes");
    }

    void freeSpaceAndFolder()
    {
        WindowRig r;
        r.tp.fileSystem->freeBytesValue = 200LL * 1048576;
        r.load();
        ArchiveEditor &l = r.limits();
        r.type(l.txtSpeicherlimit, QStringLiteral("300\r"));
        QVERIFY(!r.red(l.txtSpeicherlimit, QPalette::Base));   // no archive yet: nothing to compare
        // Cancel changes nothing; a folder is taken, saved, and the box follows its free space.
        r.click(l.btSpeicherort);
        QVERIFY(l.lblSpeicherort->text().isEmpty() && r.state.ArchivePath.isEmpty() && !QFile::exists(r.ini()));
        r.chosenFolder = r.archive.path();
        r.click(l.btSpeicherort);
        QVERIFY(r.state.ArchivePath == r.archive.path() + QDir::separator() && l.lblSpeicherort->text() == r.state.ArchivePath);
        QVERIFY(ReadAll(r.ini()).contains("<ARCHIVE>" + r.state.ArchivePath.toUtf8() + "</ARCHIVE>") && r.red(l.txtSpeicherlimit, QPalette::Base));
        r.type(l.txtSpeicherlimit, QStringLiteral("150\r"));
        QVERIFY(!r.red(l.txtSpeicherlimit, QPalette::Base));
    }

    void logControls()
    {
        WindowRig r;
        r.load();
        LogPanel &p = r.logPanel();
        QCOMPARE(p.txtLog->toPlainText(), QString(r.state.txtLog.text()).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        r.click(p.chkLogAutoSichern);
        r.click(p.chkLogAutoLeeren);
        QVERIFY(r.state.LogAutoSave && r.state.LogAutoClear && ReadAll(r.ini()).contains("<LOG_CLEAR>True</LOG_CLEAR>\r\n<LOG_SAVE>True"));

        const QByteArray lines = r.state.txtLog.text().toUtf8();
        r.click(p.btLogSpeichern);
        QVERIFY(ReadAll(r.logFile()) == lines && r.state.txtLog.text().isEmpty() && p.txtLog->toPlainText().isEmpty());
        WriteLog(r.state, QStringLiteral("x"));
        r.click(p.btLogLeeren);
        QVERIFY(p.txtLog->toPlainText().isEmpty() && ReadAll(r.logFile()) == lines);
        r.click(p.btLogDatei);
        QCOMPARE(QProcess::splitCommand(r.tp.launcher->commandLines.value(0)), QStringList({"xdg-open", r.logFile()}));
    }

    void lastImage()
    {
        WindowRig r;
        frmMain &w = r.load(SettingsText({{"CAM_COUNT", "2"}, {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        const QString jpeg = r.archive.filePath(QStringLiteral("20060512-134507(CAM02).jpg"));
        QImage(40, 20, QImage::Format_RGB32).save(jpeg, "JPG");
        r.state.Cams.Item(2)->mCamLastPic = jpeg;
        r.state.Cams.Item(1)->mCamLastPic = r.ini();   // no picture
        r.pick(r.cams().cmbKameraname, 1);
        QVERIFY(w.imgLetztesBild->hasPicture() && w.lblLetztesBild->text() == QStringLiteral("20060512-134507(CAM02).jpg"));
        r.pick(r.cams().cmbKameraname, 0);   // a failing load empties the box and forgets the picture
        QVERIFY(!w.imgLetztesBild->hasPicture() && w.lblLetztesBild->text().isEmpty() && r.state.Cams.Item(1)->mCamLastPic.isEmpty());
    }

    void faults()
    {
        WindowRig r;
        // An existing settings file that cannot be read is reported and never replaced.
        QVERIFY(QDir().mkdir(r.ini()));
        r.load();
        QCheckBox *box = r.logPanel().chkLogAutoLeeren;
        r.click(box);
        QVERIFY(r.log.at(1).startsWith(QStringLiteral("INI Datei kann nicht gelesen werden")) && QFileInfo(r.ini()).isDir());

        // A failing save is logged once per cause, and again after a save succeeded.
        r.state.SettingsFileProtected = false;
        const int before = int(r.log.size());
        for (int i = 0; i < 3; ++i)
            r.click(box);
        QVERIFY(r.log.size() == before + 1 && r.log.last().startsWith(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"")));
        std::swap(r.state.SettingsFileName, r.state.LogFileName);   // a file that can be written
        r.click(box);
        std::swap(r.state.SettingsFileName, r.state.LogFileName);
        r.click(box);
        QCOMPARE(int(r.log.size()), before + 2);

        // "Log speichern!" that cannot write keeps the window's lines.
        r.state.LogFileName = r.archive.filePath(QStringLiteral("missing/log.txt"));
        const QString lines = r.state.txtLog.text();
        r.click(r.logPanel().btLogSpeichern);
        QVERIFY(r.state.txtLog.text().startsWith(lines) && r.log.last().startsWith(QStringLiteral("Ein Fehler")));

        // At the end, a log file that cannot be written gets the lines on standard error.
        const QString errFile = r.archive.filePath(QStringLiteral("stderr.txt"));
        const int saved = ::dup(2);
        std::FILE *err = std::freopen(qPrintable(errFile), "w", stderr);
        r.closeBox();
        std::fflush(err);
        ::dup2(saved, 2);
        QVERIFY(ReadAll(errFile).endsWith(r.state.txtLog.text().toUtf8()) && r.state.txtLog.text().endsWith(QStringLiteral("beendet ---\r\n")));
    }

    // "Aktivieren" on camera 2 of two, after edits of another camera were discarded.
    void activate_data()
    {
        QTest::addColumn<QString>("socket");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<QString>("taken");   // socket|path|interval
        QTest::newRow("scheme and slashes") << "http://host:81/" << "live.jpg" << 4 << "host:81|/live.jpg|5";
        QTest::newRow("empty path") << "h" << "" << 12 << "h||120";
        QTest::newRow("https kept") << "HTTPS://cam:8443/" << "a.jpg" << 1 << "https://cam:8443|/a.jpg|1";
    }
    void activate()
    {
        WindowRig r;
        r.load(SettingsText({{"CAM_COUNT", "2"}, {"CAM02_NAME", "Tor2"}, {"CAM02_RATE", "7"}, {"LASTCAM", "2"},
                             {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        CameraEditor &c = r.cams();
        r.type(c.txtUser, QStringLiteral("edited"));
        r.pick(c.cmbKameraname, 0);
        r.pick(c.cmbKameraname, 1);
        QVERIFY(c.txtUser->text().isEmpty() && !c.btAktivieren->isEnabled());
        QFETCH(QString, socket);
        QFETCH(QString, path);
        QFETCH(int, rateIndex);
        r.type(c.txtSocket, socket);
        r.type(c.txtImgPath, path);
        r.type(c.txtUser, QStringLiteral("u"));
        r.type(c.txtPassword, QStringLiteral("p"));
        QCOMPARE(c.txtPassword->echoMode(), QLineEdit::Password);
        r.click(c.txtPassword->findChild<QToolButton *>());   // the toggle shows it
        QCOMPARE(c.txtPassword->echoMode(), QLineEdit::Normal);
        r.pick(c.cmbUpdaterate, rateIndex);
        r.click(c.btAktivieren);
        const auto cam = r.state.Cams.Item(2);
        QTEST(QStringList({cam->mCamSocket, cam->mCamImagePath, QString::number(cam->mCamUpdaterate)}).join(QLatin1Char('|')), "taken");
        QCOMPARE(QStringList({c.txtSocket->text(), c.txtImgPath->text(), cam->mCamUser, cam->mCamPassword, cam->mCamName}),
                 QStringList({cam->mCamSocket, cam->mCamImagePath, "u", "p", "Tor2"}));
        QVERIFY(!c.btAktivieren->isEnabled() && ReadAll(r.ini()).contains("<CAM02_SOCKET>" + cam->mCamSocket.toUtf8() + "</CAM02_SOCKET>"));
    }

    // A pin found by a transfer reaches the file and the editor at once; "Vergessen" takes
    // the selected camera's pin out of both and leaves the other camera's.
    void certificate()
    {
        WindowRig r;
        r.load(SettingsText({{"CAM_COUNT", "2"}, {"CAM02_CERT", "AA:BB"}, {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        CameraEditor &c = r.cams();
        QVERIFY(!c.btZertifikatVergessen->isEnabled());
        const auto cam = r.state.Cams.Item(1);
        cam->mTlsPeer->pinned = cam->mTlsPeer->findings.pinnedNow = QStringLiteral("CC:DD");
        cam->CHCallBack(QByteArray(), 0);
        QVERIFY(ReadAll(r.ini()).contains("<CAM01_CERT>CC:DD</CAM01_CERT>") && c.txtZertifikat->text() == QStringLiteral("CC:DD"));
        r.pick(c.cmbKameraname, 1);
        QCOMPARE(c.txtZertifikat->text(), QStringLiteral("AA:BB"));
        r.click(c.btZertifikatVergessen);
        const QByteArray saved = ReadAll(r.ini());
        QVERIFY(!saved.contains("CAM02_CERT") && saved.contains("<CAM01_CERT>CC:DD</CAM01_CERT>"));
        QVERIFY(c.txtZertifikat->text().isEmpty() && !c.btZertifikatVergessen->isEnabled());
    }

    // Steps: "sel:i" chooses entry i, "type:x" types a name, "addr" types an address, "ret"
    // presses Enter, "+", "-", "ok" ("Aktivieren"); then the list, the selected name in brackets.
    void editCameras_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("list");
        QTest::newRow("rename") << "sel:1 type:Neue ok" << "Cam-A [Neue] Cam-C";
        QTest::newRow("empty name") << "sel:1 type: ok" << "Cam-A [CAM02] Cam-C";
        QTest::newRow("another's name, then the address") << "type:Cam-B addr ok" << "[Cam-B] Cam-B Cam-C";
        QTest::newRow("another's name and Enter") << "type:Cam-C ret ok" << "[Cam-C] Cam-B Cam-C";
        QTest::newRow("+ typed appends") << "type:Neue +" << "Cam-A Cam-B Cam-C [Neue]";
        QTest::newRow("+ in front of the selection") << "sel:1 +" << "Cam-A [CAM02] Cam-B Cam-C";
        QTest::newRow("- second of three") << "sel:1 -" << "Cam-A [Cam-C]";
        QTest::newRow("- third of three") << "sel:2 -" << "Cam-A [Cam-B]";
        QTest::newRow("- down to one") << "- - -" << "[Cam-C]";
    }
    void editCameras()
    {
        QFETCH(QString, steps);
        WindowRig r;
        r.load(ThreeCameras);
        CameraEditor &c = r.cams();
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (step.startsWith(QLatin1String("sel:")))
                r.pick(c.cmbKameraname, step.mid(4).toInt());
            else if (step.startsWith(QLatin1String("type:")))
                r.type(c.cmbKameraname->lineEdit(), step.mid(5));
            else if (step == QLatin1String("addr"))
                r.type(c.txtSocket, QStringLiteral("h:1"));
            else if (step == QLatin1String("ret"))
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            else
                r.click(step == QLatin1String("+") ? c.btAdd : step == QLatin1String("-") ? c.btDel : c.btAktivieren);
        }
        QStringList names = r.names(), records;
        for (int i = 1; i <= r.state.Cams.Count(); ++i)
            records << r.state.Cams.Item(i)->mCamName;
        QCOMPARE(records, names);
        QVERIFY(r.state.CamCount == names.size() && int(r.state.CopyHelpers.size()) == names.size() && !c.btAktivieren->isEnabled());
        QCOMPARE(c.lblCamFolder->text(), CamFolderName(c.cmbKameraname->currentIndex() + 1));
        names[r.state.SelectedCam - 1] = '[' + names.value(r.state.SelectedCam - 1) + ']';
        QTEST(names.join(QLatin1Char(' ')), "list");
        QCOMPARE(r.log.last(), QString(names.size() == 1 ? "Letzte Kamera kann nicht gelöscht werden!" : "*** Bildfang gestartet ***"));
    }

    void camera256()
    {
        WindowRig r;
        r.load(SettingsText({{"CAM_COUNT", "255"}, {"LASTCAM", "255"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        r.click(r.cams().btAdd);
        QCOMPARE(r.log.last(), QStringLiteral("Es sind höchstens 255 Kameras möglich!"));
        QCOMPARE(QList<int>({r.state.Cams.Count(), r.cams().cmbKameraname->count(), int(r.state.CopyHelpers.size())}), QList<int>({255, 255, 255}));
    }

    // Over loopback while recording three cameras: "-" on camera 2 while every engine is busy,
    // its camera in a slow transfer. Its engine is set aside, so the next tick serves both
    // remaining cameras; its late picture is filed nowhere. Then "+" and "-" again; the other
    // cameras keep their folders and images.
    void editWhileRecording()
    {
        QTcpServer server, slow;
        QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))) && slow.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
        WindowRig r;
        QString settings = SettingsText({{"ARCHIVE", r.archive.path()}, {"CAM_COUNT", "3"}, {"LASTCAM", "2"}, {"LIMIT_OPT", "Z"},
                                         {"LIMIT_UNIT", "h"}, {"RECORD", "True"}});
        for (int i = 1; i <= 3; ++i)
            settings += QStringLiteral("<CAM0%1_SOCKET>127.0.0.1:%2</CAM0%1_SOCKET><CAM0%1_RATE>1</CAM0%1_RATE><CAM0%1_NAME>Name%1</CAM0%1_NAME>")
                            .arg(i).arg((i == 2 ? slow : server).serverPort());
        r.load(settings);
        CameraEditor &c = r.cams();
        QList<QTcpSocket *> waiting;
        connect(&server, &QTcpServer::newConnection, this, [&] { waiting << server.nextPendingConnection(); });
        const auto tick = [&](int requests) {
            r.tp.clock->advanceSeconds(1);
            MainTimer_Timer(r.state);
            QTRY_COMPARE(waiting.size(), requests);
        };
        int picture = 0;
        const auto answer = [&](QTcpSocket *s) {
            QTRY_VERIFY(s->bytesAvailable() > 0);   // closing with the request unread would reset the connection
            s->readAll();
            s->write("HTTP/1.1 200 OK\r\n\r\n\xFF\xD8" + QByteArray::number(++picture) + "\xFF\xD9");
            s->disconnectFromHost();
        };
        const auto answerAll = [&] {
            for (QTcpSocket *s : std::exchange(waiting, {}))
                answer(s);
            QTRY_VERIFY(!r.state.Cams.Item(1)->mCamIsBusy && !r.state.Cams.Item(2)->mCamIsBusy);
        };
        tick(2);
        QTRY_VERIFY(slow.hasPendingConnections());
        r.click(c.btDel);   // camera 3 moves up
        QVERIFY(r.state.CopyHelpers.size() == 2 && r.state.RetiredHelpers.size() == 1);
        answerAll();
        tick(2);
        answer(slow.nextPendingConnection());   // late, for a camera that is gone
        QTRY_VERIFY(!r.state.RetiredHelpers.front()->isBusy());
        answerAll();
        r.type(c.cmbKameraname->lineEdit(), QStringLiteral("Neue"));
        r.click(c.btAdd);   // appended, switched off
        tick(2);
        QVERIFY(r.state.RetiredHelpers.empty());
        answerAll();
        r.click(c.btDel);
        tick(2);
        answerAll();
        QVERIFY(FilesBelow(r.archive.path()).filter(QStringLiteral("(Name2)")).isEmpty());
        QVERIFY(!QDir(r.state.ArchivePath + CamFolderName(3)).exists() && r.state.Recording);
        for (int camNo : {1, 2})
            QCOMPARE(FilesBelow(r.state.ArchivePath + CamFolderName(camNo)).filter(r.state.Cams.Item(camNo)->mCamName).size(), 4);
    }

    // "Übersicht": tiles in list order, pictures decoded once each at tile size, a grid that
    // follows the width, a double click that selects the camera.
    void overview()
    {
        WindowRig r;
        frmMain &w = r.load(ThreeCameras);
        QImage big(640, 480, QImage::Format_RGB32);
        big.fill(Qt::red);
        const QString jpeg = r.archive.filePath(QStringLiteral("a.jpg"));
        big.save(jpeg, "JPG");
        r.state.Cams.Item(2)->mCamLastPic = jpeg;
        r.state.Cams.Item(2)->mLastSavedTime = QDateTime(QDate(2006, 5, 12), QTime(13, 45, 7));
        r.state.Cams.Item(3)->mLastOutcome = QStringLiteral("HTTP 401: Anmeldung abgelehnt");
        r.menu(w.mnuOverview);
        OverviewWindow *o = w.frmOverview;
        QVERIFY(o && o->isVisible() && o->tiles().size() == 3);
        const auto tile = [&](int i) { return o->tiles()[size_t(i)]; };
        QCOMPARE(tile(1)->lblStatus->text(), QStringLiteral("aus · letztes Bild 12.05.2006 13:45:07"));
        QVERIFY(tile(2)->lblStatus->text().endsWith(QStringLiteral("\nHTTP 401: Anmeldung abgelehnt")));
        QCOMPARE(tile(1)->imgBild->pixmap().size(), QSize(200, 150));   // aspect kept inside the tile
        QVERIFY(tile(0)->imgBild->pixmap().isNull() && o->decodes() == 1);
        o->Refresh();
        QCOMPARE(o->decodes(), 1);   // nothing new, nothing decoded

        o->resize(OverviewWindow::TileWidth + 60, 600);
        QTRY_COMPARE(o->columns(), 1);
        QTRY_VERIFY(tile(1)->y() > tile(0)->y());
        o->resize(3 * OverviewWindow::TileWidth + 80, 600);
        QTRY_COMPARE(o->columns(), 3);
        QTRY_VERIFY(tile(1)->y() == tile(0)->y() && tile(1)->x() > tile(0)->x());

        QTest::mouseDClick(tile(2), Qt::LeftButton, {}, tile(2)->rect().center());
        QVERIFY(r.state.SelectedCam == 3 && r.cams().cmbKameraname->currentText() == QStringLiteral("Cam-C"));

        // Only tiles in view are kept current; one scrolled into view catches up at once.
        o->resize(OverviewWindow::TileWidth + 60, 250);
        QTRY_VERIFY(tile(2)->y() > tile(1)->y());
        r.state.Cams.Item(3)->mLastOutcome = QStringLiteral("WATCHDOG Zeitüberschreitung");
        o->Refresh();
        QVERIFY(tile(2)->lblStatus->text().endsWith(QStringLiteral("Anmeldung abgelehnt")));
        QScrollBar *bar = o->findChild<QScrollArea *>()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QTest::keyClick(bar, Qt::Key_End);
        QVERIFY(tile(2)->lblStatus->text().endsWith(QStringLiteral("\nWATCHDOG Zeitüberschreitung")));

        r.click(r.cams().btDel);   // the list shrinks, the tiles follow
        o->Refresh();
        QCOMPARE(o->tiles().size(), size_t(2));
    }

    // "Testen" fetches once with the typed values through an engine of its own: the camera,
    // the settings file, the archive and the recording's engines stay as they were.
    void testButton_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("result");
        QBuffer jpeg;
        jpeg.open(QIODevice::WriteOnly);
        QImage(320, 240, QImage::Format_RGB32).save(&jpeg, "JPG");
        QTest::newRow("picture") << "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n" + jpeg.data()
                                 << "Bild erhalten: 320 × 240 Pixel, " + QString::number((jpeg.data().size() + 512) / 1024) + " KB";
        QTest::newRow("wrong password") << QByteArray("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\nNein")
                                        << "Kein Bild: HTTP 401: Anmeldung abgelehnt";
    }
    void testButton()
    {
        QFETCH(QByteArray, answer);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
        QByteArray request;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *s = server.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [&, s] {
                request += s->readAll();
                if (request.endsWith("\r\n\r\n")) {
                    s->write(answer);
                    s->disconnectFromHost();
                }
            });
        });
        WindowRig r;
        frmMain &w = r.load(ThreeCameras + QStringLiteral("<ARCHIVE>") + r.archive.path() + QStringLiteral("</ARCHIVE>\r\n"));
        const QByteArray settingsBefore = ReadAll(r.ini());
        std::vector<std::pair<CopyHelper *, const CopyHelperParent *>> engines;
        for (const auto &e : r.state.CopyHelpers)
            engines.emplace_back(e.get(), e->parent());
        CameraEditor &c = r.cams();
        r.type(c.txtSocket, QStringLiteral("127.0.0.1:") + QString::number(server.serverPort()));
        r.type(c.txtImgPath, QStringLiteral("bild.jpg"));
        r.type(c.txtUser, QStringLiteral("ich"));
        r.type(c.txtPassword, QStringLiteral("geheim"));
        r.click(c.btTesten);
        TestDialog *d = w.findChild<TestDialog *>();
        QVERIFY(d);
        QTRY_VERIFY(d->finished());
        QVERIFY(request.startsWith("GET /bild.jpg HTTP/1.") && request.contains("Authorization: Basic aWNoOmdlaGVpbQ=="));
        QTEST(d->lblErgebnis->text(), "result");
        QCOMPARE(!d->imgTestbild->isHidden(), QTest::currentDataTag() == QByteArray("picture"));

        const auto cam = r.state.Cams.Item(1);
        QVERIFY(cam->mCamSocket.isEmpty() && cam->mCamImagePath.isEmpty() && cam->mCamLastPic.isEmpty());
        QVERIFY(c.btAktivieren->isEnabled() && c.txtImgPath->text() == QStringLiteral("bild.jpg"));   // still pending
        QCOMPARE(ReadAll(r.ini()), settingsBefore);
        QVERIFY(FilesBelow(r.archive.path()).isEmpty());
        QCOMPARE(r.state.CopyHelpers.size(), engines.size());
        for (size_t j = 0; j < engines.size(); ++j)
            QVERIFY(r.state.CopyHelpers[j].get() == engines[j].first && engines[j].first->parent() == engines[j].second);
    }

    // "Verbindungs Status": one line per engine; closed by the user, it comes back with the
    // engines of now when the main window is restored, and hides while it is minimised.
    void statusWindow()
    {
        WindowRig r;
        frmMain &w = r.load(ThreeCameras);
        const auto status = [] {
            for (QWidget *window : QApplication::topLevelWidgets())
                if (auto *found = qobject_cast<frmConnectionStatus *>(window))
                    return found;
            return static_cast<frmConnectionStatus *>(nullptr);
        };
        w.showMinimized();
        w.showNormal();   // the rule applies once the menu opened the window
        QVERIFY(!status());
        r.menu(w.mnuConnStatus);
        const auto line = [&](int i) { return status()->findChild<QLabel *>(QStringLiteral("Label%1").arg(i, 3, 10, QChar('0'))); };
        QVERIFY(status()->isVisible() && line(3) && !line(4));
        QCOMPARE(line(1)->text(), QStringLiteral("Connection 1: :0: Nicht aktiv"));
        r.click(r.cams().btAdd);
        status()->windowHandle()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!status());
        w.showMinimized();
        w.showNormal();
        QVERIFY(status()->isVisible() && line(4));
        w.showMinimized();
        QVERIFY(!status()->isVisible());
    }

    void aboutWindow()
    {
        struct Browser final : Associations
        {
            QString browserCommand() const override { return QStringLiteral("x-www-browser --new-tab"); }
        };
        WindowRig r;
        r.state.platform.associations = std::make_shared<Browser>();   // its options kept, the address last
        frmMain &w = r.load();
        r.menu(w.mnuAbout);
        r.menu(w.mnuAbout);
        auto *about = w.findChild<frmAbout *>();
        QCOMPARE(w.findChildren<frmAbout *>().size(), 1);   // one window at a time
        auto *label = about->findChild<QLabel *>(QStringLiteral("TX_Homepage"));
        auto *button = about->findChild<QPushButton *>(QStringLiteral("BT_Homepage"));
        QVERIFY(label->isVisible() && !button->isVisible());
        const auto moveTo = [about](QWidget *over) { QTest::mouseMove(about->windowHandle(), over->mapTo(about, over->rect().center())); };
        moveTo(label);
        QVERIFY(!label->isVisible() && button->isVisible());
        QTest::mouseMove(about->windowHandle(), QPoint(1, 1));   // the window's background
        QVERIFY(label->isVisible() && !button->isVisible());
        moveTo(label);
        r.click(button);
        QCOMPARE(QProcess::splitCommand(r.tp.launcher->commandLines.value(0)), QStringList({"x-www-browser", "--new-tab", HomePageAddress(r.state.platform)}));
        r.click(about->findChild<QPushButton *>(QStringLiteral("OKButton")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w.findChild<frmAbout *>());
    }

    // A shutdown while the storage check lets events run (at its n-th pause): the walk ends
    // there, the shutdown runs once afterwards, and every deletion is in the log file.
    void shutdownDuringLimitCheck_data()
    {
        QTest::addColumn<QString>("via");
        QTest::addColumn<int>("at");
        QTest::newRow("signal, age walk, first camera") << "signal" << 7;
        QTest::newRow("Beenden, age walk, second camera") << "menu" << 60;
        QTest::newRow("close box, space walk between two cameras") << "box" << 2;
    }
    void shutdownDuringLimitCheck()
    {
        QFETCH(QString, via);
        QFETCH(int, at);
        WindowRig r;
        const bool space = via == QLatin1String("box");
        r.tp.fileSystem->freeBytesValue = 0;
        frmMain &w = r.load(SettingsText({{"ARCHIVE", r.archive.path()}, {"CAM_COUNT", "2"}, {"LASTCAM", "1"}, {"LIMIT_OPT", space ? "P" : "Z"},
                                  {"LIMIT_SPACE", "500"}, {"LIMIT_TIME", "5"}, {"LIMIT_UNIT", "h"}}));
        w.show();
        QStringList hours, gone;   // 20 files in each of 24 hours of two cameras
        for (int i = 0; i < 960; ++i)
            QVERIFY(WriteAll((hours << r.state.ArchivePath + QStringLiteral("CAM0%1/2006/05/11/%2").arg(1 + i / 480).arg(i / 20 % 24, 2, 10, QChar('0'))).last() + QStringLiteral("/%1.jpg").arg(i), "x"));
        TerminationSignals terminations;   // wired as the program wires it
        connect(&terminations, &TerminationSignals::terminationRequested, &w, [&w] { w.close(); });
        terminations.start();
        r.tp.events->onProcess = [&] {
            if (r.tp.events->calls == at)
                via == QLatin1String("signal") ? void(::raise(SIGTERM)), QCoreApplication::processEvents() : space ? void(w.windowHandle()->close()) : w.mnuExit->trigger();
        };
        CheckStorageLimits(r.state);
        QCoreApplication::processEvents();
        const QString log = QString::fromUtf8(ReadAll(r.logFile()));
        QVERIFY(log.endsWith(QStringLiteral("> --- Bildfang beendet ---\r\n")) && log.count(QStringLiteral("beendet")) == 1);
        hours.removeDuplicates();
        for (const QString &hour : hours) {
            if (QDir(hour).exists())
                continue;
            gone << hour;
            QVERIFY(log.contains(space ? '"' + hour + QStringLiteral("\" wurde gelöscht!") : QStringLiteral("Speicher-Zeitlimit wurde überschritten")));
        }
        QVERIFY(!gone.isEmpty() && gone.size() < (space ? 2 : 48));   // the walk ended early
    }

    // The real program, started without a display, ends on SIGTERM as "Beenden" does.
    void terminationSignal()
    {
        QTemporaryDir folder;
        QTemporaryDir archive;
        const QString program = folder.filePath(QStringLiteral("bildfang"));
        QVERIFY(QFile::copy(QStringLiteral(BILDFANG_PATH), program));
        QVERIFY(WriteAll(folder.filePath(QStringLiteral("Bildfang.ini")),
                 SettingsText({{"ARCHIVE", archive.path()}, {"CAM01_SOCKET", "127.0.0.1:1"}, {"CAM01_RATE", "1"}, {"LASTCAM", "1"},
                       {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}, {"LIMIT_TIME", "5"}, {"RECORD", "True"}})
                     .toUtf8()));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        p.setProcessEnvironment(env);
        p.start(program, {});
        QVERIFY(p.waitForStarted());
        // Ready once SIGTERM is caught (bit 15 of the caught-signals mask).
        const auto caught = [&p] {
            const QByteArray status = ReadAll(QStringLiteral("/proc/%1/status").arg(p.processId()));
            const qsizetype at = status.indexOf("SigCgt:");
            return at >= 0 && (status.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGTERM - 1)));
        };
        for (int i = 0; i < 500 && !caught(); ++i)
            QThread::msleep(10);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0);
        const QStringList logs = QDir(folder.path()).entryList({QStringLiteral("Bildfang Log *.txt")});
        const QByteArray log = ReadAll(folder.filePath(logs.value(0)));
        QVERIFY(logs.size() == 1 && log.contains("> Aufnahme gestartet\r\n") && log.endsWith("> --- Bildfang beendet ---\r\n"));
        QVERIFY(ReadAll(folder.filePath(QStringLiteral("Bildfang.ini"))).contains("<RECORD>True</RECORD>"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
