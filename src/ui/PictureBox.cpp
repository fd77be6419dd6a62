#include "ui/PictureBox.h"

#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget *parent)
    : QWidget(parent)
{
    setMinimumSize(160, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

bool PictureBox::load(const QString &path, QString *error)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // Decoded no larger than the box needs: a JPEG decoder scales while it decodes, which
    // costs a fraction of decoding the full picture and scaling it afterwards.
    const QSize full = reader.size();
    const bool reduce = full.isValid() && (full.width() > width() || full.height() > height()) && width() > 0
        && height() > 0 && reader.transformation() == QImageIOHandler::TransformationNone;
    if (reduce)
        reader.setScaledSize(full.scaled(size(), Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) {
        if (error)
            *error = reader.errorString();
        clear();
        return false;
    }
    mImage = std::move(image);
    mPath = reduce ? path : QString();
    mScaled = QPixmap();
    update();
    return true;
}

void PictureBox::clear()
{
    mImage = QImage();
    mPath.clear();
    mScaled = QPixmap();
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (mImage.isNull())
        return;
    const QSize target = mImage.size().scaled(size(), Qt::KeepAspectRatio);
    if (mScaled.size() != target)
        mScaled = QPixmap::fromImage(mImage.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    painter.drawPixmap((width() - target.width()) / 2, (height() - target.height()) / 2, mScaled);
}

void PictureBox::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // A picture decoded for a smaller box is decoded again for the larger one.
    if (!mPath.isEmpty() && (width() > mImage.width() && height() > mImage.height())) {
        const QString path = mPath;
        if (!load(path))
            clear();
    }
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}
