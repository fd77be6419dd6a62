#pragma once

#include "platform/PosixTcpSocket.h"
#include "platform/TcpSocket.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

// A socket the test drives by hand, for errors a loopback connection cannot produce.
class FakeSocket final : public TcpSocket
{
public:
    Handlers h;
    int st = Closed;
    int port = -1;
    QString host;
    int connects = 0;
    int closes = 0;
    QList<QByteArray> sent;
    QByteArray incoming;
    bool refuseConnect = false;
    bool failRead = false;
    bool *destroyed = nullptr;

    ~FakeSocket() override
    {
        if (destroyed)
            *destroyed = true;
    }
    void setHandlers(Handlers handlers) override { h = std::move(handlers); }
    bool setRemotePort(int p) override
    {
        if (p < 0 || p > 65535)
            return false;
        port = p;
        return true;
    }
    bool connectToHost(const QString &name) override
    {
        if (refuseConnect || st != Closed)
            return false;
        host = name;
        ++connects;
        st = ResolvingHost;
        return true;
    }
    bool send(const QByteArray &data) override
    {
        sent.append(data);
        return true;
    }
    bool getData(QByteArray &data, qint64 maxBytes) override
    {
        if (failRead)
            return false;
        data = incoming.left(maxBytes);
        incoming.remove(0, data.size());
        return true;
    }
    void close() override
    {
        ++closes;
        st = Closed;
    }
    int state() const override { return st; }

    void fireConnected()
    {
        st = Connected;
        h.connected();
    }
    void fireSent() { h.sendComplete(); }
    void fireData(const QByteArray &bytes)
    {
        incoming += bytes;
        h.dataArrival(incoming.size());
    }
    void fireClosed()
    {
        st = Closing;
        h.closed();
    }
    void fireError(int number)
    {
        st = Error;
        h.error(number);
    }
};

class FakeSocketFactory final : public SocketFactory
{
public:
    bool fail = false;
    FakeSocket *last = nullptr;
    int created = 0;
    std::unique_ptr<TcpSocket> create() override
    {
        if (fail)
            return nullptr;
        auto socket = std::make_unique<FakeSocket>();
        last = socket.get();
        ++created;
        return socket;
    }
};

// Real sockets that count the connect requests, to see whether a retry happened.
class CountingSocketFactory final : public SocketFactory
{
public:
    int connects = 0;
    std::unique_ptr<TcpSocket> create() override { return std::make_unique<Counting>(mReal->create(), connects); }

private:
    class Counting final : public TcpSocket
    {
    public:
        Counting(std::unique_ptr<TcpSocket> inner, int &connects) : mInner(std::move(inner)), mConnects(connects) {}
        void setHandlers(Handlers handlers) override { mInner->setHandlers(std::move(handlers)); }
        bool setRemotePort(int port) override { return mInner->setRemotePort(port); }
        bool connectToHost(const QString &host) override
        {
            ++mConnects;
            return mInner->connectToHost(host);
        }
        bool send(const QByteArray &data) override { return mInner->send(data); }
        bool getData(QByteArray &data, qint64 maxBytes) override { return mInner->getData(data, maxBytes); }
        void close() override { mInner->close(); }
        int state() const override { return mInner->state(); }

    private:
        std::unique_ptr<TcpSocket> mInner;
        int &mConnects;
    };
    std::shared_ptr<SocketFactory> mReal = makePosixSocketFactory();
};
