#include "state/AppState.h"
#include "ui/ExternalPrograms.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "platform/QtServices.h"
#include "platform/ShellWords.h"
#include "support/Files.h"
#include "support/TestPlatform.h"
#include "ui/AboutWindow.h"
#include "ui/ConnectionStatusWindow.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
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

    std::unique_ptr<TestPlatform> mTp;
    std::unique_ptr<AppState> mState;
    std::shared_ptr<FixedAssociations> mAssociations;
    std::unique_ptr<QWidget> mMain;

    void addEngines(int n)
    {
        for (int i = 0; i < n; ++i)
            mState->CopyHelpers.push_back(std::make_unique<CopyHelper>(mState->platform, mState->TimerNames));
    }
    QStringList started(int i) const { return SplitShellWords(mTp->launcher->commandLines.value(i)); }
    static QLabel *line(QWidget *window, int i) { return window->findChild<QLabel *>(QStringLiteral("Label%1").arg(i, 3, 10, QChar('0'))); }

private slots:
    void init()
    {
        mTp = std::make_unique<TestPlatform>();
        mTp->platform.associations = mAssociations = std::make_shared<FixedAssociations>();
        mState = std::make_unique<AppState>(mTp->platform);
        mMain = std::make_unique<QWidget>();
    }

    void statusWindow()
    {
        addEngines(3);
        ConnectionStatusController control(*mState);
        control.MainWindowResized(mMain.get(), false);   // the rule applies once the menu opened the window
        QVERIFY(!control.window());
        control.ShowConnectionStatus(mMain.get());
        frmConnectionStatus *window = control.window();
        QVERIFY(mState->ConnStatusShown && window->timerRunning() && line(window, 3));
        addEngines(1);   // no line until the window is created again
        window->StatusTimer_Timer();
        QCOMPARE(line(window, 1)->text(), QStringLiteral("Connection 1: :0: Nicht aktiv"));
        QVERIFY(!line(window, 4));
        // Closed by the user, back with the engines of now when the main window is restored.
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        control.MainWindowResized(mMain.get(), true);
        QVERIFY(!control.window());
        control.MainWindowResized(mMain.get(), false);
        QVERIFY(control.window()->isVisible() && line(control.window(), 4));
        control.MainWindowResized(mMain.get(), true);
        QVERIFY(!control.window()->isVisible());
    }

    void statusPlacement()
    {
        const QRect screen(0, 0, 1024, 768);
        QCOMPARE(StatusWindowLeft(QRect(500, 40, 300, 200), 412, screen), 88);      // room on the left
        QCOMPARE(StatusWindowLeft(QRect(0, 40, 300, 200), 412, screen), 300);       // at the left edge: right of it
        QCOMPARE(StatusWindowLeft(QRect(400, 40, 300, 200), 412, screen), 612);     // near the right edge: clipped
    }

    void viewerCommandLine()
    {
        const QString plain = mTp->programDir.path() + QStringLiteral("/Archiv 1/Hof Ost.jpg");
        const QString odd = mTp->programDir.path() + QStringLiteral("/Archiv 1/(Hof \"Ost\" $x 'y' \\z).jpg");
        QVERIFY(WriteAll(plain, "x") && WriteAll(odd, "x"));
        auto cam = std::make_shared<CamObject>(*mState);
        mState->Cams.Add(cam);
        const auto start = [&](const QString &image, const char *arguments) {
            cam->mCamLastPic = image;
            ViewLastImage(*mState, QStringLiteral("/usr/bin/viewer"), QString::fromUtf8(arguments));
            return started(int(mTp->launcher->commandLines.size()) - 1);
        };
        QCOMPARE(start(plain, "%1"), QStringList("/usr/bin/viewer") + plain.split(' '));
        QCOMPARE(start(plain, ""), QStringList("/usr/bin/viewer"));
        QCOMPARE(start(odd, "\"%1\" '%1'"), QStringList({"/usr/bin/viewer", odd, odd}));
        QVERIFY(mTp->dialogs->boxes.isEmpty() && mTp->launcher->commandLines.size() == 3);
    }

    void viewerMessages()
    {
        auto cam = std::make_shared<CamObject>(*mState);
        mState->Cams.Add(cam);
        ViewLastImage(*mState, QStringLiteral("viewer"), QStringLiteral("%1"));   // no image yet: nothing
        cam->mCamLastPic = mTp->programDir.path() + QStringLiteral("/a.jpg");
        ViewLastImage(*mState, QString(), QStringLiteral("%1"));
        ViewLastImage(*mState, QStringLiteral("viewer"), QStringLiteral("%1"));
        QVERIFY(mTp->fileSystem->writeFile(cam->mCamLastPic, "x"));
        mState->platform.launcher = std::make_shared<QtLauncher>();
        ViewLastImage(*mState, mTp->programDir.path() + QStringLiteral("/no viewer"), QStringLiteral("%1"));
        QStringList texts;
        for (const RecordingDialogs::Box &box : mTp->dialogs->boxes)
            texts.append(box.text.section(QStringLiteral("\r\n"), 0, 0));   // then the system's reason
        QCOMPARE(texts, QStringList({"Es wurde kein verknüpftes Programm gefunden!", "Diese Bilddatei existiert nicht mehr!",
                                     "Fehler beim Starten des verknüpften Programms!"}));
        QVERIFY(mTp->dialogs->boxes.last().text.size() > texts.last().size() + 2);
    }

    void aboutWindow()
    {
        mState->StartTime = QDateTime(QDate(2006, 12, 6), QTime(4, 5));
        mAssociations->browser = QStringLiteral("x-www-browser --new-tab");   // its options kept, the address last
        AboutController control(*mState);
        control.ShowAbout(mMain.get());
        frmAbout *about = control.window();
        control.ShowAbout(mMain.get());
        QCOMPARE(control.window(), about);   // one window at a time
        const QString text = about->findChild<QLabel *>(QStringLiteral("TX_About"))->text();
        QVERIFY(text.endsWith(QStringLiteral("\ngestartet: ") + QLocale().toString(mState->StartTime, QLocale::ShortFormat)));
        auto *label = about->findChild<QLabel *>(QStringLiteral("TX_Homepage"));
        auto *button = about->findChild<QPushButton *>(QStringLiteral("BT_Homepage"));
        QVERIFY(label->isVisible() && !button->isVisible());
        QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(label, &move);
        QVERIFY(!label->isVisible() && button->isVisible());
        QCoreApplication::sendEvent(about, &move);   // the window's background
        QVERIFY(label->isVisible() && !button->isVisible());
        button->click();
        QCOMPARE(started(0), QStringList({"x-www-browser", "--new-tab", HomePageAddress(mState->platform)}));
        about->findChild<QPushButton *>(QStringLiteral("OKButton"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!control.window());
    }
};

QTEST_MAIN(TestUi)
#include "tst_ui.moc"
