#include "ui/OverviewWindow.h"

#include "state/AppState.h"
#include "cameras/CamObject.h"
#include "ui/WindowHelpers.h"

#include <QElapsedTimer>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

OverviewTile::OverviewTile(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(OverviewWindow::TileWidth);
    imgBild = Named(new QLabel, "imgBild");
    imgBild->setFixedSize(OverviewWindow::TileWidth - 12, OverviewWindow::PictureHeight);
    imgBild->setAlignment(Qt::AlignCenter);
    imgBild->setStyleSheet(QStringLiteral("background: black; color: gray"));
    lblName = Named(new QLabel, "lblName");
    QFont bold = lblName->font();
    bold.setBold(true);
    lblName->setFont(bold);
    lblStatus = Named(new QLabel, "lblStatus");
    lblStatus->setWordWrap(true);
    // Of fixed size, a new status repaints its label alone instead of laying out every tile.
    lblStatus->setFixedSize(OverviewWindow::TileWidth - 12, 3 * lblStatus->fontMetrics().lineSpacing());
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(imgBild);
    layout->addWidget(lblName);
    layout->addWidget(lblStatus);
}

void OverviewTile::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    QFrame::mouseDoubleClickEvent(event);
}

void OverviewTile::moveEvent(QMoveEvent *event)
{
    QFrame::moveEvent(event);
    emit moved();
}

OverviewWindow::OverviewWindow(AppState &state, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , mState(state)
{
    setObjectName(QStringLiteral("frmUebersicht"));
    setWindowTitle(QStringLiteral("Übersicht"));
    mScroll = new QScrollArea;
    mScroll->setWidgetResizable(true);
    mScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mGrid = new QWidget;
    mLayout = new QGridLayout(mGrid);
    mLayout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    mScroll->setWidget(mGrid);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mScroll);
    // Three tiles across to start with, scroll bar and spacing included.
    resize(3 * (TileWidth + 12) + 50, 2 * (PictureHeight + 90) + 20);
    mTimer.setInterval(RefreshMs);
    connect(&mTimer, &QTimer::timeout, this, &OverviewWindow::Refresh);
    // The scroll area has moved the grid by then: the statuses are current before the paint.
    connect(mScroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &OverviewWindow::UpdateSeenStatuses);
}

// The children go after this part of the window: their last signals must not reach it.
OverviewWindow::~OverviewWindow()
{
    mScroll->verticalScrollBar()->disconnect(this);
    for (OverviewTile *tile : mTiles)
        tile->disconnect(this);
}

QRect OverviewWindow::SeenArea() const
{
    if (isMinimized())
        return {};
    return {mGrid->mapFrom(mScroll->viewport(), QPoint(0, 0)), mScroll->viewport()->size()};
}

void OverviewWindow::UpdateStatus(int index)
{
    OverviewTile *tile = mTiles[size_t(index)];
    const auto cam = mState.Cams.Item(index + 1);
    if (!cam)
        return;
    tile->lblName->setText(cam->mCamName);
    QString status = mState.Recording && cam->mCamUpdaterate != -1 ? QStringLiteral("Aufnahme") : QStringLiteral("aus");
    status += cam->mLastSavedTime.isValid()
        ? QStringLiteral(" · letztes Bild ") + cam->mLastSavedTime.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
        : QStringLiteral(" · noch kein Bild");
    if (!cam->mLastOutcome.isEmpty())
        status += QStringLiteral("\n") + cam->mLastOutcome;
    tile->lblStatus->setText(status);
    tile->lblStatus->setToolTip(status);   // a long outcome may not fit
}

void OverviewWindow::UpdateSeenStatuses()
{
    const QRect seen = SeenArea();
    for (int i = 0; i < int(mTiles.size()); ++i)
        if (mTiles[size_t(i)]->geometry().intersects(seen))
            UpdateStatus(i);
}

void OverviewWindow::Refresh()
{
    const int count = mState.CamCount;
    bool added = false;
    while (int(mTiles.size()) < count) {
        auto *tile = new OverviewTile(mGrid);
        const int index = int(mTiles.size());
        mTiles.push_back(tile);
        connect(tile, &OverviewTile::doubleClicked, this, [this, index] { emit cameraChosen(index + 1); });
        // Laid out anew (the window's width, cameras added or removed): into view, up to date.
        connect(tile, &OverviewTile::moved, this, [this, index] {
            if (mTiles[size_t(index)]->geometry().intersects(SeenArea()))
                UpdateStatus(index);
        });
        added = true;
    }
    const bool removed = int(mTiles.size()) > count;
    while (int(mTiles.size()) > count) {
        delete mTiles.back();
        mTiles.pop_back();
    }
    if (added || removed) {
        mColumns = 0;   // placed anew
        Reflow();
    }

    // Tiles not yet laid out all stand at the grid's corner, so the first refresh fills them all.
    const QRect seen = SeenArea();
    std::vector<char> inView(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        inView[size_t(i)] = mTiles[size_t(i)]->geometry().intersects(seen);
        if (inView[size_t(i)])
            UpdateStatus(i);
    }

    // Decoding shares the thread with the transfers: bounded in number and time per refresh,
    // going round so that with many cameras every tile gets its turn.
    int budget = MaxDecodesPerRefresh;
    QElapsedTimer spent;
    spent.start();
    for (int k = 0; k < count && budget > 0; ++k) {
        if (budget < MaxDecodesPerRefresh && spent.elapsed() >= DecodeMsPerRefresh)
            break;
        const int i = (mNextDecode + k) % count;
        OverviewTile *tile = mTiles[size_t(i)];
        const auto cam = mState.Cams.Item(i + 1);
        // Cameras may be reordered: the tile follows its position's camera.
        if (!inView[size_t(i)] || !cam || cam->mCamLastPic == tile->shownPic)
            continue;
        tile->shownPic = cam->mCamLastPic;
        if (tile->shownPic.isEmpty()) {
            tile->imgBild->clear();
            continue;
        }
        --budget;
        mNextDecode = (i + 1) % count;
        QImageReader reader(tile->shownPic);
        const QSize box = tile->imgBild->size();
        QSize size = reader.size();
        if (size.isValid()) {
            size.scale(box, Qt::KeepAspectRatio);
            reader.setScaledSize(size);   // JPEG decodes straight at this size
        }
        const QImage image = reader.read();
        ++mDecodes;
        if (image.isNull())
            tile->imgBild->setText(QStringLiteral("Bild nicht lesbar"));
        else
            tile->imgBild->setPixmap(QPixmap::fromImage(image));
    }
}

void OverviewWindow::Reflow()
{
    const int spacing = mLayout->horizontalSpacing() < 0 ? 6 : mLayout->horizontalSpacing();
    const int width = mScroll->viewport()->width() - mLayout->contentsMargins().left() - mLayout->contentsMargins().right()
        - mScroll->verticalScrollBar()->sizeHint().width();
    const int columns = std::max(1, (width + spacing) / (TileWidth + spacing));
    if (columns == mColumns)
        return;
    mColumns = columns;
    for (OverviewTile *tile : mTiles)
        mLayout->removeWidget(tile);
    for (int i = 0; i < int(mTiles.size()); ++i) {
        mLayout->addWidget(mTiles[size_t(i)], i / columns, i % columns);
        mTiles[size_t(i)]->show();
    }
}

void OverviewWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Reflow();
    UpdateSeenStatuses();   // a taller window shows more rows without moving a tile
}

void OverviewWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Refresh();
    mTimer.start();
}

void OverviewWindow::hideEvent(QHideEvent *event)
{
    mTimer.stop();
    QWidget::hideEvent(event);
}
