#include "TlsFront.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

struct TlsFront::Link
{
    QTcpSocket *down = nullptr;   // the client, encrypted
    QTcpSocket *up = nullptr;     // the simulator, plain
    SSL *ssl = nullptr;
    BIO *in = nullptr;
    BIO *out = nullptr;
    bool established = false;
    QByteArray toBackend;         // plain text before the simulator has accepted
    qint64 answered = 0;
    bool ended = false;
};

namespace {

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// A certificate for key, signed by signerKey as issuer (itself when issuer is null).
X509 *makeCert(EVP_PKEY *key, const QString &commonName, const QString &altName, X509 *issuer,
               EVP_PKEY *signerKey, bool ca, bool expired, long serial)
{
    X509 *cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    const long year = 365L * 24 * 3600;
    X509_gmtime_adj(X509_getm_notBefore(cert), expired ? -2 * year : -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), expired ? -year : 10 * year);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    const QByteArray cn = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(cn.constData()), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    bool ok = true;
    if (ca) {
        ok = addExtension(cert, issuer ? issuer : cert, NID_basic_constraints, "critical,CA:TRUE")
            && addExtension(cert, issuer ? issuer : cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        const QByteArray san = (QHostAddress(altName).isNull() ? "DNS:" : "IP:") + altName.toUtf8();
        ok = addExtension(cert, issuer ? issuer : cert, NID_subject_alt_name, san.constData());
    }
    if (!ok || X509_sign(cert, signerKey, EVP_sha256()) <= 0) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

} // namespace

TlsFront::TlsFront(quint16 backendPort, QObject *parent)
    : QObject(parent), mBackendPort(backendPort)
{
    connect(&mServer, &QTcpServer::newConnection, this, &TlsFront::onNewConnection);
    mCaKey = EVP_EC_gen("P-256");
    if (mCaKey)
        mCaCert = makeCert(mCaKey, QStringLiteral("Kamera-Zertifizierungsstelle"), QString(), nullptr, mCaKey, true, false, mSerial++);
    useCertificate(Certificate());
}

TlsFront::~TlsFront()
{
    for (Link *l : std::as_const(mLinks)) {
        l->down->disconnect(this);
        l->up->disconnect(this);
        SSL_free(l->ssl);
        delete l->down;
        delete l->up;
        delete l;
    }
    SSL_CTX_free(mCtx);
    X509_free(mCert);
    X509_free(mCaCert);
    EVP_PKEY_free(mCaKey);
}

bool TlsFront::listen(quint16 port)
{
    return mCtx && mServer.listen(QHostAddress::LocalHost, port);
}

bool TlsFront::useCertificate(const Certificate &certificate)
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    if (!key)
        return false;
    X509 *issuer = certificate.bySimCa ? mCaCert : nullptr;
    X509 *cert = makeCert(key, certificate.host, certificate.host, issuer, issuer ? mCaKey : key, false,
                          certificate.expired, mSerial++);
    // A new context has new ticket keys, so no session of the old certificate resumes.
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    const bool ok = cert && ctx && SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION)
        && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1
        && (!issuer || SSL_CTX_add1_chain_cert(ctx, issuer) == 1);
    EVP_PKEY_free(key);
    if (!ok) {
        X509_free(cert);
        SSL_CTX_free(ctx);
        return false;
    }
    SSL_CTX_free(mCtx);
    X509_free(mCert);
    mCtx = ctx;
    mCert = cert;
    return true;
}

QByteArray TlsFront::certificateDer() const
{
    unsigned char *der = nullptr;
    const int n = mCert ? i2d_X509(mCert, &der) : 0;
    QByteArray out = n > 0 ? QByteArray(reinterpret_cast<const char *>(der), n) : QByteArray();
    OPENSSL_free(der);
    return out;
}

QByteArray TlsFront::caPem() const
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, mCaCert);
    char *data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    QByteArray pem(data, int(n));
    BIO_free(bio);
    return pem;
}

void TlsFront::onNewConnection()
{
    while (QTcpSocket *down = mServer.nextPendingConnection()) {
        auto *l = new Link;
        l->down = down;
        l->down->setParent(nullptr);
        l->up = new QTcpSocket;
        l->ssl = SSL_new(mCtx);
        l->in = BIO_new(BIO_s_mem());
        l->out = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(l->in, -1);
        SSL_set_bio(l->ssl, l->in, l->out);
        SSL_set_accept_state(l->ssl);
        mLinks.append(l);
        connect(down, &QTcpSocket::readyRead, this, [this, l] { fromClient(l); });
        connect(down, &QTcpSocket::disconnected, this, [this, l] { drop(l); });
        connect(l->up, &QTcpSocket::connected, this, [l] {
            l->up->write(l->toBackend);
            l->toBackend.clear();
        });
        connect(l->up, &QTcpSocket::readyRead, this, [this, l] { fromBackend(l); });
        connect(l->up, &QTcpSocket::disconnected, this, [this, l] { backendEnded(l, false); });
        connect(l->up, &QTcpSocket::errorOccurred, this, [this, l](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                backendEnded(l, true);
        });
        l->up->connectToHost(QHostAddress::LocalHost, mBackendPort);
        fromClient(l);
    }
}

void TlsFront::fromClient(Link *l)
{
    const QByteArray raw = l->down->readAll();
    if (l->ended)
        return;
    BIO_write(l->in, raw.constData(), int(raw.size()));
    if (!l->established) {
        const int rc = SSL_do_handshake(l->ssl);
        flush(l);
        if (rc != 1) {
            const int e = SSL_get_error(l->ssl, rc);
            if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
                ERR_clear_error();
                // Like most servers: a handshake_failure alert, also when OpenSSL sent none.
                if (l->down->bytesToWrite() == 0)
                    l->down->write("\x15\x03\x01\x00\x02\x02\x28", 7);
                l->ended = true;
                l->down->disconnectFromHost();
            }
            return;
        }
        l->established = true;
        ++(SSL_session_reused(l->ssl) ? mResumed : mFull);
    }
    char buffer[16384];
    int n;
    while ((n = SSL_read(l->ssl, buffer, sizeof buffer)) > 0) {
        if (l->up->state() == QAbstractSocket::ConnectedState)
            l->up->write(buffer, n);
        else
            l->toBackend.append(buffer, n);
    }
    ERR_clear_error();
    flush(l);
}

void TlsFront::fromBackend(Link *l)
{
    QByteArray plain = l->up->readAll();
    if (l->ended || !l->established)
        return;
    if (mAlertAfter >= 0 && l->answered + plain.size() > mAlertAfter) {
        plain.truncate(mAlertAfter - l->answered);
        SSL_write(l->ssl, plain.constData(), int(plain.size()));
        flush(l);
        // A fatal alert the client cannot decrypt: what a broken stream looks like.
        l->down->write("\x15\x03\x03\x00\x02\x02\x50", 7);
        l->ended = true;
        l->down->disconnectFromHost();
        return;
    }
    l->answered += plain.size();
    if (!plain.isEmpty())
        SSL_write(l->ssl, plain.constData(), int(plain.size()));
    flush(l);
}

void TlsFront::backendEnded(Link *l, bool reset)
{
    if (l->ended)
        return;
    fromBackend(l);
    if (l->ended)
        return;
    l->ended = true;
    if (reset) {
        const struct linger hard{1, 0};
        ::setsockopt(int(l->down->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        l->down->abort();
        return;
    }
    if (mCloseNotify && l->established) {
        SSL_shutdown(l->ssl);
        flush(l);
    }
    l->down->disconnectFromHost();
}

bool TlsFront::flush(Link *l)
{
    char buffer[16384];
    int n;
    while ((n = BIO_read(l->out, buffer, sizeof buffer)) > 0)
        l->down->write(buffer, n);
    return true;
}

void TlsFront::drop(Link *l)
{
    if (!mLinks.removeOne(l))
        return;
    l->ended = true;
    l->down->disconnect(this);
    l->up->disconnect(this);
    l->up->abort();
    l->down->deleteLater();
    l->up->deleteLater();
    // The link may be the one whose handling is running.
    QMetaObject::invokeMethod(this, [l] {
        SSL_free(l->ssl);
        delete l;
    }, Qt::QueuedConnection);
}
