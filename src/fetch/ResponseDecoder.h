#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <utility>

// Collects one HTTP response as it arrives and undoes chunked transfer coding on the way.
// The work per arrival is proportional to the arrival: the search for the empty line resumes
// where it stopped, and chunks are decoded by a state machine that survives any split.
class ResponseDecoder
{
public:
    // Beyond this the response is given up: a camera whose answer never ends must not take
    // all memory while every arrival keeps the watchdog quiet.
    static constexpr qint64 MaxResponseBytes = qint64(64) * 1024 * 1024;

    void reset();

    // Feeds one arrival. False when the response went past MaxResponseBytes (counted as
    // received), or a chunk size does not fit 64 bits or would take the response past the bound.
    bool feed(const QByteArray &bytes);

    // The server closed: a chunk that did not arrive completely is dropped.
    void finish();

    // Status line and headers up to and including the first CR LF CR LF, then the body as
    // received (plain) or decoded (chunked).
    const QByteArray &response() const { return mResponse; }
    // Status line and headers through the first CR LF CR LF; empty until it has arrived.
    QByteArrayView headerBlock() const
    {
        return mHeaderEnd < 0 ? QByteArrayView() : QByteArrayView(mResponse.constData(), mHeaderEnd);
    }
    // 0 while the header block is incomplete, 1 chunked, -1 plain.
    int chunked() const { return mChunked; }

    // The body by mode: 0 everything after the header block, 1 the JPEG from the first start
    // marker through the last end marker. noImage is set in mode 1 when no complete JPEG is
    // there; the body is then the whole response.
    QByteArray extractBody(int dataType, bool &noImage) const;
    // The same body, cut from the response buffer in place instead of copied out of it; the
    // decoder is empty afterwards.
    QByteArray takeBody(int dataType, bool &noImage);

    // True when a header line names Transfer-Encoding and ends in "chunked", not counting
    // blanks and tabs at its end.
    static bool isChunkedHeader(const QByteArray &headerBlock);

private:
    enum class ChunkState { SizeBlanks, SizeDigits, SizeRest, SizeCR, Data, Trailer, Done };

    bool feedChunks(const char *data, qsizetype size);
    // Where the body lies in mResponse, as [from, to).
    std::pair<qsizetype, qsizetype> bodyRange(int dataType, bool &noImage) const;

    QByteArray mResponse;
    int mChunked = 0;
    qsizetype mHeaderEnd = -1;      // index after the first CR LF CR LF
    qsizetype mSearchFrom = 0;      // where the search for it goes on
    qint64 mReceived = 0;

    ChunkState mChunkState = ChunkState::SizeBlanks;
    quint64 mChunkSize = 0;
    quint64 mChunkLeft = 0;
    int mTrailerLeft = 0;
    qsizetype mCommitted = 0;       // mResponse up to here holds complete chunks only
};
