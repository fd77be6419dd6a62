#include "platform/GioAssociations.h"
#include "platform/QtServices.h"
#include "platform/ShellWords.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

// The desktop's associations, command lines and the folders of an installed program.
class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void shellWords_data();
    void shellWords();
    void execToCommand_data();
    void execToCommand();
    void lookUpsThroughGio();
    void dataFolders_data();
    void dataFolders();
    void installedProgramKeepsNothingBesideIt();

private:
    static bool put(const QString &path, const QByteArray &data)
    {
        QFile f(path);
        return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
};

void TestDesktop::shellWords_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("blanks and tabs") << " a\tb  c " << QStringList{"a", "b", "c"};
    QTest::newRow("double quotes") << "\"/opt/a b/x\" \"say \\\"hi\\\" \\$HOME \\n\"" << QStringList{"/opt/a b/x", "say \"hi\" $HOME \\n"};
    QTest::newRow("single quotes") << "'a \"b\" \\c'" << QStringList{"a \"b\" \\c"};
    QTest::newRow("pieces join, empty word") << "x\" y\"'z' \"\" a\\ b" << QStringList{"x yz", "", "a b"};
    QTest::newRow("unclosed quote") << "a \"b c" << QStringList{"a", "b c"};
}

void TestDesktop::shellWords()
{
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QCOMPARE(SplitShellWords(line), words);
    QStringList quoted;
    for (const QString &word : words)
        quoted.append(QuoteShellWord(word));
    QCOMPARE(SplitShellWords(quoted.join(' ')), words);   // quoting gives every word back
}

void TestDesktop::execToCommand_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<bool>("fileCodes");
    QTest::addColumn<QString>("command");
    QTest::newRow("%f") << "eog %f" << true << "eog \"%1\"";
    QTest::newRow("%U, other codes dropped") << "viewer --icon %i %c %k --name=%% %U" << true << "viewer --icon --name=% \"%1\"";
    QTest::newRow("quoted path with a blank") << "\"/opt/Bild Betrachter/view\" --slideshow %F" << true
                                              << "\"/opt/Bild Betrachter/view\" --slideshow \"%1\"";
    QTest::newRow("code inside a word") << "viewer --file=%f" << true << "viewer \"--file=%1\"";
    QTest::newRow("codes dropped for the browser") << "firefox-esr --new-tab %u" << false << "firefox-esr --new-tab";
    QTest::newRow("no entry") << "" << true << "";
}

void TestDesktop::execToCommand()
{
    QFETCH(QString, exec);
    QFETCH(bool, fileCodes);
    QFETCH(QString, command);
    QCOMPARE(CommandFromDesktopExec(exec, fileCodes).join(' '), command);
}

void TestDesktop::lookUpsThroughGio()
{
    // GIO reads the XDG variables once, at its first look-up, which this is.
    QTemporaryDir dir;
    const QString root = dir.path();
    for (const char *name : {"XDG_DATA_HOME=/data", "XDG_CONFIG_HOME=/config", "XDG_DATA_DIRS=/sys", "XDG_CONFIG_DIRS=/sys"}) {
        const QString assignment = QString::fromLatin1(name);
        qputenv(assignment.section('=', 0, 0).toLatin1(), (root + assignment.section('=', 1)).toUtf8());
    }
    const QString viewer = root + QStringLiteral("/my apps/viewer");
    QVERIFY(put(viewer, "#!/bin/sh\n"));
    QVERIFY(QFile::setPermissions(viewer, QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY(put(root + "/data/applications/test-viewer.desktop",
                "[Desktop Entry]\nType=Application\nName=V\nMimeType=image/jpeg;\nExec=\"" + viewer.toUtf8() + "\" --fullscreen %f\n"));
    QVERIFY(put(root + "/data/applications/test-browser.desktop",
                "[Desktop Entry]\nType=Application\nName=B\nMimeType=x-scheme-handler/http;\nExec=/bin/true -new-window %U\n"));
    QVERIFY(put(root + "/config/mimeapps.list",
                "[Default Applications]\nimage/jpeg=test-viewer.desktop\nx-scheme-handler/http=test-browser.desktop\n"));
    QVERIFY(QDir().mkpath(root + "/sys"));

    GioAssociations associations;
    QString program, arguments;
    associations.jpegViewer(&program, &arguments);
    QCOMPARE(program, '"' + viewer + '"');
    QCOMPARE(arguments, QStringLiteral("--fullscreen \"%1\""));
    QCOMPARE(associations.browserCommand(), QStringLiteral("/bin/true -new-window"));
    QCOMPARE(associations.textEditor(), QString());   // no entry at all
}

void TestDesktop::dataFolders_data()
{
    QTest::addColumn<bool>("beside");
    QTest::addColumn<QStringList>("env");   // HOME, XDG_CONFIG_HOME, XDG_STATE_HOME
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("logs");
    QTest::newRow("portable") << true << QStringList{"/home/u", "/c", "/s"} << "/opt/bf" << "/opt/bf";
    QTest::newRow("XDG folders") << false << QStringList{"/home/u", "/c", "/s/"} << "/c/bildfang" << "/s/bildfang";
    QTest::newRow("fallbacks") << false << QStringList{"/home/u", "", "relative"} << "/home/u/.config/bildfang"
                               << "/home/u/.local/state/bildfang";
}

void TestDesktop::dataFolders()
{
    QFETCH(bool, beside);
    QFETCH(QStringList, env);
    QFETCH(QString, settings);
    QFETCH(QString, logs);
    const auto lookUp = [&env](const char *name) {
        return env.value(QStringList{"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"}.indexOf(QString::fromLatin1(name)));
    };
    const DataFolders folders = ChooseDataFolders(QStringLiteral("/opt/bf"), beside, lookUp);
    QCOMPARE(folders.settings, settings);
    QCOMPARE(folders.logs, logs);
}

void TestDesktop::installedProgramKeepsNothingBesideIt()
{
    QTemporaryDir prefix;
    const QString bin = prefix.path() + QStringLiteral("/bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(KeepsDataBesideProgram(bin));
    QVERIFY(put(prefix.path() + "/share/applications/bildfang.desktop", "[Desktop Entry]\n"));
    QVERIFY(!KeepsDataBesideProgram(bin));
    QVERIFY(QFile::remove(prefix.path() + "/share/applications/bildfang.desktop"));
    QVERIFY(QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner));
    if (geteuid() != 0)   // root may write anywhere
        QVERIFY(!KeepsDataBesideProgram(bin));
    QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
