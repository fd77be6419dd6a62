#include "app/MainWindow.h"

#include "state/AppState.h"
#include "ui/ExternalPrograms.h"
#include "app/Startup.h"
#include "archive/ArchiveLayout.h"
#include "archive/StorageLimits.h"
#include "cameras/CamObject.h"
#include "cameras/Engines.h"
#include "config/Settings.h"
#include "fetch/CopyHelper.h"
#include "log/Log.h"
#include "ui/ArchiveBrowser.h"
#include "ui/ArchiveEditor.h"
#include "ui/CameraEditor.h"
#include "ui/LogPanel.h"
#include "ui/OverviewWindow.h"
#include "ui/PictureBox.h"
#include "ui/WindowHelpers.h"
#include "util/Utils.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int TwipsPerPixel = 15;

} // namespace

frmMain::frmMain(AppState &state, QWidget *parent)
    : QMainWindow(parent)
    , mState(state)
    , mRecording(state)
{
    setObjectName(QStringLiteral("frmMain"));
    buildControls();
    // Created state: recording off, shown as off; nothing of the settings applied yet.
    ShowRecordingState(false);
    frCams->MarkChanged(false);
}

frmMain::~frmMain()
{
    mState.SetView(nullptr);
}

void frmMain::buildControls()
{
    // Menu bar: each item is a command of its own, as the captions say.
    mnuStartStop = Named(menuBar()->addAction(QStringLiteral("Aufnahme starten")), "mnuStartStop");
    mnuConnStatus = Named(menuBar()->addAction(QStringLiteral("Verbindungs Status")), "mnuConnStatus");
    mnuOverview = Named(menuBar()->addAction(QStringLiteral("Übersicht")), "mnuOverview");
    mnuArchive = Named(menuBar()->addAction(QStringLiteral("Archiv")), "mnuArchive");
    mnuAbout = Named(menuBar()->addAction(QStringLiteral("About")), "mnuAbout");
    mnuExit = Named(menuBar()->addAction(QStringLiteral("Beenden")), "mnuExit");
    connect(mnuStartStop, &QAction::triggered, &mRecording, &RecordingControl::mnuStartStop_Click);
    connect(mnuConnStatus, &QAction::triggered, this, &frmMain::mnuConnStatus_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
    connect(mnuOverview, &QAction::triggered, this, &frmMain::mnuOverview_Click);
    connect(mnuArchive, &QAction::triggered, this, &frmMain::mnuArchive_Click);
    connect(mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);

    auto *central = new QWidget(this);
    setCentralWidget(central);

    // Left column: recording switch and the three editors, at their natural width.
    chkRecording = Named(new QCheckBox(QStringLiteral("Aufnahme starten")), "chkRecording",
                         QStringLiteral("Aufnahme von allen Kameras starten/stoppen"));
    chkRecording->setMinimumHeight(32);
    QFont bold = chkRecording->font();
    bold.setBold(true);
    chkRecording->setFont(bold);
    connect(chkRecording, &QCheckBox::clicked, this, [this](bool checked) { mRecording.SetChecked(checked); });

    frCams = new CameraEditor(mState);
    archiveEditor = new ArchiveEditor(mState);

    auto *left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(chkRecording);
    left->addWidget(frCams);
    left->addWidget(archiveEditor);
    left->addStretch(1);
    auto *leftColumn = new QWidget;
    leftColumn->setLayout(left);
    leftColumn->setFixedWidth(std::max(360, leftColumn->sizeHint().width()));

    // Right: the last image takes the room the editors leave.
    frLetztesBild = Named(new QGroupBox(QStringLiteral("Letztes Bild")), "frLetztesBild");
    imgLetztesBild = Named(new PictureBox, "imgLetztesBild", QStringLiteral("Doppelklick zum Ansehen"));
    lblLetztesBild = Named(new QLabel, "lblLetztesBild", QStringLiteral("Name der sichtbaren Bild-Datei"));
    lblLetztesBild->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *picture = new QVBoxLayout(frLetztesBild);
    picture->addWidget(imgLetztesBild, 1);
    picture->addWidget(lblLetztesBild);

    auto *top = new QWidget;
    auto *topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(0, 0, 0, 0);
    topRow->addWidget(leftColumn);
    topRow->addWidget(frLetztesBild, 1);

    // Bottom: the log window with its buttons, sharing the extra height with the picture.
    frLog = new LogPanel(mState);

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(top);
    splitter->addWidget(frLog);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    auto *main = new QVBoxLayout(central);
    main->setContentsMargins(6, 6, 6, 0);
    main->addWidget(splitter);

    MainStatusBarPanel1 = Named(new QLabel, "MainStatusBarPanel1");
    MainStatusBarPanel2 = Named(new QLabel, "MainStatusBarPanel2");
    statusBar()->setObjectName(QStringLiteral("MainStatusBar"));
    statusBar()->addWidget(MainStatusBarPanel1, 1);
    statusBar()->addPermanentWidget(MainStatusBarPanel2);

    connect(frCams, &CameraEditor::cameraSelected, this, &frmMain::ShowSelectedCamImage);
    connect(frCams, &CameraEditor::saveRequested, this, &frmMain::SaveSettings);
    connect(frCams, &CameraEditor::camerasChanged, this, &frmMain::RestartEstimate);
    connect(archiveEditor, &ArchiveEditor::saveRequested, this, &frmMain::SaveSettings);
    connect(frLog, &LogPanel::flagsChanged, this, [this] {
        if (!Initialising)
            SaveSettings();
    });
    connect(imgLetztesBild, &PictureBox::doubleClicked, this, &frmMain::imgLetztesBild_DblClick);

    mStatusTimer.setSingleShot(true);
    mStatusTimer.setInterval(100);
    connect(&mStatusTimer, &QTimer::timeout, this, [this] {
        MainStatusBarPanel1->setText(mStatusText[0]);
        MainStatusBarPanel2->setText(mStatusText[1]);
    });

    resize(1000, 700);
}

// ---------------------------------------------------------------- start and end

void frmMain::Form_Load()
{
    mState.SetView(this);
    if (!mState.txtLog.text().isEmpty())
        frLog->appendLogLine(mState.txtLog.text());
    WriteLog(mState, QStringLiteral("*** Bildfang gestartet ***"));
    mState.StartTime = mState.platform.clock->now();
    InitMain();
    setWindowTitle(QStringLiteral("Bildfang ") + mState.VersionText);
    mState.LimitCheckRunning = false;
    mState.OldestImageTime = QDateTime();
}

void frmMain::InitMain()
{
    mState.VersionText = AppState::BuildVersionText();
    Initialising = true;
    SetStatusText(1, QStringLiteral("Initialisiere..."));
    mState.SpaceMeter = SpaceObject();
    mState.CurrentTime = mState.platform.clock->now();
    ProgramInfo &program = *mState.platform.program;
    mState.SettingsFileName = SettingsFileNameFor(program.settingsFolder());
    mState.LogFileName = LogFileNameFor(program.logFolder(), mState.CurrentTime);

    ProtectUnreadableSettings(mState);
    const SettingsLoad load = LoadSettings(mState, *this);
    if (!load.fileFound)
        ApplyDefaultSettings(mState, *this);
    if (load.error)
        WriteLog(mState, QStringLiteral("Fehler in INI Datei!"));

    frCams->LoadCameras();

    for (int i = 1; i <= mState.CamCount; ++i)
        AddEngine(mState);

    mState.platform.associations->jpegViewer(&ViewerProgram, &ViewerArguments);

    KeepOnScreen(this);
    if (!CheckFreeSpace(mState))
        archiveEditor->SetSpaceLimitColour(false);
    frCams->MarkChanged(false);
    SetStatusText(1, QString());
    Initialising = false;
}

void frmMain::Form_Unload()
{
    if (mUnloaded)
        return;
    mUnloaded = true;
    // The program ends with its main window, whatever auxiliary windows are open.
    mConnStatus.Close();
    mAbout.Close();
    archiveEditor->ApplyTyped();   // a limit typed up to the end is saved
    mRecording.MainTimer().stop();   // no further cycle; the recording state is saved as it is
    SaveSettingsLogged(mState, *this);
    WriteLog(mState, QStringLiteral("--- Bildfang beendet ---"));
    AppendLogFileAtEnd(mState);
    // Cameras, then engines: transfers under way are abandoned and report nothing, so no
    // line is logged after the log was written.
    mState.Cams.RemoveAll();
    mState.CopyHelpers.clear();
    mState.RetiredHelpers.clear();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (PutOffShutdownDuringLimitCheck(mState, this, [this] { close(); }))
        return event->ignore();
    Form_Unload();
    event->accept();
}

void frmMain::mnuExit_Click()
{
    close();
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::Form_Resize()
{
    if (!mState.ConnStatusShown || mUnloaded)
        return;
    mConnStatus.MainWindowResized(this, isMinimized());
}

void frmMain::mnuOverview_Click()
{
    if (!frmOverview) {
        frmOverview = new OverviewWindow(mState, this);
        connect(frmOverview, &OverviewWindow::cameraChosen, this, [this](int camNo) {
            frCams->SelectCamEntry(camNo - 1);
            raise();
            activateWindow();
        });
    }
    frmOverview->show();
    frmOverview->raise();
    frmOverview->activateWindow();
}

void frmMain::mnuArchive_Click()
{
    if (!frmArchive)
        frmArchive = new ArchiveBrowser(mState, ViewerProgram, ViewerArguments, this);
    frmArchive->show();
    frmArchive->raise();
    frmArchive->activateWindow();
}

void frmMain::mnuConnStatus_Click()
{
    mConnStatus.ShowConnectionStatus(this);
}

void frmMain::mnuAbout_Click()
{
    mAbout.ShowAbout(this);
}

void frmMain::imgLetztesBild_DblClick()
{
    ViewLastImage(mState, ViewerProgram, ViewerArguments);
}

// ---------------------------------------------------------------- groups

void frmMain::ShowSelectedCamImage()
{
    const auto cam = mState.Cams.Item(mState.SelectedCam);
    if (cam && !cam->mCamLastPic.isEmpty() && mState.platform.fileSystem->fileExists(cam->mCamLastPic)) {
        const QString &path = cam->mCamLastPic;
        const QString name = path.mid(path.lastIndexOf(PathSeparator()) + 1);
        if (!ShowLastImage(path, name, nullptr))
            cam->mCamLastPic.clear();
    } else {
        imgLetztesBild->clear();
        lblLetztesBild->clear();
    }
}

void frmMain::SaveSettings()
{
    SaveSettingsLogged(mState, *this);
}

// A certificate pinned by a transfer reaches the file at once, and the editor if it shows
// that camera.
void frmMain::SettingsChanged()
{
    frCams->ShowCertificate();
    SaveSettings();
}

void frmMain::RestartEstimate()
{
    mState.SpaceMeter.Reset();
    UpdateHighestInterval(mState);
}

// ---------------------------------------------------------------- settings view

void frmMain::SetSpeicherortText(const QString &text)
{
    archiveEditor->lblSpeicherort->setText(text);
}

QString frmMain::SpeicherortText() const
{
    return archiveEditor->lblSpeicherort->text();
}

void frmMain::ClickPlatzlimit()
{
    archiveEditor->optPlatzlimit->setChecked(true);
    archiveEditor->optPlatzlimit_Click();
}

void frmMain::ClickZeitlimit()
{
    archiveEditor->optZeitlimit->setChecked(true);
    archiveEditor->optZeitlimit_Click();
}

void frmMain::SetEinheitText(const QString &text)
{
    archiveEditor->lblEinheit->setText(text);
}

QString frmMain::EinheitText() const
{
    return archiveEditor->lblEinheit->text();
}

void frmMain::SetSpeicherlimitText(const QString &text)
{
    archiveEditor->SetSpeicherlimit(text);
}

QString frmMain::SpeicherlimitText() const
{
    return archiveEditor->txtSpeicherlimit->text();
}

void frmMain::SetZeitlimitText(const QString &text)
{
    archiveEditor->SetZeitlimit(text);
}

QString frmMain::ZeitlimitText() const
{
    return archiveEditor->txtZeitlimit->text();
}

void frmMain::SetLogAutoLeerenChecked(bool checked)
{
    frLog->chkLogAutoLeeren->setChecked(checked);
}

void frmMain::SetLogAutoSichernChecked(bool checked)
{
    frLog->chkLogAutoSichern->setChecked(checked);
}

void frmMain::SetRecordingChecked(bool checked)
{
    mRecording.SetChecked(checked);
}

void frmMain::SetWindowLeft(qint16 twips)
{
    move(twips / TwipsPerPixel, y());
}

void frmMain::SetWindowTop(qint16 twips)
{
    move(x(), twips / TwipsPerPixel);
}

void frmMain::SetWindowState(qint16 state)
{
    Qt::WindowStates states = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == 1)
        states |= Qt::WindowMinimized;
    else if (state == 2)
        states |= Qt::WindowMaximized;
    setWindowState(states);
}

qint32 frmMain::WindowLeft() const
{
    return x() * TwipsPerPixel;
}

qint32 frmMain::WindowTop() const
{
    return y() * TwipsPerPixel;
}

qint16 frmMain::WindowState() const
{
    if (isMinimized())
        return 1;
    return isMaximized() ? 2 : 0;
}

// ---------------------------------------------------------------- main view

void frmMain::SetStatusText(int panel, const QString &text)
{
    mStatusText[panel == 1 ? 0 : 1] = text;
    if (!mStatusTimer.isActive())
        mStatusTimer.start();
}

bool frmMain::ShowLastImage(const QString &path, const QString &label, QString *error)
{
    if (!imgLetztesBild->load(path, error)) {
        lblLetztesBild->clear();
        return false;
    }
    lblLetztesBild->setText(label);
    return true;
}

void frmMain::ShowRecordingState(bool on)
{
    const QString caption = on ? QStringLiteral("Aufnahme stoppen") : QStringLiteral("Aufnahme starten");
    {
        const QSignalBlocker blocker(chkRecording);
        chkRecording->setChecked(on);
    }
    mnuStartStop->setText(caption);
    chkRecording->setText(caption);
    // A style sheet, since styles draw a check box's own background only from one.
    chkRecording->setStyleSheet(QStringLiteral("QCheckBox#chkRecording { background-color: %1; padding: 6px; }")
                                    .arg((on ? Red : Green).name()));
}
