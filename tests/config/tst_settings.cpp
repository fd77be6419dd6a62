#include "app/AppState.h"
#include "config/FakeSettingsView.h"
#include "config/Settings.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTest>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

struct Fixture
{
    TestPlatform tp;
    AppState state{tp.platform};
    FakeSettingsView view{state};

    Fixture() { state.SettingsFileName = SettingsFileNameFor(tp.program->folder); }

    void writeFile(const QByteArray &bytes)
    {
        QFile file(state.SettingsFileName);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray readFile() const
    {
        QFile file(state.SettingsFileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::shared_ptr<CamObject> addCam(const QString &name, const QString &socket, const QString &path,
                                      const QString &user, const QString &pwd, qint16 rate)
    {
        auto cam = std::make_shared<CamObject>(state);
        cam->mCamName = name;
        cam->mCamSocket = socket;
        cam->mCamImagePath = path;
        cam->mCamUser = user;
        cam->mCamPassword = pwd;
        cam->mCamUpdaterate = rate;
        state.Cams.Add(cam);
        state.CamCount = state.Cams.Count();
        return cam;
    }
};

const QString Header = QStringLiteral("*** INI file of Bildfang. Do NOT edit ***");

// A complete, valid file; every line can be replaced or left out.
const std::vector<std::pair<QString, QString>> &BaseLines()
{
    static const std::vector<std::pair<QString, QString>> lines = {
        {"ARCHIVE", "/srv/archiv"},
        {"CAM_COUNT", "2"},
        {"CAM01_NAME", "Hoftor"}, {"CAM01_SOCKET", "127.0.0.1:8080"},
        {"CAM01_PATH", "/record/current.jpg"}, {"CAM01_USER", "admin"},
        {"CAM01_PWD", "geheim"}, {"CAM01_RATE", "5"},
        {"CAM02_NAME", "Garage"}, {"CAM02_SOCKET", "kamera2"},
        {"CAM02_PATH", "/image.jpg"}, {"CAM02_USER", ""},
        {"CAM02_PWD", ""}, {"CAM02_RATE", "-1"},
        {"LASTCAM", "1"},
        {"LIMIT_OPT", "P"},
        {"LIMIT_SPACE", "500"},
        {"LIMIT_TIME", "12"},
        {"LIMIT_UNIT", "h"},
        {"LOG_CLEAR", "Wahr"},
        {"LOG_SAVE", "True"},
        {"RECORD", "Falsch"},
        {"WINDOW_LEFT", "1200"},
        {"WINDOW_STATE", "2"},
        {"WINDOW_TOP", "-300"},
    };
    return lines;
}

// The base file with tag's value replaced; a null value leaves the line out.
QString FileWith(const QString &tag = QString(), const QString &value = QString())
{
    QString text = Header + "\r\n";
    for (const auto &[name, base] : BaseLines()) {
        if (name == tag && value.isNull())
            continue;
        text += "<" + name + ">" + (name == tag ? value : base) + "</" + name + ">\r\n";
    }
    return text;
}

// What the settings did, as text, for one observed value.
QString Observe(const Fixture &f, const QString &what)
{
    const AppState &s = f.state;
    const auto cam = [&](int i) { return s.Cams.Item(i); };
    if (what == "CamCount")
        return QString::number(s.CamCount) + "/" + QString::number(s.Cams.Count());
    if (what == "Cam1Name") return cam(1)->mCamName;
    if (what == "Cam1Socket") return cam(1)->mCamSocket;
    if (what == "Cam1Path") return cam(1)->mCamImagePath;
    if (what == "Cam1User") return cam(1)->mCamUser;
    if (what == "Cam1Pwd") return cam(1)->mCamPassword;
    if (what == "Cam1Rate") return QString::number(cam(1)->mCamUpdaterate);
    if (what == "Archive") return f.view.speicherort + "|" + s.ArchivePath;
    if (what == "SelectedCam") return QString::number(s.SelectedCam);
    if (what == "LimitOpt") {
        QStringList clicks = f.view.calls.filter("opt");
        return clicks.join(",") + "|" + (s.SpaceLimitOn ? "P" : "") + (s.TimeLimitOn ? "Z" : "");
    }
    if (what == "Unit") return f.view.einheit + "|" + s.TimeLimitUnit;
    if (what == "Space") return f.view.speicherlimit + "|" + QString::number(s.SpaceLimitMB);
    if (what == "Time") return f.view.zeitlimit + "|" + QString::number(s.TimeLimitValue);
    if (what == "LogClear") return s.LogAutoClear ? "on" : "off";
    if (what == "LogSave") return s.LogAutoSave ? "on" : "off";
    if (what == "Record") return s.Recording ? "on" : "off";
    if (what == "Left") return QString::number(f.view.left);
    if (what == "Top") return QString::number(f.view.top);
    if (what == "State") return QString::number(f.view.windowState);
    return "?" + what;
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void readTag_data();
    void readTag();
    void tryParseInt16();

    void baseFileAppliesWithoutError();
    void fallbacks_data();
    void fallbacks();
    void emptyAndHeaderOnlyFiles_data();
    void emptyAndHeaderOnlyFiles();
    void unitIsAppliedBeforeAge();
    void recordingIsSwitchedOnOnceByTheStoredValue();
    void moreThan255CamerasAreCut();
    void missingFileLeavesDefaultsToStartUp();

    void roundTrip_data();
    void roundTrip();
    void writtenTextHasFixedOrder();
    void removedCamerasLeaveNoLines();
    void windows1252FileLoadsUmlaut();
    void fileIsOwnerOnly();
    void saveReplacesReadOnlyFile();
    void saveFailureReachesCaller();
};

void tst_Settings::readTag_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "<A>1</A>\r\n" << "A" << "1";
    QTest::newRow("written twice: the last counts") << "<A>1</A>\r\n<A>2</A>\r\n" << "A" << "2";
    QTest::newRow("lower-case tag") << "<cam_count>3</cam_count>\r\n" << "CAM_COUNT" << "3";
    QTest::newRow("mixed case pair") << "<Cam_Count>3</CAM_COUNT>\r\n" << "cam_count" << "3";
    QTest::newRow("line breaks and tags inside")
        << "<X>a\r\nb<Y>c</Y>\r\n</X>\r\n" << "X" << "a\r\nb<Y>c</Y>\r\n";
    QTest::newRow("missing closing tag") << "<A>1\r\n<B>2</B>\r\n" << "A" << "";
    QTest::newRow("empty file") << "" << "A" << "";
    QTest::newRow("header only") << Header + "\r\n" << "CAM_COUNT" << "";
    QTest::newRow("empty value") << "<A></A>\r\n" << "A" << "";
    QTest::newRow("later unclosed tag keeps the pair") << "<A>1</A>\r\n<A>2\r\n" << "A" << "1";
    QTest::newRow("stray closing tag after a pair") << "<A>1</A>x</A>\r\n" << "A" << "1";
    QTest::newRow("closing before opening") << "</A><A>v</A>\r\n" << "A" << "v";
    QTest::newRow("longer name is another tag")
        << "<CAM01_NAMEX>no</CAM01_NAMEX><CAM01_NAME>yes</CAM01_NAME>\r\n<CAM01_NAME_2>x</CAM01_NAME_2>"
        << "CAM01_NAME" << "yes";
    QTest::newRow("shorter name is another tag") << "<CAM0>no</CAM0>\r\n" << "CAM01" << "";
    QTest::newRow("angle brackets in a value") << "<PWD>a<b>c>d</PWD>\r\n" << "PWD" << "a<b>c>d";
    // An empty pair stays armed: a stray closing tag later completes it, tag included.
    QTest::newRow("empty pair then stray closing tag") << "<A></A>x</A>\r\n" << "A" << "</A>x";
    QTest::newRow("past 16-bit positions")
        << QString(40000, QChar('.')) + "<A>far</A>\r\n" << "A" << "far";
}

void tst_Settings::readTag()
{
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(ReadTag(text, name), expected);
}

void tst_Settings::tryParseInt16()
{
    qint16 value = 99;
    QVERIFY(TryParseInt16(" -120 ", value));
    QCOMPARE(value, qint16(-120));
    for (const char *bad : {"32768", "", "12px"}) {
        value = 99;
        QVERIFY(!TryParseInt16(bad, value));
        QCOMPARE(value, qint16(0));   // a failure leaves 0, not the old value
    }
}

void tst_Settings::baseFileAppliesWithoutError()
{
    Fixture f;
    QVERIFY(!ApplySettings(f.state, f.view, FileWith()));
    QCOMPARE(Observe(f, "CamCount"), QString("2/2"));
    QCOMPARE(f.state.Cams.Item(2)->mCamName, QString("Garage"));
    QCOMPARE(f.state.Cams.Item(2)->mCamUpdaterate, qint16(-1));
    QCOMPARE(f.state.Cams.Item(2)->mCamNo, quint8(2));
    QCOMPARE(Observe(f, "Archive"), "/srv/archiv|/srv/archiv" + QString(QDir::separator()));
    QCOMPARE(Observe(f, "LimitOpt"), QString("optPlatzlimit|P"));
    QCOMPARE(Observe(f, "Space"), QString("500|500"));
    QCOMPARE(Observe(f, "Time"), QString("12|12"));
    QCOMPARE(Observe(f, "LogClear"), QString("on"));
    QCOMPARE(Observe(f, "LogSave"), QString("on"));
    QCOMPARE(Observe(f, "Record"), QString("off"));
    QCOMPARE(Observe(f, "Left"), QString("1200"));
    QCOMPARE(Observe(f, "Top"), QString("-300"));
    QCOMPARE(Observe(f, "State"), QString("2"));
}

void tst_Settings::fallbacks_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("value");   // null: the line is left out
    QTest::addColumn<QString>("observe");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("error");

    const QString missing;   // null
    const auto row = [](const char *name, const QString &tag, const QString &value, const char *observe,
                        const QString &expected, bool error) {
        QTest::newRow(name) << tag << value << QString(observe) << expected << error;
    };

    row("CAM_COUNT missing", "CAM_COUNT", missing, "CamCount", "1/1", false);
    row("CAM_COUNT empty", "CAM_COUNT", "", "CamCount", "1/1", false);
    row("CAM_COUNT abc", "CAM_COUNT", "abc", "CamCount", "1/1", false);
    row("CAM_COUNT 0", "CAM_COUNT", "0", "CamCount", "1/1", false);
    row("CAM_COUNT negative", "CAM_COUNT", "-3", "CamCount", "1/1", false);
    row("CAM_COUNT past 16 bits", "CAM_COUNT", "40000", "CamCount", "1/1", false);
    row("CAM_COUNT with blanks", "CAM_COUNT", " 3 ", "CamCount", "3/3", false);
    row("CAM_COUNT number prefix is no number", "CAM_COUNT", "3 Kameras", "CamCount", "1/1", false);

    row("NAME missing", "CAM01_NAME", missing, "Cam1Name", "", false);
    row("NAME kept as written", "CAM01_NAME", " Tor  Süd ", "Cam1Name", " Tor  Süd ", false);
    row("SOCKET missing", "CAM01_SOCKET", missing, "Cam1Socket", "", false);
    row("PATH missing", "CAM01_PATH", missing, "Cam1Path", "", false);
    row("USER missing", "CAM01_USER", missing, "Cam1User", "", false);
    row("PWD missing", "CAM01_PWD", missing, "Cam1Pwd", "", false);

    row("RATE missing", "CAM01_RATE", missing, "Cam1Rate", "0", false);
    row("RATE OFF", "CAM01_RATE", "OFF", "Cam1Rate", "0", false);
    row("RATE off stored", "CAM01_RATE", "-1", "Cam1Rate", "-1", false);
    row("RATE number prefix", "CAM01_RATE", " 15 s", "Cam1Rate", "15", false);
    row("RATE half to even down", "CAM01_RATE", "2.5", "Cam1Rate", "2", false);
    row("RATE past 16 bits", "CAM01_RATE", "99999", "Cam1Rate", "0", false);

    const QString sep(QDir::separator());
    row("ARCHIVE missing", "ARCHIVE", missing, "Archive", "|", false);
    row("ARCHIVE with separator", "ARCHIVE", "/srv/a" + sep, "Archive", "/srv/a" + sep + "|/srv/a" + sep, false);

    row("LASTCAM missing", "LASTCAM", missing, "SelectedCam", "1", true);
    row("LASTCAM 0", "LASTCAM", "0", "SelectedCam", "1", true);
    row("LASTCAM above count", "LASTCAM", "3", "SelectedCam", "1", true);
    row("LASTCAM abc", "LASTCAM", "abc", "SelectedCam", "1", true);
    row("LASTCAM past 16 bits", "LASTCAM", "70000", "SelectedCam", "1", true);
    row("LASTCAM 2", "LASTCAM", "2", "SelectedCam", "2", false);
    row("LASTCAM number prefix", "LASTCAM", "2. Kamera", "SelectedCam", "2", false);

    row("LIMIT_OPT missing", "LIMIT_OPT", missing, "LimitOpt", "|", true);
    row("LIMIT_OPT empty", "LIMIT_OPT", "", "LimitOpt", "|", true);
    row("LIMIT_OPT other", "LIMIT_OPT", "X", "LimitOpt", "|", true);
    row("LIMIT_OPT lower p", "LIMIT_OPT", "p", "LimitOpt", "optPlatzlimit|P", false);
    row("LIMIT_OPT lower z", "LIMIT_OPT", "z", "LimitOpt", "optZeitlimit|Z", false);

    row("LIMIT_UNIT missing", "LIMIT_UNIT", missing, "Unit", "h|h", true);
    row("LIMIT_UNIT lower tage", "LIMIT_UNIT", "tage", "Unit", "h|h", true);
    row("LIMIT_UNIT upper H", "LIMIT_UNIT", "H", "Unit", "h|h", true);
    row("LIMIT_UNIT Tage", "LIMIT_UNIT", "Tage", "Unit", "Tage|Tage", false);

    row("LIMIT_SPACE missing", "LIMIT_SPACE", missing, "Space", "100|100", false);
    row("LIMIT_SPACE not a number", "LIMIT_SPACE", "viel", "Space", "viel|100", false);
    row("LIMIT_SPACE 250", "LIMIT_SPACE", "250", "Space", "250|250", false);

    row("LIMIT_TIME missing", "LIMIT_TIME", missing, "Time", "|0", false);
    row("LIMIT_TIME 30", "LIMIT_TIME", "30", "Time", "30|30", false);

    row("LOG_CLEAR missing", "LOG_CLEAR", missing, "LogClear", "off", false);
    row("LOG_CLEAR Falsch", "LOG_CLEAR", "Falsch", "LogClear", "off", false);
    row("LOG_CLEAR lower falsch", "LOG_CLEAR", "falsch", "LogClear", "off", false);
    row("LOG_CLEAR lower wahr", "LOG_CLEAR", "wahr", "LogClear", "off", false);
    row("LOG_CLEAR TRUE", "LOG_CLEAR", "TRUE", "LogClear", "off", false);
    row("LOG_CLEAR True", "LOG_CLEAR", "True", "LogClear", "on", false);

    row("LOG_SAVE missing", "LOG_SAVE", missing, "LogSave", "off", false);
    row("LOG_SAVE lower falsch", "LOG_SAVE", "falsch", "LogSave", "off", false);
    row("LOG_SAVE lower wahr", "LOG_SAVE", "wahr", "LogSave", "on", false);
    row("LOG_SAVE TRUE", "LOG_SAVE", "TRUE", "LogSave", "on", false);
    row("LOG_SAVE other", "LOG_SAVE", "ja", "LogSave", "off", false);

    row("RECORD missing", "RECORD", missing, "Record", "off", false);
    row("RECORD lower true", "RECORD", "true", "Record", "on", false);
    row("RECORD Wahr", "RECORD", "Wahr", "Record", "on", false);

    row("WINDOW_LEFT missing", "WINDOW_LEFT", missing, "Left", "0", false);
    row("WINDOW_LEFT abc", "WINDOW_LEFT", "abc", "Left", "0", false);
    row("WINDOW_LEFT past 16 bits", "WINDOW_LEFT", "40000", "Left", "0", false);
    row("WINDOW_LEFT negative", "WINDOW_LEFT", "-120", "Left", "-120", false);
    row("WINDOW_TOP missing", "WINDOW_TOP", missing, "Top", "0", false);
    row("WINDOW_TOP past 16 bits", "WINDOW_TOP", "32768", "Top", "0", false);
    row("WINDOW_STATE missing", "WINDOW_STATE", missing, "State", "0", false);
    row("WINDOW_STATE minimized", "WINDOW_STATE", "1", "State", "1", false);
    row("WINDOW_STATE unknown", "WINDOW_STATE", "7", "State", "0", false);
}

void tst_Settings::fallbacks()
{
    QFETCH(QString, tag);
    QFETCH(QString, value);
    QFETCH(QString, observe);
    QFETCH(QString, expected);
    QFETCH(bool, error);

    Fixture f;
    QCOMPARE(ApplySettings(f.state, f.view, FileWith(tag, value)), error);
    QCOMPARE(Observe(f, observe), expected);
}

void tst_Settings::emptyAndHeaderOnlyFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("header only") << (Header + "\r\n").toLatin1();
    QTest::newRow("other header") << QByteArray("; Einstellungen\r\n");
}

void tst_Settings::emptyAndHeaderOnlyFiles()
{
    QFETCH(QByteArray, content);
    Fixture f;
    f.writeFile(content);
    const SettingsLoad load = LoadSettings(f.state, f.view);
    QVERIFY(load.fileFound);   // an empty file is no missing file
    QVERIFY(load.error);       // LASTCAM, LIMIT_OPT and LIMIT_UNIT
    QCOMPARE(Observe(f, "CamCount"), QString("1/1"));
    QCOMPARE(Observe(f, "Unit"), QString("h|h"));
    QCOMPARE(f.state.SelectedCam, qint16(1));
    QCOMPARE(Observe(f, "LimitOpt"), QString("|"));
    QCOMPARE(Observe(f, "Space"), QString("100|100"));
    QVERIFY(f.state.ArchivePath.isEmpty());
}

void tst_Settings::unitIsAppliedBeforeAge()
{
    Fixture f;
    ApplySettings(f.state, f.view, FileWith());
    const QStringList &calls = f.view.calls;
    QVERIFY(calls.indexOf("lblEinheit") >= 0);
    QVERIFY(calls.indexOf("lblEinheit") < calls.indexOf("txtZeitlimit"));
    QVERIFY(calls.indexOf("optPlatzlimit") < calls.indexOf("lblEinheit"));
}

void tst_Settings::recordingIsSwitchedOnOnceByTheStoredValue()
{
    Fixture on;
    ApplySettings(on.state, on.view, FileWith("RECORD", "WAHR"));
    QCOMPARE(on.view.calls.count("chkRecording"), 1);
    QVERIFY(on.state.Recording);

    // Unchecking a box that is unchecked runs nothing.
    Fixture off;
    ApplySettings(off.state, off.view, FileWith("RECORD", "Falsch"));
    QCOMPARE(off.view.calls.count("chkRecording"), 0);
}

void tst_Settings::moreThan255CamerasAreCut()
{
    Fixture f;
    QString text = FileWith("CAM_COUNT", "300");
    text += "<CAM255_NAME>Letzte</CAM255_NAME>\r\n<CAM255_RATE>7</CAM255_RATE>\r\n";
    ApplySettings(f.state, f.view, text);
    QCOMPARE(Observe(f, "CamCount"), QString("255/255"));
    QCOMPARE(f.state.Cams.Item(255)->mCamName, QString("Letzte"));
    QCOMPARE(f.state.Cams.Item(255)->mCamUpdaterate, qint16(7));
    QCOMPARE(f.state.Cams.Item(255)->mCamNo, quint8(255));
}

void tst_Settings::missingFileLeavesDefaultsToStartUp()
{
    Fixture f;
    const SettingsLoad load = LoadSettings(f.state, f.view);
    QVERIFY(!load.fileFound);
    QCOMPARE(f.state.Cams.Count(), qint16(0));
    QVERIFY(f.view.calls.isEmpty());

    f.view.einheit = "Tage";
    ApplyDefaultSettings(f.state, f.view);
    QVERIFY(f.state.txtLog.text().endsWith("> Keine INI Datei vorhanden. Benutze Vorgaben.\r\n"));
    QCOMPARE(f.state.CamCount, qint16(1));
    QCOMPARE(f.state.SelectedCam, qint16(1));
    QVERIFY(f.state.TimeLimitOn);
    QVERIFY(!f.state.SpaceLimitOn);
    QCOMPARE(f.state.TimeLimitValue, 24);
    QCOMPARE(Observe(f, "Unit"), QString("h|h"));
    QVERIFY(!QFile::exists(f.state.SettingsFileName));
}

void tst_Settings::roundTrip_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("trueWord");
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << "Wahr";
    QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates) << "True";
}

void tst_Settings::roundTrip()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, trueWord);
    QLocale::setDefault(locale);

    Fixture saved;
    AppState &s = saved.state;
    saved.addCam("Einfahrt Süd", "127.0.0.1:8081", "/record/current.jpg", "admin", "p<w>d & \"x\"", 1);
    saved.addCam("Hof", "kamera-hof", "/cgi-bin/image.jpg?size=2", "", "", -1);
    saved.addCam("Garage 3", "127.0.0.1", "/image.jpg", "gast", "", 120);
    s.ArchivePath = saved.tp.program->folder + "/archiv" + QDir::separator();
    s.SelectedCam = 3;
    s.TimeLimitOn = true;
    s.SpaceLimitMB = 2048;
    s.TimeLimitValue = 5;
    s.TimeLimitUnit = "Tage";
    s.LogAutoClear = true;
    s.LogAutoSave = false;
    s.Recording = true;
    saved.view.left = 1500;
    saved.view.top = -45;
    saved.view.windowState = 1;

    QString error;
    QVERIFY2(SaveSettings(s, saved.view, &error), qPrintable(error));
    const QByteArray bytes = saved.readFile();
    QVERIFY(bytes.contains(("<LOG_CLEAR>" + trueWord + "</LOG_CLEAR>").toUtf8()));

    Fixture loaded;
    loaded.state.SettingsFileName = s.SettingsFileName;
    const SettingsLoad load = LoadSettings(loaded.state, loaded.view);
    QVERIFY(load.fileFound);
    QVERIFY(!load.error);
    const AppState &l = loaded.state;
    QCOMPARE(l.CamCount, qint16(3));
    QCOMPARE(l.Cams.Count(), qint16(3));
    for (int i = 1; i <= 3; ++i) {
        const auto a = s.Cams.Item(i);
        const auto b = l.Cams.Item(i);
        QCOMPARE(b->mCamName, a->mCamName);
        QCOMPARE(b->mCamSocket, a->mCamSocket);
        QCOMPARE(b->mCamImagePath, a->mCamImagePath);
        QCOMPARE(b->mCamUser, a->mCamUser);
        QCOMPARE(b->mCamPassword, a->mCamPassword);
        QCOMPARE(b->mCamUpdaterate, a->mCamUpdaterate);
    }
    QCOMPARE(l.ArchivePath, s.ArchivePath);
    QCOMPARE(l.SelectedCam, s.SelectedCam);
    QCOMPARE(l.TimeLimitOn, true);
    QCOMPARE(l.SpaceLimitOn, false);
    QCOMPARE(l.SpaceLimitMB, s.SpaceLimitMB);
    QCOMPARE(l.TimeLimitValue, s.TimeLimitValue);
    QCOMPARE(l.TimeLimitUnit, s.TimeLimitUnit);
    QCOMPARE(l.LogAutoClear, true);
    QCOMPARE(l.LogAutoSave, false);
    QCOMPARE(l.Recording, true);
    QCOMPARE(loaded.view.left, 1500);
    QCOMPARE(loaded.view.top, -45);
    QCOMPARE(loaded.view.windowState, qint16(1));

    // Saving what was loaded gives the same file again.
    QVERIFY(SaveSettings(loaded.state, loaded.view));
    QCOMPARE(loaded.readFile(), bytes);
}

void tst_Settings::writtenTextHasFixedOrder()
{
    QLocale::setDefault(QLocale(QLocale::English));
    Fixture f;
    f.addCam("Tor", "127.0.0.1:80", "/a.jpg", "u", "", -1);
    f.state.ArchivePath = "";
    f.state.SelectedCam = 1;
    f.state.SpaceLimitOn = false;
    f.state.TimeLimitOn = false;   // neither option: no LIMIT_OPT line
    f.state.SpaceLimitMB = 100;
    f.state.TimeLimitValue = 0;
    f.state.LogAutoSave = true;
    f.view.left = -15;
    f.view.top = 40000;   // written as it is; reading it back gives 0
    QVERIFY(SaveSettings(f.state, f.view));

    const QByteArray expected =
        "*** INI file of Bildfang. Do NOT edit ***\r\n"
        "<ARCHIVE></ARCHIVE>\r\n"
        "<CAM_COUNT>1</CAM_COUNT>\r\n"
        "<CAM01_NAME>Tor</CAM01_NAME>\r\n"
        "<CAM01_SOCKET>127.0.0.1:80</CAM01_SOCKET>\r\n"
        "<CAM01_PATH>/a.jpg</CAM01_PATH>\r\n"
        "<CAM01_USER>u</CAM01_USER>\r\n"
        "<CAM01_PWD></CAM01_PWD>\r\n"
        "<CAM01_RATE>-1</CAM01_RATE>\r\n"
        "<LASTCAM>1</LASTCAM>\r\n"
        "<LIMIT_SPACE>100</LIMIT_SPACE>\r\n"
        "<LIMIT_TIME>0</LIMIT_TIME>\r\n"
        "<LIMIT_UNIT>h</LIMIT_UNIT>\r\n"
        "<LOG_CLEAR>False</LOG_CLEAR>\r\n"
        "<LOG_SAVE>True</LOG_SAVE>\r\n"
        "<RECORD>False</RECORD>\r\n"
        "<WINDOW_LEFT>-15</WINDOW_LEFT>\r\n"
        "<WINDOW_STATE>0</WINDOW_STATE>\r\n"
        "<WINDOW_TOP>40000</WINDOW_TOP>\r\n";
    QCOMPARE(f.readFile(), expected);

    f.state.SpaceLimitOn = true;
    QVERIFY(SaveSettings(f.state, f.view));
    QVERIFY(f.readFile().contains("<LASTCAM>1</LASTCAM>\r\n<LIMIT_OPT>P</LIMIT_OPT>\r\n<LIMIT_SPACE>"));
}

void tst_Settings::removedCamerasLeaveNoLines()
{
    Fixture f;
    f.addCam("Eins", "", "", "", "", 1);
    f.addCam("Zwei", "", "", "", "", 2);
    f.addCam("Drei", "", "", "", "", 3);
    QVERIFY(SaveSettings(f.state, f.view));
    QVERIFY(f.readFile().contains("<CAM03_NAME>Drei</CAM03_NAME>"));

    QVERIFY(f.state.Cams.Remove(2));
    f.state.CamCount = 2;
    QVERIFY(SaveSettings(f.state, f.view));
    const QByteArray text = f.readFile();
    QVERIFY(!text.contains("CAM03"));
    QVERIFY(!text.contains("Zwei"));
    QVERIFY(text.contains("<CAM02_NAME>Drei</CAM02_NAME>"));
}

void tst_Settings::windows1252FileLoadsUmlaut()
{
    Fixture f;
    // "Einfahrt S\xfc" "d": the single byte 0xFC is u-umlaut in Windows-1252.
    QByteArray bytes = FileWith().toLatin1();
    bytes.replace("<CAM01_NAME>Hoftor</CAM01_NAME>", "<CAM01_NAME>Einfahrt S\xfc" "d</CAM01_NAME>");
    f.writeFile(bytes);
    const SettingsLoad load = LoadSettings(f.state, f.view);
    QVERIFY(!load.error);
    QCOMPARE(f.state.Cams.Item(1)->mCamName, QString::fromUtf8("Einfahrt Süd"));
    QCOMPARE(f.state.Cams.Item(2)->mCamName, QString("Garage"));
}

void tst_Settings::fileIsOwnerOnly()
{
    Fixture f;
    f.addCam("Tor", "", "", "admin", "geheim", 1);
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    const auto check = [&] {
        const QFile::Permissions perms = QFileInfo(f.state.SettingsFileName).permissions();
        QVERIFY(perms & QFile::ReadOwner);
        QVERIFY(perms & QFile::WriteOwner);
        QCOMPARE(perms & others, QFile::Permissions());
    };

    QVERIFY(SaveSettings(f.state, f.view));   // a new file
    check();
    // An older file readable by everyone is tightened too.
    QVERIFY(QFile::setPermissions(f.state.SettingsFileName,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(SaveSettings(f.state, f.view));
    check();
}

void tst_Settings::saveReplacesReadOnlyFile()
{
    Fixture f;
    f.addCam("Neu", "", "", "", "", 1);
    f.writeFile("alt");
    QVERIFY(QFile::setPermissions(f.state.SettingsFileName, QFile::ReadOwner));
    QVERIFY(SaveSettings(f.state, f.view));
    QVERIFY(f.readFile().contains("<CAM01_NAME>Neu</CAM01_NAME>"));
}

void tst_Settings::saveFailureReachesCaller()
{
    Fixture f;
    f.state.SettingsFileName = f.tp.program->folder + "/fehlt/Bildfang.ini";
    QString error;
    QVERIFY(!SaveSettings(f.state, f.view, &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
