#pragma once

#include <QPointer>
#include <QWidget>

class AppState;
class QLabel;
class QPushButton;

// frmAbout: version, credits and start time, the program's picture and a home-page address
// that turns into a button while the mouse is on it.
class frmAbout : public QWidget
{
    Q_OBJECT
public:
    frmAbout(AppState &state, QWidget *parent);

    // BT_Homepage: the browser with the home page.
    void BT_Homepage_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void ShowHomepageButton(bool button);

    AppState &mState;
    QString BrowserCommand;
    QString mHomePage;
    QLabel *Picture1;
    QLabel *TX_About;
    QLabel *TX_Homepage;
    QPushButton *BT_Homepage;
    QPushButton *OKButton;
};

// mnuAbout: one About window at a time, built afresh after it was closed.
class AboutController
{
public:
    explicit AboutController(AppState &state) : mState(state) {}
    void ShowAbout(QWidget *mainWindow);
    frmAbout *window() const { return mWindow; }
    // Closes the window when it is open.
    void Close();

private:
    AppState &mState;
    QPointer<frmAbout> mWindow;
};
