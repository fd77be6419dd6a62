#include "ui/CameraEditor.h"

#include "state/AppState.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamAddress.h"
#include "cameras/CamObject.h"
#include "cameras/Engines.h"
#include "log/Log.h"
#include "ui/TestDialog.h"
#include "ui/WindowHelpers.h"
#include "util/Utils.h"

#include <QAction>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <memory>

namespace {

const QColor PendingRed(255, 70, 70);

// An open eye, for the toggle that shows the password; the desktop's own when it has one.
QIcon EyeIcon()
{
    QPixmap eye(16, 16);
    eye.fill(Qt::transparent);
    QPainter painter(&eye);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkGray, 1.5));
    painter.drawEllipse(QRectF(1.5, 4.5, 13, 7));
    painter.setBrush(Qt::darkGray);
    painter.drawEllipse(QRectF(5.5, 5.5, 5, 5));
    return QIcon::fromTheme(QStringLiteral("view-reveal-symbolic"), QIcon(eye));
}

} // namespace

CameraEditor::CameraEditor(AppState &state, QWidget *parent)
    : QGroupBox(QStringLiteral("Kameras"), parent)
    , mState(state)
{
    setObjectName(QStringLiteral("frCams"));
    cmbKameraname = Named(new QComboBox, "cmbKameraname", QStringLiteral("Name und Selektion der aktuellen Kamera"));
    cmbKameraname->setEditable(true);
    cmbKameraname->setInsertPolicy(QComboBox::NoInsert);
    cmbKameraname->setCompleter(nullptr);
    // An editable list takes a typed text that matches an entry as a choice of that entry, on
    // Enter and on leaving the box. Here a typed name is a new name for the selected camera;
    // only a choice from the list selects another one.
    QObject::disconnect(cmbKameraname->lineEdit(), SIGNAL(editingFinished()), cmbKameraname, nullptr);
    QObject::disconnect(cmbKameraname->lineEdit(), SIGNAL(returnPressed()), cmbKameraname, nullptr);
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
    txtPassword->setEchoMode(QLineEdit::Password);
    QAction *showPassword = Named(txtPassword->addAction(EyeIcon(), QLineEdit::TrailingPosition), "actPasswortZeigen",
                                  QStringLiteral("Passwort anzeigen"));
    showPassword->setCheckable(true);
    connect(showPassword, &QAction::toggled, txtPassword,
            [this](bool shown) { txtPassword->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password); });
    cmbUpdaterate = Named(new QComboBox, "cmbUpdaterate", QStringLiteral("Abstand in dem Bilder geholt werden sollen"));
    cmbUpdaterate->addItem(QStringLiteral("OFF"), -1);
    for (const int seconds : {1, 2, 3, 5, 10, 15, 20, 30, 45, 60, 90, 120})
        cmbUpdaterate->addItem(QString::number(seconds), seconds);
    btAktivieren = Named(new QPushButton(QStringLiteral("Aktivieren")), "btAktivieren",
                         QStringLiteral("Änderungen an Kameras übernehmen und sichern"));
    txtZertifikat = Named(new QLineEdit, "txtZertifikat",
                          QStringLiteral("Fingerabdruck (SHA-256) des gemerkten Zertifikats der HTTPS-Kamera"));
    txtZertifikat->setReadOnly(true);
    btZertifikatVergessen = Named(new QPushButton(QStringLiteral("Vergessen")), "btZertifikatVergessen",
                                  QStringLiteral("Zertifikat vergessen; die nächste Verbindung merkt sich das neue"));

    btTesten = Named(new QPushButton(QStringLiteral("Testen")), "btTesten",
                     QStringLiteral("Kamera mit den eingegebenen Werten einmal abfragen, ohne zu speichern"));

    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(cmbKameraname, 1);
    nameRow->addWidget(lblCamFolder);
    nameRow->addWidget(btAdd);
    nameRow->addWidget(btDel);
    auto *rateRow = new QHBoxLayout;
    rateRow->addWidget(cmbUpdaterate);
    rateRow->addWidget(new QLabel(QStringLiteral("Sekunden")));
    rateRow->addStretch(1);
    rateRow->addWidget(btTesten);
    rateRow->addWidget(btAktivieren);
    auto *camForm = new QFormLayout(this);
    camForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    camForm->addRow(QStringLiteral("Kameraname:"), nameRow);
    camForm->addRow(QStringLiteral("IP:Port / URL:Port"), txtSocket);
    camForm->addRow(QStringLiteral("Bildpfad:"), txtImgPath);
    camForm->addRow(QStringLiteral("Benutzername:"), txtUser);
    camForm->addRow(QStringLiteral("Passwort:"), txtPassword);
    camForm->addRow(QStringLiteral("Intervall:"), rateRow);
    auto *certRow = new QHBoxLayout;
    certRow->addWidget(txtZertifikat, 1);
    certRow->addWidget(btZertifikatVergessen);
    camForm->addRow(QStringLiteral("Zertifikat:"), certRow);

    // Text boxes follow every change, the program's own included.
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
    connect(btAktivieren, &QPushButton::clicked, this, &CameraEditor::btAktivieren_Click);
    connect(btAdd, &QPushButton::clicked, this, &CameraEditor::btAdd_Click);
    connect(btDel, &QPushButton::clicked, this, &CameraEditor::btDel_Click);
    connect(btTesten, &QPushButton::clicked, this, &CameraEditor::btTesten_Click);
    connect(btZertifikatVergessen, &QPushButton::clicked, this, &CameraEditor::btZertifikatVergessen_Click);
}

void CameraEditor::LoadCameras()
{
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
}

int CameraEditor::SelectedNameIndex() const
{
    return mNameEdited ? -1 : cmbKameraname->currentIndex();
}

void CameraEditor::SelectCamEntry(int index)
{
    {
        const QSignalBlocker blocker(cmbKameraname);
        cmbKameraname->setCurrentIndex(index);
    }
    mNameEdited = false;
    cmbKameraname_Click();
}

void CameraEditor::cmbKameraname_Click()
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
    ShowCertificate();
    MarkChanged(false);
    emit cameraSelected();
}

void CameraEditor::ShowCertificate()
{
    const auto cam = mState.Cams.Item(mState.SelectedCam);
    const QString pinned = cam ? PinnedCertificate(*cam) : QString();
    txtZertifikat->setText(pinned);
    txtZertifikat->setCursorPosition(0);
    btZertifikatVergessen->setEnabled(!pinned.isEmpty());
}

void CameraEditor::btZertifikatVergessen_Click()
{
    const auto cam = mState.Cams.Item(mState.SelectedCam);
    if (!cam)
        return;
    ForgetCertificate(*cam);
    ShowCertificate();
    emit saveRequested();
}

void CameraEditor::btAktivieren_Click()
{
    const auto cam = mState.Cams.Item(mState.SelectedCam);
    if (!cam)
        return;
    const QString socket = NormalizeCamSocket(txtSocket->text());
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
    emit saveRequested();
    emit camerasChanged();
}

void CameraEditor::btAdd_Click()
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
    emit camerasChanged();
}

void CameraEditor::btDel_Click()
{
    if (mState.CamCount <= 1) {
        WriteLog(mState, QStringLiteral("Letzte Kamera kann nicht gelöscht werden!"));
        return;
    }
    const qint16 selected = mState.SelectedCam;
    const auto removed = mState.Cams.Item(selected);
    if (removed) {
        mState.Cams.Remove(selected);
        // A transfer still under way for it ends without filing under a number it gave up.
        removed->mCamNo = 0;
    }
    {
        const QSignalBlocker blocker(cmbKameraname);
        cmbKameraname->removeItem(selected - 1);
    }
    SelectCamEntry(Min(cmbKameraname->count() - 1, selected - 1));
    RemoveEngineOf(mState, removed.get());
    --mState.CamCount;
    emit camerasChanged();
}

void CameraEditor::MarkChanged(bool pending)
{
    if (pending) {
        btAktivieren->setEnabled(true);
        SetBackground(this, QPalette::Window, PendingRed);
        SetBackground(btAktivieren, QPalette::Button, Green);
    } else {
        SetBackground(btAktivieren, QPalette::Button, QColor());
        SetBackground(this, QPalette::Window, QColor());
        btAktivieren->setEnabled(false);
    }
}

void CameraEditor::btTesten_Click()
{
    // The values as typed, as "Aktivieren" would take them, applied to nothing.
    TrialFetch::Values values;
    values.socket = NormalizeCamSocket(txtSocket->text());
    values.imagePath = txtImgPath->text();
    if (!values.imagePath.isEmpty() && values.imagePath.front() != QLatin1Char('/'))
        values.imagePath.prepend(QLatin1Char('/'));
    values.user = txtUser->text();
    values.password = txtPassword->text();
    const auto cam = mState.Cams.Item(mState.SelectedCam);
    // The same camera keeps expecting its certificate; another address pins in the trial only.
    if (cam && SplitCamSocket(cam->mCamSocket).hostPort == SplitCamSocket(values.socket).hostPort)
        values.pinned = cam->mTlsPeer->pinned;
    auto *dialog = new TestDialog(mState, values, cmbKameraname->currentText(), window());
    dialog->show();
}
