#include "app/MainWindow.h"

#include "app/AppState.h"

frmMain::frmMain(AppState &state, QWidget *parent)
    : QMainWindow(parent)
    , mState(state)
{
    mState.VersionText = AppState::BuildVersionText();
    setWindowTitle(QStringLiteral("Bildfang ") + mState.VersionText);
    resize(640, 480);
}
