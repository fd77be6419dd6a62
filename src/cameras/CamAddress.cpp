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

QString EscapeUrlCredential(const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool escape = u < 0x21 || (u > 0x7E && u <= 0xFF) || u == u'%' || u == u'@' || u == u':'
            || u == u'/';
        if (!escape) {
            out += c;
            continue;
        }
        out += QLatin1Char('%');
        out += QLatin1Char(hex[u >> 4]);
        out += QLatin1Char(hex[u & 0xF]);
    }
    return out;
}

QString CameraUrl(const CamObject &cam)
{
    const CamAddress address = SplitCamSocket(cam.mCamSocket);
    QString url = address.tls ? QStringLiteral("https://") : QStringLiteral("http://");
    if (!cam.mCamPassword.isEmpty() && !cam.mCamUser.isEmpty()) {
        url += EscapeUrlCredential(cam.mCamUser) + QLatin1Char(':') + EscapeUrlCredential(cam.mCamPassword)
            + QLatin1Char('@');
    }
    return url + address.hostPort + cam.mCamImagePath;
}
