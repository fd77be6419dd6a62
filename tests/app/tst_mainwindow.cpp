#include "state/AppState.h"
#include "app/CaptureCycle.h"
#include "app/MainWindow.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "log/Log.h"
#include "support/Files.h"
#include "support/SettingsText.h"
#include "support/TestPlatform.h"
#include "ui/PictureBox.h"
#include "ui/UpDown.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <memory>
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

QStringList Names(const frmMain &w)
{
    QStringList names;
    for (int i = 0; i < w.cmbKameraname->count(); ++i)
        names << w.cmbKameraname->itemText(i);
    return names;
}

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
        QTEST(Names(w), "names");
        QCOMPARE(int(r.state.CopyHelpers.size()), Names(w).size());
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
        // The last camera selected, its boxes filled; each box of the file applied.
        QCOMPARE(QStringList({r.state.ArchivePath, w.txtSocket->text(), w.txtImgPath->text(), w.txtUser->text(),
                              w.txtPassword->text(), w.cmbUpdaterate->currentText(), r.state.TimeLimitUnit}),
                 QStringList({r.archive.path() + QDir::separator(), "127.0.0.1:1", "/a.jpg", "u", "p", "45", "Tage"}));
        QVERIFY(r.state.SpaceLimitOn && !r.state.TimeLimitOn && r.state.SpaceLimitMB == 500 && r.state.TimeLimitValue == 3);
        QVERIFY(r.red(w.txtSpeicherlimit, QPalette::Base));   // 400 MB free, 500 asked
        QVERIFY(r.state.LogAutoClear && r.state.LogAutoSave && w.Recording().MainTimer().isActive() && w.pos() == QPoint(100, 50));
        // The menu item twice: off and on again, one line each.
        w.mnuStartStop->trigger();
        QVERIFY(!w.chkRecording->isChecked() && !r.state.Recording);
        w.mnuStartStop->trigger();
        QCOMPARE(r.log, QStringList({"*** Bildfang gestartet ***", "Aufnahme gestartet", "Aufnahme angehalten", "Aufnahme gestartet"}));
        QVERIFY(w.chkRecording->isChecked() && w.mnuStartStop->text() == QStringLiteral("Aufnahme stoppen"));
    }

    // The close box and "Beenden" write the same settings and log lines.
    void closing()
    {
        QByteArray files[2];
        for (const bool menu : {false, true}) {
            WindowRig r;
            frmMain &w = r.load(SettingsText({{"ARCHIVE", r.archive.path()}, {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"},
                                      {"LIMIT_TIME", "5"}, {"RECORD", "True"}}));
            w.show();
            menu ? w.mnuExit->trigger() : void(w.close());
            QCloseEvent again;   // the close box once more, before the window manager took it away
            QApplication::sendEvent(&w, &again);
            QVERIFY(r.log.last() == QStringLiteral("--- Bildfang beendet ---") && r.log.count(r.log.last()) == 1);
            QByteArray settings = ReadAll(r.ini());
            QVERIFY(settings.contains("<RECORD>True</RECORD>") && settings.contains("<LIMIT_TIME>5</LIMIT_TIME>"));
            files[menu] = settings.replace(r.archive.path().toUtf8(), "A") + ReadAll(r.logFile());
        }
        QCOMPARE(files[1], files[0]);
        QVERIFY(files[0].endsWith("> --- Bildfang beendet ---\r\n"));
    }

    // Steps: "t:x" types x into the age box, "T" leaves it, "u+"/"u-" step it; "s:x", "S",
    // "v+"/"v-" the same for the space box. Then: age text, unit, age value, space text, MB.
    void limitBoxes_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("boxes");
        QTest::newRow("48 h gives 2 Tage") << "t:48" << "2 Tage 2 / 0";
        QTest::newRow("1 Tag gives 47 h") << "t:48 t:1" << "47 h 47 / 0";
        QTest::newRow("empty in hours") << "t:5 t: T" << "1 h 1 / 0";
        QTest::newRow("empty in days") << "t:48 t: T" << "47 h 47 / 0";
        QTest::newRow("200 Tage cut to 120") << "t:48 t:200 T" << "120 Tage 120 / 0";
        QTest::newRow("0 h gives 1") << "t:0 T" << "1 h 1 / 0";
        QTest::newRow("letters leave the unit") << "t:48 t:x" << "x Tage 0 / 0";
        QTest::newRow("step up past 47 h") << "t:47 u+" << "2 Tage 2 / 0";
        QTest::newRow("step down past 2 Tage") << "t:48 u-" << "47 h 47 / 0";
        QTest::newRow("50 MB gives 100") << "s:50 S" << " h 24 /100 100";
        QTest::newRow("200000 gives 102400") << "s:200000 S" << " h 24 /102400 102400";
        QTest::newRow("no number counts 100") << "s:abc" << " h 24 /abc 100";
        QTest::newRow("no number on leaving") << "s:abc S" << " h 24 /100 100";
        QTest::newRow("space steps of 100") << "s:150 v+ v+ v-" << " h 24 /200 200";
    }
    void limitBoxes()
    {
        QFETCH(QString, steps);
        WindowRig r;
        frmMain &w = r.load();
        for (const QString &step : steps.split(QLatin1Char(' '))) {
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
        QCOMPARE(r.state.TimeLimitUnit, w.lblEinheit->text());
        QTEST(QStringLiteral("%1 %2 %3 /%4 %5").arg(w.txtZeitlimit->text(), w.lblEinheit->text()).arg(r.state.TimeLimitValue)
                  .arg(w.txtSpeicherlimit->text()).arg(r.state.SpaceLimitMB),
              "boxes");
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
        QVERIFY(r.state.ArchivePath == r.archive.path() + QDir::separator() && w.lblSpeicherort->text() == r.state.ArchivePath);
        QVERIFY(ReadAll(r.ini()).contains("<ARCHIVE>" + r.state.ArchivePath.toUtf8() + "</ARCHIVE>") && r.red(w.txtSpeicherlimit, QPalette::Base));
        w.txtSpeicherlimit->setText(QStringLiteral("150"));
        QVERIFY(!r.red(w.txtSpeicherlimit, QPalette::Base));
    }

    void logControls()
    {
        WindowRig r;
        frmMain &w = r.load();
        QCOMPARE(w.txtLog->toPlainText(), QString(r.state.txtLog.text()).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        w.chkLogAutoSichern->click();
        w.chkLogAutoLeeren->click();
        QVERIFY(r.state.LogAutoSave && r.state.LogAutoClear && ReadAll(r.ini()).contains("<LOG_CLEAR>True</LOG_CLEAR>\r\n<LOG_SAVE>True"));

        const QByteArray lines = r.state.txtLog.text().toUtf8();
        w.btLogSpeichern->click();
        QVERIFY(ReadAll(r.logFile()) == lines && r.state.txtLog.text().isEmpty() && w.txtLog->toPlainText().isEmpty());
        WriteLog(r.state, QStringLiteral("x"));
        w.btLogLeeren->click();
        QVERIFY(w.txtLog->toPlainText().isEmpty() && ReadAll(r.logFile()) == lines);
        w.btLogDatei->click();
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
        w.SelectCamEntry(1);
        QVERIFY(w.imgLetztesBild->hasPicture() && w.lblLetztesBild->text() == QStringLiteral("20060512-134507(CAM02).jpg"));
        w.SelectCamEntry(0);   // a failing load empties the box and forgets the picture
        QVERIFY(!w.imgLetztesBild->hasPicture() && w.lblLetztesBild->text().isEmpty() && r.state.Cams.Item(1)->mCamLastPic.isEmpty());
    }

    void faults()
    {
        WindowRig r;
        // An existing settings file that cannot be read is reported and never replaced.
        QVERIFY(QDir().mkdir(r.ini()));
        frmMain &w = r.load();
        w.chkLogAutoLeeren->click();
        QVERIFY(r.log.at(1).startsWith(QStringLiteral("INI Datei kann nicht gelesen werden")) && QFileInfo(r.ini()).isDir());

        // A failing save is logged once per cause, and again after a save succeeded.
        r.state.SettingsFileProtected = false;
        const int before = int(r.log.size());
        for (int i = 0; i < 3; ++i)
            w.chkLogAutoLeeren->click();
        QVERIFY(r.log.size() == before + 1 && r.log.last().startsWith(QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"")));
        std::swap(r.state.SettingsFileName, r.state.LogFileName);   // a file that can be written
        w.chkLogAutoLeeren->click();
        std::swap(r.state.SettingsFileName, r.state.LogFileName);
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
        QFile::remove(r.logFile());
        WriteLog(r.state, QStringLiteral("danach"));
        QCOMPARE(ReadAll(r.logFile()).count("\r\n"), LogWindow::OverflowLines);
        QVERIFY(r.state.txtLog.lineBreaks() == 1 && w.txtLog->document()->blockCount() == 2);   // the line and an empty one

        // At the end, a log file that cannot be written gets the lines on standard error.
        r.state.LogFileName = r.archive.filePath(QStringLiteral("missing/log.txt"));
        const QString errFile = r.archive.filePath(QStringLiteral("stderr.txt"));
        const int saved = ::dup(2);
        std::FILE *err = std::freopen(qPrintable(errFile), "w", stderr);
        w.close();
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
        QTest::newRow("no interval selected") << "h" << "/p" << -1 << "h|/p|-1";
    }
    void activate()
    {
        WindowRig r;
        frmMain &w = r.load(SettingsText({{"CAM_COUNT", "2"}, {"CAM02_NAME", "Tor2"}, {"CAM02_RATE", "7"}, {"LASTCAM", "2"},
                                  {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        QCOMPARE(w.cmbUpdaterate->currentText(), QStringLiteral("OFF"));   // 7 is none of the list's
        w.txtUser->setText(QStringLiteral("edited"));
        w.SelectCamEntry(0);
        w.SelectCamEntry(1);
        QVERIFY(w.txtUser->text().isEmpty() && !w.btAktivieren->isEnabled());
        QFETCH(QString, socket);
        QFETCH(QString, path);
        QFETCH(int, rateIndex);
        w.txtSocket->setText(socket);
        w.txtImgPath->setText(path);
        w.txtUser->setText(QStringLiteral("u"));
        w.txtPassword->setText(QStringLiteral("p"));
        w.cmbUpdaterate->setCurrentIndex(rateIndex);
        QVERIFY(w.btAktivieren->isEnabled());
        w.btAktivieren->click();
        const auto cam = r.state.Cams.Item(2);
        QTEST(QStringList({cam->mCamSocket, cam->mCamImagePath, QString::number(cam->mCamUpdaterate)}).join(QLatin1Char('|')), "taken");
        QCOMPARE(QStringList({w.txtSocket->text(), w.txtImgPath->text(), cam->mCamUser, cam->mCamPassword, cam->mCamName}),
                 QStringList({cam->mCamSocket, cam->mCamImagePath, "u", "p", "Tor2"}));
        QVERIFY(!w.btAktivieren->isEnabled() && ReadAll(r.ini()).contains("<CAM02_SOCKET>" + cam->mCamSocket.toUtf8() + "</CAM02_SOCKET>"));
    }

    // Steps: "sel:i" selects entry i, "type:x" types a name, "+", "-", "ok" ("Aktivieren");
    // then the list, the selected name in brackets.
    void editCameras_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("list");
        QTest::newRow("rename") << "sel:1 type:Neue ok" << "Cam-A [Neue] Cam-C";
        QTest::newRow("empty name") << "sel:1 type: ok" << "Cam-A [CAM02] Cam-C";
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
        frmMain &w = r.load(SettingsText({{"CAM_COUNT", "3"}, {"CAM01_NAME", "Cam-A"}, {"CAM02_NAME", "Cam-B"}, {"CAM03_NAME", "Cam-C"},
                                  {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (step.startsWith(QLatin1String("sel:")))
                w.SelectCamEntry(step.mid(4).toInt());
            else if (step.startsWith(QLatin1String("type:"))) {   // typed: the entry is deselected
                w.cmbKameraname->lineEdit()->setText(step.mid(5));
                emit w.cmbKameraname->lineEdit()->textEdited(step.mid(5));
            } else
                (step == QLatin1String("+") ? w.btAdd : step == QLatin1String("-") ? w.btDel : w.btAktivieren)->click();
        }
        QStringList names = Names(w), records;
        for (int i = 1; i <= r.state.Cams.Count(); ++i)
            records << r.state.Cams.Item(i)->mCamName;
        QCOMPARE(records, names);
        QVERIFY(r.state.CamCount == names.size() && int(r.state.CopyHelpers.size()) == names.size() && !w.btAktivieren->isEnabled());
        QCOMPARE(w.lblCamFolder->text(), CamFolderName(w.cmbKameraname->currentIndex() + 1));
        names[r.state.SelectedCam - 1] = '[' + names.value(r.state.SelectedCam - 1) + ']';
        QTEST(names.join(QLatin1Char(' ')), "list");
        QCOMPARE(r.log.last(), QString(names.size() == 1 ? "Letzte Kamera kann nicht gelöscht werden!" : "*** Bildfang gestartet ***"));
    }

    void camera256()
    {
        WindowRig r;
        r.load(SettingsText({{"CAM_COUNT", "255"}, {"LASTCAM", "255"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}})).btAdd->click();
        QCOMPARE(r.log.last(), QStringLiteral("Es sind höchstens 255 Kameras möglich!"));
        QCOMPARE(QList<int>({r.state.Cams.Count(), r.w->cmbKameraname->count(), int(r.state.CopyHelpers.size())}), QList<int>({255, 255, 255}));
    }

    // Over loopback while recording: "-" while every engine is busy (the last engine finishes
    // and reports, the removed camera's late picture is filed nowhere, the next tick serves
    // every camera), then "+" and "-" again; the other cameras keep their folders and images.
    void editWhileRecording()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
        WindowRig r;
        QString settings = SettingsText({{"ARCHIVE", r.archive.path()}, {"CAM_COUNT", "3"}, {"LASTCAM", "2"}, {"LIMIT_OPT", "Z"},
                                 {"LIMIT_UNIT", "h"}, {"RECORD", "True"}});
        for (int i = 1; i <= 3; ++i)
            settings += QStringLiteral("<CAM0%1_SOCKET>127.0.0.1:%2</CAM0%1_SOCKET><CAM0%1_RATE>1</CAM0%1_RATE><CAM0%1_NAME>Name%1</CAM0%1_NAME>")
                            .arg(i).arg(server.serverPort());
        frmMain &w = r.load(settings);
        QList<QTcpSocket *> waiting;
        connect(&server, &QTcpServer::newConnection, this, [&] { waiting << server.nextPendingConnection(); });
        const auto tick = [&](int requests) {
            r.tp.clock->advanceSeconds(1);
            MainTimer_Timer(r.state);
            QTRY_COMPARE(waiting.size(), requests);
        };
        int picture = 0;
        const auto answer = [&] {
            for (QTcpSocket *c : std::exchange(waiting, {})) {
                c->write("HTTP/1.1 200 OK\r\n\r\n\xFF\xD8" + QByteArray::number(++picture) + "\xFF\xD9");
                c->disconnectFromHost();
            }
            QTRY_VERIFY(!r.state.Cams.Item(1)->mCamIsBusy && !r.state.Cams.Item(2)->mCamIsBusy);
        };
        tick(3);
        w.btDel->click();   // camera 2 goes; camera 3, served by the last engine, moves up
        QCOMPARE(int(r.state.CopyHelpers.size()), 2);
        answer();
        tick(2);
        QVERIFY(r.state.RetiredHelpers.empty());
        answer();
        QTest::keyClicks(w.cmbKameraname->lineEdit(), QStringLiteral("Neue"));
        w.btAdd->click();   // appended, switched off
        tick(2);
        answer();
        w.btDel->click();
        tick(2);
        answer();
        QVERIFY(FilesBelow(r.archive.path()).filter(QStringLiteral("(Name2)")).isEmpty());
        QVERIFY(!QDir(r.state.ArchivePath + CamFolderName(3)).exists() && r.state.Recording);
        for (int camNo : {1, 2})
            QCOMPARE(FilesBelow(r.state.ArchivePath + CamFolderName(camNo)).filter(r.state.Cams.Item(camNo)->mCamName).size(), 4);
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
