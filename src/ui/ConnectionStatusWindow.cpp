#include "ui/ConnectionStatusWindow.h"

#include "state/AppState.h"
#include "fetch/CopyHelper.h"
#include "ui/WindowHelpers.h"
#include "util/Utils.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QShowEvent>
#include <algorithm>

namespace {

// lblStatus0 as designed, in twips.
constexpr int LabelLeft = 90;
constexpr int LabelTop = 120;
constexpr int LabelWidth = 6000;
constexpr int LabelHeight = 260;
constexpr int LineGap = 75;

} // namespace

frmConnectionStatus::frmConnectionStatus(AppState &state)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , mState(state)
    , mScroll(new QScrollArea(this))
    , mLines(new QWidget)
    , lblStatus0(new QLabel(mLines))
{
    setObjectName(QStringLiteral("frmConnectionStatus"));
    setWindowTitle(QStringLiteral("Connections - Status"));
    setAttribute(Qt::WA_DeleteOnClose);
    lblStatus0->setObjectName(QStringLiteral("lblStatus0"));
    lblStatus0->setGeometry(TwipsToPixels(LabelLeft), TwipsToPixels(LabelTop), TwipsToPixels(LabelWidth),
                            TwipsToPixels(LabelHeight));
    lblStatus0->hide();   // the engines' lines lie on top of it
    mScroll->setFrameShape(QFrame::NoFrame);
    mScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mScroll->setWidget(mLines);
    setLinesHeight(TwipsToPixels(LabelTop + LabelHeight + LineGap));
    StatusTimer.setInterval(250);
    connect(&StatusTimer, &QTimer::timeout, this, &frmConnectionStatus::StatusTimer_Timer);
    StatusTimer.start();
}

void frmConnectionStatus::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    BuildLines();
}

void frmConnectionStatus::BuildLines()
{
    if (mLinesBuilt)
        return;
    mLinesBuilt = true;
    StatusTimer.start();
    const int n = int(mState.CopyHelpers.size());
    int bottom = LabelTop;
    for (int i = 1; i <= n; ++i) {
        auto *label = new QLabel(mLines);
        label->setObjectName(QStringLiteral("Label") + PadNumber(i, 3));
        label->setFrameShape(QFrame::Box);
        const int top = (LabelHeight + LineGap) * (i - 1) + LabelTop;
        label->setGeometry(lblStatus0->x(), TwipsToPixels(top), lblStatus0->width(), lblStatus0->height());
        label->show();
        mStatusLabels.append(label);
        bottom = top + LabelHeight;
    }
    // The frame stays as the system draws it; only the inner height follows the lines.
    setLinesHeight(TwipsToPixels(bottom + LineGap));
    StatusTimer_Timer();
}

void frmConnectionStatus::setLinesHeight(int height)
{
    const int width = TwipsToPixels(2 * LabelLeft + LabelWidth);
    mLines->setFixedSize(width, height);
    // At most the screen's height, frame included; before the window manager tells the
    // frame, a title bar's height is assumed.
    const QScreen *shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    const int frame = std::max(frameGeometry().height() - this->height(), style()->pixelMetric(QStyle::PM_TitleBarHeight));
    const int room = shownOn ? shownOn->availableGeometry().height() - frame : height;
    const bool scrolls = height > room;
    mScroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    const int shownWidth = width + (scrolls ? mScroll->verticalScrollBar()->sizeHint().width() : 0);
    setFixedSize(shownWidth, scrolls ? room : height);
    mScroll->setGeometry(0, 0, shownWidth, scrolls ? room : height);
}

void frmConnectionStatus::StatusTimer_Timer()
{
    const int n = std::min(int(mState.CopyHelpers.size()), int(mStatusLabels.size()));
    for (int i = 1; i <= n; ++i)
        mStatusLabels.at(i - 1)->setText(QStringLiteral("Connection ") + QString::number(i) + QStringLiteral(": ")
                                         + mState.CopyHelpers.at(i - 1)->getReport());
}

void frmConnectionStatus::closeEvent(QCloseEvent *event)
{
    StatusTimer.stop();
    QWidget::closeEvent(event);
}

int StatusWindowLeft(const QRect &mainFrame, int statusFrameWidth, const QRect &screen)
{
    if (mainFrame.left() - statusFrameWidth > screen.left())
        return mainFrame.left() - statusFrameWidth;
    return Min(mainFrame.left() + mainFrame.width(), screen.left() + screen.width() - statusFrameWidth);
}

ConnectionStatusController::ConnectionStatusController(AppState &state)
    : mState(state)
{
}

ConnectionStatusController::~ConnectionStatusController()
{
    delete mWindow.data();
}

void ConnectionStatusController::ShowConnectionStatus(QWidget *mainWindow)
{
    const bool fresh = !mWindow;
    if (fresh)
        mWindow = new frmConnectionStatus(mState);
    mState.ConnStatusShown = true;
    showPlaced(mainWindow, fresh);
    mWindow->raise();
}

void ConnectionStatusController::MainWindowResized(QWidget *mainWindow, bool minimized)
{
    if (!mState.ConnStatusShown)
        return;
    if (minimized) {
        if (mWindow)
            mWindow->hide();
        return;
    }
    const bool fresh = !mWindow;
    if (fresh)
        mWindow = new frmConnectionStatus(mState);
    showPlaced(mainWindow, fresh);
}

void ConnectionStatusController::showPlaced(QWidget *mainWindow, bool fresh)
{
    // A new window is placed before it is shown: only then does the window manager put its
    // frame, not its inside, at the place; a shown one knows its frame already.
    if (fresh) {
        mWindow->BuildLines();
        place(mainWindow);
        mWindow->show();
    } else {
        mWindow->show();
        place(mainWindow);
    }
}

void ConnectionStatusController::Close()
{
    if (mWindow)
        mWindow->close();
}

void ConnectionStatusController::place(QWidget *mainWindow)
{
    const QRect screen = mainWindow->screen() ? mainWindow->screen()->availableGeometry() : QRect();
    const QRect mainFrame = mainWindow->frameGeometry();
    const QSize statusFrame = mWindow->frameGeometry().size();
    // Top edges aligned, frames included; the whole window stays on the screen.
    const QRect wanted(QPoint(StatusWindowLeft(mainFrame, statusFrame.width(), screen), mainFrame.top()), statusFrame);
    mWindow->move(screen.isEmpty() ? wanted.topLeft() : PositionOnScreens(wanted, {screen}));
}
