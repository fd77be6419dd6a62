#include "archive/ZipWriter.h"

#include <QIODevice>
#include <QtEndian>
#include <array>

namespace {

// Eight tables let the sum take eight bytes per step; a JPEG archive is all CRC and copying.
using CrcTables = std::array<std::array<quint32, 256>, 8>;

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
        tables[0][i] = value;
    }
    for (std::size_t t = 1; t < 8; ++t)
        for (std::size_t i = 0; i < 256; ++i)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

constexpr quint32 kMax32 = 0xFFFFFFFFu;
constexpr quint16 kMax16 = 0xFFFFu;
constexpr quint16 kUtf8Names = 0x0800;
constexpr quint16 kVersionPlain = 20;
constexpr quint16 kVersionZip64 = 45;
constexpr quint16 kMadeByUnix = (3 << 8) | kVersionZip64;
constexpr quint32 kRegularFile644 = 0100644u << 16;

void put16(QByteArray &out, quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 2);
}

void put32(QByteArray &out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 4);
}

void put64(QByteArray &out, quint64 value)
{
    const quint64 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 8);
}

quint32 clamp32(quint64 value)
{
    return value >= kMax32 ? kMax32 : quint32(value);
}

// MS-DOS time and date; the format starts in 1980 and counts seconds in twos.
void dosTime(const QDateTime &modified, quint16 *time, quint16 *date)
{
    const QDate day = modified.date();
    if (!modified.isValid() || day.year() < 1980 || day.year() > 2107) {
        *time = 0;
        *date = (1 << 5) | 1;
        return;
    }
    const QTime clock = modified.time();
    *time = quint16((clock.hour() << 11) | (clock.minute() << 5) | (clock.second() / 2));
    *date = quint16(((day.year() - 1980) << 9) | (day.month() << 5) | day.day());
}

} // namespace

quint32 Crc32(QByteArrayView byData, quint32 crc)
{
    const auto &t = kCrcTables;
    const uchar *p = reinterpret_cast<const uchar *>(byData.data());
    qsizetype n = byData.size();
    crc = ~crc;
    while (n >= 8) {
        const quint32 a = qFromLittleEndian<quint32>(p) ^ crc;
        const quint32 b = qFromLittleEndian<quint32>(p + 4);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24]
            ^ t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0)
        crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

ZipWriter::ZipWriter(QIODevice &device) : mDevice(device) {}

bool ZipWriter::write(QByteArrayView byData)
{
    if (mDevice.write(byData.data(), byData.size()) != byData.size()) {
        mError = mDevice.errorString();
        return false;
    }
    mOffset += quint64(byData.size());
    return true;
}

bool ZipWriter::add(const QString &name, QByteArrayView byData, const QDateTime &modified)
{
    Entry entry{name.toUtf8(), Crc32(byData), quint64(byData.size()), mOffset, 0, 0};
    dosTime(modified, &entry.time, &entry.date);
    const bool large = entry.size >= kMax32;

    QByteArray header;
    header.reserve(30 + entry.name.size() + 20);
    put32(header, 0x04034b50);
    put16(header, large ? kVersionZip64 : kVersionPlain);
    put16(header, kUtf8Names);
    put16(header, 0);   // stored
    put16(header, entry.time);
    put16(header, entry.date);
    put32(header, entry.crc);
    put32(header, clamp32(entry.size));
    put32(header, clamp32(entry.size));
    put16(header, quint16(entry.name.size()));
    put16(header, large ? 20 : 0);
    header.append(entry.name);
    if (large) {
        // In a local header the ZIP64 field holds both sizes, always.
        put16(header, 0x0001);
        put16(header, 16);
        put64(header, entry.size);
        put64(header, entry.size);
    }
    if (!write(header) || !write(byData))
        return false;
    mEntries.push_back(std::move(entry));
    return true;
}

bool ZipWriter::finish()
{
    const quint64 directoryStart = mOffset;
    QByteArray block;
    for (const Entry &entry : mEntries) {
        QByteArray extra;
        if (entry.size >= kMax32) {
            put64(extra, entry.size);
            put64(extra, entry.size);
        }
        if (entry.offset >= kMax32)
            put64(extra, entry.offset);
        if (!extra.isEmpty()) {
            QByteArray field;
            put16(field, 0x0001);
            put16(field, quint16(extra.size()));
            extra.prepend(field);
        }
        put32(block, 0x02014b50);
        put16(block, kMadeByUnix);
        put16(block, extra.isEmpty() ? kVersionPlain : kVersionZip64);
        put16(block, kUtf8Names);
        put16(block, 0);
        put16(block, entry.time);
        put16(block, entry.date);
        put32(block, entry.crc);
        put32(block, clamp32(entry.size));
        put32(block, clamp32(entry.size));
        put16(block, quint16(entry.name.size()));
        put16(block, quint16(extra.size()));
        put16(block, 0);   // comment
        put16(block, 0);   // disk
        put16(block, 0);   // internal attributes
        put32(block, kRegularFile644);
        put32(block, clamp32(entry.offset));
        block.append(entry.name);
        block.append(extra);
        if (block.size() >= (1 << 20)) {
            if (!write(block))
                return false;
            block.clear();
        }
    }
    if (!write(block))
        return false;
    block.clear();

    const quint64 directoryEnd = mOffset;
    const quint64 entries = mEntries.size();
    const quint64 directorySize = directoryEnd - directoryStart;
    if (entries >= kMax16 || directorySize >= kMax32 || directoryStart >= kMax32) {
        put32(block, 0x06064b50);
        put64(block, 44);   // size of the rest of this record
        put16(block, kMadeByUnix);
        put16(block, kVersionZip64);
        put32(block, 0);
        put32(block, 0);
        put64(block, entries);
        put64(block, entries);
        put64(block, directorySize);
        put64(block, directoryStart);
        put32(block, 0x07064b50);
        put32(block, 0);
        put64(block, directoryEnd);
        put32(block, 1);
    }
    const quint16 shortCount = entries >= kMax16 ? kMax16 : quint16(entries);
    put32(block, 0x06054b50);
    put16(block, 0);
    put16(block, 0);
    put16(block, shortCount);
    put16(block, shortCount);
    put32(block, clamp32(directorySize));
    put32(block, clamp32(directoryStart));
    put16(block, 0);
    return write(block);
}
