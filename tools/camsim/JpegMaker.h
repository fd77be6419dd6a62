#pragma once

#include <QByteArray>
#include <QHash>
#include <QSize>

#include <array>

// Real JPEGs of an exact byte size, each serial number a different file, cheap enough for
// hundreds a second: a few base pictures (a gradient with a little noise and the serial's
// last digit drawn large) are encoded once per size; each image is a base with a comment
// segment holding the serial after the JFIF header, padded to the size with further comment
// segments before the tables and the scan.
class JpegMaker
{
public:
    static constexpr int Variants = 8;   // base pictures per size, taken in turn by serial

    // Exactly size bytes. Below the smallest real JPEG that fits, the old stand-in: FF D8, a
    // JFIF header, bytes without FF, FF D9. thumbnail: an embedded FF D8 ... FF D9 early on.
    QByteArray make(int size, quint32 serial, bool thumbnail = false);

    // The picture size chosen for images of size bytes; empty for the stand-in.
    QSize pictureSize(int size);

private:
    struct Base
    {
        QByteArray head;   // SOI and the JFIF segment
        QByteArray rest;   // tables, frame, scan, EOI
    };
    using Bases = std::array<Base, Variants>;
    // Into the ladder of picture sizes; -1: the stand-in.
    int choice(int size);
    const Bases &encoded(int step);

    QHash<int, int> mChoices;       // by image size
    QHash<int, Bases> mEncoded;     // by ladder step
};
