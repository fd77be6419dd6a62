#pragma once

#include "platform/TcpSocket.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <utility>

struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;
struct bio_st;
struct bio_method_st;

// Error numbers of the TLS layer, outside the Windows Sockets range like the other
// numbers the engine has no special meaning for.
constexpr int TlsHandshakeFailed = 30001;    // no TLS, no common version, an alert
constexpr int TlsCertificateRefused = 30002; // not the certificate pinned for this camera
constexpr int TlsStreamBroken = 30003;       // an alert or garbage after the handshake

// What a camera keeps of its TLS connections. A certificate that does not verify against
// the trusted store and the host name is pinned on first use; from then on only that one
// is accepted.
struct TlsPeer
{
    QString pinned;     // SHA-256 fingerprint as "AB:CD:...", empty: nothing pinned yet
    // What the connections since the last take() found, for the one report per transfer.
    struct Findings
    {
        QString pinnedNow;   // pinned by this transfer
        QString refused;     // presented instead of the pinned one
        QString failure;     // why the TLS connection failed, in German; empty: it did not
    } findings;
    // The session to resume, valid for sessionFor ("host:port") only.
    std::shared_ptr<ssl_session_st> session;
    QString sessionFor;
    int resumed = 0;    // connections that resumed a session; for tests and benchmarks

    Findings take() { return std::exchange(findings, Findings()); }
    // The next connection pins anew and needs a full handshake.
    void forget()
    {
        pinned.clear();
        session.reset();
        sessionFor.clear();
    }
};

// The client side shared by all connections: TLS 1.2 or newer, the trusted certificates.
class TlsContext
{
public:
    // caFile empty: the system's store. Without resume every connection has a full
    // handshake (for measuring what resumption saves).
    explicit TlsContext(const QString &caFile = QString(), bool resume = true);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;
    ssl_ctx_st *handle() const { return mCtx; }
    bool resumes() const { return mResume; }
    // Reads a connection's received bytes where they are (see TlsSocket::mNetInBytes).
    const bio_method_st *inputMethod() const { return mInputMethod; }

private:
    ssl_ctx_st *mCtx = nullptr;
    bio_method_st *mInputMethod = nullptr;
    bool mResume = true;
};

// "AB:CD:..." of a DER certificate's SHA-256.
QString CertificateFingerprint(const QByteArray &der);

// TLS over another TcpSocket, with the same states, handlers and error numbers. The
// handshake runs between the inner socket's connect and the connected event; until then
// the state is Connecting. The server's close ends the answer with or without its
// close_notify, since cameras often skip it; an alert or garbage afterwards is an error.
class TlsSocket final : public TcpSocket
{
public:
    TlsSocket(std::unique_ptr<TcpSocket> inner, std::shared_ptr<TlsContext> context);
    ~TlsSocket() override;

    // For the next connectToHost: the camera's memory and the name the certificate must carry.
    void setPeer(std::shared_ptr<TlsPeer> peer);

    void setHandlers(Handlers handlers) override;
    bool setRemotePort(int port) override;
    bool connectToHost(const QString &host) override;
    bool send(const QByteArray &data) override;
    bool getData(QByteArray &data, qint64 maxBytes) override;
    void close() override;
    int state() const override;

    // Why the last connection failed; empty after a success or a new connect.
    QString failure() const { return mFailure; }

private:
    friend class TlsContext;   // sets up the input methods below
    enum class Phase { Idle, Connecting, Handshaking, Established, Ended };

    static int readInput(bio_st *bio, char *out, int size);
    static long controlInput(bio_st *bio, int cmd, long num, void *ptr);
    void onInnerConnected();
    void onInnerSendComplete();
    void onInnerData(qint64 bytesTotal);
    void onInnerClosed();
    void onInnerError(int number);
    void advance();
    bool acceptCertificate();
    bool flushToInner();
    void releaseSsl();
    void fail(int number, const QString &why);
    bool emitEvent(const std::function<void()> &call);

    std::unique_ptr<TcpSocket> mInner;
    std::shared_ptr<TlsContext> mContext;
    std::shared_ptr<TlsPeer> mPeer;
    Handlers mHandlers;
    ssl_st *mSsl = nullptr;
    bio_st *mNetIn = nullptr;    // owned by mSsl
    bio_st *mNetOut = nullptr;
    // What arrived and was not decrypted yet. Read in place instead of copied into a memory
    // BIO, whose buffer would stay as large as the largest arrival until the connection ends:
    // with 255 answers in flight that is a quarter MiB each.
    QByteArray mNetInBytes;
    qsizetype mNetInRead = 0;
    Phase mPhase = Phase::Idle;
    int mOwnState = Closed;      // the state once the handshake is over
    int mPort = 0;
    QString mHost;
    QByteArray mPlain;
    bool mSendPending = false;
    QString mFailure;
    quint64 mGeneration = 0;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};
