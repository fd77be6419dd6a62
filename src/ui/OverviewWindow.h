#pragma once

#include <QFrame>
#include <QTimer>
#include <QWidget>
#include <vector>

class AppState;
class QGridLayout;
class QLabel;
class QScrollArea;

// One camera's tile: its last image, name and status line.
class OverviewTile : public QFrame
{
    Q_OBJECT
public:
    explicit OverviewTile(QWidget *parent = nullptr);

    QLabel *imgBild, *lblName, *lblStatus;
    QString shownPic;   // the file the picture was decoded from

signals:
    void doubleClicked();
    void moved();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
};

// "Übersicht": every camera at once, in the camera list's order. It reads the cameras' state
// on its own timer, so the transfers never wait for it, and decodes an image only when its
// camera saved a new one, at tile size and at most once per refresh. Only the tiles in view
// are kept current: with many cameras most tiles are scrolled away, and their decodes and
// status texts (each one a new text layout and a relayout of the grid) would cost the
// recorder more than all else the window does. A tile coming into view gets its status at
// once and its picture at the next refresh.
class OverviewWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 500;
    static constexpr int TileWidth = 240;
    static constexpr int PictureHeight = 150;
    static constexpr int MaxDecodesPerRefresh = 16;
    // Decoding time a refresh may spend after its first decode: with many cameras the
    // pictures lag a little rather than the recorder paying for them.
    static constexpr int DecodeMsPerRefresh = 5;

    explicit OverviewWindow(AppState &state, QWidget *parent = nullptr);
    ~OverviewWindow() override;

    // The timer's tick; tests call it directly.
    void Refresh();
    const std::vector<OverviewTile *> &tiles() const { return mTiles; }
    int columns() const { return mColumns; }
    int decodes() const { return mDecodes; }

signals:
    // A tile was double-clicked: camera camNo (1-based) is to be selected.
    void cameraChosen(int camNo);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void Reflow();
    QRect SeenArea() const;   // in the grid's coordinates; empty when minimised
    void UpdateStatus(int index);
    void UpdateSeenStatuses();

    AppState &mState;
    QScrollArea *mScroll;
    QWidget *mGrid;
    QGridLayout *mLayout;
    std::vector<OverviewTile *> mTiles;
    int mColumns = 0;
    int mDecodes = 0;
    int mNextDecode = 0;
    QTimer mTimer;
};
