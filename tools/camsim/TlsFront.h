#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <memory>

struct ssl_ctx_st;
struct evp_pkey_st;
struct x509_st;

// TLS in front of a plain simulator on 127.0.0.1: every TLS connection is passed on to
// the simulator's port as a plain one, answers come back encrypted. It makes its own
// certificates (P-256): self-signed, or signed by a certificate authority of its own
// whose certificate a test may trust, valid or expired, for 127.0.0.1 or another name.
// It counts full and resumed handshakes.
class TlsFront : public QObject
{
    Q_OBJECT
public:
    struct Certificate
    {
        QString host = QStringLiteral("127.0.0.1");   // the name the certificate is for
        bool bySimCa = false;                          // signed by the front's authority
        bool expired = false;
    };

    explicit TlsFront(quint16 backendPort, QObject *parent = nullptr);
    ~TlsFront() override;

    bool listen(quint16 port = 0);
    quint16 port() const { return mServer.serverPort(); }

    // Shown by the next handshakes; sessions of the earlier one no longer resume.
    bool useCertificate(const Certificate &certificate);
    QByteArray certificateDer() const;
    // The authority's certificate as PEM, for a client that is to trust it.
    QByteArray caPem() const;

    // The end of an answer: with close_notify before the TCP close, or a bare close.
    void setCloseNotify(bool on) { mCloseNotify = on; }
    // >= 0: after this many answer bytes an alert record in plain text, then the close.
    void setAlertAfter(qint64 bytes) { mAlertAfter = bytes; }

    int fullHandshakes() const { return mFull; }
    int resumedHandshakes() const { return mResumed; }

private:
    struct Link;
    void onNewConnection();
    void fromClient(Link *l);
    void fromBackend(Link *l);
    void backendEnded(Link *l, bool reset);
    bool flush(Link *l);
    void drop(Link *l);

    QTcpServer mServer;
    quint16 mBackendPort;
    ssl_ctx_st *mCtx = nullptr;
    evp_pkey_st *mCaKey = nullptr;
    x509_st *mCaCert = nullptr;
    x509_st *mCert = nullptr;
    QList<Link *> mLinks;
    bool mCloseNotify = true;
    qint64 mAlertAfter = -1;
    int mFull = 0;
    int mResumed = 0;
    long mSerial = 1;
};
