#pragma once

#include "platform/TcpSocket.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class QHostInfo;
class QSocketNotifier;

// Windows Sockets number for an errno value of a socket call.
//   ECONNRESET, EPIPE 10054 · ECONNREFUSED 10061 · ETIMEDOUT 10060 · ECONNABORTED 10053
//   ENOBUFS, ENOMEM 10055 · EHOSTUNREACH 10065 · ENETUNREACH 10051 · ENETDOWN 10050
//   ENETRESET 10052 · EHOSTDOWN 10064 · EADDRINUSE 10048 · EADDRNOTAVAIL 10049
//   EAFNOSUPPORT 10047 · EPROTONOSUPPORT 10043 · EMFILE, ENFILE 10024 · EACCES, EPERM 10013
//   EINVAL 10022 · ENOTCONN 10057 · EISCONN 10056 · EMSGSIZE 10040 · ENOTSOCK 10038
//   EINTR 10004 · EWOULDBLOCK 10035 · EINPROGRESS 10036 · EALREADY 10037 · ESHUTDOWN 10058
// Every other errno becomes 20000 + errno, outside the Windows Sockets range, so it can never
// be taken for one of the numbers the engine treats specially.
int WinsockErrorFromErrno(int err);

// Name lookup failures.
constexpr int WsaHostNotFound = 11001;
constexpr int WsaTryAgain = 11002;

// A TCP client on a non-blocking POSIX socket. Name lookup runs through QHostInfo; readiness
// comes from QSocketNotifier. Every event reaches the handlers from the event loop, never
// from inside one of the calls below, and none arrives after close() or destruction.
// A peer's RST is reported as error 10054, an orderly FIN as closed once its data was handed out.
// A connection attempt that is neither accepted nor refused ends with 10060 after
// ConnectLimitTicks ticks of a 1000 ms timer, as on the platform the error numbers come from;
// the kernel alone would wait about two minutes, longer than the engine's watchdog.
class PosixTcpSocket final : public QObject, public TcpSocket
{
    Q_OBJECT
public:
    static constexpr int ConnectLimitTicks = 21;

    PosixTcpSocket();
    ~PosixTcpSocket() override;

    void setHandlers(Handlers handlers) override;
    bool setRemotePort(int port) override;
    bool connectToHost(const QString &host) override;
    bool send(const QByteArray &data) override;
    bool getData(QByteArray &data, qint64 maxBytes) override;
    void close() override;
    int state() const override { return mState; }

    // The connect timer's 1000 ms tick; tests call it directly.
    void mConnectTimer_Timer();
    // Connects to these addresses in turn, as if a name lookup had given them.
    bool connectToAddresses(const QList<QHostAddress> &addresses);

private:
    void onLookupDone(const QHostInfo &info);
    void connectNextAddress();
    void giveUpAddress(int err);
    void onWritable();
    void onReadable();
    void flushOutput();
    void fail(int number);
    void queue(void (PosixTcpSocket::*step)());
    void queueError(int number);
    void releaseFd();
    QSocketNotifier *watch(QSocketNotifier *&notifier, int type, void (PosixTcpSocket::*slot)());
    // Runs a handler; false when the handler closed or destroyed this socket.
    bool emitEvent(std::function<void()> call);

    void emitConnected();
    void emitSendComplete();

    Handlers mHandlers;
    int mState = Closed;
    int mPort = 0;
    int mFd = -1;
    int mLookupId = -1;
    quint64 mGeneration = 0;          // bumped by close(); stale queued steps see the change
    QList<QHostAddress> mAddresses;   // still to try, in the resolver's order
    int mLastConnectError = 0;
    // Kept from connection to connection and given each new descriptor; enabled only while
    // it is open.
    QSocketNotifier *mReadNotifier = nullptr;
    QSocketNotifier *mWriteNotifier = nullptr;
    QByteArray mOut;
    qsizetype mOutOffset = 0;
    QByteArray mIn;
    QTimer mConnectTimer;             // runs only while an address is being connected to
    int mConnectTicks = 0;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

std::shared_ptr<SocketFactory> makePosixSocketFactory();
