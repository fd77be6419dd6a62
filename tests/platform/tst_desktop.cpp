#include "platform/GioAssociations.h"
#include "platform/QtServices.h"
#include "platform/ShellWords.h"
#include "support/Files.h"
#include "support/TestPlatform.h"
#include "ui/ExternalPrograms.h"
#include "support/Unprivileged.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A program that writes its name, $BF_MARK and its arguments, one a line, to "args" beside it.
bool WriteRecorder(const QString &path)
{
    return WriteAll(path, "#!/bin/sh\nprintf '%s\\n' \"${0##*/}\" \"$BF_MARK\" \"$@\" > \"${0%/*}/args\"\n")
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

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
        const QString root = dir.path(), viewer = root + QStringLiteral("/my apps/viewer"), wrapper = root + QStringLiteral("/my apps/wrapper");
        for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
            qputenv(name, (root + '/' + QString::fromLatin1(name)).toUtf8());
        QVERIFY(WriteAll(viewer, "#!/bin/sh\n") && QFile::setPermissions(viewer, QFile::ReadOwner | QFile::ExeOwner));
        const QString apps = root + QStringLiteral("/XDG_DATA_HOME/applications/");
        QVERIFY(WriteAll(apps + "test-viewer.desktop", "[Desktop Entry]\nType=Application\nName=V\nMimeType=image/jpeg;\nExec=\""
                                                     + viewer.toUtf8() + "\" --fullscreen %f\n"));
        QVERIFY(WriteRecorder(wrapper));
        QVERIFY(WriteAll(apps + "test-browser.desktop", "[Desktop Entry]\nType=Application\nName=B\nMimeType=x-scheme-handler/http;\nExec=env BF_MARK=x \""
                                                      + wrapper.toUtf8() + "\" --new-window %u\n"));
        QVERIFY(WriteAll(root + "/XDG_CONFIG_HOME/mimeapps.list",
                    "[Default Applications]\nimage/jpeg=test-viewer.desktop\nx-scheme-handler/http=test-browser.desktop\n"));
        GioAssociations associations;
        QString program, arguments;
        associations.jpegViewer(&program, &arguments);
        QCOMPARE(program + ' ' + arguments, '"' + viewer + "\" --fullscreen \"%1\"");
        QCOMPARE(associations.textEditor(), QString());   // no entry at all
        // The browser runs by its words: env, the wrapper with its own option, the address for %u.
        Platform platform = Platform::real();
        QVERIFY(OpenHomePage(platform, associations.browserCommand(), QStringLiteral("file:///a b/README.md")));
        QTRY_COMPARE(ReadAll(root + "/my apps/args"), QByteArray("wrapper\nx\n--new-window\nfile:///a b/README.md\n"));
    }

    // A command that cannot run gives way to xdg-open; when nothing starts, a message box.
    void startOrFallBack_data()
    {
        QTest::addColumn<QString>("command");   // W: a wrapper that records its arguments
        QTest::addColumn<QString>("started");   // who got the file F, with what; empty: nobody
        QTest::newRow("env wrapper, file last") << "/usr/bin/env BF_MARK=y W -e" << "wrapper|y|-e|F";
        QTest::newRow("env with a missing program") << "/usr/bin/env /missing/editor %1" << "xdg-open||F";
        QTest::newRow("nothing at all") << "" << "";
    }
    void startOrFallBack()
    {
        QFETCH(QString, command);
        QFETCH(QString, started);
        QTemporaryDir bin;
        const QString file = bin.filePath(QStringLiteral("Log \"1\" $x.txt"));
        QVERIFY(WriteRecorder(bin.filePath("wrapper")) && (started.isEmpty() || WriteRecorder(bin.filePath("xdg-open"))));
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&path] { qputenv("PATH", path); });
        qputenv("PATH", bin.path().toUtf8());
        TestPlatform tp;
        tp.platform.launcher = std::make_shared<QtLauncher>();
        QCOMPARE(StartForTarget(tp.platform, command.replace('W', bin.filePath("wrapper")), file, "F"), !started.isEmpty());
        QVERIFY(!tp.platform.launcher->startDetached("   "));
        QCOMPARE(tp.dialogs->boxes.size(), started.isEmpty() ? 1 : 0);
        const QString expected = started.isEmpty() ? QString() : started.replace('|', '\n').replace('F', file) + '\n';
        QTRY_COMPARE(QString::fromUtf8(ReadAll(bin.filePath("args"))), expected);
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
        SKIP_AS_ROOT();
        QVERIFY(QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner));
        const bool beside = KeepsDataBesideProgram(bin);
        QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!beside);
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
