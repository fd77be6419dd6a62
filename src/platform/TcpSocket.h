#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// A TCP client socket with the socket control's states and Windows Sockets error numbers.
// Events are delivered on the GUI thread through the handlers below, never from inside
// a call the owner made (connectToHost never reports synchronously).
class TcpSocket
{
public:
    // State numbers as the status window shows them.
    enum State {
        Closed = 0, Open = 1, Listening = 2, ConnectionPending = 3, ResolvingHost = 4,
        HostResolved = 5, Connecting = 6, Connected = 7, Closing = 8, Error = 9
    };

    struct Handlers {
        std::function<void()> connected;
        std::function<void()> sendComplete;
        std::function<void(qint64 bytesTotal)> dataArrival;
        std::function<void()> closed;              // the peer's orderly close
        std::function<void(int number)> error;     // Windows Sockets numbers, e.g. 10054
    };

    virtual ~TcpSocket() = default;
    virtual void setHandlers(Handlers handlers) = 0;
    virtual bool setRemotePort(int port) = 0;
    virtual bool connectToHost(const QString &host) = 0;
    virtual bool send(const QByteArray &data) = 0;
    // Reads at most maxBytes of what has arrived; false when the read fails.
    virtual bool getData(QByteArray &data, qint64 maxBytes) = 0;
    virtual void close() = 0;
    virtual int state() const = 0;
};

// getData of a socket that holds its received bytes in buffer: up to maxBytes taken from
// its front, the whole buffer moved out when it all goes.
bool TakeReceived(QByteArray &buffer, QByteArray &data, qint64 maxBytes);

class TlsContext;

class SocketFactory
{
public:
    virtual ~SocketFactory() = default;
    virtual std::unique_ptr<TcpSocket> create() = 0;

    // What TLS connections over these sockets share: the trusted certificates, made on
    // first use from the system's store. A test may trust others instead.
    std::shared_ptr<TlsContext> tlsContext();
    void setTlsContext(std::shared_ptr<TlsContext> context) { mTlsContext = std::move(context); }

private:
    std::shared_ptr<TlsContext> mTlsContext;
};
