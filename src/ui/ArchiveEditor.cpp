#include "ui/ArchiveEditor.h"

#include "state/AppState.h"
#include "archive/StorageLimits.h"
#include "ui/UpDown.h"
#include "ui/WindowHelpers.h"
#include "util/Utils.h"

#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

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

} // namespace

ArchiveEditor::ArchiveEditor(AppState &state, QWidget *parent)
    : QWidget(parent)
    , mState(state)
{
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

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(frConfig1);
    column->addWidget(frLimits);

    chooseArchiveFolder = [this] {
        return QFileDialog::getExistingDirectory(window(), QStringLiteral("Archiv Basis Ordner wählen"),
                                                 lblSpeicherort->text());
    };
    connect(btSpeicherort, &QPushButton::clicked, this, &ArchiveEditor::btSpeicherort_Click);
    connect(optPlatzlimit, &QRadioButton::clicked, this, &ArchiveEditor::optPlatzlimit_Click);
    connect(optZeitlimit, &QRadioButton::clicked, this, &ArchiveEditor::optZeitlimit_Click);
    // A typed limit takes effect when the typing ends: passing through "1" on the way to
    // "12" must not delete every hour older than one.
    connect(txtZeitlimit, &QLineEdit::textEdited, this, [this] { mZeitlimitTyped = true; });
    connect(txtSpeicherlimit, &QLineEdit::textEdited, this, [this] { mSpeicherlimitTyped = true; });
    connect(txtZeitlimit, &QLineEdit::returnPressed, this, &ArchiveEditor::applyZeitlimit);
    connect(txtSpeicherlimit, &QLineEdit::returnPressed, this, &ArchiveEditor::applySpeicherlimit);
    connect(udZeitlimit, &UpDown::stepped, this, &ArchiveEditor::stepZeitlimit);
    connect(udSpeicherlimit, &UpDown::stepped, this, &ArchiveEditor::stepSpeicherlimit);
}

void ArchiveEditor::btSpeicherort_Click()
{
    const QString folder = chooseArchiveFolder ? chooseArchiveFolder() : QString();
    if (folder.isEmpty())
        return;   // cancelled: folder, label and settings stay
    lblSpeicherort->setText(AddBackslash(folder));
    mState.ArchivePath = AddBackslash(lblSpeicherort->text());
    SetSpaceLimitColour(CheckFreeSpace(mState));
    emit saveRequested();
}

void ArchiveEditor::SetZeitlimit(const QString &text)
{
    txtZeitlimit->setText(text);
    mZeitlimitTyped = false;
    txtZeitlimit_Change();
}

void ArchiveEditor::SetSpeicherlimit(const QString &text)
{
    txtSpeicherlimit->setText(text);
    mSpeicherlimitTyped = false;
    txtSpeicherlimit_Change();
}

void ArchiveEditor::applyZeitlimit()
{
    mZeitlimitTyped = false;
    txtZeitlimit_Change();
    txtZeitlimit_LostFocus();
}

void ArchiveEditor::applySpeicherlimit()
{
    mSpeicherlimitTyped = false;
    txtSpeicherlimit_Change();
    txtSpeicherlimit_LostFocus();
}

void ArchiveEditor::ApplyTyped()
{
    if (mZeitlimitTyped)
        applyZeitlimit();
    if (mSpeicherlimitTyped)
        applySpeicherlimit();
}

void ArchiveEditor::optPlatzlimit_Click()
{
    ApplyTyped();
    mState.SpaceLimitOn = optPlatzlimit->isChecked();
    mState.TimeLimitOn = !mState.SpaceLimitOn;
}

void ArchiveEditor::optZeitlimit_Click()
{
    ApplyTyped();
    mState.TimeLimitOn = optZeitlimit->isChecked();
    mState.SpaceLimitOn = !mState.TimeLimitOn;
}

void ArchiveEditor::txtZeitlimit_Change()
{
    if (txtZeitlimit->text().isEmpty())
        return;
    // Text that is no whole number (a letter typed) leaves the unit alone.
    qint32 value = 0;
    if (lblEinheit->text() == QLatin1String("h") && WholeNumber(txtZeitlimit->text(), value) && value >= 48) {
        lblEinheit->setText(QStringLiteral("Tage"));
        mState.TimeLimitUnit = QStringLiteral("Tage");
        SetZeitlimit(QStringLiteral("2"));
    }
    if (lblEinheit->text() == QLatin1String("Tage") && WholeNumber(txtZeitlimit->text(), value) && value < 2) {
        lblEinheit->setText(QStringLiteral("h"));
        mState.TimeLimitUnit = QStringLiteral("h");
        SetZeitlimit(QStringLiteral("47"));
    }
    qint32 rounded = 0;
    if (RoundToInt32(LeadingNumber(txtZeitlimit->text()), rounded))
        mState.TimeLimitValue = rounded;
}

void ArchiveEditor::txtZeitlimit_LostFocus()
{
    qint32 value = 0;
    // Text that is no number is treated as an empty box.
    if (!WholeNumber(txtZeitlimit->text(), value)) {
        mState.TimeLimitUnit = QStringLiteral("h");
        SetZeitlimit(QStringLiteral("1"));
    }
    if (mState.TimeLimitUnit == QLatin1String("h") && WholeNumber(txtZeitlimit->text(), value) && value < 1)
        SetZeitlimit(QStringLiteral("1"));
    if (WholeNumber(txtZeitlimit->text(), value) && value > 120)
        SetZeitlimit(QStringLiteral("120"));
}

void ArchiveEditor::txtSpeicherlimit_Change()
{
    bool isNumber = false;
    const double number = QLocale::c().toDouble(txtSpeicherlimit->text().trimmed(), &isNumber);
    qint32 value = 100;
    if (!isNumber || !RoundToInt32(number, value))
        value = 100;
    mState.SpaceLimitMB = value;
    SetSpaceLimitColour(CheckFreeSpace(mState));
}

void ArchiveEditor::txtSpeicherlimit_LostFocus()
{
    qint32 value = 0;
    if (!WholeNumber(txtSpeicherlimit->text(), value))
        value = 0;
    if (value < 100)
        SetSpeicherlimit(QStringLiteral("100"));
    if (WholeNumber(txtSpeicherlimit->text(), value) && value > 102400)
        SetSpeicherlimit(QStringLiteral("102400"));
}

void ArchiveEditor::stepZeitlimit(int direction)
{
    qint32 value = 0;
    if (!WholeNumber(txtZeitlimit->text(), value))
        value = 0;
    SetZeitlimit(QString::number(std::clamp(value + direction, 1, 120)));
}

void ArchiveEditor::stepSpeicherlimit(int direction)
{
    qint32 value = 0;
    if (!WholeNumber(txtSpeicherlimit->text(), value))
        value = 0;
    // Steps of 100 MB on the grid of hundreds.
    const qint32 stepped = direction > 0 ? (value / 100 + 1) * 100 : ((value + 99) / 100 - 1) * 100;
    SetSpeicherlimit(QString::number(std::clamp(stepped, 100, 102400)));
}

void ArchiveEditor::SetSpaceLimitColour(bool enoughSpace)
{
    SetBackground(txtSpeicherlimit, QPalette::Base, enoughSpace ? QColor() : Red);
}

bool ArchiveEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == txtZeitlimit)
            applyZeitlimit();
        else if (watched == txtSpeicherlimit)
            applySpeicherlimit();
    }
    return QWidget::eventFilter(watched, event);
}
