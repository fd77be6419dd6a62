#pragma once

#include <QMainWindow>

class AppState;

// frmMain: the main window. For now only its caption.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmMain(AppState &state, QWidget *parent = nullptr);

private:
    AppState &mState;
};
