#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <vector>

class QIODevice;

// CRC-32 as ZIP and PNG use it (reflected, polynomial 0xEDB88320); crc continues an earlier sum.
quint32 Crc32(QByteArrayView byData, quint32 crc = 0);

// Writes a ZIP archive of stored (uncompressed) entries to a device, front to back, so it
// never seeks. ZIP64 records appear only where an archive needs them: more than 65,534
// entries, an entry of 4 GiB or more, or data beyond 4 GiB.
class ZipWriter
{
public:
    explicit ZipWriter(QIODevice &device);

    // name as it appears in the archive (UTF-8), modified in local time.
    bool add(const QString &name, QByteArrayView byData, const QDateTime &modified);
    // The central directory and the end records; the device stays open.
    bool finish();
    QString errorString() const { return mError; }
    qsizetype count() const { return qsizetype(mEntries.size()); }

private:
    struct Entry
    {
        QByteArray name;
        quint32 crc;
        quint64 size;
        quint64 offset;
        quint16 time;
        quint16 date;
    };
    bool write(QByteArrayView byData);

    QIODevice &mDevice;
    quint64 mOffset = 0;
    std::vector<Entry> mEntries;
    QString mError;
};
