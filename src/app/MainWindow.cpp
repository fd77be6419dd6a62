#include "app/MainWindow.h"

#include "state/AppState.h"
#include "ui/ExternalPrograms.h"
#include "app/Startup.h"
#include "archive/ArchiveLayout.h"
#include "archive/StorageLimits.h"
#include "cameras/CamObject.h"
#include "config/Settings.h"
#include "fetch/CopyHelper.h"
#include "log/Log.h"
#include "ui/PictureBox.h"
#include "ui/UpDown.h"
#include "util/Utils.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int TwipsPerPixel = 15;

const QColor Green(0, 255, 0);
const QColor Red(255, 0, 0);
const QColor PendingRed(255, 70, 70);

// The whole text as a number, rounded half to even; false for any other text.
bool WholeNumber(const QString &text, qint32 &value)
{
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(number))
        return false;
    if (!RoundToInt32(number, value))
        value = number < 0 ? std::numeric_limits<qint32>::min() : std::numeric_limits<qint32>::max();
    return true;
}

// A state colour on the control itself; an invalid colour gives the control its default back.
void SetBackground(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    if (!colour.isValid()) {
        widget->setPalette(QPalette());
        widget->setAutoFillBackground(false);
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}

template <typename T>
T *Named(T *widget, const char *name, const QString &toolTip = QString())
{
    widget->setObjectName(QLatin1String(name));
    if (!toolTip.isEmpty())
        widget->setToolTip(toolTip);
    return widget;
}

} // namespace

frmMain::frmMain(AppState &state, QWidget *parent)
    : QMainWindow(parent)
    , mState(state)
    , mRecording(state)
{
    setObjectName(QStringLiteral("frmMain"));
    buildControls();
    chooseArchiveFolder = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Archiv Basis Ordner wählen"),
                                                 lblSpeicherort->text());
    };
    // Created state: recording off, shown as off; nothing of the settings applied yet.
    ShowRecordingState(false);
    MarkChanged(false);
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
    mnuAbout = Named(menuBar()->addAction(QStringLiteral("About")), "mnuAbout");
    mnuExit = Named(menuBar()->addAction(QStringLiteral("Beenden")), "mnuExit");
    connect(mnuStartStop, &QAction::triggered, &mRecording, &RecordingControl::mnuStartStop_Click);
    connect(mnuConnStatus, &QAction::triggered, this, &frmMain::mnuConnStatus_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
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

    frCams = Named(new QGroupBox(QStringLiteral("Kameras")), "frCams");
    cmbKameraname = Named(new QComboBox, "cmbKameraname", QStringLiteral("Name und Selektion der aktuellen Kamera"));
    cmbKameraname->setEditable(true);
    cmbKameraname->setInsertPolicy(QComboBox::NoInsert);
    cmbKameraname->setCompleter(nullptr);
    cmbKameraname->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    lblCamFolder = Named(new QLabel, "lblDesc_8");
    lblCamFolder->setMinimumWidth(lblCamFolder->fontMetrics().horizontalAdvance(QStringLiteral("CAM000")));
    btAdd = Named(new QPushButton(QStringLiteral("+")), "btAdd", QStringLiteral("Kamera an aktueller Position hinzufügen"));
    btDel = Named(new QPushButton(QStringLiteral("-")), "btDel", QStringLiteral("Ausgewählte Kamera entfernen"));
    for (QPushButton *b : {btAdd, btDel})
        b->setFixedWidth(28);
    txtSocket = Named(new QLineEdit, "txtSocket", QStringLiteral("IP:Port der aktuellen Kamera"));
    txtImgPath = Named(new QLineEdit, "txtImgPath", QStringLiteral("Pfad zur live-Datei, die zyklisch abgeholt wird"));
    txtUser = Named(new QLineEdit, "txtUser", QStringLiteral("ggf. Benutzername für den Zugang"));
    txtPassword = Named(new QLineEdit, "txtPassword", QStringLiteral("Passwort für den Benutzer"));
    cmbUpdaterate = Named(new QComboBox, "cmbUpdaterate", QStringLiteral("Abstand in dem Bilder geholt werden sollen"));
    cmbUpdaterate->addItem(QStringLiteral("OFF"), -1);
    for (const int seconds : {1, 2, 3, 5, 10, 15, 20, 30, 45, 60, 90, 120})
        cmbUpdaterate->addItem(QString::number(seconds), seconds);
    btAktivieren = Named(new QPushButton(QStringLiteral("Aktivieren")), "btAktivieren",
                         QStringLiteral("Änderungen an Kameras übernehmen und sichern"));

    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(cmbKameraname, 1);
    nameRow->addWidget(lblCamFolder);
    nameRow->addWidget(btAdd);
    nameRow->addWidget(btDel);
    auto *rateRow = new QHBoxLayout;
    rateRow->addWidget(cmbUpdaterate);
    rateRow->addWidget(new QLabel(QStringLiteral("Sekunden")));
    rateRow->addStretch(1);
    rateRow->addWidget(btAktivieren);
    auto *camForm = new QFormLayout(frCams);
    camForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    camForm->addRow(QStringLiteral("Kameraname:"), nameRow);
    camForm->addRow(QStringLiteral("IP:Port / URL:Port"), txtSocket);
    camForm->addRow(QStringLiteral("Bildpfad:"), txtImgPath);
    camForm->addRow(QStringLiteral("Benutzername:"), txtUser);
    camForm->addRow(QStringLiteral("Passwort:"), txtPassword);
    camForm->addRow(QStringLiteral("Intervall:"), rateRow);

    frConfig1 = Named(new QGroupBox(QStringLiteral("Konfiguration")), "frConfig1");
    lblSpeicherort = Named(new QLabel, "lblSpeicherort", QStringLiteral("Speicherort, in dem die Kamera-Ordner liegen"));
    lblSpeicherort->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblSpeicherort->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    btSpeicherort = Named(new QPushButton(QStringLiteral("Auswählen")), "btSpeicherort",
                          QStringLiteral("Festlegen des Speicherortes"));
    auto *configRow = new QHBoxLayout(frConfig1);
    configRow->addWidget(Named(new QLabel(QStringLiteral("Speicherort:")), "lblDesc_6"));
    configRow->addWidget(lblSpeicherort, 1);
    configRow->addWidget(btSpeicherort);

    frLimits = Named(new QGroupBox(QStringLiteral("Löschen")), "frLimits");
    optZeitlimit = Named(new QRadioButton(QStringLiteral("nach Zeit")), "optZeitlimit");
    optPlatzlimit = Named(new QRadioButton(QStringLiteral("nach Speicher")), "optPlatzlimit");
    optZeitlimit->setChecked(true);
    txtZeitlimit = Named(new QLineEdit, "txtZeitlimit", QStringLiteral("Bilder, die älter sind als diese Zeitspanne, werden gelöscht"));
    txtSpeicherlimit = Named(new QLineEdit, "txtSpeicherlimit",
                             QStringLiteral("So viel Speicher soll auf dem Ziellaufwerk verfügbar bleiben"));
    for (QLineEdit *box : {txtZeitlimit, txtSpeicherlimit}) {
        box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
        box->setAlignment(Qt::AlignRight);
        box->installEventFilter(this);
    }
    udZeitlimit = Named(new UpDown, "udZeitlimit", QStringLiteral("Erhöhen oder -niedrigen des Löschen-Zeitabstandes"));
    udSpeicherlimit = Named(new UpDown, "udSpeicherlimit", QStringLiteral("Erhöhen oder -niedrigen des Freien-Speicher-Limits"));
    lblEinheit = Named(new QLabel(QStringLiteral("h")), "lblEinheit");
    lblSpeicherlimit = Named(new QLabel(QStringLiteral("Speicherlimit")), "lblSpeicherlimit");
    lblMB = Named(new QLabel(QStringLiteral("MB")), "lblMB");
    auto *limits = new QGridLayout(frLimits);
    limits->addWidget(optZeitlimit, 0, 0);
    limits->addWidget(txtZeitlimit, 0, 2);
    limits->addWidget(udZeitlimit, 0, 3);
    limits->addWidget(lblEinheit, 0, 4);
    limits->addWidget(optPlatzlimit, 1, 0);
    limits->addWidget(lblSpeicherlimit, 1, 1, Qt::AlignRight);
    limits->addWidget(txtSpeicherlimit, 1, 2);
    limits->addWidget(udSpeicherlimit, 1, 3);
    limits->addWidget(lblMB, 1, 4);
    limits->setColumnStretch(5, 1);

    auto *left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(chkRecording);
    left->addWidget(frCams);
    left->addWidget(frConfig1);
    left->addWidget(frLimits);
    left->addStretch(1);
    auto *leftColumn = new QWidget;
    leftColumn->setLayout(left);
    leftColumn->setFixedWidth(std::max(360, leftColumn->sizeHint().width()));

    // Right: the last image takes the room the editors leave.
    frLetztesBild = Named(new QGroupBox(QStringLiteral("Letztes Bild")), "frLetztesBild");
    imgLetztesBild = Named(new PictureBox, "imgLetztesBild");
    lblLetztesBild = Named(new QLabel, "lblLetztesBild");
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
    frLog = Named(new QGroupBox(QStringLiteral("Logging")), "frLog");
    txtLog = Named(new QPlainTextEdit, "txtLog", QStringLiteral("Logfenster"));
    txtLog->setReadOnly(true);
    txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtLog->setUndoRedoEnabled(false);
    txtLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtLog->setMinimumHeight(txtLog->fontMetrics().lineSpacing() * 6);
    btLogLeeren = Named(new QPushButton(QStringLiteral("Log löschen!")), "btLogLeeren", QStringLiteral("Logfenster leeren"));
    btLogSpeichern = Named(new QPushButton(QStringLiteral("Log speichern!")), "btLogSpeichern",
                           QStringLiteral("Logfenster an Logdatei anhängen"));
    btLogDatei = Named(new QPushButton(QStringLiteral("Logdatei öffnen")), "btLogDatei",
                       QStringLiteral("Aktuelle Logdatei in Notepad öffnen"));
    chkLogAutoLeeren = Named(new QCheckBox(QStringLiteral("Auto Log leeren")), "chkLogAutoLeeren",
                             QStringLiteral("Leer das Logfenster automatisch, wenn es voll ist"));
    chkLogAutoSichern = Named(new QCheckBox(QStringLiteral("Auto Log speichern")), "chkLogAutoSichern",
                              QStringLiteral("Speichert das Logfenster automatisch in eine Datei, wenn es voll ist und geleert wird"));
    auto *logButtons = new QHBoxLayout;
    logButtons->addWidget(btLogLeeren);
    logButtons->addWidget(btLogSpeichern);
    logButtons->addWidget(btLogDatei);
    logButtons->addStretch(1);
    logButtons->addWidget(chkLogAutoLeeren);
    logButtons->addWidget(chkLogAutoSichern);
    auto *log = new QVBoxLayout(frLog);
    log->addWidget(txtLog, 1);
    log->addLayout(logButtons);

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

    // Handlers. Text boxes follow every change, the program's own included.
    connect(cmbKameraname, qOverload<int>(&QComboBox::activated), this, [this] {
        mNameEdited = false;
        cmbKameraname_Click();
    });
    // Editing only marks the camera as changed; "Aktivieren" applies it.
    connect(cmbKameraname->lineEdit(), &QLineEdit::textEdited, this, [this] {
        mNameEdited = true;   // a typed name deselects the entry
        MarkChanged(true);
    });
    for (QLineEdit *box : {txtSocket, txtImgPath, txtUser, txtPassword})
        connect(box, &QLineEdit::textChanged, this, [this] { MarkChanged(true); });
    connect(cmbUpdaterate, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { MarkChanged(true); });
    connect(btAktivieren, &QPushButton::clicked, this, &frmMain::btAktivieren_Click);
    connect(btAdd, &QPushButton::clicked, this, &frmMain::btAdd_Click);
    connect(btDel, &QPushButton::clicked, this, &frmMain::btDel_Click);
    connect(btSpeicherort, &QPushButton::clicked, this, &frmMain::btSpeicherort_Click);
    connect(optPlatzlimit, &QRadioButton::clicked, this, &frmMain::optPlatzlimit_Click);
    connect(optZeitlimit, &QRadioButton::clicked, this, &frmMain::optZeitlimit_Click);
    connect(txtZeitlimit, &QLineEdit::textChanged, this, &frmMain::txtZeitlimit_Change);
    connect(txtSpeicherlimit, &QLineEdit::textChanged, this, &frmMain::txtSpeicherlimit_Change);
    connect(udZeitlimit, &UpDown::stepped, this, &frmMain::stepZeitlimit);
    connect(udSpeicherlimit, &UpDown::stepped, this, &frmMain::stepSpeicherlimit);
    connect(btLogLeeren, &QPushButton::clicked, this, &frmMain::btLogLeeren_Click);
    connect(btLogSpeichern, &QPushButton::clicked, this, &frmMain::btLogSpeichern_Click);
    connect(btLogDatei, &QPushButton::clicked, this, &frmMain::btLogDatei_Click);
    connect(chkLogAutoLeeren, &QCheckBox::toggled, this, [this](bool checked) {
        mState.LogAutoClear = checked;
        if (!Initialising)
            SaveSettingsLogged(mState, *this);
    });
    connect(chkLogAutoSichern, &QCheckBox::toggled, this, [this](bool checked) {
        mState.LogAutoSave = checked;
        if (!Initialising)
            SaveSettingsLogged(mState, *this);
    });
    connect(imgLetztesBild, &PictureBox::doubleClicked, this, &frmMain::imgLetztesBild_DblClick);

    // The log window mirrors the log's own text, line by line.
    connect(&mState.txtLog, &LogWindow::appended, this, &frmMain::appendLogLine);
    connect(&mState.txtLog, &LogWindow::cleared, txtLog, &QPlainTextEdit::clear);

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
        appendLogLine(mState.txtLog.text());
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

    {
        const QSignalBlocker blocker(cmbKameraname);
        cmbKameraname->clear();
        for (int i = 1; i <= mState.CamCount; ++i) {
            if (mState.Cams.Count() < i)
                mState.Cams.Add(std::make_shared<CamObject>(mState));
            const auto cam = mState.Cams.Item(i);
            if (cam->mCamName.size() < 4)
                cam->mCamName = CamFolderName(i);
            cmbKameraname->addItem(cam->mCamName);
        }
    }
    SelectCamEntry(mState.SelectedCam - 1);

    for (int i = 1; i <= mState.CamCount; ++i)
        AddEngine(mState);

    mState.platform.associations->jpegViewer(&ViewerProgram, &ViewerArguments);

    if (!CheckFreeSpace(mState))
        SetSpaceLimitColour(false);
    MarkChanged(false);
    SetStatusText(1, QString());
    Initialising = false;
}

void frmMain::Form_Unload()
{
    if (mUnloaded)
        return;
    mUnloaded = true;
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
    if (!mState.ConnStatusShown)
        return;
    mConnStatus.MainWindowResized(this, isMinimized());
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

// ---------------------------------------------------------------- camera editor

int frmMain::SelectedNameIndex() const
{
    return mNameEdited ? -1 : cmbKameraname->currentIndex();
}

void frmMain::SelectCamEntry(int index)
{
    {
        const QSignalBlocker blocker(cmbKameraname);
        cmbKameraname->setCurrentIndex(index);
    }
    mNameEdited = false;
    cmbKameraname_Click();
}

void frmMain::cmbKameraname_Click()
{
    const int index = cmbKameraname->currentIndex();
    if (index < 0)
        return;
    mState.SelectedCam = qint16(index + 1);
    lblCamFolder->setText(CamFolderName(mState.SelectedCam));
    const auto cam = mState.Cams.Item(mState.SelectedCam);
    if (!cam)
        return;
    txtSocket->setText(cam->mCamSocket);
    txtImgPath->setText(cam->mCamImagePath);
    txtUser->setText(cam->mCamUser);
    txtPassword->setText(cam->mCamPassword);
    cmbUpdaterate->setCurrentIndex(0);
    for (int i = 0; i < cmbUpdaterate->count(); ++i) {
        if (cmbUpdaterate->itemData(i).toInt() == cam->mCamUpdaterate)
            cmbUpdaterate->setCurrentIndex(i);
    }
    MarkChanged(false);

    if (!cam->mCamLastPic.isEmpty() && mState.platform.fileSystem->fileExists(cam->mCamLastPic)) {
        const QString &path = cam->mCamLastPic;
        const QString name = path.mid(path.lastIndexOf(PathSeparator()) + 1);
        if (!ShowLastImage(path, name, nullptr)) {
            cam->mCamLastPic.clear();
            return;
        }
    } else {
        imgLetztesBild->clear();
        lblLetztesBild->clear();
    }
}

void frmMain::btAktivieren_Click()
{
    const auto cam = mState.Cams.Item(mState.SelectedCam);
    if (!cam)
        return;
    const QString socket = RemoveText(RemoveText(txtSocket->text(), QStringLiteral("http:")), QStringLiteral("/"));
    txtSocket->setText(socket);
    cam->mCamSocket = socket;
    QString path = txtImgPath->text();
    if (!path.isEmpty() && path.front() != QLatin1Char('/')) {
        path.prepend(QLatin1Char('/'));
        txtImgPath->setText(path);
    }
    cam->mCamImagePath = path;
    cam->mCamUser = txtUser->text();
    cam->mCamPassword = txtPassword->text();
    cam->mCamUpdaterate = qint16(cmbUpdaterate->itemData(Max(0, cmbUpdaterate->currentIndex())).toInt());
    MarkChanged(false);

    if (SelectedNameIndex() < 0) {
        const int index = mState.SelectedCam - 1;
        QString name = cmbKameraname->currentText();
        if (name.isEmpty())
            name = CamFolderName(mState.SelectedCam);
        cmbKameraname->setItemText(index, name);
        cam->mCamName = cmbKameraname->itemText(index);
        SelectCamEntry(index);
    }
    SaveSettingsLogged(mState, *this);
    RestartEstimate();
}

void frmMain::btAdd_Click()
{
    // Camera numbers are one byte wide: a 256th camera is refused.
    if (mState.Cams.Count() >= CamCollection::MaxCameras) {
        WriteLog(mState, QStringLiteral("Es sind höchstens 255 Kameras möglich!"));
        return;
    }
    const int selected = SelectedNameIndex();
    const int position = selected < 0 ? mState.CamCount + 1 : selected + 1;
    auto cam = std::make_shared<CamObject>(mState);
    if (!mState.Cams.Add(cam, QString(), qint16(position)))
        return;
    ++mState.CamCount;
    cam->mCamName = selected < 0 ? cmbKameraname->currentText() : CamFolderName(position);
    {
        const QSignalBlocker blocker(cmbKameraname);
        cmbKameraname->insertItem(position - 1, cam->mCamName);
    }
    SelectCamEntry(position - 1);
    AddEngine(mState);
    RestartEstimate();
}

void frmMain::btDel_Click()
{
    if (mState.CamCount <= 1) {
        WriteLog(mState, QStringLiteral("Letzte Kamera kann nicht gelöscht werden!"));
        return;
    }
    const qint16 selected = mState.SelectedCam;
    if (const auto removed = mState.Cams.Item(selected)) {
        mState.Cams.Remove(selected);
        // A transfer still under way for it ends without filing under a number it gave up.
        removed->mCamNo = 0;
    }
    {
        const QSignalBlocker blocker(cmbKameraname);
        cmbKameraname->removeItem(selected - 1);
    }
    SelectCamEntry(Min(cmbKameraname->count() - 1, selected - 1));
    // A busy last engine finishes its transfer first, so its camera is not left busy.
    RemoveLastEngine(mState);
    --mState.CamCount;
    RestartEstimate();
}

void frmMain::RestartEstimate()
{
    mState.SpaceMeter.Reset();
    UpdateHighestInterval(mState);
}

void frmMain::MarkChanged(bool pending)
{
    if (pending) {
        btAktivieren->setEnabled(true);
        SetBackground(frCams, QPalette::Window, PendingRed);
        SetBackground(btAktivieren, QPalette::Button, Green);
    } else {
        SetBackground(btAktivieren, QPalette::Button, QColor());
        SetBackground(frCams, QPalette::Window, QColor());
        btAktivieren->setEnabled(false);
    }
}

// ---------------------------------------------------------------- archive and limits

void frmMain::btSpeicherort_Click()
{
    const QString folder = chooseArchiveFolder ? chooseArchiveFolder() : QString();
    if (folder.isEmpty())
        return;   // cancelled: folder, label and settings stay
    lblSpeicherort->setText(AddBackslash(folder));
    mState.ArchivePath = AddBackslash(lblSpeicherort->text());
    SetSpaceLimitColour(CheckFreeSpace(mState));
    SaveSettingsLogged(mState, *this);
}

void frmMain::optPlatzlimit_Click()
{
    mState.SpaceLimitOn = optPlatzlimit->isChecked();
    mState.TimeLimitOn = !mState.SpaceLimitOn;
}

void frmMain::optZeitlimit_Click()
{
    mState.TimeLimitOn = optZeitlimit->isChecked();
    mState.SpaceLimitOn = !mState.TimeLimitOn;
}

void frmMain::txtZeitlimit_Change()
{
    if (txtZeitlimit->text().isEmpty())
        return;
    // Text that is no whole number (a letter typed) leaves the unit alone.
    qint32 value = 0;
    if (lblEinheit->text() == QLatin1String("h") && WholeNumber(txtZeitlimit->text(), value) && value >= 48) {
        lblEinheit->setText(QStringLiteral("Tage"));
        mState.TimeLimitUnit = QStringLiteral("Tage");
        txtZeitlimit->setText(QStringLiteral("2"));
    }
    if (lblEinheit->text() == QLatin1String("Tage") && WholeNumber(txtZeitlimit->text(), value) && value < 2) {
        lblEinheit->setText(QStringLiteral("h"));
        mState.TimeLimitUnit = QStringLiteral("h");
        txtZeitlimit->setText(QStringLiteral("47"));
    }
    qint32 rounded = 0;
    if (RoundToInt32(LeadingNumber(txtZeitlimit->text()), rounded))
        mState.TimeLimitValue = rounded;
}

void frmMain::txtZeitlimit_LostFocus()
{
    qint32 value = 0;
    // Text that is no number is treated as an empty box.
    if (!WholeNumber(txtZeitlimit->text(), value)) {
        mState.TimeLimitUnit = QStringLiteral("h");
        txtZeitlimit->setText(QStringLiteral("1"));
    }
    if (mState.TimeLimitUnit == QLatin1String("h") && WholeNumber(txtZeitlimit->text(), value) && value < 1)
        txtZeitlimit->setText(QStringLiteral("1"));
    if (WholeNumber(txtZeitlimit->text(), value) && value > 120)
        txtZeitlimit->setText(QStringLiteral("120"));
}

void frmMain::txtSpeicherlimit_Change()
{
    bool isNumber = false;
    const double number = QLocale::c().toDouble(txtSpeicherlimit->text().trimmed(), &isNumber);
    qint32 value = 100;
    if (!isNumber || !RoundToInt32(number, value))
        value = 100;
    mState.SpaceLimitMB = value;
    SetSpaceLimitColour(CheckFreeSpace(mState));
}

void frmMain::txtSpeicherlimit_LostFocus()
{
    qint32 value = 0;
    if (!WholeNumber(txtSpeicherlimit->text(), value))
        value = 0;
    if (value < 100)
        txtSpeicherlimit->setText(QStringLiteral("100"));
    if (WholeNumber(txtSpeicherlimit->text(), value) && value > 102400)
        txtSpeicherlimit->setText(QStringLiteral("102400"));
}

void frmMain::stepZeitlimit(int direction)
{
    qint32 value = 0;
    if (!WholeNumber(txtZeitlimit->text(), value))
        value = 0;
    txtZeitlimit->setText(QString::number(std::clamp(value + direction, 1, 120)));
}

void frmMain::stepSpeicherlimit(int direction)
{
    qint32 value = 0;
    if (!WholeNumber(txtSpeicherlimit->text(), value))
        value = 0;
    // Steps of 100 MB on the grid of hundreds.
    const qint32 stepped = direction > 0 ? (value / 100 + 1) * 100 : ((value + 99) / 100 - 1) * 100;
    txtSpeicherlimit->setText(QString::number(std::clamp(stepped, 100, 102400)));
}

void frmMain::SetSpaceLimitColour(bool enoughSpace)
{
    SetBackground(txtSpeicherlimit, QPalette::Base, enoughSpace ? QColor() : Red);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == txtZeitlimit)
            txtZeitlimit_LostFocus();
        else if (watched == txtSpeicherlimit)
            txtSpeicherlimit_LostFocus();
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- log

void frmMain::appendLogLine(const QString &line)
{
    // Inserted at the end through a cursor of its own: the cost is the line's, and the
    // user's caret and scroll position stay where they are.
    QString shown = line;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QTextCursor cursor(txtLog->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(shown);
}

void frmMain::btLogLeeren_Click()
{
    LogLeeren(mState);
}

void frmMain::btLogSpeichern_Click()
{
    SaveAndClearLog(mState);
}

void frmMain::btLogDatei_Click()
{
    OpenLogFile(mState);
}

// ---------------------------------------------------------------- settings view

void frmMain::SetSpeicherortText(const QString &text)
{
    lblSpeicherort->setText(text);
}

QString frmMain::SpeicherortText() const
{
    return lblSpeicherort->text();
}

void frmMain::ClickPlatzlimit()
{
    optPlatzlimit->setChecked(true);
    optPlatzlimit_Click();
}

void frmMain::ClickZeitlimit()
{
    optZeitlimit->setChecked(true);
    optZeitlimit_Click();
}

void frmMain::SetEinheitText(const QString &text)
{
    lblEinheit->setText(text);
}

QString frmMain::EinheitText() const
{
    return lblEinheit->text();
}

void frmMain::SetSpeicherlimitText(const QString &text)
{
    txtSpeicherlimit->setText(text);
}

QString frmMain::SpeicherlimitText() const
{
    return txtSpeicherlimit->text();
}

void frmMain::SetZeitlimitText(const QString &text)
{
    txtZeitlimit->setText(text);
}

QString frmMain::ZeitlimitText() const
{
    return txtZeitlimit->text();
}

void frmMain::SetLogAutoLeerenChecked(bool checked)
{
    chkLogAutoLeeren->setChecked(checked);
}

void frmMain::SetLogAutoSichernChecked(bool checked)
{
    chkLogAutoSichern->setChecked(checked);
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
