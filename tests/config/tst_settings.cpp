#include "state/AppState.h"
#include "config/Settings.h"
#include "support/FakeSettingsView.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"
#include "support/SettingsText.h"
#include "support/TestPlatform.h"
#include "support/Unprivileged.h"

#include <QLocale>
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
    QByteArray readFile() const { return ReadAll(state.SettingsFileName); }
};

// A valid file exactly as the program writes it on a system that is not German.
const QString BaseFile = SettingsText({
    {"ARCHIVE", "/srv/archiv/"}, {"CAM_COUNT", "2"}, {"CAM01_NAME", QString::fromUtf8("Einfahrt Süd")},
    {"CAM01_SOCKET", "127.0.0.1:8081"}, {"CAM01_PATH", "/record/current.jpg"}, {"CAM01_USER", "admin"},
    {"CAM01_PWD", "p<w>d & \"x\""}, {"CAM01_RATE", "5"}, {"CAM01_AUTH", "DIGEST UTF-8"}, {"CAM02_NAME", "Garage"}, {"CAM02_SOCKET", "kamera2"},
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

    // Each row changes one line of the base file (null: leaves it out); what was applied shows in
    // the text the writer builds from it (null: no such line).
    void fallbacks_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("error");
        const auto row = [](const char *tag, const char *value, const char *expected, bool error = false) {
            QTest::addRow("%s=%s", tag, value ? value : "(none)") << QString(tag) << QString(value) << QString(expected) << error;
        };
        row("CAM_COUNT", "0", "1");
        row("CAM_COUNT", "300", "255");
        row("CAM01_RATE", "40000", "0");   // past 16 bits
        row("CAM01_RATE", " 2.5 s", "2");  // number prefix, half to even
        row("ARCHIVE", nullptr, "");
        row("ARCHIVE", "/srv/a", "/srv/a/");
        row("LASTCAM", nullptr, "1", true);
        row("LASTCAM", "0", "1", true);
        row("LASTCAM", "3", "1", true);
        row("LASTCAM", "2. Kamera", "2");
        row("LIMIT_OPT", "X", nullptr, true);
        row("LIMIT_OPT", "z", "Z");
        row("LIMIT_UNIT", nullptr, "h", true);
        row("LIMIT_UNIT", "tage", "h", true);
        row("LIMIT_UNIT", "h", "h");
        row("LIMIT_SPACE", nullptr, "100");
        row("LIMIT_TIME", nullptr, "0");
        row("LOG_CLEAR", "wahr", "False");   // exact case here, any case in the next two
        row("LOG_SAVE", "wahr", "True");
        row("RECORD", "TRUE", "True");
        row("WINDOW_LEFT", " -120 ", "-120");
        row("WINDOW_TOP", "32768", "0");
        row("WINDOW_STATE", "7", "0");
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
        const QString line = "<" + tag + ">" + expected + "</" + tag + ">";
        QVERIFY2(expected.isNull() ? !applied.contains("<" + tag + ">") : applied.contains(line), qPrintable(applied));
    }

    // No file, an empty one, and one in a folder that is missing: a save there fails with its reason.
    void missingEmptyAndUnwritableFile()
    {
        Fixture f;
        QVERIFY(!LoadSettings(f.state, f.view).fileFound);
        QCOMPARE(f.state.Cams.Count(), qint16(0));
        ApplyDefaultSettings(f.state, f.view);
        QVERIFY(f.state.txtLog.text().endsWith("> Keine INI Datei vorhanden. Benutze Vorgaben.\r\n"));

        // An empty file is no missing file: its fallbacks apply, with the error flag.
        f.writeFile(QByteArray());
        const SettingsLoad load = LoadSettings(f.state, f.view);
        QVERIFY(load.fileFound && load.error);
        QCOMPARE(f.state.Cams.Count(), qint16(1));

        f.state.SettingsFileName = f.tp.program->folder + "/fehlt/Bildfang.ini";
        QString reason;
        QVERIFY(!SaveSettings(f.state, f.view, &reason) && !reason.isEmpty());
        // A failed first save leaves no empty file behind.
        f.state.SettingsFileName = f.tp.program->folder + "/neu.ini";
        const FileSizeLimit full(0);
        QVERIFY(!SaveSettings(f.state, f.view) && !QFile::exists(f.state.SettingsFileName));
    }

    // Killed in the middle of a save: the old file stays whole.
    void killedWhileSaving()
    {
        Fixture f;
        f.writeFile("old");
        QVERIFY(!ApplySettings(f.state, f.view, BaseFile));
        QVERIFY(KilledAtFileSize(256, [&] { SaveSettings(f.state, f.view); }));
        QCOMPARE(f.readFile(), QByteArray("old"));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");

        const QLocale english(QLocale::English, QLocale::UnitedStates);
        const QString german = QString(BaseFile).replace(">True<", ">Wahr<").replace(">False<", ">Falsch<");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << BaseFile.toUtf8() << german;
        QTest::newRow("English") << english << BaseFile.toUtf8() << BaseFile;
        // From the Windows program: "ü" as the single byte 0xFC.
        QTest::newRow("Windows-1252 umlaut") << english << BaseFile.toLatin1() << BaseFile;
        const QString pinned = FileWith("CAM01_SOCKET", "https://kamera.local:8443")
            .replace("<CAM01_AUTH>DIGEST UTF-8</CAM01_AUTH>\r\n", "<CAM01_AUTH>DIGEST UTF-8</CAM01_AUTH>\r\n<CAM01_CERT>0A:FF</CAM01_CERT>\r\n");
        QTest::newRow("pinned certificate") << english << pinned.toUtf8() << pinned;
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
        QCOMPARE(QFile::permissions(path) & (OwnerRW | QFile::ReadGroup | QFile::ReadOther), OwnerRW);

        Fixture second;
        second.state.SettingsFileName = path;
        QVERIFY(!LoadSettings(second.state, second.view).error);
        QCOMPARE(BuildSettingsText(second.state, second.view), expected);
    }

    // A file of the earlier versions reads as it always did: no entities there. That any value
    // reads back is checked by the fuzz target "settings".
    void unescapedFileKeepsEntities()
    {
        QCOMPARE(SettingsTags(FileWith("CAM01_PWD", "&amp;&lt;")).value("CAM01_PWD"), QString("&amp;&lt;"));
    }

    // A read-only file, or a writable one in a folder where no temporary file can be made.
    void savedDespitePermissions()
    {
        SKIP_AS_ROOT();
        for (const bool fileWritable : {false, true}) {
            Fixture f;
            const QString &path = f.state.SettingsFileName, folder = QFileInfo(path).path();
            f.writeFile("old");
            const auto read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
            QVERIFY(QFile::setPermissions(path, fileWritable ? read | QFile::WriteOwner : read));
            QVERIFY(QFile::setPermissions(folder, fileWritable ? QFile::ReadOwner | QFile::ExeOwner : OwnerRW | QFile::ExeOwner));
            const bool saved = SaveSettings(f.state, f.view);
            QFile::setPermissions(folder, OwnerRW | QFile::ExeOwner);
            QVERIFY2(saved, fileWritable ? "folder not writable" : "read-only file");
            QCOMPARE(f.readFile(), BuildSettingsText(f.state, f.view).toUtf8());
            QCOMPARE(QFile::permissions(path) & (OwnerRW | QFile::ReadGroup | QFile::ReadOther), OwnerRW);
        }
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
