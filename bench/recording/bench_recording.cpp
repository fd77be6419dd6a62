// Records N cameras at interval 1 from simulator processes for T seconds into a temporary
// archive, with the real clock, file system, sockets and a 1000 ms tick, and prints what
// the recorder achieved. Figures only; nothing passes or fails.
//
//   bench_recording [--cameras N] [--seconds T] [--size BYTES] [--sims K] [--images M]
//                   [--archive DIR] [--https [--no-resume]]
//
// --https fetches over TLS (self-signed, pinned on first use); --no-resume makes every
// connection a full handshake.
// --images ends the recording once M images were saved (T is then an upper bound);
// --archive records into DIR and keeps it, for side-by-side runs (bench/compare/run).

#include "../support/CamSimProcess.h"
#include "state/AppState.h"
#include "app/CaptureCycle.h"
#include "state/MainView.h"
#include "app/RecordingControl.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "platform/TlsSocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

// The main window as far as the recorder touches it: counts outcomes, loads no pictures.
class BenchView final : public MainView
{
public:
    RecordingControl *control = nullptr;
    qint64 saved = 0, unchanged = 0, failed = 0;
    std::function<void()> onSaved;

    void SetStatusText(int panel, const QString &text) override
    {
        if (panel != 1)
            return;
        if (text.endsWith(QLatin1String(": Bild wurde gespeichert!"))) {
            ++saved;
            if (onSaved)
                onSaved();
        } else if (text.endsWith(QLatin1String(": Bild ist unverändert!")))
            ++unchanged;
        else if (text.endsWith(QLatin1String(": Fehler!")))
            ++failed;
    }
    bool ShowLastImage(const QString &, const QString &, QString *) override { return true; }
    void SetRecordingChecked(bool checked) override
    {
        if (control)
            control->SetChecked(checked);
    }
};

struct Cpu
{
    double user = 0, kernel = 0;
};

Cpu CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6,
            double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) / 1e6};
}

long MinorFaults()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

long PeakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption camerasOpt(QStringLiteral("cameras"), QStringLiteral("Cameras (1..255)."), QStringLiteral("n"), QStringLiteral("64"));
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("Recording time."), QStringLiteral("s"), QStringLiteral("20"));
    const QCommandLineOption sizeOpt(QStringLiteral("size"), QStringLiteral("Image size in bytes."), QStringLiteral("bytes"), QStringLiteral("204800"));
    const QCommandLineOption simsOpt(QStringLiteral("sims"), QStringLiteral("Simulator processes (default: one per 32 cameras)."),
                                     QStringLiteral("k"), QStringLiteral("0"));
    const QCommandLineOption imagesOpt(QStringLiteral("images"), QStringLiteral("Stop after this many saved images (0: no limit)."),
                                       QStringLiteral("m"), QStringLiteral("0"));
    const QCommandLineOption archiveOpt(QStringLiteral("archive"), QStringLiteral("Record into this folder and keep it."),
                                        QStringLiteral("dir"));
    const QCommandLineOption warmupOpt(QStringLiteral("warmup"),
                                       QStringLiteral("Images saved before the measurement starts (not counted)."),
                                       QStringLiteral("m"), QStringLiteral("0"));
    const QCommandLineOption httpsOpt(QStringLiteral("https"), QStringLiteral("Fetch over TLS."));
    const QCommandLineOption noResumeOpt(QStringLiteral("no-resume"), QStringLiteral("TLS without session resumption."));
    parser.addOptions({camerasOpt, secondsOpt, sizeOpt, simsOpt, imagesOpt, archiveOpt, warmupOpt, httpsOpt, noResumeOpt});
    parser.process(app);
    const qint64 imageLimit = std::max(0LL, parser.value(imagesOpt).toLongLong());
    const qint64 warmup = std::max(0LL, parser.value(warmupOpt).toLongLong());
    const int cameras = std::clamp(parser.value(camerasOpt).toInt(), 1, 255);
    const int seconds = std::max(1, parser.value(secondsOpt).toInt());
    const int size = std::max(64, parser.value(sizeOpt).toInt());
    // One simulator process keeps up with about 50 cameras of 200 KB per second.
    const int simWanted = parser.value(simsOpt).toInt();
    const int simCount = std::clamp(simWanted > 0 ? simWanted : (cameras + 31) / 32, 1, cameras);

    // Simulators: a new image of the chosen size for every request.
    std::vector<std::unique_ptr<QProcess>> sims;
    std::vector<quint16> ports;
    const bool https = parser.isSet(httpsOpt);
    if (!StartNewImageSims(simCount, size, sims, ports, https))
        return 1;

    QTemporaryDir temporaryArchive;
    const QString archivePath = parser.isSet(archiveOpt) ? parser.value(archiveOpt) : temporaryArchive.path();
    if (!QDir().mkpath(archivePath)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(archivePath));
        return 1;
    }
    Platform platform = Platform::real();
    if (parser.isSet(noResumeOpt))
        platform.sockets->setTlsContext(std::make_shared<TlsContext>(QString(), false));
    AppState state(platform);
    BenchView view;
    state.SetView(&view);
    state.ArchivePath = AddBackslash(archivePath);
    state.LogFileName = archivePath + QStringLiteral("/bench.log");
    // The program's start-up defaults: the age limit with 24 hours.
    state.TimeLimitOn = true;
    state.TimeLimitValue = 24;
    state.TimeLimitUnit = QStringLiteral("h");

    // The program names its engines CopyHelper1..100 and cannot create more in one run;
    // cameras beyond 100 get their engines from further name registers here.
    std::vector<QSet<QString>> registers(size_t((cameras + 99) / 100));
    for (int i = 1; i <= cameras; ++i) {
        auto cam = std::make_shared<CamObject>(state);
        cam->mCamName = QStringLiteral("Bench") + QString::number(i);
        cam->mCamUpdaterate = 1;
        cam->mCamSocket = QString::fromLatin1(https ? "https://127.0.0.1:" : "127.0.0.1:") + QString::number(ports[size_t((i - 1) % simCount)]);
        cam->mCamImagePath = QStringLiteral("/cam%1.jpg").arg(i);
        state.Cams.Add(cam);
        QSet<QString> &names = i <= 100 ? state.TimerNames : registers[size_t((i - 1) / 100)];
        state.CopyHelpers.push_back(std::make_unique<CopyHelper>(state.platform, names));
    }
    state.CamCount = qint16(cameras);

    RecordingControl control(state);
    view.control = &control;
    control.SetChecked(true);
    // MainTimer's own connection drives the cycle; a second one measures around it.
    control.MainTimer().disconnect();
    qint64 ticks = 0, fullTicks = 0, dueTotal = 0, servedTotal = 0, stillBusyTotal = 0;
    QObject::connect(&control.MainTimer(), &QTimer::timeout, &app, [&] {
        std::vector<bool> wasBusy(size_t(cameras + 1));
        int due = 0;
        for (int i = 1; i <= cameras; ++i) {
            wasBusy[size_t(i)] = state.Cams.Item(i)->mCamIsBusy;
            due += wasBusy[size_t(i)] ? 0 : 1;   // interval 1: every free camera is due
        }
        control.MainTimer_Timer();
        int served = 0;
        for (int i = 1; i <= cameras; ++i)
            served += (!wasBusy[size_t(i)] && state.Cams.Item(i)->mCamIsBusy) ? 1 : 0;
        ++ticks;
        fullTicks += served == due ? 1 : 0;
        dueTotal += due;
        servedTotal += served;
        stillBusyTotal += cameras - due;
    });

    // The measurement starts after the warm-up images: from then on the recorder works as in a
    // long run, with its memory touched and the hour folders made.
    Cpu cpuStart = CpuSeconds();
    long faultsStart = MinorFaults();
    qint64 savedStart = 0, unchangedStart = 0, failedStart = 0;
    QElapsedTimer wall;
    wall.start();
    const auto startMeasuring = [&] {
        cpuStart = CpuSeconds();
        faultsStart = MinorFaults();
        savedStart = view.saved;
        unchangedStart = view.unchanged;
        failedStart = view.failed;
        ticks = fullTicks = dueTotal = servedTotal = stillBusyTotal = 0;
        wall.restart();
    };
    const auto stop = [&] {
        if (state.Recording)
            control.SetChecked(false);
        app.quit();
    };
    QTimer::singleShot(seconds * 1000, &app, stop);
    view.onSaved = [&] {
        if (warmup > 0 && view.saved == warmup)
            startMeasuring();
        if (imageLimit > 0 && view.saved == warmup + imageLimit)
            stop();
    };
    app.exec();
    view.saved -= savedStart;
    view.unchanged -= unchangedStart;
    view.failed -= failedStart;
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const Cpu cpuEnd = CpuSeconds();
    const double user = cpuEnd.user - cpuStart.user;
    const double kernel = cpuEnd.kernel - cpuStart.kernel;
    const double cpu = user + kernel;

    std::printf("cameras %d, interval 1, image %d bytes, %d simulator process(es), %.1f s recorded\n", cameras, size,
                simCount, elapsed);
    std::printf("images saved:                 %lld (%.1f per second, %.1f MB/s)\n", static_cast<long long>(view.saved),
                double(view.saved) / elapsed, double(view.saved) * size / elapsed / 1048576.0);
    std::printf("unchanged / failed outcomes:  %lld / %lld\n", static_cast<long long>(view.unchanged),
                static_cast<long long>(view.failed));
    std::printf("recorder CPU per saved image: %.5f s (%.1f s CPU in all)\n",
                view.saved ? cpu / double(view.saved) : 0.0, cpu);
    std::printf("recorder CPU user / kernel:   %.3f s / %.3f s\n", user, kernel);
    std::printf("recorder peak RSS:            %.1f MB\n", double(PeakRssKb()) / 1024.0);
    std::printf("minor page faults per image:  %.1f\n",
                view.saved ? double(MinorFaults() - faultsStart) / double(view.saved) : 0.0);
    std::printf("ticks:                        %lld, every due camera served at %.1f %%\n", static_cast<long long>(ticks),
                ticks ? 100.0 * double(fullTicks) / double(ticks) : 0.0);
    std::printf("per tick:                     %.1f due, %.1f served, %.1f still busy from before\n",
                ticks ? double(dueTotal) / double(ticks) : 0.0, ticks ? double(servedTotal) / double(ticks) : 0.0,
                ticks ? double(stillBusyTotal) / double(ticks) : 0.0);

    if (https) {
        qint64 resumed = 0;
        for (int i = 1; i <= cameras; ++i)
            resumed += state.Cams.Item(i)->mTlsPeer->resumed;
        std::printf("TLS sessions resumed:         %lld (whole run)\n", static_cast<long long>(resumed));
    }

    for (auto &p : sims) {
        p->kill();
        p->waitForFinished(2000);
    }
    return 0;
}
