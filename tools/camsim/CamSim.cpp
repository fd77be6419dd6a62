#include "CamSim.h"

#include "TlsFront.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QMap>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <sys/socket.h>

struct CamSim::Connection
{
    QTcpSocket *socket = nullptr;
    QTimer *timer = nullptr;
    Behaviour b;
    QByteArray request;
    bool answered = false;
    QByteArray response;
    QList<qsizetype> cuts;       // where each piece ends
    int piece = 0;
    qsizetype sent = 0;
    QByteArray frame;            // Endless: one part of the stream
};

CamSim::CamSim(QObject *parent)
    : QObject(parent)
{
    connect(&mServer, &QTcpServer::newConnection, this, &CamSim::onNewConnection);
}

CamSim::~CamSim()
{
    for (Connection *c : std::as_const(mOpen)) {
        c->timer->stop();
        c->socket->disconnect(this);
        c->socket->abort();
        delete c->socket;
        delete c;
    }
}

bool CamSim::listen(quint16 port)
{
    return mServer.listen(QHostAddress::LocalHost, port);
}

quint16 CamSim::port() const
{
    return mServer.serverPort();
}

QString CamSim::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(port()) + path;
}

bool CamSim::listenTls(quint16 port)
{
    mTls = std::make_unique<TlsFront>(this->port());
    return mTls->listen(port);
}

QString CamSim::tlsUrl(const QString &path) const
{
    return QStringLiteral("https://127.0.0.1:") + QString::number(mTls ? mTls->port() : 0) + path;
}

void CamSim::setBehaviour(const Behaviour &behaviour)
{
    mBehaviours = {behaviour};
}

void CamSim::setBehaviours(const QList<Behaviour> &behaviours)
{
    mBehaviours = behaviours.isEmpty() ? QList<Behaviour>{Behaviour()} : behaviours;
}

QByteArray CamSim::makeJpeg(int size, quint32 seed, bool thumbnail)
{
    return JpegMaker().make(size, seed, thumbnail);
}

QByteArray CamSim::chunkEncode(const QByteArray &body, const Behaviour &b, QList<qsizetype> *starts)
{
    QByteArray out;
    qsizetype at = 0;
    int k = 0;
    while (at < body.size()) {
        const int wanted = b.chunkSizes.isEmpty() ? 4096 : b.chunkSizes.at(std::min<qsizetype>(k, b.chunkSizes.size() - 1));
        const qsizetype n = std::min<qsizetype>(std::max(wanted, 1), body.size() - at);
        QByteArray size = QByteArray::number(qulonglong(n), 16);
        if (b.upperCaseHex)
            size = size.toUpper();
        if (starts)
            starts->append(out.size());
        out += size + b.chunkExtension + "\r\n" + body.mid(at, n) + "\r\n";
        at += n;
        ++k;
    }
    if (starts)
        starts->append(out.size());
    out += "0\r\n\r\n";
    return out;
}

void CamSim::onNewConnection()
{
    while (QTcpSocket *socket = mServer.nextPendingConnection()) {
        auto *c = new Connection;
        c->socket = socket;
        c->timer = new QTimer(socket);
        c->b = mBehaviours.at(std::min<qsizetype>(mConnections, mBehaviours.size() - 1));
        ++mConnections;
        mOpen.append(c);
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { onReadyRead(c); });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] { dropConnection(c); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, c](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                dropConnection(c);
        });
        onReadyRead(c);
    }
}

void CamSim::onReadyRead(Connection *c)
{
    if (c->answered) {
        c->socket->readAll();
        return;
    }
    c->request += c->socket->readAll();
    const qsizetype end = c->request.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    c->request.truncate(end + 4);
    c->answered = true;
    if (mRecordRequests)
        mRequests.append(c->request);
    emit requestReceived(int(mRequests.size()) - 1);
    answer(c);
}

void CamSim::answer(Connection *c)
{
    const Behaviour &b = c->b;
    if (!b.digestAlgorithm.isEmpty()) {
        if (!digestAccepts(c)) {
            const bool stale = mDigestOldNonces.contains(mLastDigestNonceSeen);
            c->response = unauthorized(b, stale);
            mLastResponse = c->response;
            mLastImage.clear();
            sendPieces(c);
            return;
        }
    } else if (!b.authUserInfo.isEmpty()) {
        const QByteArray wanted = "\r\nauthorization: basic " + b.authUserInfo.toBase64() + "\r\n";
        const QByteArray lower = c->request.toLower();
        const qsizetype at = lower.indexOf(wanted.toLower());
        // The credentials themselves are compared exactly.
        if (at < 0 || c->request.mid(at + 23, wanted.size() - 25) != b.authUserInfo.toBase64()) {
            c->response = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"camsim\""
                + QByteArray(b.charsetUtf8 ? ", charset=\"UTF-8\"" : "") + "\r\n"
                "Content-Type: text/html\r\nConnection: close\r\n\r\n"
                          "<html><body><h1>401 Unauthorized</h1></body></html>\r\n";
            mLastResponse = c->response;
            mLastImage.clear();
            sendPieces(c);
            return;
        }
    }

    QByteArray image;
    auto fixedImage = [&] {
        if (mFixedImageSize != b.imageSize || mFixedThumbnail != b.thumbnail) {
            mFixedImage = mJpegs.make(b.imageSize, 1, b.thumbnail);
            mFixedImageSize = b.imageSize;
            mFixedThumbnail = b.thumbnail;
        }
        return mFixedImage;
    };
    const QByteArray jpegHeaders = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n";

    switch (b.mode) {
    case Mode::Silent:
        return;
    case Mode::Raw:
        c->response = b.raw;
        break;
    case Mode::Redirect:
        c->response = "HTTP/1.1 " + QByteArray::number(b.redirectStatus) + " Moved\r\nLocation: " + b.redirectTo
            + "\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n<html><body>Moved</body></html>\r\n";
        break;
    case Mode::ErrorPage:
        c->response = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
                      "<html><head><title>404</title></head><body>Not Found</body></html>\r\n";
        break;
    case Mode::HeadersOnly:
        c->response = jpegHeaders + b.extraHeaders + "\r\n";
        break;
    case Mode::Chunked: {
        image = fixedImage();
        c->response = jpegHeaders + "Transfer-Encoding: " + b.transferEncoding + "\r\n" + b.extraHeaders + "\r\n";
        QList<qsizetype> starts;
        const qsizetype head = c->response.size();
        c->response += chunkEncode(image + b.afterImage, b, &starts);
        if (b.splitAtChunks) {
            for (qsizetype start : std::as_const(starts))
                c->b.splitPoints.append(head + start);
            std::sort(c->b.splitPoints.begin(), c->b.splitPoints.end());
        }
        break;
    }
    case Mode::Endless:
    case Mode::EndlessHeaders: {
        if (b.mode == Mode::Endless) {
            c->frame = "--frame\r\nContent-Type: image/jpeg\r\n\r\n" + fixedImage() + "\r\n";
            c->socket->write("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n");
        } else {
            c->frame = "X-Filler: " + QByteArray(1000, 'h') + "\r\n";
            c->socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n");
        }
        connect(c->socket, &QTcpSocket::bytesWritten, this, [this, c] { feedEndless(c); });
        feedEndless(c);
        ++mAnswered;
        return;
    }
    case Mode::NewJpeg:
        image = mJpegs.make(b.imageSize, ++mSeed, b.thumbnail);
        c->response = jpegHeaders + "Content-Length: " + QByteArray::number(image.size() + b.afterImage.size())
            + "\r\n" + b.extraHeaders + "\r\n" + image + b.afterImage;
        break;
    case Mode::FixedJpeg:
    case Mode::Trickle:
        image = fixedImage();
        c->response = jpegHeaders + "Content-Length: " + QByteArray::number(image.size() + b.afterImage.size())
            + "\r\n" + b.extraHeaders + "\r\n" + image + b.afterImage;
        break;
    }
    mLastResponse = c->response;
    mLastImage = image;
    if (b.resetAfter >= 0 && b.resetAfter < c->response.size())
        c->response.truncate(b.resetAfter);

    if (b.mode == Mode::Trickle) {
        connect(c->timer, &QTimer::timeout, this, [this, c] { sendNextTrickleByte(c); });
        c->timer->start(b.trickleMs);
        return;
    }
    sendPieces(c);
}

void CamSim::sendPieces(Connection *c)
{
    c->cuts.clear();
    for (qsizetype p : std::as_const(c->b.splitPoints))
        if (p > 0 && p < c->response.size() && (c->cuts.isEmpty() || p > c->cuts.last()))
            c->cuts.append(p);
    c->cuts.append(c->response.size());
    c->piece = 0;
    c->sent = 0;
    c->timer->setSingleShot(true);
    connect(c->timer, &QTimer::timeout, this, [this, c] {
        const qsizetype end = c->cuts.at(c->piece++);
        c->socket->write(c->response.constData() + c->sent, end - c->sent);
        c->socket->flush();
        c->sent = end;
        if (c->piece < c->cuts.size())
            c->timer->start(c->b.splitDelayMs);
        else
            finishConnection(c);
    });
    c->timer->start(0);
}

void CamSim::sendNextTrickleByte(Connection *c)
{
    if (c->sent >= c->response.size()) {
        c->timer->stop();
        finishConnection(c);
        return;
    }
    c->socket->write(c->response.constData() + c->sent, 1);
    c->socket->flush();
    ++c->sent;
}

void CamSim::feedEndless(Connection *c)
{
    while (c->socket->state() == QAbstractSocket::ConnectedState && c->socket->bytesToWrite() < 1024 * 1024)
        c->socket->write(c->frame);
}

void CamSim::finishConnection(Connection *c)
{
    ++mAnswered;
    if (c->b.resetAfter < 0) {
        c->socket->disconnectFromHost();
        return;
    }
    if (c->socket->bytesToWrite() == 0) {
        resetConnection(c);
        return;
    }
    connect(c->socket, &QTcpSocket::bytesWritten, this, [this, c] {
        if (c->socket->bytesToWrite() == 0)
            resetConnection(c);
    });
}

// Linger 0 makes the close send RST instead of FIN.
void CamSim::resetConnection(Connection *c)
{
    const struct linger hard{1, 0};
    ::setsockopt(int(c->socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    c->socket->abort();
    dropConnection(c);
}

void CamSim::dropConnection(Connection *c)
{
    if (!mOpen.removeOne(c))
        return;
    c->timer->stop();
    c->socket->disconnect(this);
    c->socket->deleteLater();
    delete c;
}

namespace {

// The parameters of an "Authorization: Digest" line, names in lower case; empty without one.
QMap<QByteArray, QByteArray> digestParams(const QByteArray &request)
{
    QMap<QByteArray, QByteArray> params;
    for (const QByteArray &line : request.split('\n')) {
        const QByteArray l = line.trimmed();
        if (!l.toLower().startsWith("authorization: digest "))
            continue;
        const QByteArray rest = l.mid(22);
        qsizetype i = 0;
        while (i < rest.size()) {
            while (i < rest.size() && (rest[i] == ' ' || rest[i] == ','))
                ++i;
            const qsizetype eq = rest.indexOf('=', i);
            if (eq < 0)
                break;
            const QByteArray name = rest.mid(i, eq - i).trimmed().toLower();
            QByteArray value;
            i = eq + 1;
            if (i < rest.size() && rest[i] == '"') {
                for (++i; i < rest.size() && rest[i] != '"'; ++i) {
                    if (rest[i] == '\\')
                        ++i;
                    if (i < rest.size())
                        value += rest[i];
                }
                ++i;
            } else {
                while (i < rest.size() && rest[i] != ',')
                    value += rest[i++];
                value = value.trimmed();
            }
            params.insert(name, value);
        }
    }
    return params;
}

} // namespace

bool CamSim::digestAccepts(const Connection *c)
{
    const Behaviour &b = c->b;
    if (mDigestNonce.isEmpty())
        mDigestNonce = "camsim-nonce-" + QByteArray::number(++mDigestNonces);
    if (b.digestAlsoBasic && c->request.contains("\r\nAuthorization: Basic " + b.authUserInfo.toBase64() + "\r\n"))
        return true;
    const QMap<QByteArray, QByteArray> p = digestParams(c->request);
    mLastDigestNonceSeen = p.value("nonce");
    const QByteArray algorithm = b.digestAlgorithm.toUpper();
    const bool sha = algorithm.startsWith("SHA-256");
    if (p.isEmpty() || (!sha && !algorithm.startsWith("MD5")) || p.value("algorithm").toUpper() != algorithm)
        return false;
    const qsizetype colon = b.authUserInfo.indexOf(':');
    const QByteArray user = b.authUserInfo.left(colon), password = b.authUserInfo.mid(colon + 1);
    const QByteArray target = c->request.split(' ').value(1);
    bool ncOk = false;
    const quint32 nc = p.value("nc").toUInt(&ncOk, 16);
    const bool qop = !b.digestQop.isEmpty();
    if (p.value("username") != user || p.value("realm") != "camsim" || p.value("uri") != target
        || p.value("opaque") != "camsim-opaque" || p.value("nonce") != mDigestNonce
        || (qop && (p.value("qop") != "auth" || !ncOk || nc <= mDigestLastNc || p.value("cnonce").isEmpty())))
        return false;

    const auto hash = [sha](const QByteArray &text) {
        return QCryptographicHash::hash(text, sha ? QCryptographicHash::Sha256 : QCryptographicHash::Md5).toHex();
    };
    QByteArray ha1 = hash(user + ":camsim:" + password);
    if (algorithm.endsWith("-SESS"))
        ha1 = hash(ha1 + ':' + mDigestNonce + ':' + p.value("cnonce"));
    const QByteArray ha2 = hash("GET:" + target);
    const QByteArray expected = qop
        ? hash(ha1 + ':' + mDigestNonce + ':' + p.value("nc") + ':' + p.value("cnonce") + ":auth:" + ha2)
        : hash(ha1 + ':' + mDigestNonce + ':' + ha2);
    if (p.value("response") != expected)
        return false;

    mDigestLastNc = qop ? nc : 0;
    if (b.digestNonceUses > 0 && ++mDigestUses >= b.digestNonceUses) {
        mDigestOldNonces.append(mDigestNonce);
        mDigestNonce = "camsim-nonce-" + QByteArray::number(++mDigestNonces);
        mDigestUses = 0;
        mDigestLastNc = 0;
    }
    return true;
}

QByteArray CamSim::unauthorized(const Behaviour &b, bool stale)
{
    // As the servers we tried: every 401 brings a fresh nonce.
    mDigestNonce = "camsim-nonce-" + QByteArray::number(++mDigestNonces);
    mDigestUses = 0;
    mDigestLastNc = 0;
    const QByteArray charset = b.charsetUtf8 ? ", charset=\"UTF-8\"" : "";
    QByteArray r = "HTTP/1.1 401 Unauthorized\r\n";
    if (b.digestAlsoBasic)
        r += "WWW-Authenticate: Basic realm=\"camsim\"" + charset + "\r\n";
    r += "WWW-Authenticate: Digest realm=\"camsim\"" + charset + ", ";
    if (!b.digestQop.isEmpty())
        r += "qop=\"" + b.digestQop + "\", ";
    r += "algorithm=" + b.digestAlgorithm + ", nonce=\"" + mDigestNonce + "\", opaque=\"camsim-opaque\"";
    if (stale)
        r += ", stale=true";
    return r + "\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n<html><body><h1>401 Unauthorized</h1><p>"
        + mDigestNonce + "</p></body></html>\r\n";
}
