#include "ui/AboutWindow.h"

#include "state/AppState.h"
#include "ui/ExternalPrograms.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>

frmAbout::frmAbout(AppState &state, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , mState(state)
    , Picture1(new QLabel(this))
    , TX_About(new QLabel(this))
    , TX_Homepage(new QLabel(this))
    , BT_Homepage(new QPushButton(this))
    , OKButton(new QPushButton(QStringLiteral("OK"), this))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Über Bildfang"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    TX_About->setObjectName(QStringLiteral("TX_About"));
    TX_Homepage->setObjectName(QStringLiteral("TX_Homepage"));
    BT_Homepage->setObjectName(QStringLiteral("BT_Homepage"));
    OKButton->setObjectName(QStringLiteral("OKButton"));

    Picture1->setPixmap(QPixmap(QStringLiteral(":/bildfang/bildfang.png")));
    Picture1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    TX_About->setText(AboutText(mState));
    TX_About->setTextInteractionFlags(Qt::TextSelectableByMouse);

    BrowserCommand = mState.platform.associations->browserCommand();
    mHomePage = HomePageAddress(mState.platform);
    TX_Homepage->setText(mHomePage);
    TX_Homepage->setStyleSheet(QStringLiteral("color: palette(link); text-decoration: underline;"));
    TX_Homepage->setMouseTracking(true);
    TX_Homepage->installEventFilter(this);
    BT_Homepage->setText(mHomePage);
    BT_Homepage->setToolTip(QStringLiteral("Click to visit"));
    BT_Homepage->hide();
    connect(BT_Homepage, &QPushButton::clicked, this, &frmAbout::BT_Homepage_Click);
    connect(OKButton, &QPushButton::clicked, this, &QWidget::close);
    OKButton->setDefault(true);

    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->addWidget(Picture1, 0, 0, 2, 1);
    grid->addWidget(TX_About, 0, 1);
    grid->addWidget(TX_Homepage, 1, 1);
    grid->addWidget(BT_Homepage, 1, 1);   // at the label's place
    grid->addWidget(OKButton, 2, 1, Qt::AlignRight);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void frmAbout::BT_Homepage_Click()
{
    OpenHomePage(mState.platform, BrowserCommand, mHomePage);
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == TX_Homepage && (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)) {
        ShowHomepageButton(true);
        return event->type() == QEvent::MouseMove;   // not on to the background
    }
    return QWidget::eventFilter(watched, event);
}

void frmAbout::mouseMoveEvent(QMouseEvent *event)
{
    // Moves over the button reach the window too; only the background brings the label back.
    if (!BT_Homepage->isVisible() || !BT_Homepage->geometry().contains(event->position().toPoint()))
        ShowHomepageButton(false);
    QWidget::mouseMoveEvent(event);
}

void frmAbout::ShowHomepageButton(bool button)
{
    // Hide first, so the shared cell never holds both.
    (button ? static_cast<QWidget *>(TX_Homepage) : BT_Homepage)->hide();
    (button ? static_cast<QWidget *>(BT_Homepage) : TX_Homepage)->show();
}

void AboutController::ShowAbout(QWidget *mainWindow)
{
    if (!mWindow)
        mWindow = new frmAbout(mState, mainWindow);
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
}

void AboutController::Close()
{
    if (mWindow)
        mWindow->close();
}
