#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

// A picture scaled into the box with its aspect ratio kept, centred. The scaled copy is
// kept until the picture or the box size changes, so repaints cost nothing extra.
class PictureBox : public QWidget
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    // False, with the reader's reason, when the file is no readable picture; the box is
    // then empty.
    bool load(const QString &path, QString *error = nullptr);
    void clear();
    bool hasPicture() const { return !mImage.isNull(); }
    const QImage &image() const { return mImage; }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage mImage;
    QString mPath;   // set while the picture is decoded smaller than the file
    QPixmap mScaled;
};
