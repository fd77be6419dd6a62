#include "platform/GioAssociations.h"
#include "platform/QtServices.h"
#include "platform/ShellWords.h"
#include "support/Files.h"
#include "support/Unprivileged.h"

#include <QTemporaryDir>
#include <QTest>

// The desktop's associations, command lines and the folders of an installed program.
class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void shellWords_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("blanks, double quotes") << " \"/opt/a b/x\"\t \"say \\\"hi\\\" \\$HOME \\n\"" << QStringList{"/opt/a b/x", "say \"hi\" $HOME \\n"};
        QTest::newRow("single quotes, pieces join, empty word") << "'a \"b\" \\c'd \"\" a\\ b" << QStringList{"a \"b\" \\cd", "", "a b"};
        QTest::newRow("unclosed quote") << "a \"b c" << QStringList{"a", "b c"};
    }
    void shellWords()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, words);
        QCOMPARE(SplitShellWords(line), words);   // quoting is checked with the log file's odd path
    }

    void execToCommand_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<bool>("fileCodes");
        QTest::addColumn<QString>("command");
        QTest::newRow("%U, other codes dropped") << "viewer --icon %i %c %k --name=%% %U" << true << "viewer --icon --name=% \"%1\"";
        QTest::newRow("quoted path with a blank") << "\"/opt/Bild Betrachter/view\" -s %F" << true << "\"/opt/Bild Betrachter/view\" -s \"%1\"";
        QTest::newRow("code inside a word") << "viewer --file=%f" << true << "viewer \"--file=%1\"";
        QTest::newRow("codes dropped for the browser") << "firefox-esr --new-tab %u" << false << "firefox-esr --new-tab";
    }
    void execToCommand()
    {
        QFETCH(QString, exec);
        QFETCH(bool, fileCodes);
        QFETCH(QString, command);
        QCOMPARE(CommandFromDesktopExec(exec, fileCodes).join(' '), command);
    }

    void lookUpsThroughGio()
    {
        // GIO reads the XDG variables once, at its first look-up, which this is.
        QTemporaryDir dir;
        const QString root = dir.path(), viewer = root + QStringLiteral("/my apps/viewer");
        for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
            qputenv(name, (root + '/' + QString::fromLatin1(name)).toUtf8());
        QVERIFY(WriteAll(viewer, "#!/bin/sh\n") && QFile::setPermissions(viewer, QFile::ReadOwner | QFile::ExeOwner));
        const QString apps = root + QStringLiteral("/XDG_DATA_HOME/applications/");
        QVERIFY(WriteAll(apps + "test-viewer.desktop", "[Desktop Entry]\nType=Application\nName=V\nMimeType=image/jpeg;\nExec=\""
                                                     + viewer.toUtf8() + "\" --fullscreen %f\n"));
        QVERIFY(WriteAll(apps + "test-browser.desktop", "[Desktop Entry]\nType=Application\nName=B\nMimeType=x-scheme-handler/http;\nExec=/bin/true -new-window %U\n"));
        QVERIFY(WriteAll(root + "/XDG_CONFIG_HOME/mimeapps.list",
                    "[Default Applications]\nimage/jpeg=test-viewer.desktop\nx-scheme-handler/http=test-browser.desktop\n"));
        GioAssociations associations;
        QString program, arguments;
        associations.jpegViewer(&program, &arguments);
        QCOMPARE(program + ' ' + arguments, '"' + viewer + "\" --fullscreen \"%1\"");
        QCOMPARE(associations.browserCommand(), QStringLiteral("/bin/true -new-window"));
        QCOMPARE(associations.textEditor(), QString());   // no entry at all
    }

    void dataFolders()
    {
        const auto env = [](QString config, QString state) {
            return [=](const char *name) { return QByteArray(name) == "HOME" ? "/home/u" : QByteArray(name) == "XDG_CONFIG_HOME" ? config : state; };
        };
        const auto folders = [](const DataFolders &f) { return QStringList{f.settings, f.logs}; };
        QCOMPARE(folders(ChooseDataFolders("/opt/bf", true, env("/c", "/s"))), QStringList({"/opt/bf", "/opt/bf"}));
        QCOMPARE(folders(ChooseDataFolders("/opt/bf", false, env("/c", "/s/"))), QStringList({"/c/bildfang", "/s/bildfang"}));
        QCOMPARE(folders(ChooseDataFolders("/opt/bf", false, env("", "relative"))),
                 QStringList({"/home/u/.config/bildfang", "/home/u/.local/state/bildfang"}));

        // Beside the program only while its folder is writable and it was not installed.
        QTemporaryDir prefix;
        const QString bin = prefix.path() + QStringLiteral("/bin"), entry = prefix.path() + "/share/applications/bildfang.desktop";
        QVERIFY(QDir().mkpath(bin) && KeepsDataBesideProgram(bin));
        QVERIFY(WriteAll(entry, "[Desktop Entry]\n") && !KeepsDataBesideProgram(bin));
        QVERIFY(QFile::remove(entry));
    }

    void readOnlyProgramFolder()
    {
        SKIP_AS_ROOT();
        QTemporaryDir prefix;
        const QString bin = prefix.path() + QStringLiteral("/bin");
        QVERIFY(QDir().mkpath(bin) && QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner));
        const bool beside = KeepsDataBesideProgram(bin);
        QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!beside);
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
