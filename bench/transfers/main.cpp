// Consecutive transfers of one 200 KB image from the camera simulator, which runs in a thread of
// its own. Prints transfers per second, the engine thread's CPU time per transfer and the
// resident memory along the way (it must stay flat).
#include "CamSim.h"
#include "fetch/CopyHelper.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace {

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class Runner final : public CopyHelperParent
{
public:
    CopyHelper *engine = nullptr;
    QString url;
    int wanted = 0;
    int done = 0;
    int failures = 0;
    qsizetype expectedSize = 0;
    std::function<void(int)> onProgress;

    void start()
    {
        if (!engine->Dispatch(url)) {
            std::fprintf(stderr, "Dispatch refused\n");
            QCoreApplication::exit(1);
        }
    }
    void CHCallBack(const QByteArray &byData, qint16 iError) override
    {
        if (iError != 0 || byData.size() != expectedSize)
            ++failures;
        ++done;
        if (onProgress)
            onProgress(done);
        if (done >= wanted) {
            QCoreApplication::quit();
            return;
        }
        // The next transfer starts from the loop, as the capture cycle's tick would.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [this] { start(); }, Qt::QueuedConnection);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    const int imageSize = 200 * 1024;

    QThread simThread;
    QObject simContext;   // lives in the simulator's thread, so work can be sent there
    simContext.moveToThread(&simThread);
    simThread.start();
    CamSim *sim = nullptr;
    QMetaObject::invokeMethod(&simContext, [&] {
        sim = new CamSim;
        sim->setRecordRequests(false);
        CamSim::Behaviour b;
        b.imageSize = imageSize;
        sim->setBehaviour(b);
        sim->listen();
    }, Qt::BlockingQueuedConnection);

    Platform platform = Platform::real();
    QSet<QString> names;
    CopyHelper engine(platform, names);
    auto runner = std::make_shared<Runner>();
    runner->engine = &engine;
    runner->url = sim->url();
    runner->wanted = count;
    runner->expectedSize = imageSize;
    engine.Parent(runner);
    engine.DataType(1);

    const long rssStart = residentKiB();
    long rssAfterWarmup = 0;
    const int warmup = std::min(100, count);
    QElapsedTimer wall;
    double cpuThread0 = 0, cpuProcess0 = 0;
    runner->onProgress = [&](int done) {
        if (done == warmup) {
            rssAfterWarmup = residentKiB();
            wall.start();
            cpuThread0 = threadCpuSeconds();
            cpuProcess0 = processCpuSeconds();
        }
        if (done % 2000 == 0)
            std::printf("  after %5d transfers: resident %ld KiB\n", done, residentKiB());
    };

    std::printf("bench_transfers: %d transfers of %d bytes from %s\n", count, imageSize, qPrintable(runner->url));
    QMetaObject::invokeMethod(&app, [&] { runner->start(); }, Qt::QueuedConnection);
    const int rc = app.exec();

    const int measured = count - warmup;
    const double seconds = wall.isValid() ? wall.nsecsElapsed() / 1e9 : 0;
    const double cpuThread = threadCpuSeconds() - cpuThread0;
    const double cpuProcess = processCpuSeconds() - cpuProcess0;
    const long rssEnd = residentKiB();

    std::printf("transfers: %d (%d failed)\n", runner->done, runner->failures);
    if (measured > 0 && seconds > 0) {
        std::printf("measured after %d warm-up transfers: %d in %.2f s = %.0f transfers/s\n", warmup, measured, seconds,
                    measured / seconds);
        std::printf("CPU per transfer: engine thread %.1f us, whole process (with simulator) %.1f us\n",
                    cpuThread / measured * 1e6, cpuProcess / measured * 1e6);
    }
    std::printf("resident memory: start %ld KiB, after warm-up %ld KiB, end %ld KiB\n", rssStart, rssAfterWarmup, rssEnd);

    QMetaObject::invokeMethod(sim, [sim] { delete sim; }, Qt::BlockingQueuedConnection);
    simThread.quit();
    simThread.wait();
    return rc != 0 ? rc : (runner->failures ? 1 : 0);
}
