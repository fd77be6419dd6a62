#pragma once

#include <QImage>
#include <QRandomGenerator>

// A camera-like picture of about 200 KB as JPEG: noise over a gradient, 1280 x 960.
inline QImage CameraPicture(int seed)
{
    QImage image(1280, 960, QImage::Format_RGB32);
    QRandomGenerator random(quint32(seed + 1));
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(12));
            line[x] = qRgb((x / 5 + noise) & 255, (y / 4 + noise) & 255, (seed * 40 + noise) & 255);
        }
    }
    return image;
}
