#pragma once

#include <QList>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

class AppState;
class QLabel;
class QScrollArea;

// Sizes of the status window are kept in twips; 15 twips make one pixel.
constexpr int TwipsToPixels(int twips)
{
    return (twips + 7) / 15;
}

// frmConnectionStatus: one line per transfer engine, refreshed every 250 ms. The lines are
// built at the window's first showing for the engines that exist then; a later activation
// keeps them. A window taller than the screen scrolls its lines.
class frmConnectionStatus : public QWidget
{
    Q_OBJECT
public:
    explicit frmConnectionStatus(AppState &state);

    // The 250 ms refresh; tests call it directly.
    void StatusTimer_Timer();
    // One line per engine of now; at the first showing, or before it to know the height.
    void BuildLines();
    bool timerRunning() const { return StatusTimer.isActive(); }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void setLinesHeight(int height);

    AppState &mState;
    QScrollArea *mScroll;
    QWidget *mLines;   // the labels, at their designed places
    QLabel *lblStatus0;
    QTimer StatusTimer;
    QList<QLabel *> mStatusLabels;
    bool mLinesBuilt = false;
};

// The status window's left edge: directly left of the main window when there is room,
// otherwise directly right of it but not past the screen's right edge. Frames included.
int StatusWindowLeft(const QRect &mainFrame, int statusFrameWidth, const QRect &screen);

// Opens, places, hides and brings back the status window for the main window, which calls
// ShowConnectionStatus from mnuConnStatus and MainWindowResized from its resize and
// window-state handling.
class ConnectionStatusController
{
public:
    explicit ConnectionStatusController(AppState &state);
    ~ConnectionStatusController();
    ConnectionStatusController(const ConnectionStatusController &) = delete;
    ConnectionStatusController &operator=(const ConnectionStatusController &) = delete;

    // mnuConnStatus: creates the window when the user had closed it, shows it and places it
    // beside the main window; from now on the resize rule applies.
    void ShowConnectionStatus(QWidget *mainWindow);
    // A minimised main window hides the status window; any other resize shows it, created
    // afresh (and placed) when the user had closed it.
    void MainWindowResized(QWidget *mainWindow, bool minimized);

    // The window while it exists; null after the user closed it.
    frmConnectionStatus *window() const { return mWindow; }
    // Closes the window when it is open.
    void Close();

private:
    void place(QWidget *mainWindow);
    void showPlaced(QWidget *mainWindow, bool fresh);

    AppState &mState;
    QPointer<frmConnectionStatus> mWindow;
};
