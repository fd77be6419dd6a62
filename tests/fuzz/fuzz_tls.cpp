// The TLS layer with any bytes as the server's side, over a transport in memory.
#include "FuzzSupport.h"

#include "platform/TlsSocket.h"

namespace {

// Connects at once when told to and hands out what the test puts in.
class MemoryTransport final : public TcpSocket
{
public:
    Handlers handlers;
    QByteArray incoming;
    qsizetype sent = 0;
    int ownState = Closed;

    void setHandlers(Handlers h) override { handlers = std::move(h); }
    bool setRemotePort(int) override { return true; }
    bool connectToHost(const QString &) override
    {
        ownState = Connecting;
        return true;
    }
    bool send(const QByteArray &data) override
    {
        sent += data.size();
        return ownState == Connected;
    }
    bool getData(QByteArray &data, qint64 maxBytes) override
    {
        data = incoming.left(maxBytes);
        incoming.remove(0, data.size());
        return true;
    }
    void close() override { ownState = Closed; }
    int state() const override { return ownState; }
};

} // namespace

BILDFANG_FUZZ_TARGET(FuzzTls)
{
    // The trusted store is read once; every input gets a fresh connection and camera.
    static const std::shared_ptr<TlsContext> context = std::make_shared<TlsContext>();
    FuzzInput in(data, size);
    const int flags = in.byte();

    auto owned = std::make_unique<MemoryTransport>();
    MemoryTransport &net = *owned;
    TlsSocket tls(std::move(owned), context);
    int connected = 0, closed = 0, errors = 0, lastError = 0;
    qint64 plain = 0;
    TcpSocket::Handlers h;
    h.connected = [&] { ++connected; };
    h.closed = [&] { ++closed; };
    h.error = [&](int number) {
        ++errors;
        lastError = number;
    };
    h.dataArrival = [&](qint64 total) {
        QByteArray bytes;
        FUZZ_CHECK(tls.getData(bytes, total) && bytes.size() == total);
        plain += total;
    };
    tls.setHandlers(std::move(h));

    FUZZ_CHECK(tls.setRemotePort(443) && tls.connectToHost(QStringLiteral("camera.local")));
    net.ownState = TcpSocket::Connected;
    net.handlers.connected();
    // The server's bytes in pieces of the lengths the input gives, as they might arrive.
    while (in.pos < in.bytes.size() && errors == 0) {
        const int length = in.word();
        const QByteArray piece = in.bytes.mid(in.pos, length);
        in.pos += piece.size();
        net.incoming += piece;
        net.handlers.dataArrival(net.incoming.size());
    }
    if (errors == 0) {
        net.ownState = flags & 1 ? TcpSocket::Error : TcpSocket::Closed;
        if (flags & 1)
            net.handlers.error(10054);
        else
            net.handlers.closed();
    }

    // Without the server's key no handshake completes: it ends in exactly one error, said in
    // words, and nothing decrypted reaches the engine.
    FUZZ_CHECK(connected == 0 && closed == 0 && plain == 0);
    FUZZ_CHECK(errors == 1 && tls.state() == TcpSocket::Error && !tls.failure().isEmpty());
    FUZZ_CHECK(lastError == TlsHandshakeFailed || lastError == TlsCertificateRefused || lastError == 10054);
    // What went out stays a hello and an alert, however much came in.
    FUZZ_CHECK(net.sent < 4096);
    return 0;
}
