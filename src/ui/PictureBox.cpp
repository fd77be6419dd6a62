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
    QImage image = reader.read();
    if (image.isNull()) {
        if (error)
            *error = reader.errorString();
        clear();
        return false;
    }
    mImage = std::move(image);
    mScaled = QPixmap();
    update();
    return true;
}

void PictureBox::clear()
{
    mImage = QImage();
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

void PictureBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}
