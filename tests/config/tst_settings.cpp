#include "app/AppState.h"
#include "config/Settings.h"
#include "config/SettingsView.h"
#include "support/FakeSettingsView.h"
#include "support/SettingsText.h"
#include "support/TestPlatform.h"
#include "support/Unprivileged.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

struct Fixture
{
    TestPlatform tp;
    AppState state{tp.platform};
    FakeSettingsView view{state};

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
const QString BaseFile = SettingsText({
    {"ARCHIVE", "/srv/archiv/"}, {"CAM_COUNT", "2"}, {"CAM01_NAME", QString::fromUtf8("Einfahrt Süd")},
    {"CAM01_SOCKET", "127.0.0.1:8081"}, {"CAM01_PATH", "/record/current.jpg"}, {"CAM01_USER", "admin"},
    {"CAM01_PWD", "p<w>d & \"x\""}, {"CAM01_RATE", "5"}, {"CAM02_NAME", "Garage"}, {"CAM02_SOCKET", "kamera2"},
    {"CAM02_PATH", "/image.jpg"}, {"CAM02_USER", ""}, {"CAM02_PWD", ""}, {"CAM02_RATE", "-1"}, {"LASTCAM", "1"},
    {"LIMIT_OPT", "P"}, {"LIMIT_SPACE", "500"}, {"LIMIT_TIME", "12"}, {"LIMIT_UNIT", "Tage"}, {"LOG_CLEAR", "True"},
    {"LOG_SAVE", "False"}, {"RECORD", "True"}, {"WINDOW_LEFT", "1200"}, {"WINDOW_STATE", "1"}, {"WINDOW_TOP", "-300"},
});

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

    // The one-pass reader gives what ReadTag gives: on texts that bend the rule, then on random ones.
    void oneReaderAgreesWithReadTag()
    {
        QStringList texts = {
            "<A><A>1</A>2</A>", "<A>1</a><a>2</A>", "<A>1</A><A>2", "<A>x</A", "<A></A>x</A>", "x</A>y<A>z</A>",
            "<<A>>1</A>>", "<A<B>1</B>2</A>", "<>e</>", QString::fromUtf8("<\u212A>1</k><Straße>2</STRASSE>"),
        };
        QRandomGenerator random(815);
        const QString alphabet = QString::fromUtf8("<<<>>//AaBb\u212Ax\r");
        for (int round = 0; round < 3000; ++round) {
            QString text;
            for (int i = random.bounded(40); i > 0; --i)
                text += alphabet[random.bounded(alphabet.size())];
            texts.append(text);
        }
        // Tag names without regard to case; the last complete pair wins, wherever it stands.
        QCOMPARE(SettingsTags(QString(40000, '.') + "<a>1</A>\r\n<A>2</A>x</A>\r\n<A>3\r\n").tag("A"), QString("2"));
        for (const QString &text : texts) {
            const SettingsTags tags(text);
            for (const QString name : {"A", "a", "B", "AB", "", "K", "STRAßE", "/A"})
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
