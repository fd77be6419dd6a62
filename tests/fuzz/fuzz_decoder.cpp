// The response decoder fed one answer in arbitrary arrivals: the split never changes the
// result, the result follows the chunk rules, and a found image is a whole JPEG.
#include "FuzzSupport.h"

#include "fetch/ResponseDecoder.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

struct Outcome
{
    bool ok = true;
    int chunked = 0;
    QByteArray response, text, image;
    bool noImage = false;
};

Outcome Decode(const QByteArray &bytes, const std::vector<qsizetype> &cuts)
{
    ResponseDecoder d;
    Outcome o;
    qsizetype at = 0;
    for (qsizetype cut : cuts) {
        if (cut <= at)
            continue;
        o.ok = d.feed(bytes.mid(at, cut - at));
        at = cut;
        if (!o.ok)
            return o;
    }
    if (at < bytes.size())
        o.ok = d.feed(bytes.mid(at));
    if (!o.ok)
        return o;
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
        FUZZ_CHECK(cut.takeBody(type, noImage) == (type == 0 ? o.text : o.image));
        FUZZ_CHECK(noImage == (type == 1 && o.noImage));
    }
    return o;
}

// The chunk rules read off the whole body at once: a size line ends at the first CR LF and
// starts with hex digits after blanks (none: size 0, the end); data and its two closing
// characters must all be there; an incomplete chunk is dropped. A size too large for 64 bits
// fails as soon as its digits are there, whether the line is complete or not.
bool ReferenceChunks(const QByteArray &body, QByteArray &out)
{
    qsizetype pos = 0;
    for (;;) {
        const qsizetype eol = body.indexOf("\r\n", pos);
        const qsizetype lineEnd = eol < 0 ? body.size() : eol;
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
        const qsizetype data = eol + 2;
        if (quint64(body.size() - data) < size + 2)
            return true;
        out.append(body.constData() + data, qsizetype(size));
        pos = data + qsizetype(size) + 2;
    }
}

} // namespace

BILDFANG_FUZZ_TARGET(FuzzDecoder)
{
    FuzzInput in(data, size);
    const int cutCount = in.byte() % 16;
    std::vector<int> raw;
    for (int k = 0; k < cutCount; ++k)
        raw.push_back(in.word());
    const QByteArray bytes = in.rest();

    std::vector<qsizetype> cuts;
    for (int r : raw)
        cuts.push_back(bytes.isEmpty() ? 0 : r % (bytes.size() + 1));
    std::sort(cuts.begin(), cuts.end());

    const Outcome whole = Decode(bytes, {});
    const Outcome split = Decode(bytes, cuts);
    std::vector<qsizetype> everyByte;
    for (qsizetype i = 1; i < bytes.size(); ++i)
        everyByte.push_back(i);
    const Outcome single = Decode(bytes, everyByte);

    for (const Outcome *o : {&split, &single}) {
        FUZZ_CHECK(o->ok == whole.ok);
        FUZZ_CHECK(o->chunked == whole.chunked);
        FUZZ_CHECK(o->response == whole.response);
        FUZZ_CHECK(o->image == whole.image);
        FUZZ_CHECK(o->noImage == whole.noImage);
        FUZZ_CHECK(o->text == whole.text);
    }

    const qsizetype headerEnd = bytes.indexOf("\r\n\r\n");
    if (headerEnd < 0 || !ResponseDecoder::isChunkedHeader(bytes.left(headerEnd + 4))) {
        // Plain, or no header block yet: kept exactly as it came.
        FUZZ_CHECK(whole.ok);
        FUZZ_CHECK(whole.response == bytes);
        FUZZ_CHECK(whole.chunked == (headerEnd < 0 ? 0 : -1));
    } else {
        QByteArray expected = bytes.left(headerEnd + 4);
        const bool ok = ReferenceChunks(bytes.mid(headerEnd + 4), expected);
        FUZZ_CHECK(whole.ok == ok);
        if (ok) {
            FUZZ_CHECK(whole.chunked == 1);
            FUZZ_CHECK(whole.response == expected);
        }
    }
    if (!whole.ok)
        return 0;

    FUZZ_CHECK(whole.response.size() <= bytes.size());
    FUZZ_CHECK(whole.text == (headerEnd < 0 ? QByteArray() : whole.response.mid(headerEnd + 4)));
    if (whole.noImage) {
        FUZZ_CHECK(whole.image == whole.response);
    } else {
        FUZZ_CHECK(whole.image.size() >= 4);
        FUZZ_CHECK(whole.image.startsWith("\xFF\xD8"));
        FUZZ_CHECK(whole.image.endsWith("\xFF\xD9"));
        const qsizetype start = whole.response.indexOf("\xFF\xD8");
        FUZZ_CHECK(start >= 0 && start <= 32766);
        FUZZ_CHECK(whole.response.mid(start, whole.image.size()) == whole.image);
        FUZZ_CHECK(!whole.response.mid(start + whole.image.size()).contains("\xFF\xD9"));
    }
    return 0;
}
