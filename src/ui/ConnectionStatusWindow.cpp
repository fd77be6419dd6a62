#include "ui/ConnectionStatusWindow.h"

#include "state/AppState.h"
#include "fetch/CopyHelper.h"
#include "util/Utils.h"

#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>

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
    , lblStatus0(new QLabel(this))
{
    setObjectName(QStringLiteral("frmConnectionStatus"));
    setWindowTitle(QStringLiteral("Connections - Status"));
    setAttribute(Qt::WA_DeleteOnClose);
    lblStatus0->setObjectName(QStringLiteral("lblStatus0"));
    lblStatus0->setGeometry(TwipsToPixels(LabelLeft), TwipsToPixels(LabelTop), TwipsToPixels(LabelWidth),
                            TwipsToPixels(LabelHeight));
    lblStatus0->hide();   // the engines' lines lie on top of it
    setFixedSize(TwipsToPixels(2 * LabelLeft + LabelWidth), TwipsToPixels(LabelTop + LabelHeight + LineGap));
    StatusTimer.setInterval(250);
    connect(&StatusTimer, &QTimer::timeout, this, &frmConnectionStatus::StatusTimer_Timer);
    StatusTimer.start();
}

void frmConnectionStatus::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!mLinesBuilt)
        BuildLines();
}

void frmConnectionStatus::BuildLines()
{
    mLinesBuilt = true;
    StatusTimer.start();
    const int n = int(mState.CopyHelpers.size());
    int bottom = LabelTop;
    for (int i = 1; i <= n; ++i) {
        auto *label = new QLabel(this);
        label->setObjectName(QStringLiteral("Label") + PadNumber(i, 3));
        label->setFrameShape(QFrame::Box);
        const int top = (LabelHeight + LineGap) * (i - 1) + LabelTop;
        label->setGeometry(lblStatus0->x(), TwipsToPixels(top), lblStatus0->width(), lblStatus0->height());
        label->show();
        mStatusLabels.append(label);
        bottom = top + LabelHeight;
    }
    // The frame stays as the system draws it; only the inner height follows the lines.
    setFixedHeight(TwipsToPixels(bottom + LineGap));
    StatusTimer_Timer();
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
    if (!mWindow)
        mWindow = new frmConnectionStatus(mState);
    mWindow->show();
    mWindow->raise();
    mState.ConnStatusShown = true;
    place(mainWindow);
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
    mWindow->show();
    if (fresh)
        place(mainWindow);
}

void ConnectionStatusController::place(QWidget *mainWindow)
{
    const QRect screen = mainWindow->screen() ? mainWindow->screen()->geometry() : QRect();
    const QRect mainFrame = mainWindow->frameGeometry();
    mWindow->move(StatusWindowLeft(mainFrame, mWindow->frameGeometry().width(), screen), mainFrame.top());
}
