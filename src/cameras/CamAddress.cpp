#include "cameras/CamAddress.h"

#include "cameras/CamObject.h"
#include "util/Utils.h"

namespace {

const QString TlsScheme = QStringLiteral("https:");

} // namespace

CamAddress SplitCamSocket(const QString &socket)
{
    if (socket.startsWith(TlsScheme + QStringLiteral("//"), Qt::CaseInsensitive))
        return {true, socket.mid(TlsScheme.size() + 2)};
    return {false, socket};
}

QString NormalizeCamSocket(const QString &text)
{
    const bool tls = text.startsWith(TlsScheme, Qt::CaseInsensitive);
    const QString rest = RemoveText(RemoveText(tls ? text.mid(TlsScheme.size()) : text, QStringLiteral("http:")),
                                    QStringLiteral("/"));
    return tls ? TlsScheme + QStringLiteral("//") + rest : rest;
}

QString PinnedCertificate(const CamObject &cam)
{
    return cam.mTlsPeer->pinned;
}

void ForgetCertificate(CamObject &cam)
{
    cam.mTlsPeer->forget();
}
