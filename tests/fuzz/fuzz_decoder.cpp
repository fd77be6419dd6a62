// The response decoder fed one answer in arbitrary arrivals: the split never changes the
// result, the result follows the chunk rules, and a found image is a whole JPEG.
#include "FuzzSupport.h"

#include "fetch/ResponseDecoder.h"

#include <cctype>
#include <vector>

namespace {

struct Outcome
{
    bool ok = true, noImage = false;
    int chunked = 0;
    QByteArray response, text, image;
    bool operator==(const Outcome &) const = default;
};

// Fed in the pieces between the (sorted) cuts.
Outcome Decode(const QByteArray &bytes, std::vector<qsizetype> cuts)
{
    ResponseDecoder d;
    Outcome o;
    cuts.push_back(bytes.size());
    for (qsizetype at = 0; const qsizetype cut : cuts) {
        if (cut > at && !(o.ok = d.feed(bytes.mid(at, cut - at))))
            return o;
        at = std::max(at, cut);
    }
    d.finish();
    o.chunked = d.chunked();
    o.response = d.response();
    bool unused = false;
    o.text = d.extractBody(0, unused);
    o.image = d.extractBody(1, o.noImage);
    // Cutting the body out in place gives the same bytes as copying it out.
    for (int type : {0, 1}) {
        ResponseDecoder cut = d;
        bool noImage = false;
        FUZZ_CHECK(cut.takeBody(type, noImage) == (type == 0 ? o.text : o.image) && noImage == (type == 1 && o.noImage));
    }
    return o;
}

// The chunk rules read off the whole body at once: a size line ends at the first CR LF and
// starts with hex digits after blanks (none: size 0, the end); data and its two closing
// characters must all be there; an incomplete chunk is dropped. A size too large for 64 bits
// fails as soon as its digits are there, whether the line is complete or not.
bool ReferenceChunks(const QByteArray &body, QByteArray &out)
{
    for (qsizetype pos = 0;;) {
        const qsizetype eol = body.indexOf("\r\n", pos), lineEnd = eol < 0 ? body.size() : eol;
        qsizetype i = pos;
        while (i < lineEnd && body.at(i) == ' ')
            ++i;
        quint64 size = 0;
        for (; i < lineEnd && std::isxdigit(static_cast<unsigned char>(body.at(i))); ++i) {
            if (size > (~quint64(0) >> 4))
                return false;
            size = size << 4 | quint64(QByteArray(1, body.at(i)).toInt(nullptr, 16));
        }
        if (eol < 0 || size == 0)
            return true;
        if (size > quint64(ResponseDecoder::MaxResponseBytes - out.size()))
            return false;
        if (quint64(body.size() - eol - 2) < size + 2)
            return true;
        out.append(body.constData() + eol + 2, qsizetype(size));
        pos = eol + 4 + qsizetype(size);
    }
}

} // namespace

BILDFANG_FUZZ_TARGET(FuzzDecoder)
{
    FuzzInput in(data, size);
    std::vector<qsizetype> cuts(in.byte() % 16), everyByte;
    for (qsizetype &cut : cuts)
        cut = in.word();
    const QByteArray bytes = in.rest();
    for (qsizetype &cut : cuts)
        cut %= bytes.size() + 1;
    std::sort(cuts.begin(), cuts.end());
    for (qsizetype i = 1; i < bytes.size(); ++i)
        everyByte.push_back(i);
    const Outcome whole = Decode(bytes, {});
    FUZZ_CHECK(Decode(bytes, cuts) == whole);
    FUZZ_CHECK(Decode(bytes, everyByte) == whole);

    const qsizetype headerEnd = bytes.indexOf("\r\n\r\n");
    if (headerEnd < 0 || !ResponseDecoder::isChunkedHeader(bytes.left(headerEnd + 4))) {
        // Plain, or no header block yet: kept exactly as it came.
        FUZZ_CHECK(whole.ok && whole.response == bytes && whole.chunked == (headerEnd < 0 ? 0 : -1));
    } else {
        QByteArray expected = bytes.left(headerEnd + 4);
        const bool ok = ReferenceChunks(bytes.mid(headerEnd + 4), expected);
        FUZZ_CHECK(whole.ok == ok && (!ok || (whole.chunked == 1 && whole.response == expected)));
    }
    if (!whole.ok)
        return 0;
    FUZZ_CHECK(whole.text == (headerEnd < 0 ? QByteArray() : whole.response.mid(headerEnd + 4)));
    // The image runs from the first start marker, whose 1-based position must fit 16 bits, to
    // the last end marker after it; without one it is the whole answer.
    const qsizetype start = whole.response.indexOf("\xFF\xD8"), end = whole.response.lastIndexOf("\xFF\xD9");
    const bool image = start >= 0 && start <= 32766 && end > start;
    FUZZ_CHECK(whole.noImage != image && whole.image == (image ? whole.response.mid(start, end + 2 - start) : whole.response));
    return 0;
}
