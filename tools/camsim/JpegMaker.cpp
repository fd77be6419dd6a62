#include "JpegMaker.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <array>

namespace {

constexpr int MaxComPayload = 65533;   // a segment's length field counts itself
constexpr int SerialRoom = 4 + 32;     // the serial's comment segment, thumbnail included
const QByteArray Thumbnail("\xFF\xD8\x01\x02\x03\x04\xFF\xD9", 8);

// Largest first; a picture is taken when its encoding leaves room for the serial.
constexpr std::array<QSize, 9> Ladder{QSize(1280, 960), QSize(960, 720), QSize(800, 600), QSize(640, 480), QSize(480, 360),
                                      QSize(320, 240), QSize(160, 120), QSize(64, 48), QSize(16, 16)};

QByteArray standIn(int size, quint32 seed, bool thumbnail)
{
    static const char head[] = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00";
    const int headSize = int(sizeof(head) - 1);
    size = std::max(size, headSize + 4);
    QByteArray jpeg(size, Qt::Uninitialized);
    std::copy(head, head + headSize, jpeg.data());
    quint32 x = seed * 2654435761u + 12345u;
    for (int i = headSize; i < size - 2; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        jpeg[i] = char(x % 255);   // never FF, so no marker appears by chance
    }
    if (thumbnail && size >= headSize + 40)
        std::copy(Thumbnail.cbegin(), Thumbnail.cend(), jpeg.data() + headSize + 4);
    jpeg[size - 2] = char(0xFF);
    jpeg[size - 1] = char(0xD9);
    return jpeg;
}

// Seven segments, so that no font (and no GUI application) is needed.
void drawDigit(QImage &image, int digit, QRect box)
{
    static constexpr std::array<quint8, 10> Segments{0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    const int t = std::max(1, box.height() / 8);
    const int w = box.width(), h = box.height(), half = (h - t) / 2;
    const std::array<QRect, 7> bars{QRect(0, 0, w, t), QRect(w - t, 0, t, half + t), QRect(w - t, half, t, h - half),
                                    QRect(0, h - t, w, t), QRect(0, half, t, h - half), QRect(0, 0, t, half + t),
                                    QRect(0, half, w, t)};
    for (int s = 0; s < 7; ++s) {
        if (!(Segments[size_t(digit)] & (1 << s)))
            continue;
        const QRect r = bars[size_t(s)].translated(box.topLeft()) & image.rect();
        for (int y = r.top(); y <= r.bottom(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            std::fill(line + r.left(), line + r.right() + 1, qRgb(255, 255, 255));
        }
    }
}

QByteArray encode(QSize picture, int variant)
{
    QImage image(picture, QImage::Format_RGB32);
    quint32 noise = 0x9E3779B9u * quint32(variant + 1);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int n = int((noise >> 24) % 12);   // the grain of a real sensor
            line[x] = qRgb(std::min(x * 244 / image.width() + n, 255), std::min(y * 244 / image.height() + n, 255), variant * 30 + n);
        }
    }
    const int h = image.height() * 3 / 5;
    drawDigit(image, variant % 10, QRect((image.width() - h / 2) / 2, (image.height() - h) / 2, h / 2, h));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(80);
    return writer.write(image) ? jpeg : QByteArray();
}

} // namespace

const JpegMaker::Bases &JpegMaker::encoded(int step)
{
    if (const auto it = mEncoded.constFind(step); it != mEncoded.cend())
        return *it;
    Bases b;
    for (int v = 0; v < Variants; ++v) {
        const QByteArray jpeg = encode(Ladder[size_t(step)], v);
        // Qt writes SOI and the JFIF segment first; the padding goes after them.
        if (jpeg.size() > 6 && jpeg.startsWith("\xFF\xD8\xFF\xE0")) {
            const int head = 4 + (quint8(jpeg[4]) << 8 | quint8(jpeg[5]));
            b[size_t(v)] = {jpeg.left(head), jpeg.mid(head)};
        }
    }
    return *mEncoded.insert(step, b);
}

int JpegMaker::choice(int size)
{
    if (const auto it = mChoices.constFind(size); it != mChoices.cend())
        return *it;
    int chosen = -1;
    for (int step = 0; step < int(Ladder.size()) && chosen < 0; ++step) {
        // Quality 80 needs well over a tenth of a byte a pixel for this picture: skip the hopeless.
        if (qint64(Ladder[size_t(step)].width()) * Ladder[size_t(step)].height() / 10 > size)
            continue;
        // Every serial gets a picture of the same size.
        const Bases &b = encoded(step);
        if (std::all_of(b.cbegin(), b.cend(), [size](const Base &v) {
                return !v.head.isEmpty() && v.head.size() + v.rest.size() + SerialRoom <= size;
            }))
            chosen = step;
    }
    mChoices.insert(size, chosen);
    return chosen;
}

QSize JpegMaker::pictureSize(int size)
{
    const int step = choice(size);
    return step < 0 ? QSize() : Ladder[size_t(step)];
}

QByteArray JpegMaker::make(int size, quint32 serial, bool thumbnail)
{
    const int step = choice(size);
    if (step < 0)
        return standIn(size, serial, thumbnail);
    const Base &b = encoded(step)[serial % Variants];

    QByteArray jpeg;
    jpeg.reserve(size);
    jpeg += b.head;
    QByteArray first = "camsim " + QByteArray::number(serial);
    if (thumbnail)
        first += Thumbnail;
    // The comment segments fill exactly what the picture leaves; no segment may be shorter
    // than its own four bytes, so a remainder of one to three goes to the one before.
    qsizetype fill = size - b.head.size() - b.rest.size();
    bool firstSegment = true;
    while (fill > 0) {
        qsizetype segment = std::min<qsizetype>(fill, MaxComPayload + 4);
        if (fill - segment > 0 && fill - segment < 4)
            segment -= 4;
        const qsizetype payload = segment - 4;
        jpeg += "\xFF\xFE";
        jpeg += char((segment - 2) >> 8);
        jpeg += char((segment - 2) & 0xFF);
        qsizetype filler = payload;
        if (firstSegment) {
            jpeg += first;
            filler -= first.size();
            firstSegment = false;
        }
        jpeg.append(filler, ' ');
        fill -= segment;
    }
    jpeg += b.rest;
    return jpeg;
}
