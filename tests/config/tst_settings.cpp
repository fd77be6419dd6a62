#include "app/AppState.h"
#include "config/Settings.h"
#include "config/SettingsView.h"
#include "support/TestPlatform.h"
#include "support/Unprivileged.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

// The main window's controls: each setter does what the control's handling does to the
// shared state.
class FakeView final : public SettingsView
{
public:
    explicit FakeView(AppState &s) : state(s) {}

    AppState &state;
    QString archive, unit = QStringLiteral("h"), space, age;
    qint32 left = 0, top = 0;
    qint16 windowState = 0;
    QString unitSeenByAge;

    void SetSpeicherortText(const QString &text) override { archive = text; }
    QString SpeicherortText() const override { return archive; }
    void ClickPlatzlimit() override { selectLimit(true); }
    void ClickZeitlimit() override { selectLimit(false); }
    void selectLimit(bool bySpace)
    {
        state.SpaceLimitOn = bySpace;
        state.TimeLimitOn = !bySpace;
    }
    void SetEinheitText(const QString &text) override { unit = text; }
    QString EinheitText() const override { return unit; }
    void SetSpeicherlimitText(const QString &text) override
    {
        space = text;
        state.SpaceLimitMB = text.toInt();
    }
    QString SpeicherlimitText() const override { return space; }
    void SetZeitlimitText(const QString &text) override
    {
        unitSeenByAge = unit;
        age = text;
        state.TimeLimitValue = text.toInt();
    }
    QString ZeitlimitText() const override { return age; }
    void SetLogAutoLeerenChecked(bool checked) override { state.LogAutoClear = checked; }
    void SetLogAutoSichernChecked(bool checked) override { state.LogAutoSave = checked; }
    void SetRecordingChecked(bool checked) override { state.Recording = checked; }
    void SetWindowLeft(qint16 twips) override { left = twips; }
    void SetWindowTop(qint16 twips) override { top = twips; }
    void SetWindowState(qint16 s) override { windowState = s; }
    qint32 WindowLeft() const override { return left; }
    qint32 WindowTop() const override { return top; }
    qint16 WindowState() const override { return windowState; }
};

struct Fixture
{
    TestPlatform tp;
    AppState state{tp.platform};
    FakeView view{state};

    Fixture() { state.SettingsFileName = SettingsFileNameFor(tp.program->folder); }

    void writeFile(const QByteArray &bytes) { QVERIFY(tp.fileSystem->writeFile(state.SettingsFileName, bytes)); }
    QByteArray readFile() const
    {
        QByteArray bytes;
        tp.fileSystem->readFile(state.SettingsFileName, bytes);
        return bytes;
    }
};

// A valid file exactly as the program writes it on a system that is not German.
const QString BaseFile = QString::fromUtf8(
    "*** INI file of Bildfang. Do NOT edit ***\r\n"
    "<ARCHIVE>/srv/archiv/</ARCHIVE>\r\n"
    "<CAM_COUNT>2</CAM_COUNT>\r\n"
    "<CAM01_NAME>Einfahrt Süd</CAM01_NAME>\r\n"
    "<CAM01_SOCKET>127.0.0.1:8081</CAM01_SOCKET>\r\n"
    "<CAM01_PATH>/record/current.jpg</CAM01_PATH>\r\n"
    "<CAM01_USER>admin</CAM01_USER>\r\n"
    "<CAM01_PWD>p<w>d & \"x\"</CAM01_PWD>\r\n"
    "<CAM01_RATE>5</CAM01_RATE>\r\n"
    "<CAM02_NAME>Garage</CAM02_NAME>\r\n"
    "<CAM02_SOCKET>kamera2</CAM02_SOCKET>\r\n"
    "<CAM02_PATH>/image.jpg</CAM02_PATH>\r\n"
    "<CAM02_USER></CAM02_USER>\r\n"
    "<CAM02_PWD></CAM02_PWD>\r\n"
    "<CAM02_RATE>-1</CAM02_RATE>\r\n"
    "<LASTCAM>1</LASTCAM>\r\n"
    "<LIMIT_OPT>P</LIMIT_OPT>\r\n"
    "<LIMIT_SPACE>500</LIMIT_SPACE>\r\n"
    "<LIMIT_TIME>12</LIMIT_TIME>\r\n"
    "<LIMIT_UNIT>Tage</LIMIT_UNIT>\r\n"
    "<LOG_CLEAR>True</LOG_CLEAR>\r\n"
    "<LOG_SAVE>False</LOG_SAVE>\r\n"
    "<RECORD>True</RECORD>\r\n"
    "<WINDOW_LEFT>1200</WINDOW_LEFT>\r\n"
    "<WINDOW_STATE>1</WINDOW_STATE>\r\n"
    "<WINDOW_TOP>-300</WINDOW_TOP>\r\n");

// The base file with tag's value replaced; a null value leaves the line out.
QString FileWith(const QString &tag, const QString &value)
{
    const QString line = value.isNull() ? QString() : "<" + tag + ">" + value + "</" + tag + ">\r\n";
    return QString(BaseFile).replace(QRegularExpression("<" + tag + ">[^\r]*</" + tag + ">\r\n"), line);
}

const QFile::Permissions OwnerRW = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void readTag_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");

        QTest::newRow("written twice: the last counts") << "<A>1</A>\r\n<A>2</A>\r\n" << "A" << "2";
        QTest::newRow("later unclosed tag keeps the pair") << "<A>1</A>\r\n<A>2\r\n" << "A" << "1";
        QTest::newRow("stray closing tag after a pair") << "<A>1</A>x</A>\r\n" << "A" << "1";
        QTest::newRow("lower-case tag") << "<cam_count>3</CAM_COUNT>\r\n" << "Cam_Count" << "3";
        QTest::newRow("line breaks and tags inside") << "<X>a\r\nb<Y>c</Y>\r\n</X>\r\n" << "X" << "a\r\nb<Y>c</Y>\r\n";
        QTest::newRow("missing closing tag") << "<A>1\r\n<B>2</B>\r\n" << "A" << "";
        QTest::newRow("header only") << BaseFile.section("\r\n", 0, 0) + "\r\n" << "CAM_COUNT" << "";
        QTest::newRow("longer name is another tag") << "<AB>no</AB><A>yes</A><AB>x</AB>" << "A" << "yes";
        QTest::newRow("past 16-bit positions") << QString(40000, QChar('.')) + "<A>far</A>\r\n" << "A" << "far";
    }

    void readTag()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(ReadTag(text, name), expected);
    }

    // Each row changes one line of the base file; what was applied is seen in the text the
    // writer builds from it.
    void fallbacks_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("value");   // null: the line is left out
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("error");

        const QString missing;
        const auto row = [](const char *name, const char *tag, const QString &value, const char *expected,
                            bool error) {
            QTest::newRow(name) << QString(tag) << value << QString(expected) << error;
        };

        row("CAM_COUNT missing", "CAM_COUNT", missing, "<CAM_COUNT>1</CAM_COUNT>", false);
        row("CAM_COUNT 0", "CAM_COUNT", "0", "<CAM_COUNT>1</CAM_COUNT>", false);
        row("CAM_COUNT cut at 255", "CAM_COUNT", "300", "<CAM_COUNT>255</CAM_COUNT>", false);

        row("RATE past 16 bits", "CAM01_RATE", "40000", "<CAM01_RATE>0</CAM01_RATE>", false);
        row("RATE prefix, half to even", "CAM01_RATE", " 2.5 s", "<CAM01_RATE>2</CAM01_RATE>", false);

        row("ARCHIVE missing", "ARCHIVE", missing, "<ARCHIVE></ARCHIVE>", false);
        row("ARCHIVE gets a separator", "ARCHIVE", "/srv/a", "<ARCHIVE>/srv/a/</ARCHIVE>", false);

        row("LASTCAM missing", "LASTCAM", missing, "<LASTCAM>1</LASTCAM>", true);
        row("LASTCAM 0", "LASTCAM", "0", "<LASTCAM>1</LASTCAM>", true);
        row("LASTCAM above count", "LASTCAM", "3", "<LASTCAM>1</LASTCAM>", true);
        row("LASTCAM number prefix", "LASTCAM", "2. Kamera", "<LASTCAM>2</LASTCAM>", false);

        row("LIMIT_OPT other", "LIMIT_OPT", "X", "<LASTCAM>1</LASTCAM>\r\n<LIMIT_SPACE>", true);
        row("LIMIT_OPT lower z", "LIMIT_OPT", "z", "<LIMIT_OPT>Z</LIMIT_OPT>", false);

        row("LIMIT_UNIT missing", "LIMIT_UNIT", missing, "<LIMIT_UNIT>h</LIMIT_UNIT>", true);
        row("LIMIT_UNIT lower tage", "LIMIT_UNIT", "tage", "<LIMIT_UNIT>h</LIMIT_UNIT>", true);
        row("LIMIT_UNIT h", "LIMIT_UNIT", "h", "<LIMIT_UNIT>h</LIMIT_UNIT>", false);

        row("LIMIT_SPACE missing", "LIMIT_SPACE", missing, "<LIMIT_SPACE>100</LIMIT_SPACE>", false);
        row("LIMIT_TIME missing", "LIMIT_TIME", missing, "<LIMIT_TIME>0</LIMIT_TIME>", false);

        row("LOG_CLEAR Wahr", "LOG_CLEAR", "Wahr", "<LOG_CLEAR>True</LOG_CLEAR>", false);
        row("LOG_CLEAR lower wahr", "LOG_CLEAR", "wahr", "<LOG_CLEAR>False</LOG_CLEAR>", false);
        row("LOG_SAVE lower wahr", "LOG_SAVE", "wahr", "<LOG_SAVE>True</LOG_SAVE>", false);
        row("RECORD TRUE", "RECORD", "TRUE", "<RECORD>True</RECORD>", false);

        row("WINDOW_LEFT with blanks", "WINDOW_LEFT", " -120 ", "<WINDOW_LEFT>-120</WINDOW_LEFT>", false);
        row("WINDOW_TOP past 16 bits", "WINDOW_TOP", "32768", "<WINDOW_TOP>0</WINDOW_TOP>", false);
        row("WINDOW_STATE unknown", "WINDOW_STATE", "7", "<WINDOW_STATE>0</WINDOW_STATE>", false);
    }

    void fallbacks()
    {
        QFETCH(QString, tag);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QFETCH(bool, error);

        Fixture f;
        const QString file = FileWith(tag, value);
        QVERIFY(file != BaseFile);
        QCOMPARE(ApplySettings(f.state, f.view, file), error);
        QCOMPARE(f.state.Cams.Count(), f.state.CamCount);
        const QString applied = BuildSettingsText(f.state, f.view);
        QVERIFY2(applied.contains(expected), qPrintable(applied));
    }

    void missingAndEmptyFile()
    {
        Fixture f;
        QVERIFY(!LoadSettings(f.state, f.view).fileFound);
        QCOMPARE(f.state.Cams.Count(), qint16(0));
        ApplyDefaultSettings(f.state, f.view);
        QVERIFY(f.state.txtLog.text().endsWith("> Keine INI Datei vorhanden. Benutze Vorgaben.\r\n"));

        // An empty file is no missing file: its fallbacks apply, with the error flag.
        f.writeFile(QByteArray());
        const SettingsLoad load = LoadSettings(f.state, f.view);
        QVERIFY(load.fileFound);
        QVERIFY(load.error);
        QCOMPARE(f.state.Cams.Count(), qint16(1));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");

        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QString german = BaseFile;
        german.replace(">True<", ">Wahr<").replace(">False<", ">Falsch<");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << BaseFile.toUtf8() << german;
        QTest::newRow("English") << english << BaseFile.toUtf8() << BaseFile;
        // From the Windows program: "ü" as the single byte 0xFC.
        QTest::newRow("Windows-1252 umlaut") << english << BaseFile.toLatin1() << BaseFile;
    }

    void roundTrip()
    {
        QFETCH(QLocale, locale);
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        QLocale::setDefault(locale);

        Fixture first;
        const QString &path = first.state.SettingsFileName;
        first.writeFile(file);
        QVERIFY(!LoadSettings(first.state, first.view).error);
        QCOMPARE(first.view.unitSeenByAge, QString("Tage"));   // the unit comes before the age

        // The old file, readable by everyone, is left to its owner.
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(SaveSettings(first.state, first.view));
        QCOMPARE(QString::fromUtf8(first.readFile()), expected);
        QCOMPARE(QFile::permissions(path) & OwnerRW, OwnerRW);
        QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

        Fixture second;
        second.state.SettingsFileName = path;
        QVERIFY(!LoadSettings(second.state, second.view).error);
        QCOMPARE(BuildSettingsText(second.state, second.view), expected);
    }

    // The one-pass reader gives what ReadTag gives, for every name, on texts that bend the rule.
    void oneReaderAgreesWithReadTag_data()
    {
        QTest::addColumn<QString>("text");
        const QStringList texts = {
            "<A><A>1</A>2</A>", "<A>1</a><a>2</A>", "<A>1</A><A>2", "<A>x</A", "<A>x</A><", "<A></A>x</A>",
            "</A><A>1</A>", "x</A>y<A>z</A>", "<A>1</A>x</A><A>", "<<A>>1</A>>", "<A<B>1</B>2</A>", "<>e</>",
            QString::fromUtf8("<\u212A>1</k><Straße>2</STRASSE>"), "<A>\r\n<B>b</B>\r\n</A>",
        };
        for (const QString &text : texts)
            QTest::newRow(qPrintable(QString(text).replace("\r\n", "\\r\\n"))) << text;
    }

    void oneReaderAgreesWithReadTag()
    {
        QFETCH(QString, text);
        const SettingsTags tags(text);
        for (const QString name : {"A", "a", "B", "AB", "", "K", "STRAßE", "/A"})
            QCOMPARE(tags.tag(name), ReadTag(text, name));
    }

    void oneReaderAgreesOnRandomTexts()
    {
        QRandomGenerator random(815);
        const QString alphabet = QString::fromUtf8("<<<>>//AaBb\u212Ax\r");
        for (int round = 0; round < 3000; ++round) {
            QString text;
            for (int i = random.bounded(40); i > 0; --i)
                text += alphabet[random.bounded(alphabet.size())];
            const SettingsTags tags(text);
            for (const QString name : {"A", "B", "AB", "Ab", "K"})
                QVERIFY2(tags.tag(name) == ReadTag(text, name), qPrintable(name + " in " + text));
        }
    }

    // Any value reads back; a file of the earlier versions reads as it always did.
    void escapedValuesReadBack()
    {
        Fixture f;
        QVERIFY(!ApplySettings(f.state, f.view, BaseFile));
        f.state.Cams.Item(2)->mCamName = "<ARCHIVE>/home</ARCHIVE>";
        f.state.Cams.Item(2)->mCamPassword = "&";
        f.state.Cams.Item(2)->mCamUser = "&amp;&lt;&gt;&x";
        f.state.Cams.Item(1)->mCamImagePath = "<>";
        f.state.ArchivePath = "<CAM01_PWD>/";
        const QString text = BuildSettingsText(f.state, f.view);
        QVERIFY(text.startsWith("*** INI file of Bildfang, values escaped. Do NOT edit ***\r\n"));
        Fixture g;   // what it reads writes the same text again: every value came back
        QVERIFY(!ApplySettings(g.state, g.view, text));
        QCOMPARE(BuildSettingsText(g.state, g.view), text);
        QCOMPARE(SettingsTags(FileWith("CAM01_PWD", "&amp;&lt;")).value("CAM01_PWD"), QString("&amp;&lt;"));
    }

    // A read-only file, or a writable one in a folder where no temporary file can be made.
    void savedDespitePermissions_data()
    {
        QTest::addColumn<bool>("fileWritable");
        QTest::newRow("read-only file") << false;
        QTest::newRow("folder not writable") << true;
    }
    void savedDespitePermissions()
    {
        QFETCH(bool, fileWritable);
        SKIP_AS_ROOT();
        Fixture f;
        const QString &path = f.state.SettingsFileName;
        f.writeFile("old");
        const auto folder = QFileInfo(path).path();
        const auto read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(path, fileWritable ? read | QFile::WriteOwner : read));
        QVERIFY(QFile::setPermissions(folder, fileWritable ? QFile::ReadOwner | QFile::ExeOwner : OwnerRW | QFile::ExeOwner));
        const bool saved = SaveSettings(f.state, f.view);
        QFile::setPermissions(folder, OwnerRW | QFile::ExeOwner);
        QVERIFY(saved);
        QCOMPARE(f.readFile(), BuildSettingsText(f.state, f.view).toUtf8());
        QCOMPARE(QFile::permissions(path) & (OwnerRW | QFile::ReadGroup | QFile::ReadOther), OwnerRW);
    }

    void saveFailureReachesCaller()
    {
        Fixture f;
        f.state.SettingsFileName = f.tp.program->folder + "/fehlt/Bildfang.ini";
        QString reason;
        QVERIFY(!SaveSettings(f.state, f.view, &reason));
        QVERIFY(!reason.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
