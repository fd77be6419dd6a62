#include "platform/TlsSocket.h"

#include <QCryptographicHash>
#include <QHostAddress>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>

namespace {

// One SSL_read call takes at most this much; the plain text is handed on in pieces of this size.
constexpr qsizetype ReadPiece = 256 * 1024;
// A TLS record's plaintext at most, with room for what a peer may pad.
constexpr qsizetype MaxRecordBytes = 16 * 1024 + 2048;

// New sessions reach the camera's memory here; with TLS 1.3 they come after the handshake.
int keepSession(SSL *ssl, SSL_SESSION *session)
{
    auto *peer = static_cast<TlsPeer *>(SSL_get_app_data(ssl));
    if (!peer)
        return 0;
    peer->session = std::shared_ptr<SSL_SESSION>(session, SSL_SESSION_free);
    return 1;   // the reference is ours now
}

QString opensslReason()
{
    const unsigned long e = ERR_peek_last_error();
    const char *reason = e ? ERR_reason_error_string(e) : nullptr;
    ERR_clear_error();
    return reason ? QString::fromLatin1(reason) : QString();
}

} // namespace

TlsContext::TlsContext(const QString &caFile, bool resume)
    : mResume(resume)
{
    mCtx = SSL_CTX_new(TLS_client_method());
    if (!mCtx)
        return;
    SSL_CTX_set_min_proto_version(mCtx, TLS1_2_VERSION);
    // The chain is still checked; acceptCertificate judges the result, so that a
    // self-signed camera can be pinned instead of refused.
    SSL_CTX_set_verify(mCtx, SSL_VERIFY_NONE, nullptr);
    if (caFile.isEmpty())
        SSL_CTX_set_default_verify_paths(mCtx);
    else
        SSL_CTX_load_verify_locations(mCtx, caFile.toLocal8Bit().constData(), nullptr);
    // Sessions are kept per camera, not in a cache shared by all.
    SSL_CTX_set_session_cache_mode(mCtx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(mCtx, keepSession);
    // 255 cameras with a connection each: no buffers held while a connection waits.
    SSL_CTX_set_mode(mCtx, SSL_MODE_RELEASE_BUFFERS);

    mInputMethod = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "received bytes");
    if (mInputMethod) {
        BIO_meth_set_read(mInputMethod, &TlsSocket::readInput);
        BIO_meth_set_ctrl(mInputMethod, &TlsSocket::controlInput);
        BIO_meth_set_create(mInputMethod, [](BIO *bio) {
            BIO_set_init(bio, 1);
            return 1;
        });
    }
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(mCtx);
    BIO_meth_free(mInputMethod);
}

int TlsSocket::readInput(BIO *bio, char *out, int size)
{
    auto *self = static_cast<TlsSocket *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const qsizetype left = self ? self->mNetInBytes.size() - self->mNetInRead : 0;
    if (left <= 0 || size <= 0) {
        BIO_set_retry_read(bio);   // more to come
        return -1;
    }
    const int n = int(std::min<qsizetype>(left, size));
    std::memcpy(out, self->mNetInBytes.constData() + self->mNetInRead, size_t(n));
    self->mNetInRead += n;
    return n;
}

long TlsSocket::controlInput(BIO *bio, int cmd, long, void *)
{
    auto *self = static_cast<TlsSocket *>(BIO_get_data(bio));
    switch (cmd) {
    case BIO_CTRL_PENDING:
        return self ? long(self->mNetInBytes.size() - self->mNetInRead) : 0;
    case BIO_CTRL_FLUSH:
        return 1;
    default:
        return 0;
    }
}

std::shared_ptr<TlsContext> SocketFactory::tlsContext()
{
    if (!mTlsContext)
        mTlsContext = std::make_shared<TlsContext>();
    return mTlsContext;
}

QString CertificateFingerprint(const QByteArray &der)
{
    const QByteArray hex = QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper();
    return QString::fromLatin1(hex);
}

TlsSocket::TlsSocket(std::unique_ptr<TcpSocket> inner, std::shared_ptr<TlsContext> context)
    : mInner(std::move(inner)), mContext(std::move(context)), mPeer(std::make_shared<TlsPeer>())
{
    Handlers h;
    h.connected = [this] { onInnerConnected(); };
    h.sendComplete = [this] { onInnerSendComplete(); };
    h.dataArrival = [this](qint64 bytesTotal) { onInnerData(bytesTotal); };
    h.closed = [this] { onInnerClosed(); };
    h.error = [this](int number) { onInnerError(number); };
    mInner->setHandlers(std::move(h));
}

TlsSocket::~TlsSocket()
{
    *mAlive = false;
    releaseSsl();
    mInner.reset();
}

void TlsSocket::setPeer(std::shared_ptr<TlsPeer> peer)
{
    mPeer = peer ? std::move(peer) : std::make_shared<TlsPeer>();
}

void TlsSocket::setHandlers(Handlers handlers)
{
    mHandlers = std::move(handlers);
}

bool TlsSocket::setRemotePort(int port)
{
    if (!mInner->setRemotePort(port))
        return false;
    mPort = port;
    return true;
}

bool TlsSocket::connectToHost(const QString &host)
{
    if (state() != Closed || !mContext || !mContext->handle())
        return false;
    if (!mInner->connectToHost(host))
        return false;
    mHost = host;
    mFailure.clear();
    mPhase = Phase::Connecting;
    return true;
}

int TlsSocket::state() const
{
    switch (mPhase) {
    case Phase::Idle:
        return Closed;
    case Phase::Connecting:
    case Phase::Handshaking: {
        // The handshake is part of connecting.
        const int inner = mInner->state();
        return inner == Connected ? Connecting : inner;
    }
    case Phase::Established:
    case Phase::Ended:
        return mOwnState;
    }
    return Closed;
}

void TlsSocket::onInnerConnected()
{
    if (mPhase != Phase::Connecting)
        return;
    releaseSsl();
    mSsl = SSL_new(mContext->handle());
    mNetIn = mContext->inputMethod() ? BIO_new(mContext->inputMethod()) : nullptr;
    mNetOut = BIO_new(BIO_s_mem());
    if (!mSsl || !mNetIn || !mNetOut) {
        BIO_free(mNetIn);
        BIO_free(mNetOut);
        mNetIn = mNetOut = nullptr;
        fail(10055, QStringLiteral("TLS: zu wenig Speicher"));
        return;
    }
    BIO_set_data(mNetIn, this);
    mNetInBytes.clear();
    mNetInRead = 0;
    SSL_set_bio(mSsl, mNetIn, mNetOut);
    SSL_set_app_data(mSsl, mPeer.get());
    SSL_set_connect_state(mSsl);

    const QByteArray name = mHost.toUtf8();
    if (QHostAddress(mHost).isNull()) {
        SSL_set_tlsext_host_name(mSsl, name.constData());
        SSL_set1_host(mSsl, name.constData());
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(mSsl), name.constData());
    }
    const QString sessionFor = mHost + QLatin1Char(':') + QString::number(mPort);
    if (mPeer->session && mPeer->sessionFor == sessionFor && mContext->resumes())
        SSL_set_session(mSsl, mPeer->session.get());
    else
        mPeer->session.reset();
    mPeer->sessionFor = sessionFor;

    mPhase = Phase::Handshaking;
    advance();
}

void TlsSocket::onInnerSendComplete()
{
    if (mPhase == Phase::Established && mSendPending) {
        mSendPending = false;
        emitEvent(mHandlers.sendComplete);
    }
}

void TlsSocket::onInnerData(qint64 bytesTotal)
{
    QByteArray raw;
    if (!mInner->getData(raw, bytesTotal)) {
        fail(TlsStreamBroken, QStringLiteral("TLS: Lesefehler"));
        return;
    }
    if (!mSsl || mPhase == Phase::Ended)
        return;
    // A partial record from before goes in front of the new bytes.
    if (mNetInRead >= mNetInBytes.size())
        mNetInBytes = std::move(raw);
    else
        mNetInBytes = mNetInBytes.sliced(mNetInRead) + raw;
    mNetInRead = 0;
    const std::weak_ptr<bool> alive = mAlive;
    advance();
    if (!alive.expired() && mNetInRead >= mNetInBytes.size()) {
        mNetInBytes = QByteArray();
        mNetInRead = 0;
    }
}

// Runs the handshake on, then hands out what can be decrypted.
void TlsSocket::advance()
{
    const std::weak_ptr<bool> alive = mAlive;
    const quint64 generation = mGeneration;
    if (mPhase == Phase::Handshaking) {
        ERR_clear_error();
        const int rc = SSL_do_handshake(mSsl);
        if (!flushToInner())
            return;
        if (rc != 1) {
            const int e = SSL_get_error(mSsl, rc);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
                return;
            const QString reason = opensslReason();
            fail(TlsHandshakeFailed, QStringLiteral("TLS-Verbindung kam nicht zustande")
                     + (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + QLatin1Char(')')));
            return;
        }
        if (SSL_session_reused(mSsl))
            ++mPeer->resumed;
        if (!acceptCertificate())
            return;
        mPhase = Phase::Established;
        mOwnState = Connected;
        if (!emitEvent(mHandlers.connected))
            return;
    }
    if (mPhase != Phase::Established)
        return;

    bool peerEnded = false;
    bool broken = false;
    const qsizetype before = mPlain.size();
    // The plaintext is never longer than the ciphertext it comes from: what waits here plus
    // one record inside the TLS library. The buffer travels on as the response.
    const qsizetype piece = std::min<qsizetype>(ReadPiece, mNetInBytes.size() - mNetInRead + MaxRecordBytes);
    if (mPlain.capacity() < before + piece)
        mPlain.reserve(before + piece);
    while (mPlain.size() - before < piece) {
        const qsizetype at = mPlain.size();
        const qsizetype want = piece - (at - before);
        mPlain.resize(at + want);
        ERR_clear_error();
        const int n = SSL_read(mSsl, mPlain.data() + at, int(want));
        if (n > 0) {
            mPlain.resize(at + n);
            continue;
        }
        mPlain.resize(at);
        const int e = SSL_get_error(mSsl, n);
        if (e == SSL_ERROR_ZERO_RETURN)
            peerEnded = true;
        else if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
            broken = true;
        break;
    }
    // A key update or ticket may want an answer.
    if (!flushToInner())
        return;
    if (mPlain.size() > before) {
        if (mHandlers.dataArrival)
            mHandlers.dataArrival(mPlain.size());
        if (alive.expired() || generation != mGeneration)
            return;
    }
    if (broken) {
        const QString reason = opensslReason();
        fail(TlsStreamBroken, QStringLiteral("TLS-Verbindung während der Übertragung abgebrochen")
                 + (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + QLatin1Char(')')));
    } else if (peerEnded) {
        mPhase = Phase::Ended;
        mOwnState = Closing;
        emitEvent(mHandlers.closed);
    } else if (mPlain.size() - before >= piece) {
        advance();   // more may be waiting in the input already
    }
}

// A certificate that verifies against the trusted store and the host name is accepted;
// any other only when it is the one pinned, or pinned now when there is none.
bool TlsSocket::acceptCertificate()
{
    X509 *cert = SSL_get0_peer_certificate(mSsl);
    if (!cert) {
        fail(TlsHandshakeFailed, QStringLiteral("Die Gegenstelle zeigt kein Zertifikat"));
        return false;
    }
    unsigned char *der = nullptr;
    const int length = i2d_X509(cert, &der);
    if (length <= 0) {
        fail(TlsHandshakeFailed, QStringLiteral("Das Zertifikat ist nicht lesbar"));
        return false;
    }
    const QString fingerprint = CertificateFingerprint(QByteArray(reinterpret_cast<const char *>(der), length));
    OPENSSL_free(der);

    if (SSL_get_verify_result(mSsl) == X509_V_OK)
        return true;
    if (mPeer->pinned.isEmpty()) {
        mPeer->pinned = fingerprint;
        mPeer->findings.pinnedNow = fingerprint;
        return true;
    }
    if (mPeer->pinned.compare(fingerprint, Qt::CaseInsensitive) == 0)
        return true;
    mPeer->findings.refused = fingerprint;
    // The session came from the pinned certificate; a new handshake must show it again.
    mPeer->session.reset();
    fail(TlsCertificateRefused, QStringLiteral("Zertifikat hat sich geändert"));
    return false;
}

// Moves what TLS wrote to the inner socket; false when that failed (already reported).
bool TlsSocket::flushToInner()
{
    const size_t pending = BIO_ctrl_pending(mNetOut);
    if (pending == 0)
        return true;
    QByteArray out(qsizetype(pending), Qt::Uninitialized);
    const int n = BIO_read(mNetOut, out.data(), int(out.size()));
    out.resize(n > 0 ? n : 0);
    if (!mInner->send(out)) {
        fail(10054, QString());
        return false;
    }
    return true;
}

bool TlsSocket::send(const QByteArray &data)
{
    if (mPhase != Phase::Established || mOwnState != Connected)
        return false;
    ERR_clear_error();
    if (!data.isEmpty() && SSL_write(mSsl, data.constData(), int(data.size())) <= 0)
        return false;
    mSendPending = true;
    return flushToInner();
}

bool TlsSocket::getData(QByteArray &data, qint64 maxBytes)
{
    return TakeReceived(mPlain, data, maxBytes);
}

void TlsSocket::onInnerClosed()
{
    if (mPhase == Phase::Connecting || mPhase == Phase::Handshaking) {
        fail(TlsHandshakeFailed, QStringLiteral("Verbindung während des TLS-Aufbaus geschlossen"));
        return;
    }
    if (mPhase != Phase::Established)
        return;
    // Without close_notify: the end of the answer all the same.
    mPhase = Phase::Ended;
    mOwnState = Closing;
    emitEvent(mHandlers.closed);
}

void TlsSocket::onInnerError(int number)
{
    if (mPhase == Phase::Handshaking)
        mFailure = QStringLiteral("Verbindung während des TLS-Aufbaus abgebrochen");
    releaseSsl();
    mPhase = Phase::Ended;
    mOwnState = Error;
    if (mHandlers.error)
        emitEvent([handler = mHandlers.error, number] { handler(number); });
}

void TlsSocket::fail(int number, const QString &why)
{
    if (!why.isEmpty()) {
        mFailure = why;
        mPeer->findings.failure = why;
    }
    const bool wasOpen = mPhase != Phase::Idle;
    releaseSsl();
    mInner->close();
    mPhase = Phase::Ended;
    mOwnState = Error;
    if (wasOpen && mHandlers.error)
        emitEvent([handler = mHandlers.error, number] { handler(number); });
}

void TlsSocket::close()
{
    ++mGeneration;
    // The connection ends without close_notify, but the session stays resumable.
    if (mSsl && mPhase == Phase::Ended && mOwnState == Closing)
        SSL_set_shutdown(mSsl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    releaseSsl();
    mInner->close();
    mPlain.clear();
    mSendPending = false;
    mPhase = Phase::Idle;
    mOwnState = Closed;
}

void TlsSocket::releaseSsl()
{
    if (mSsl) {
        SSL_set_app_data(mSsl, nullptr);
        SSL_free(mSsl);   // frees both memory BIOs
    }
    mSsl = nullptr;
    mNetIn = mNetOut = nullptr;
    mNetInBytes = QByteArray();
    mNetInRead = 0;
}

// Takes its own copy: the handler may replace the handlers or destroy this socket.
bool TlsSocket::emitEvent(const std::function<void()> &call)
{
    if (!call)
        return true;
    const std::function<void()> own = call;
    const std::weak_ptr<bool> alive = mAlive;
    const quint64 generation = mGeneration;
    own();
    return !alive.expired() && generation == mGeneration;
}
