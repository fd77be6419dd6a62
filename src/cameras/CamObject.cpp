#include "cameras/CamObject.h"

#include "app/AppState.h"
#include "platform/FileSystem.h"
#include "util/Utils.h"

#include <cstring>

CamObject::CamObject(AppState &state)
    : mState(state)
{
}

namespace {

constexpr qsizetype Block = 64;

// True when the 64 bytes at p hold an "=" right after an "M" or a "D", the ends of "FRM=" and
// "PRD="; p[-1] must be readable. Such pairs are rare in image data, so most blocks are
// passed over at vector speed.
bool MayHoldMark(const char *p)
{
#if defined(__GNUC__)
    using V = char __attribute__((vector_size(16)));
    const V eq = V{} + '=', m = V{} + 'M', d = V{} + 'D';
    V any{};
    for (qsizetype k = 0; k < Block; k += 16) {
        V here, before;
        std::memcpy(&here, p + k, 16);
        std::memcpy(&before, p + k - 1, 16);
        any |= (here == eq) & ((before == m) | (before == d));
    }
    quint64 halves[2];
    std::memcpy(halves, &any, 16);
    return (halves[0] | halves[1]) != 0;
#else
    for (qsizetype k = 0; k < Block; ++k) {
        if (p[k] == '=' && (p[k - 1] == 'M' || p[k - 1] == 'D'))
            return true;
    }
    return false;
#endif
}

} // namespace

CamObject::ImageMarks CamObject::ScanMarks(const QByteArray &data)
{
    ImageMarks marks;
    const char *begin = data.constData();
    const char *end = begin + data.size();
    const char *frame = nullptr;   // first character after the first "FRM="
    // Looks at an "=" with three characters before it; true once both are found.
    const auto look = [&](const char *p) {
        if (!frame && std::memcmp(p - 3, "FRM", 3) == 0)
            frame = p + 1;
        else if (!marks.marker && std::memcmp(p - 3, "PRD", 3) == 0 && end - p >= 8
                 && std::memcmp(p + 1, "MOBOTIX", 7) == 0)
            marks.marker = true;
        return marks.marker && frame;
    };
    bool done = false;
    const char *p = begin + 3;
    for (; !done && end - p >= Block; p += Block) {
        if (!MayHoldMark(p))
            continue;
        for (const char *q = p; !done && q < p + Block; ++q)
            done = *q == '=' && look(q);
    }
    for (; !done && p < end; ++p)
        done = *p == '=' && look(p);
    marks.frame = frame != nullptr;
    if (marks.marker && frame) {
        // The leading number up to the next CR LF, or to the end.
        const qsizetype start = frame - begin;
        qsizetype stop = data.indexOf("\r\n", start);
        if (stop < 0)
            stop = data.size();
        marks.frameNumber = LeadingNumber(QString::fromLatin1(begin + start, stop - start));
    }
    return marks;
}

CamObject::Sample CamObject::TakeSample(const QByteArray &data)
{
    Sample sample{};
    const qsizetype last = data.size() - 1;
    if (last < 0)
        return sample;
    for (int i = 0; i < SampleBytes; ++i)
        sample[size_t(i)] = data.at(last * i / (SampleBytes - 1));
    return sample;
}

bool CamObject::IsNewImage(const QByteArray &byData) const
{
    if (mCamLastPic.isEmpty())
        return true;
    FileSystem &fs = *mState.platform.fileSystem;
    const std::optional<FileStamp> stamp = fs.fileStamp(mCamLastPic);

    QByteArray last;
    bool lastRead = false;
    ImageMarks lastMarks;
    if (stamp && mLastPicInfo && mLastPicInfo->path == mCamLastPic && mLastPicInfo->stamp == *stamp) {
        lastMarks = mLastPicInfo->marks;
    } else {
        mLastPicInfo.reset();
        if (!stamp && !fs.fileExists(mCamLastPic))
            return true;
        if (!fs.readFile(mCamLastPic, last))
            return true;
        lastRead = true;
        lastMarks = ScanMarks(last);
        if (stamp)   // taken before the read: a change in between shows as another stamp
            mLastPicInfo = LastPicInfo{mCamLastPic, *stamp, lastMarks, last.size(), TakeSample(last)};
    }

    if (lastMarks.marker) {
        const ImageMarks received = ScanMarks(byData);
        if (received.marker) {
            if (!received.frame || !lastMarks.frame)
                return true;
            return received.frameNumber != lastMarks.frameNumber;
        }
    }
    if (byData.size() != (lastRead ? last.size() : stamp->size))
        return true;
    // The unchanged file holds the sampled bytes: one that differs decides without a read.
    if (!lastRead && mLastPicInfo->sampledSize == byData.size() && TakeSample(byData) != mLastPicInfo->sample)
        return true;
    if (!lastRead && !fs.readFile(mCamLastPic, last))
        return true;
    return byData != last;
}

void CamObject::RememberLastPic(const QByteArray &byData)
{
    const std::optional<FileStamp> stamp = mState.platform.fileSystem->fileStamp(mCamLastPic);
    if (stamp && stamp->size == byData.size())
        mLastPicInfo = LastPicInfo{mCamLastPic, *stamp, ScanMarks(byData), byData.size(), TakeSample(byData)};
    else
        mLastPicInfo.reset();
}
