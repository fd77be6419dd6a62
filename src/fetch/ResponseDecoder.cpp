#include "fetch/ResponseDecoder.h"

#include <QByteArrayView>

#include <algorithm>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Where the first start marker may lie at most: its 1-based position is held in 16 bits.
constexpr qsizetype LastStartMarkerIndex = 32766;

// The most an announced length reserves ahead of the bytes.
constexpr qint64 MaxReservedBytes = qint64(8) * 1024 * 1024;

// The value of a Content-Length line, -1 when there is none or it is not a plain number.
qint64 announcedLength(QByteArrayView headerBlock, qint64 bound)
{
    qsizetype start = 0;
    while (start < headerBlock.size()) {
        qsizetype end = headerBlock.indexOf("\r\n", start);
        if (end < 0)
            end = headerBlock.size();
        const QByteArrayView line = headerBlock.sliced(start, end - start);
        start = end + 2;
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.first(colon).trimmed().compare("Content-Length", Qt::CaseInsensitive) != 0)
            continue;
        const QByteArrayView value = line.sliced(colon + 1).trimmed();
        if (value.isEmpty())
            return -1;
        qint64 length = 0;
        for (const char c : value) {
            if (c < '0' || c > '9' || length > bound)
                return -1;
            length = length * 10 + (c - '0');
        }
        return length;
    }
    return -1;
}

} // namespace

void ResponseDecoder::reset()
{
    *this = ResponseDecoder();
}

bool ResponseDecoder::feed(const QByteArray &bytes)
{
    mReceived += bytes.size();
    if (mReceived > MaxResponseBytes)
        return false;

    if (mChunked == 0) {
        mResponse.append(bytes);
        const qsizetype found = mResponse.indexOf("\r\n\r\n", mSearchFrom);
        if (found < 0) {
            mSearchFrom = std::max<qsizetype>(0, mResponse.size() - 3);
            return true;
        }
        mHeaderEnd = found + 4;
        if (!isChunkedHeader(QByteArray::fromRawData(mResponse.constData(), mHeaderEnd))) {
            mChunked = -1;
            // Hundreds of answers are in flight at once: each takes what it announced instead
            // of growing by steps that overshoot. A length no image has is not taken on trust.
            const qint64 length = announcedLength(headerBlock(), MaxResponseBytes);
            if (length >= 0 && mHeaderEnd + length <= MaxReservedBytes && mHeaderEnd + length > mResponse.capacity())
                mResponse.reserve(mHeaderEnd + length);
            return true;
        }
        mChunked = 1;
        const QByteArray rest = mResponse.mid(mHeaderEnd);
        mResponse.truncate(mHeaderEnd);
        mCommitted = mHeaderEnd;
        return feedChunks(rest.constData(), rest.size());
    }
    if (mChunked < 0) {
        mResponse.append(bytes);
        return true;
    }
    return feedChunks(bytes.constData(), bytes.size());
}

bool ResponseDecoder::feedChunks(const char *data, qsizetype size)
{
    qsizetype i = 0;
    while (i < size) {
        const char c = data[i];
        switch (mChunkState) {
        case ChunkState::Done:
            return true;
        case ChunkState::SizeBlanks:
            if (c == ' ') {
                ++i;
                break;
            }
            mChunkSize = 0;
            if (hexValue(c) >= 0) {
                mChunkState = ChunkState::SizeDigits;
                break;   // the digit is read there
            }
            mChunkState = c == '\r' ? ChunkState::SizeCR : ChunkState::SizeRest;
            ++i;
            break;
        case ChunkState::SizeDigits: {
            const int v = hexValue(c);
            if (v < 0) {
                mChunkState = c == '\r' ? ChunkState::SizeCR : ChunkState::SizeRest;
            } else {
                if (mChunkSize > (~quint64(0) >> 4))
                    return false;   // does not fit 64 bits
                mChunkSize = (mChunkSize << 4) | quint64(v);
            }
            ++i;
            break;
        }
        case ChunkState::SizeRest:
            if (c == '\r')
                mChunkState = ChunkState::SizeCR;
            ++i;
            break;
        case ChunkState::SizeCR:
            ++i;
            if (c == '\n') {
                if (mChunkSize == 0) {
                    mChunkState = ChunkState::Done;
                    return true;
                }
                if (mChunkSize > quint64(MaxResponseBytes - mResponse.size()))
                    return false;
                mChunkLeft = mChunkSize;
                mChunkState = ChunkState::Data;
            } else if (c != '\r') {
                mChunkState = ChunkState::SizeRest;
            }
            break;
        case ChunkState::Data: {
            const qsizetype take = qsizetype(std::min<quint64>(mChunkLeft, quint64(size - i)));
            mResponse.append(data + i, take);
            mChunkLeft -= quint64(take);
            i += take;
            if (mChunkLeft == 0) {
                mTrailerLeft = 2;
                mChunkState = ChunkState::Trailer;
            }
            break;
        }
        case ChunkState::Trailer:
            ++i;
            if (--mTrailerLeft == 0) {
                mCommitted = mResponse.size();
                mChunkState = ChunkState::SizeBlanks;
            }
            break;
        }
    }
    return true;
}

void ResponseDecoder::finish()
{
    if (mChunked == 1 && mChunkState != ChunkState::Done)
        mResponse.truncate(mCommitted);
}

bool ResponseDecoder::isChunkedHeader(const QByteArray &headerBlock)
{
    qsizetype start = 0;
    while (start < headerBlock.size()) {
        qsizetype end = headerBlock.indexOf("\r\n", start);
        if (end < 0)
            end = headerBlock.size();
        const QByteArrayView line(headerBlock.constData() + start, end - start);
        start = end + 2;
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        if (line.first(colon).trimmed().compare("Transfer-Encoding", Qt::CaseInsensitive) != 0)
            continue;
        // Blanks and tabs after a field value are not part of it.
        QByteArrayView value = line;
        while (!value.isEmpty() && (value.back() == ' ' || value.back() == '\t'))
            value.chop(1);
        if (value.size() >= 7 && value.last(7).compare("chunked", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

std::pair<qsizetype, qsizetype> ResponseDecoder::bodyRange(int dataType, bool &noImage) const
{
    noImage = false;
    if (dataType == 0)
        return mHeaderEnd >= 0 ? std::pair(mHeaderEnd, mResponse.size()) : std::pair<qsizetype, qsizetype>(0, 0);
    if (dataType != 1)
        return {0, 0};

    static const char startMarker[] = "\xFF\xD8";
    static const char endMarker[] = "\xFF\xD9";
    const qsizetype start = mResponse.indexOf(QByteArrayView(startMarker, 2));
    const qsizetype end = mResponse.lastIndexOf(QByteArrayView(endMarker, 2));
    // An end marker only before the start is no image either.
    if (start < 0 || start > LastStartMarkerIndex || end < 0 || end < start) {
        noImage = true;
        return {0, mResponse.size()};
    }
    return {start, end + 2};
}

QByteArray ResponseDecoder::extractBody(int dataType, bool &noImage) const
{
    const auto [from, to] = bodyRange(dataType, noImage);
    if (from == 0 && to == mResponse.size())
        return mResponse;
    return mResponse.mid(from, to - from);
}

QByteArray ResponseDecoder::takeBody(int dataType, bool &noImage)
{
    const auto [from, to] = bodyRange(dataType, noImage);
    QByteArray body = std::move(mResponse);
    reset();
    if (from == to)
        return QByteArray();
    // Both cuts work in place on an unshared buffer: the front one only moves the start.
    body.truncate(to);
    body.remove(0, from);
    return body;
}
