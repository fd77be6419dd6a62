#include "state/AppState.h"
#include "ui/ExternalPrograms.h"
#include "cameras/CamObject.h"
#include "platform/QtServices.h"
#include "platform/ShellWords.h"
#include "support/Files.h"
#include "support/TestPlatform.h"
#include "ui/ConnectionStatusWindow.h"
#include "ui/WindowHelpers.h"

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

    QStringList started(int i) const { return SplitShellWords(mTp->launcher->commandLines.value(i)); }

private slots:
    void init()
    {
        mTp = std::make_unique<TestPlatform>();
        mTp->platform.associations = mAssociations = std::make_shared<FixedAssociations>();
        mState = std::make_unique<AppState>(mTp->platform);
    }

    void statusPlacement()
    {
        const QRect screen(0, 0, 1024, 768);
        QCOMPARE(StatusWindowLeft(QRect(500, 40, 300, 200), 412, screen), 88);      // room on the left
        QCOMPARE(StatusWindowLeft(QRect(0, 40, 300, 200), 412, screen), 300);       // at the left edge: right of it
        QCOMPARE(StatusWindowLeft(QRect(400, 40, 300, 200), 412, screen), 612);     // near the right edge: clipped
        // A window frame off every screen goes onto the one it overlaps most, whole.
        const QList<QRect> screens{screen, QRect(1024, 0, 1280, 1024)};
        QCOMPARE(PositionOnScreens(QRect(1200, 900, 400, 300), screens), QPoint(1200, 724));   // below the second
        QCOMPARE(PositionOnScreens(QRect(1500, 800, 400, 300), {screen}), QPoint(624, 468));   // saved on a larger screen
        QCOMPARE(PositionOnScreens(QRect(900, 10, 400, 300), screens), QPoint(1024, 10));      // across both
        QCOMPARE(PositionOnScreens(QRect(-50, -50, 1100, 300), {screen}), QPoint(0, 0));       // wider: its left edge shows
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
};

QTEST_MAIN(TestUi)
#include "tst_ui.moc"
