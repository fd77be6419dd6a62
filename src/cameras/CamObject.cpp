#include "cameras/CamObject.h"

#include "state/AppState.h"
#include "platform/FileSystem.h"
#include "util/Utils.h"

#include <cstring>

CamObject::CamObject(AppState &state)
    : mState(state)
{
}

CamObject::ImageMarks CamObject::ScanMarks(const QByteArray &data)
{
    // Both texts have their "=" as fourth character: one search for "=" finds both.
    ImageMarks marks;
    const char *begin = data.constData();
    const char *end = begin + data.size();
    const char *frame = nullptr;   // first character after the first "FRM="
    for (const char *p = begin + 3; p < end; ++p) {
        p = static_cast<const char *>(std::memchr(p, '=', size_t(end - p)));
        if (!p)
            break;
        if (!frame && std::memcmp(p - 3, "FRM", 3) == 0)
            frame = p + 1;
        else if (!marks.marker && std::memcmp(p - 3, "PRD", 3) == 0 && end - p >= 8
                 && std::memcmp(p + 1, "MOBOTIX", 7) == 0)
            marks.marker = true;
        if (marks.marker && frame)
            break;
    }
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

bool CamObject::IsNewImage(const QByteArray &byData, std::optional<ImageMarks> *scanned) const
{
    if (scanned)
        scanned->reset();
    if (mCamLastPic.isEmpty())
        return true;
    FileSystem &fs = *mState.platform.fileSystem;
    const std::optional<FileStamp> stamp = fs.fileStamp(mCamLastPic);

    QByteArray last;
    bool lastRead = false;
    std::optional<ImageMarks> lastMarks;
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

    // Frame numbers decide only when both images carry the marker, so the received image is
    // not scanned when the last one is known to lack it.
    if (!lastMarks || lastMarks->marker) {
        const ImageMarks received = ScanMarks(byData);
        if (scanned)
            *scanned = received;
        if (received.marker && !lastMarks) {
            // Not scanned when it was saved: its marks come from the unchanged file.
            if (!fs.readFile(mCamLastPic, last))
                return true;
            lastRead = true;
            lastMarks = ScanMarks(last);
            mLastPicInfo->marks = lastMarks;
        }
        if (received.marker && lastMarks->marker) {
            if (!received.frame || !lastMarks->frame)
                return true;
            return received.frameNumber != lastMarks->frameNumber;
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

void CamObject::RememberLastPic(const QByteArray &byData, const std::optional<ImageMarks> &marks)
{
    const std::optional<FileStamp> stamp = mState.platform.fileSystem->fileStamp(mCamLastPic);
    if (stamp && stamp->size == byData.size())
        mLastPicInfo = LastPicInfo{mCamLastPic, *stamp, marks, byData.size(), TakeSample(byData)};
    else
        mLastPicInfo.reset();
}
