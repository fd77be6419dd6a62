#include "cameras/CamObject.h"

#include "app/AppState.h"
#include "platform/FileSystem.h"
#include "util/Utils.h"

namespace {

// The leading number after the first "FRM=", up to the next CR LF; false without "FRM=".
bool FrameNumber(const QByteArray &data, double &number)
{
    static const QByteArray frameTag = QByteArrayLiteral("FRM=");
    const qsizetype tag = data.indexOf(frameTag);
    if (tag < 0)
        return false;
    const qsizetype start = tag + frameTag.size();
    qsizetype end = data.indexOf("\r\n", start);
    if (end < 0)
        end = data.size();
    number = LeadingNumber(QString::fromLatin1(data.constData() + start, end - start));
    return true;
}

} // namespace

CamObject::CamObject(AppState &state)
    : mState(state)
{
}

bool CamObject::IsNewImage(const QByteArray &byData) const
{
    if (mCamLastPic.isEmpty())
        return true;
    FileSystem &fs = *mState.platform.fileSystem;
    if (!fs.fileExists(mCamLastPic))
        return true;
    QByteArray last;
    if (!fs.readFile(mCamLastPic, last))
        return true;

    static const QByteArray marker = QByteArrayLiteral("PRD=MOBOTIX");
    if (byData.contains(marker) && last.contains(marker)) {
        double received = 0;
        double saved = 0;
        if (!FrameNumber(byData, received) || !FrameNumber(last, saved))
            return true;
        return received != saved;
    }
    return byData != last;
}
