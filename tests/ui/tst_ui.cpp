#include "app/AppState.h"
#include "app/ExternalPrograms.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "platform/ShellWords.h"
#include "support/TestPlatform.h"
#include "ui/AboutWindow.h"
#include "ui/ConnectionStatusWindow.h"

#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>

class FixedAssociations final : public Associations
{
public:
    QString browser, editor;
    QString browserCommand() const override { return browser; }
    QString textEditor() const override { return editor; }
};

class TestUi : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void statusLinesForThreeEngines();
    void statusPlacement_data();
    void statusPlacement();
    void statusBackAfterCloseByRestore();
    void viewerCommandLine_data();
    void viewerCommandLine();
    void viewerMessages();
    void logFileInEditor();
    void browserCommand_data();
    void browserCommand();
    void aboutWindow();

private:
    std::unique_ptr<TestPlatform> mTp;
    std::unique_ptr<AppState> mState;
    std::shared_ptr<FixedAssociations> mAssociations = std::make_shared<FixedAssociations>();

    void addEngines(int n)
    {
        for (int i = 0; i < n; ++i)
            mState->CopyHelpers.push_back(std::make_unique<CopyHelper>(mState->platform, mState->TimerNames));
    }
    QStringList started() const { return mTp->launcher->commandLines; }
};

void TestUi::init()
{
    mState.reset();
    mTp = std::make_unique<TestPlatform>();
    mTp->platform.associations = mAssociations;
    mState = std::make_unique<AppState>(mTp->platform);
    mState->VersionText = AppState::BuildVersionText();
}

void TestUi::statusLinesForThreeEngines()
{
    addEngines(3);
    QWidget main;
    ConnectionStatusController control(*mState);
    control.ShowConnectionStatus(&main);
    frmConnectionStatus *window = control.window();
    QVERIFY(mState->ConnStatusShown && window->timerRunning());
    QCOMPARE(window->windowTitle(), QStringLiteral("Connections - Status"));
    QVERIFY(!(window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    const int tops[] = {120, 455, 790};
    for (int i = 0; i < 3; ++i) {
        auto *label = window->findChild<QLabel *>(QStringLiteral("Label00%1").arg(i + 1));
        QVERIFY(label && label->isVisible());
        QCOMPARE(label->geometry(), QRect(TwipsToPixels(90), TwipsToPixels(tops[i]), TwipsToPixels(6000), TwipsToPixels(260)));
    }
    QCOMPARE(window->height(), TwipsToPixels(1125));   // the frame comes on top of the inner height
    // An engine added later gets no line until the window is created again.
    addEngines(1);
    window->StatusTimer_Timer();
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("Label001"))->text(), QStringLiteral("Connection 1: :0: Nicht aktiv"));
    QVERIFY(!window->findChild<QLabel *>(QStringLiteral("Label004")));
}

void TestUi::statusPlacement_data()
{
    QTest::addColumn<int>("mainLeft");
    QTest::addColumn<char>("side");   // l: left of the main window, r: right of it, e: at the screen's right edge
    QTest::newRow("room on the left") << 500 << 'l';
    QTest::newRow("at the left edge") << 0 << 'r';
    QTest::newRow("near the right edge") << 350 << 'e';
}

void TestUi::statusPlacement()
{
    QFETCH(int, mainLeft);
    QFETCH(char, side);
    addEngines(1);
    QWidget main;
    main.resize(300, 200);
    main.move(mainLeft, 40);
    main.show();
    ConnectionStatusController control(*mState);
    control.ShowConnectionStatus(&main);
    const QRect screen = main.screen()->geometry();
    const QRect frame = control.window()->frameGeometry();
    const QRect mainFrame = main.frameGeometry();
    QCOMPARE(mainFrame.left(), mainLeft);
    const int expected = side == 'l' ? mainLeft - frame.width() : side == 'r' ? mainFrame.right() + 1 : screen.right() + 1 - frame.width();
    QCOMPARE(frame.left(), expected);
    QCOMPARE(frame.top(), mainFrame.top());
}

void TestUi::statusBackAfterCloseByRestore()
{
    addEngines(2);
    QWidget main;
    ConnectionStatusController control(*mState);
    control.MainWindowResized(&main, false);   // never opened: the rule does not apply yet
    QVERIFY(!control.window());
    control.ShowConnectionStatus(&main);
    control.window()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!control.window());
    control.MainWindowResized(&main, true);
    QVERIFY(!control.window());
    control.MainWindowResized(&main, false);
    QVERIFY(control.window() && control.window()->isVisible());
    QVERIFY(control.window()->findChild<QLabel *>(QStringLiteral("Label002")));
    control.MainWindowResized(&main, true);
    QVERIFY(control.window() && !control.window()->isVisible());
}

void TestUi::viewerCommandLine_data()
{
    // "@" stands for the program folder, which holds the image.
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QStringList>("words");
    const QString image = QStringLiteral("@/Archiv 1/Hof Ost.jpg");
    QTest::newRow("quoted") << image << "--fullscreen \"%1\"" << QStringList{"/usr/bin/viewer", "--fullscreen", image};
    QTest::newRow("bare") << image << "%1" << QStringList{"/usr/bin/viewer", "@/Archiv", "1/Hof", "Ost.jpg"};
    QTest::newRow("no placeholder") << image << "" << QStringList{"/usr/bin/viewer"};
    const QString odd = QStringLiteral("@/Archiv 1/(Hof \"Ost\" $x 'y' \\z).jpg");
    QTest::newRow("quotes in the path") << odd << "\"%1\" '%1'" << QStringList{"/usr/bin/viewer", odd, odd};
}

void TestUi::viewerCommandLine()
{
    QFETCH(QString, image);
    QFETCH(QString, arguments);
    QFETCH(QStringList, words);
    image.replace(QStringLiteral("@"), mTp->programDir.path());
    words.replaceInStrings(QStringLiteral("@"), mTp->programDir.path());
    auto cam = std::make_shared<CamObject>(*mState);
    cam->mCamLastPic = image;
    QVERIFY(QDir().mkpath(mTp->programDir.path() + QStringLiteral("/Archiv 1")));
    QVERIFY(mTp->fileSystem->writeFile(cam->mCamLastPic, "x"));
    mState->Cams.Add(cam);
    ViewLastImage(*mState, QStringLiteral("/usr/bin/viewer"), arguments);
    QCOMPARE(started().size(), 1);
    QCOMPARE(SplitShellWords(started().first()), words);
    QVERIFY(mTp->dialogs->boxes.isEmpty());
}

void TestUi::viewerMessages()
{
    struct Launch final : Launcher {
        bool startDetached(const QString &) override { return false; }
        QString lastError() const override { return QStringLiteral("Datei nicht gefunden"); }
    };
    auto cam = std::make_shared<CamObject>(*mState);
    mState->Cams.Add(cam);
    ViewLastImage(*mState, QStringLiteral("viewer"), QStringLiteral("%1"));   // no image yet: nothing
    cam->mCamLastPic = mTp->programDir.path() + QStringLiteral("/a.jpg");
    ViewLastImage(*mState, QString(), QStringLiteral("%1"));
    ViewLastImage(*mState, QStringLiteral("viewer"), QStringLiteral("%1"));
    QVERIFY(mTp->fileSystem->writeFile(cam->mCamLastPic, "x"));
    mState->platform.launcher = std::make_shared<Launch>();
    ViewLastImage(*mState, QStringLiteral("viewer"), QStringLiteral("%1"));
    const QStringList texts = {QStringLiteral("Es wurde kein verknüpftes Programm gefunden!"),
                               QStringLiteral("Diese Bilddatei existiert nicht mehr!"),
                               QStringLiteral("Fehler beim Starten des verknüpften Programms!\r\nDatei nicht gefunden")};
    QCOMPARE(mTp->dialogs->boxes.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(mTp->dialogs->boxes[i].text, texts[i]);
        QCOMPARE(mTp->dialogs->boxes[i].title, QStringLiteral("Bildfang - Fehler"));
        QCOMPARE(mTp->dialogs->boxes[i].icon, Dialogs::Icon::Warning);
    }
}

void TestUi::logFileInEditor()
{
    mState->LogFileName = QStringLiteral("/home/u/Bildfang Log \"20061206\" $HOME 'x'.txt");
    mAssociations->editor = QStringLiteral("\"/opt/My Editor/edit\" --new-window");
    OpenLogFile(*mState);
    mAssociations->editor.clear();
    OpenLogFile(*mState);
    QCOMPARE(SplitShellWords(started().value(0)), QStringList({"/opt/My Editor/edit", "--new-window", mState->LogFileName}));
    QCOMPARE(SplitShellWords(started().value(1)), QStringList({"xdg-open", mState->LogFileName}));
}

void TestUi::browserCommand_data()
{
    QTest::addColumn<QString>("openCommand");
    QTest::addColumn<QString>("expected");
    QTest::newRow("options dropped") << "\"/usr/lib/firefox-esr/firefox-esr\" -osint -url \"%1\"" << "\"/usr/lib/firefox-esr/firefox-esr\"";
    QTest::newRow("long options") << "chromium --new-window" << "\"chromium\"";
    QTest::newRow("blank in path") << "\"/opt/my browser/b\" -x" << "\"/opt/my browser/b\"";
    QTest::newRow("none") << "" << "";
}

void TestUi::browserCommand()
{
    QFETCH(QString, openCommand);
    QFETCH(QString, expected);
    QCOMPARE(BrowserCommandFrom(openCommand), expected);
}

void TestUi::aboutWindow()
{
    mState->StartTime = QDateTime(QDate(2006, 12, 6), QTime(4, 5));
    mAssociations->browser = QStringLiteral("x-www-browser --new-tab");
    QWidget main;
    AboutController control(*mState);
    control.ShowAbout(&main);
    frmAbout *about = control.window();
    control.ShowAbout(&main);
    QCOMPARE(control.window(), about);   // one window at a time
    QCOMPARE(about->windowTitle(), QStringLiteral("Über Bildfang"));
    const QStringList lines = about->findChild<QLabel *>(QStringLiteral("TX_About"))->text().split('\n');
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.first(), QStringLiteral("BILDFANG Version ") + AppState::BuildVersionText());
    QCOMPARE(lines.last(), QStringLiteral("gestartet: ") + QLocale().toString(mState->StartTime, QLocale::ShortFormat));
    QVERIFY(!about->findChild<QLabel *>(QStringLiteral("Picture1"))->pixmap().isNull());

    auto *label = about->findChild<QLabel *>(QStringLiteral("TX_Homepage"));
    auto *button = about->findChild<QPushButton *>(QStringLiteral("BT_Homepage"));
    QCOMPARE(button->toolTip(), QStringLiteral("Click to visit"));
    QVERIFY(label->isVisible() && !button->isVisible());
    QMouseEvent overLabel(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(label, &overLabel);
    QVERIFY(!label->isVisible() && button->isVisible());
    QMouseEvent overBackground(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(about, &overBackground);
    QVERIFY(label->isVisible() && !button->isVisible());

    button->click();
    QCOMPARE(SplitShellWords(started().value(0)), QStringList({"x-www-browser", HomePageAddress(mState->platform)}));
    QVERIFY(HomePageAddress(mState->platform).startsWith(QStringLiteral("file:///")));
    about->findChild<QPushButton *>(QStringLiteral("OKButton"))->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!control.window());
}

QTEST_MAIN(TestUi)
#include "tst_ui.moc"
