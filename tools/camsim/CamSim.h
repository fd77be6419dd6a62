#pragma once

#include "JpegMaker.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <memory>

class TlsFront;

class QTcpSocket;

// A camera on 127.0.0.1 that answers every GET the way it is told: a JPEG (fixed or new each
// time), chunked coding, an error page, headers only, a reset, silence, a trickle, an endless
// stream, an endless header block, or a 401 page unless Basic or Digest authentication
// matches. Its Digest side gives a fresh nonce with every 401 and keeps a nonce until it has
// been used digestNonceUses times, then calls it stale; it checks the response, the uri and
// that nc counts up. It records every request's bytes.
class CamSim : public QObject
{
    Q_OBJECT
public:
    enum class Mode {
        FixedJpeg,     // the same image every time
        NewJpeg,       // a different image of the same size every time
        Chunked,       // the image in chunked coding
        ErrorPage,     // 404 with an HTML page, no image
        HeadersOnly,   // status line and headers, then close
        Raw,           // exactly the bytes of `raw`, then close
        Silent,        // accept, read the request, never answer
        Trickle,       // the JPEG response one byte every trickleMs
        Endless,       // an MJPEG-like stream that never ends
        EndlessHeaders,// a status line, then header lines that never end
        Redirect       // redirectStatus with a Location of redirectTo
    };

    struct Behaviour
    {
        Mode mode = Mode::FixedJpeg;
        int imageSize = 200 * 1024;
        bool thumbnail = false;            // an embedded FF D8 ... FF D9 inside the image
        QByteArray afterImage;             // bytes after the image, e.g. "\r\n"
        QByteArray extraHeaders;           // header lines, each ended by CR LF
        QList<int> chunkSizes{4096};       // Chunked: in turn, the last one repeated
        QByteArray chunkExtension;         // Chunked: after the size, e.g. ";name=value"
        bool upperCaseHex = false;
        QByteArray transferEncoding = "chunked";
        QList<qsizetype> splitPoints;      // response offsets where a new write starts
        bool splitAtChunks = false;        // Chunked: every chunk in a write of its own
        int splitDelayMs = 20;             // pause between those writes
        qint64 resetAfter = -1;            // >= 0: RST after this many response bytes
        int trickleMs = 1000;
        QByteArray raw;
        QByteArray authUserInfo;           // non-empty: "user:password" required
        // Digest instead of Basic (user and password from authUserInfo, split at its first ":"):
        // non-empty: the challenge's algorithm, e.g. "MD5", "SHA-256-sess" or one nobody knows.
        QByteArray digestAlgorithm;
        QByteArray digestQop = "auth";     // the challenge's qop; empty: none (RFC 2069 style)
        bool digestAlsoBasic = false;      // Basic offered and accepted beside Digest
        int digestNonceUses = 0;           // > 0: a nonce goes stale after this many good answers
        bool charsetUtf8 = false;          // challenges say charset="UTF-8" (authUserInfo holds UTF-8 then)
        int redirectStatus = 302;
        QByteArray redirectTo;             // Redirect: the Location, e.g. tlsUrl()
    };

    explicit CamSim(QObject *parent = nullptr);
    ~CamSim() override;

    // 0 picks a free port.
    bool listen(quint16 port = 0);
    quint16 port() const;
    QString url(const QString &path = QStringLiteral("/image.jpg")) const;
    // TLS in front of this simulator, on a port of its own; the same answers, encrypted.
    bool listenTls(quint16 port = 0);
    TlsFront *tls() const { return mTls.get(); }
    QString tlsUrl(const QString &path = QStringLiteral("/image.jpg")) const;

    // For every connection, or the i-th for connection i with the last one repeated.
    void setBehaviour(const Behaviour &behaviour);
    void setBehaviours(const QList<Behaviour> &behaviours);
    void setRecordRequests(bool on) { mRecordRequests = on; }

    QList<QByteArray> requests() const { return mRequests; }
    int connectionCount() const { return mConnections; }
    int answeredCount() const { return mAnswered; }
    // The last full response sent (not for Endless) and the image in it.
    QByteArray lastResponse() const { return mLastResponse; }
    QByteArray lastImage() const { return mLastImage; }

    // A JPEG of exactly size bytes (at least 24) as the simulator serves it for seed; see
    // JpegMaker. Each call encodes its picture anew: for many, keep a JpegMaker.
    static QByteArray makeJpeg(int size, quint32 seed, bool thumbnail = false);
    static QByteArray chunkEncode(const QByteArray &body, const Behaviour &b, QList<qsizetype> *starts = nullptr);

signals:
    void requestReceived(int index);

private:
    struct Connection;
    void onNewConnection();
    void onReadyRead(Connection *c);
    void answer(Connection *c);
    void sendPieces(Connection *c);
    void sendNextTrickleByte(Connection *c);
    void feedEndless(Connection *c);
    void finishConnection(Connection *c);
    void resetConnection(Connection *c);
    void dropConnection(Connection *c);
    bool digestAccepts(const Connection *c);
    QByteArray unauthorized(const Behaviour &b, bool stale);

    QTcpServer mServer;
    std::unique_ptr<TlsFront> mTls;
    QList<Behaviour> mBehaviours{Behaviour()};
    QList<Connection *> mOpen;
    QList<QByteArray> mRequests;
    JpegMaker mJpegs;
    QByteArray mFixedImage;
    int mFixedImageSize = -1;
    bool mFixedThumbnail = false;
    QByteArray mLastResponse;
    QByteArray mLastImage;
    int mConnections = 0;
    int mAnswered = 0;
    quint32 mSeed = 1;
    bool mRecordRequests = true;
    QByteArray mDigestNonce;
    QByteArray mLastDigestNonceSeen;
    QList<QByteArray> mDigestOldNonces;
    int mDigestNonces = 0;
    int mDigestUses = 0;
    quint32 mDigestLastNc = 0;
};
