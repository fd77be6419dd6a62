#pragma once

#include "CamSim.h"
#include "fetch/CopyHelper.h"
#include "support/TestPlatform.h"

#include <QtTest>
#include <functional>
#include <memory>

// One transfer engine against the camera simulator over loopback; real sockets unless the
// test hands in others.

struct Report
{
    QByteArray data;
    int code;
};

// Also checks that every report finds the socket idle and the watchdog stopped.
class RecordingParent final : public CopyHelperParent
{
public:
    QList<Report> reports;
    CopyHelper *engine = nullptr;
    std::function<void(const QByteArray &, qint16)> onReport;   // for callbacks that act on the engine
    void CHCallBack(const QByteArray &byData, qint16 iError) override
    {
        reports.append({byData, iError});
        if (onReport)
            return onReport(byData, iError);
        QVERIFY(!engine->isBusy());
        QVERIFY(!engine->watchdogRunning());
    }
};

// Hands out whatever make returns: fakes, real sockets kept in view, or nothing.
class SocketsFrom final : public SocketFactory
{
    std::function<std::unique_ptr<TcpSocket>()> mMake;

public:
    explicit SocketsFrom(std::function<std::unique_ptr<TcpSocket>()> make) : mMake(std::move(make)) {}
    std::unique_ptr<TcpSocket> create() override { return mMake(); }
};

// Runs the event loop until cond holds; unlike QTest::qWaitFor it never sleeps between events.
inline bool waitUntil(const std::function<bool()> &cond, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    QTimer wake;   // only keeps the loop from blocking past the deadline
    wake.start(20);
    while (!cond() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return cond();
}

struct EngineRig
{
    TestPlatform tp;
    QSet<QString> names;
    CamSim sim;
    std::shared_ptr<RecordingParent> parent = std::make_shared<RecordingParent>();
    std::unique_ptr<CopyHelper> engine;

    explicit EngineRig(std::shared_ptr<SocketFactory> sockets = nullptr)
    {
        if (sockets)
            tp.platform.sockets = std::move(sockets);
        engine = std::make_unique<CopyHelper>(tp.platform, names);
        parent->engine = engine.get();
        engine->Parent(parent);
        engine->DataType(1);
        sim.listen();
    }
    // Dispatches and waits for the report: code 1 when Dispatch refused, 2 when none came.
    Report fetch(const QString &url)
    {
        const qsizetype before = parent->reports.size();
        if (!engine->Dispatch(url))
            return {{}, 1};
        return waitUntil([&] { return parent->reports.size() > before; }) ? parent->reports.last() : Report{{}, 2};
    }
    // Lets late events in, so that a second report of the same transfer would be seen.
    qsizetype settledReports()
    {
        QTest::qWait(20);
        return parent->reports.size();
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            engine->mWatchdog_Timer();
    }
};
