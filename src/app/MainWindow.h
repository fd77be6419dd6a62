#pragma once

#include "state/MainView.h"
#include "app/RecordingControl.h"
#include "state/SettingsView.h"
#include "ui/AboutWindow.h"
#include "ui/ConnectionStatusWindow.h"

#include <QMainWindow>
#include <QTimer>

class AppState;
class ArchiveBrowser;
class ArchiveEditor;
class CameraEditor;
class LogPanel;
class OverviewWindow;
class PictureBox;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;

// frmMain: the main window and the program. Form_Load starts everything, closing the
// window (close box, "Beenden", a termination signal) runs Form_Unload once.
class frmMain : public QMainWindow, public SettingsView, public MainView
{
    Q_OBJECT
public:
    explicit frmMain(AppState &state, QWidget *parent = nullptr);
    ~frmMain() override;

    void Form_Load();
    void Form_Unload();

    bool Initialising = false;
    QString ViewerProgram;
    QString ViewerArguments;

    RecordingControl &Recording() { return mRecording; }

    // SettingsView
    void SetSpeicherortText(const QString &text) override;
    QString SpeicherortText() const override;
    void ClickPlatzlimit() override;
    void ClickZeitlimit() override;
    void SetEinheitText(const QString &text) override;
    QString EinheitText() const override;
    void SetSpeicherlimitText(const QString &text) override;
    QString SpeicherlimitText() const override;
    void SetZeitlimitText(const QString &text) override;
    QString ZeitlimitText() const override;
    void SetLogAutoLeerenChecked(bool checked) override;
    void SetLogAutoSichernChecked(bool checked) override;
    void SetRecordingChecked(bool checked) override;   // also MainView's
    void SetWindowLeft(qint16 twips) override;
    void SetWindowTop(qint16 twips) override;
    void SetWindowState(qint16 state) override;
    qint32 WindowLeft() const override;
    qint32 WindowTop() const override;
    qint16 WindowState() const override;

    // MainView. Status texts reach the panels at most ten times a second: a recorder with many
    // cameras changes them hundreds of times a second, more than anyone can read.
    void SetStatusText(int panel, const QString &text) override;
    QString StatusText(int panel) const { return mStatusText[panel == 1 ? 0 : 1]; }
    bool ShowLastImage(const QString &path, const QString &label, QString *error) override;
    void ShowRecordingState(bool on) override;
    void SettingsChanged() override;

    // The groups, and the controls of the window itself, under the program's names.
    CameraEditor *frCams;
    ArchiveEditor *archiveEditor;   // frames "Konfiguration" and "Löschen"
    LogPanel *frLog;
    QAction *mnuStartStop, *mnuConnStatus, *mnuOverview, *mnuArchive, *mnuAbout, *mnuExit;
    OverviewWindow *frmOverview = nullptr;   // made on first use
    ArchiveBrowser *frmArchive = nullptr;    // made on first use
    QCheckBox *chkRecording;
    QGroupBox *frLetztesBild;
    PictureBox *imgLetztesBild;
    QLabel *lblLetztesBild;
    QLabel *MainStatusBarPanel1, *MainStatusBarPanel2;

public slots:
    void mnuExit_Click();
    // Hooks of the auxiliary windows, wired where those windows are built.
    void mnuConnStatus_Click();
    void mnuAbout_Click();
    void mnuOverview_Click();
    void mnuArchive_Click();
    void imgLetztesBild_DblClick();
    void Form_Resize();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    void InitMain();
    void RestartEstimate();
    void ShowSelectedCamImage();
    void SaveSettings();

    AppState &mState;
    RecordingControl mRecording;
    ConnectionStatusController mConnStatus{mState};
    AboutController mAbout{mState};
    QString mStatusText[2];
    QTimer mStatusTimer;
    bool mUnloaded = false;
};
