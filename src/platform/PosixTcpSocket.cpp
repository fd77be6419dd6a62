#include "platform/PosixTcpSocket.h"

#include <QHostInfo>
#include <QMetaObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

int WinsockErrorFromErrno(int err)
{
    switch (err) {
    case ECONNRESET:
    case EPIPE: return 10054;          // a write after the peer's RST surfaces as EPIPE
    case ECONNREFUSED: return 10061;
    case ETIMEDOUT: return 10060;
    case ECONNABORTED: return 10053;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EHOSTUNREACH: return 10065;
    case ENETUNREACH: return 10051;
    case ENETDOWN: return 10050;
    case ENETRESET: return 10052;
    case EHOSTDOWN: return 10064;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case EAFNOSUPPORT: return 10047;
    case EPROTONOSUPPORT: return 10043;
    case EMFILE:
    case ENFILE: return 10024;
    case EACCES:
    case EPERM: return 10013;
    case EINVAL: return 10022;
    case ENOTCONN: return 10057;
    case EISCONN: return 10056;
    case EMSGSIZE: return 10040;
    case ENOTSOCK: return 10038;
    case EINTR: return 10004;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ESHUTDOWN: return 10058;
    default: return 20000 + err;
    }
}

namespace {

// One read call takes at most this much; a large arrival is handed out in pieces of this size.
constexpr qsizetype ReadPiece = 256 * 1024;

} // namespace

PosixTcpSocket::PosixTcpSocket()
{
    // MSG_NOSIGNAL covers send(); nothing else may raise SIGPIPE either.
    static const bool sigpipeIgnored = [] { std::signal(SIGPIPE, SIG_IGN); return true; }();
    (void)sigpipeIgnored;
    // A read buffer travels on as the response and the image, so buffers of a few hundred KiB
    // are freed in another order than they were taken. glibc's sliding thresholds then map and
    // unmap them or trim the heap under them, faulting every page in again for each transfer;
    // fixed thresholds keep them on the heap.
    static const bool heapTuned = [] {
        mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
        return true;
    }();
    (void)heapTuned;
    mConnectTimer.setInterval(1000);
    mConnectTimer.callOnTimeout(this, [this] { mConnectTimer_Timer(); });
}

PosixTcpSocket::~PosixTcpSocket()
{
    *mAlive = false;
    mAlive.reset();
    close();
    // A notifier may be the very sender we are destroyed in: it goes later.
    for (QSocketNotifier *n : {mReadNotifier, mWriteNotifier}) {
        if (n) {
            n->disconnect(this);
            n->setParent(nullptr);
            n->deleteLater();
        }
    }
}

// Points the notifier (made on first use) at the present descriptor and enables it.
QSocketNotifier *PosixTcpSocket::watch(QSocketNotifier *&notifier, int type, void (PosixTcpSocket::*slot)())
{
    if (!notifier) {
        notifier = new QSocketNotifier(QSocketNotifier::Type(type), this);
        connect(notifier, &QSocketNotifier::activated, this, slot);
    }
    notifier->setSocket(mFd);
    notifier->setEnabled(true);
    return notifier;
}

void PosixTcpSocket::setHandlers(Handlers handlers)
{
    mHandlers = std::move(handlers);
}

bool PosixTcpSocket::setRemotePort(int port)
{
    if (port < 0 || port > 65535)
        return false;
    mPort = port;
    return true;
}

bool PosixTcpSocket::connectToHost(const QString &host)
{
    QHostAddress numeric;
    if (numeric.setAddress(host))
        return connectToAddresses({numeric});   // no lookup needed

    if (mState != Closed)
        return false;
    mState = ResolvingHost;
    mAddresses.clear();
    mLastConnectError = 0;
    mLookupId = QHostInfo::lookupHost(host, this, [this](const QHostInfo &info) { onLookupDone(info); });
    return true;
}

bool PosixTcpSocket::connectToAddresses(const QList<QHostAddress> &addresses)
{
    if (mState != Closed)
        return false;
    mState = ResolvingHost;
    mAddresses = addresses;
    mLastConnectError = 0;
    // The owner still hears of it only from the event loop.
    const quint64 generation = mGeneration;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation == mGeneration && mState == ResolvingHost) {
            mState = HostResolved;
            connectNextAddress();
        }
    }, Qt::QueuedConnection);
    return true;
}

void PosixTcpSocket::onLookupDone(const QHostInfo &info)
{
    if (info.lookupId() != mLookupId || mState != ResolvingHost)
        return;
    mLookupId = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(info.error() == QHostInfo::HostNotFound || info.error() == QHostInfo::NoError
                 ? WsaHostNotFound : WsaTryAgain);
        return;
    }
    mAddresses = info.addresses();
    mState = HostResolved;
    connectNextAddress();
}

// Tries the remaining addresses in turn; the last failure is the one reported.
void PosixTcpSocket::connectNextAddress()
{
    while (!mAddresses.isEmpty()) {
        const QHostAddress address = mAddresses.takeFirst();
        sockaddr_storage storage {};
        socklen_t length = 0;
        int family = AF_INET;
        if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            family = AF_INET6;
            auto *a6 = reinterpret_cast<sockaddr_in6 *>(&storage);
            a6->sin6_family = AF_INET6;
            a6->sin6_port = htons(static_cast<quint16>(mPort));
            const Q_IPV6ADDR raw = address.toIPv6Address();
            std::memcpy(&a6->sin6_addr, raw.c, 16);
            a6->sin6_scope_id = address.scopeId().toUInt();
            length = sizeof(sockaddr_in6);
        } else {
            auto *a4 = reinterpret_cast<sockaddr_in *>(&storage);
            a4->sin_family = AF_INET;
            a4->sin_port = htons(static_cast<quint16>(mPort));
            a4->sin_addr.s_addr = htonl(address.toIPv4Address());
            length = sizeof(sockaddr_in);
        }

        mFd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (mFd < 0) {
            mLastConnectError = errno;
            continue;
        }
        mState = Connecting;
        int rc;
        do {
            rc = ::connect(mFd, reinterpret_cast<sockaddr *>(&storage), length);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0 || errno == EINPROGRESS) {
            // Completion (or immediate success) is seen by the write notifier, from the loop.
            watch(mWriteNotifier, QSocketNotifier::Write, &PosixTcpSocket::onWritable);
            mConnectTicks = 0;
            mConnectTimer.start();
            return;
        }
        mLastConnectError = errno;
        releaseFd();
    }
    queueError(WinsockErrorFromErrno(mLastConnectError ? mLastConnectError : ECONNREFUSED));
}

void PosixTcpSocket::onWritable()
{
    if (mState == Connecting) {
        int err = 0;
        socklen_t len = sizeof(err);
        if (::getsockopt(mFd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
            err = errno;
        if (err != 0) {
            giveUpAddress(err);
            return;
        }
        mState = Connected;
        mConnectTimer.stop();
        mWriteNotifier->setEnabled(false);
        watch(mReadNotifier, QSocketNotifier::Read, &PosixTcpSocket::onReadable);
        emitConnected();
        return;
    }
    if (mState == Connected)
        flushOutput();
}

// An address that neither accepts nor refuses in time counts as timed out; the next is tried.
void PosixTcpSocket::mConnectTimer_Timer()
{
    if (mState != Connecting) {
        mConnectTimer.stop();
        return;
    }
    if (++mConnectTicks < ConnectLimitTicks)
        return;
    giveUpAddress(ETIMEDOUT);
}

// The current address failed with err: the next one is tried, or the connection fails.
void PosixTcpSocket::giveUpAddress(int err)
{
    mLastConnectError = err;
    releaseFd();
    mState = HostResolved;
    if (!mAddresses.isEmpty())
        connectNextAddress();
    else
        fail(WinsockErrorFromErrno(err));
}

void PosixTcpSocket::emitConnected()
{
    emitEvent(mHandlers.connected);
}

void PosixTcpSocket::emitSendComplete()
{
    if (mState == Connected && mOut.isEmpty())
        emitEvent(mHandlers.sendComplete);
}

bool PosixTcpSocket::send(const QByteArray &data)
{
    if (mState != Connected || mFd < 0)
        return false;
    mOut.append(data);
    flushOutput();
    return true;
}

// Writes what the kernel takes now; the rest waits for the write notifier.
void PosixTcpSocket::flushOutput()
{
    while (mOutOffset < mOut.size()) {
        const ssize_t n = ::send(mFd, mOut.constData() + mOutOffset,
                                 static_cast<size_t>(mOut.size() - mOutOffset), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                mWriteNotifier->setEnabled(true);
                return;
            }
            queueError(WinsockErrorFromErrno(errno));
            return;
        }
        mOutOffset += n;
    }
    mOut.clear();
    mOutOffset = 0;
    if (mWriteNotifier)
        mWriteNotifier->setEnabled(false);
    // Reported from the loop even when everything went out at once.
    queue(&PosixTcpSocket::emitSendComplete);
}

void PosixTcpSocket::onReadable()
{
    if (mState != Connected)
        return;
    bool peerClosed = false;
    int err = 0;
    const qsizetype before = mIn.size();
    while (mIn.size() - before < ReadPiece) {
        // The buffer travels on as the response and the image, hundreds of them at once: it
        // takes what has arrived, not a whole piece.
        int waiting = 0;
        if (::ioctl(mFd, FIONREAD, &waiting) < 0 || waiting == 0) {
            // Nothing queued: the peer's close, an error or nothing at all; found out
            // without a buffer.
            char probe = 0;
            const ssize_t n = ::recv(mFd, &probe, 1, MSG_PEEK);
            if (n == 0) {
                peerClosed = true;
                break;
            }
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    err = errno;
                break;
            }
            waiting = 1;
        }
        const qsizetype want = std::clamp<qsizetype>(waiting, 1, ReadPiece - (mIn.size() - before));
        const qsizetype at = mIn.size();
        if (mIn.capacity() < at + want)
            mIn.reserve(at + want);
        mIn.resize(at + want);
        const ssize_t n = ::recv(mFd, mIn.data() + at, static_cast<size_t>(want), 0);
        if (n > 0) {
            mIn.resize(at + n);
            continue;
        }
        mIn.resize(at);
        if (n == 0)
            peerClosed = true;
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            err = errno;
        break;
    }

    if (mIn.size() > before) {
        const std::weak_ptr<bool> alive = mAlive;
        const quint64 generation = mGeneration;
        if (mHandlers.dataArrival)
            mHandlers.dataArrival(mIn.size());
        if (alive.expired() || generation != mGeneration)
            return;
    }
    if (err != 0) {
        fail(WinsockErrorFromErrno(err));
    } else if (peerClosed) {
        mState = Closing;
        if (mReadNotifier)
            mReadNotifier->setEnabled(false);
        emitEvent(mHandlers.closed);
    }
}

bool TakeReceived(QByteArray &buffer, QByteArray &data, qint64 maxBytes)
{
    if (maxBytes < 0)
        return false;
    if (maxBytes >= buffer.size()) {
        data = std::move(buffer);
        buffer = QByteArray();
    } else {
        data = buffer.left(maxBytes);
        buffer.remove(0, maxBytes);
    }
    return true;
}

bool PosixTcpSocket::getData(QByteArray &data, qint64 maxBytes)
{
    return TakeReceived(mIn, data, maxBytes);
}

void PosixTcpSocket::close()
{
    ++mGeneration;
    if (mLookupId >= 0) {
        QHostInfo::abortHostLookup(mLookupId);
        mLookupId = -1;
    }
    releaseFd();
    mAddresses.clear();
    mOut.clear();
    mOutOffset = 0;
    mIn.clear();
    mState = Closed;
}

void PosixTcpSocket::releaseFd()
{
    mConnectTimer.stop();
    for (QSocketNotifier *n : {mReadNotifier, mWriteNotifier}) {
        if (n)
            n->setEnabled(false);
    }
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
}

void PosixTcpSocket::fail(int number)
{
    releaseFd();
    mState = Error;
    if (mHandlers.error)
        emitEvent([handler = mHandlers.error, number] { handler(number); });
}

void PosixTcpSocket::queue(void (PosixTcpSocket::*step)())
{
    const quint64 generation = mGeneration;
    QMetaObject::invokeMethod(this, [this, generation, step] {
        if (generation == mGeneration)
            (this->*step)();
    }, Qt::QueuedConnection);
}

void PosixTcpSocket::queueError(int number)
{
    releaseFd();
    mState = Error;
    const quint64 generation = mGeneration;
    QMetaObject::invokeMethod(this, [this, generation, number] {
        if (generation == mGeneration && mHandlers.error) {
            auto handler = mHandlers.error;
            handler(number);
        }
    }, Qt::QueuedConnection);
}

// Takes its own copy: the handler may replace the handlers or destroy this socket.
bool PosixTcpSocket::emitEvent(std::function<void()> call)
{
    if (!call)
        return true;
    const std::weak_ptr<bool> alive = mAlive;
    const quint64 generation = mGeneration;
    call();
    return !alive.expired() && generation == mGeneration;
}

namespace {

class PosixSocketFactory final : public SocketFactory
{
public:
    std::unique_ptr<TcpSocket> create() override { return std::make_unique<PosixTcpSocket>(); }
};

} // namespace

std::shared_ptr<SocketFactory> makePosixSocketFactory()
{
    return std::make_shared<PosixSocketFactory>();
}
