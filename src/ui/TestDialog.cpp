#include "ui/TestDialog.h"

#include "ui/WindowHelpers.h"

#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QSize PictureBox(480, 360);

} // namespace

TestDialog::TestDialog(AppState &state, const TrialFetch::Values &values, const QString &camName, QWidget *parent)
    : QDialog(parent)
    , mTrial(state)
{
    setObjectName(QStringLiteral("frmTesten"));
    setWindowTitle(QStringLiteral("Testen: ") + camName);
    setAttribute(Qt::WA_DeleteOnClose);
    imgTestbild = Named(new QLabel, "imgTestbild");
    imgTestbild->setAlignment(Qt::AlignCenter);
    imgTestbild->hide();
    lblErgebnis = Named(new QLabel(QStringLiteral("Bild wird abgeholt...")), "lblErgebnis");
    lblErgebnis->setWordWrap(true);
    lblErgebnis->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Schließen"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(imgTestbild);
    layout->addWidget(lblErgebnis);
    layout->addWidget(buttons);
    setMinimumWidth(320);
    mTrial.Start(values, [this](const TrialFetch::Result &result) { ShowResult(result); });
}

void TestDialog::ShowResult(const TrialFetch::Result &result)
{
    mFinished = true;
    QString words = result.words;
    if (words.isEmpty()) {
        const QImage image = QImage::fromData(result.image, "JPEG");
        if (image.isNull()) {
            words = QStringLiteral("Kein JPEG-Bild: ungültige oder unvollständige Bilddatei");
        } else {
            const QImage shown = image.width() > PictureBox.width() || image.height() > PictureBox.height()
                ? image.scaled(PictureBox, Qt::KeepAspectRatio, Qt::SmoothTransformation) : image;
            imgTestbild->setPixmap(QPixmap::fromImage(shown));
            imgTestbild->show();
            lblErgebnis->setText(QStringLiteral("Bild erhalten: %1 × %2 Pixel, %3 KB")
                                     .arg(image.width()).arg(image.height()).arg((result.image.size() + 512) / 1024));
            adjustSize();
            return;
        }
    }
    lblErgebnis->setText(QStringLiteral("Kein Bild: ") + words);
    adjustSize();
}
