#pragma once

#include "state/MainView.h"
#include "app/RecordingControl.h"
#include "state/SettingsView.h"
#include "ui/AboutWindow.h"
#include "ui/ConnectionStatusWindow.h"

#include <QMainWindow>
#include <QTimer>
#include <functional>

class AppState;
class PictureBox;
class UpDown;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

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
    void MarkChanged(bool pending);

    bool Initialising = false;
    QString ViewerProgram;
    QString ViewerArguments;

    // "Auswählen" asks this for the archive folder; empty means cancelled. The window's
    // own asks the user with a folder chooser; tests answer it themselves.
    std::function<QString()> chooseArchiveFolder;

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

    // Controls, under the names the program's handlers use.
    QAction *mnuStartStop, *mnuConnStatus, *mnuAbout, *mnuExit;
    QCheckBox *chkRecording;
    QGroupBox *frCams, *frConfig1, *frLimits, *frLog, *frLetztesBild;
    QComboBox *cmbKameraname, *cmbUpdaterate;
    QLabel *lblCamFolder;   // element 8 of the description labels
    QPushButton *btAdd, *btDel, *btAktivieren;
    QLineEdit *txtSocket, *txtImgPath, *txtUser, *txtPassword;
    QLabel *lblSpeicherort;
    QPushButton *btSpeicherort;
    QRadioButton *optZeitlimit, *optPlatzlimit;
    QLineEdit *txtZeitlimit, *txtSpeicherlimit;
    UpDown *udZeitlimit, *udSpeicherlimit;
    QLabel *lblEinheit, *lblSpeicherlimit, *lblMB;
    QPlainTextEdit *txtLog;
    QPushButton *btLogLeeren, *btLogSpeichern, *btLogDatei;
    QCheckBox *chkLogAutoLeeren, *chkLogAutoSichern;
    PictureBox *imgLetztesBild;
    QLabel *lblLetztesBild;
    QLabel *MainStatusBarPanel1, *MainStatusBarPanel2;

    // The selected entry of the name list; -1 while its text was edited.
    int SelectedNameIndex() const;
    // Selects an entry of the name list as the program does: the selection handling runs.
    void SelectCamEntry(int index);

public slots:
    void cmbKameraname_Click();
    void btAktivieren_Click();
    void btAdd_Click();
    void btDel_Click();
    void btSpeicherort_Click();
    void optPlatzlimit_Click();
    void optZeitlimit_Click();
    void txtZeitlimit_Change();
    void txtZeitlimit_LostFocus();
    void txtSpeicherlimit_Change();
    void txtSpeicherlimit_LostFocus();
    void btLogLeeren_Click();
    void btLogSpeichern_Click();
    void btLogDatei_Click();
    void mnuExit_Click();
    // Hooks of the auxiliary windows, wired where those windows are built.
    void mnuConnStatus_Click();
    void mnuAbout_Click();
    void imgLetztesBild_DblClick();
    void Form_Resize();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void InitMain();
    void RestartEstimate();
    void SetSpaceLimitColour(bool enoughSpace);
    void appendLogLine(const QString &line);
    void stepZeitlimit(int direction);
    void stepSpeicherlimit(int direction);

    AppState &mState;
    RecordingControl mRecording;
    ConnectionStatusController mConnStatus{mState};
    AboutController mAbout{mState};
    bool mNameEdited = false;
    QString mStatusText[2];
    QTimer mStatusTimer;
    bool mUnloaded = false;
};
