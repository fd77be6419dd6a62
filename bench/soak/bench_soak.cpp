// Soak: well-behaved cameras beside one camera of every hostile kind, all at interval 1, for
// a chosen time, headless on the core with the real clock, sockets, file system and timers.
// Prints per minute the resident memory, the images saved and the share of ticks at which
// every due good camera was served. Figures only; nothing passes or fails.
//
//   bench_soak [--minutes M] [--good N] [--size BYTES]

#include "../support/CamSimProcess.h"
#include "state/AppState.h"
#include "state/MainView.h"
#include "app/RecordingControl.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

struct Hostile
{
    const char *name;
    QStringList args;
};

// One simulator process per kind; the good cameras share processes of about 32 cameras each.
QList<Hostile> HostileKinds(int size)
{
    const QString s = QString::number(size);
    return {
        {"silent", {"--mode", "silent"}},
        {"trickle", {"--mode", "trickle", "--trickle-ms", "20000", "--size", s}},
        {"endless", {"--mode", "endless", "--size", s}},
        {"reset", {"--mode", "new", "--size", s, "--reset-after", QString::number(size / 2)}},
        {"oddchunks", {"--mode", "chunked", "--size", s, "--chunks", "1,3,7,4093,2,65536", "--split", "60,61,62,63,64,65,70,100,5000",
                       "--split-delay-ms", "1"}},
        {"error", {"--mode", "error"}},
        {"headers", {"--mode", "headers"}},
        {"endlessheaders", {"--mode", "endless-headers"}},
    };
}

// Counts the outcomes by camera: the status text begins with the camera's name.
class SoakView final : public MainView
{
public:
    std::map<QString, qint64> saved, failed;
    void SetStatusText(int panel, const QString &text) override
    {
        if (panel != 1)
            return;
        const qsizetype colon = text.indexOf(QLatin1String(": "));
        if (colon < 0)
            return;
        if (text.endsWith(QLatin1String(": Bild wurde gespeichert!")))
            ++saved[text.left(colon)];
        else if (text.endsWith(QLatin1String(": Fehler!")))
            ++failed[text.left(colon)];
    }
    bool ShowLastImage(const QString &, const QString &, QString *) override { return true; }
    void SetRecordingChecked(bool) override {}
};

// The resident memory now, or ("VmHWM") its peak since the last ResetPeak.
double ResidentMb(const char *field = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// An endless answer holds up to 64 MB for a fraction of a second, between two samples; the
// kernel's peak catches it.
void ResetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption minutesOpt(QStringLiteral("minutes"), QStringLiteral("Soak time."), QStringLiteral("m"), QStringLiteral("10"));
    const QCommandLineOption goodOpt(QStringLiteral("good"), QStringLiteral("Well-behaved cameras."), QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption sizeOpt(QStringLiteral("size"), QStringLiteral("Image size in bytes."), QStringLiteral("bytes"), QStringLiteral("16384"));
    parser.addOptions({minutesOpt, goodOpt, sizeOpt});
    parser.process(app);
    const double minutes = std::max(0.1, parser.value(minutesOpt).toDouble());
    const QList<Hostile> hostile = HostileKinds(std::max(1024, parser.value(sizeOpt).toInt()));
    const int good = std::clamp(parser.value(goodOpt).toInt(), 1, 255 - int(hostile.size()));
    const int size = std::max(1024, parser.value(sizeOpt).toInt());

    std::vector<std::unique_ptr<QProcess>> sims;
    std::vector<quint16> goodPorts;
    if (!StartNewImageSims((good + 31) / 32, size, sims, goodPorts))
        return 1;
    std::vector<quint16> hostilePorts;
    for (const Hostile &h : hostile) {
        quint16 port = 0;
        sims.push_back(StartCamSim(h.args, port));
        if (!sims.back()) {
            std::fprintf(stderr, "camsim (%s) did not start\n", h.name);
            return 1;
        }
        hostilePorts.push_back(port);
    }

    QTemporaryDir archive;
    AppState state(Platform::real());
    SoakView view;
    state.SetView(&view);
    state.ArchivePath = AddBackslash(archive.path());
    state.LogFileName = archive.path() + QStringLiteral("/soak.log");
    state.TimeLimitOn = true;
    state.TimeLimitValue = 24;
    state.TimeLimitUnit = QStringLiteral("h");
    // Auto clear and save keep the log window short, as a long unattended run would set it.
    state.LogAutoClear = true;
    state.LogAutoSave = true;

    const int cameras = good + int(hostile.size());
    std::vector<QSet<QString>> registers(size_t((cameras + 99) / 100));
    for (int i = 1; i <= cameras; ++i) {
        auto cam = std::make_shared<CamObject>(state);
        const bool isGood = i <= good;
        cam->mCamName = isGood ? QStringLiteral("Gut%1").arg(i) : QString::fromLatin1(hostile.at(i - good - 1).name);
        cam->mCamUpdaterate = 1;
        cam->mCamSocket = QStringLiteral("127.0.0.1:")
            + QString::number(isGood ? goodPorts[size_t((i - 1) % goodPorts.size())] : hostilePorts[size_t(i - good - 1)]);
        cam->mCamImagePath = QStringLiteral("/cam%1.jpg").arg(i);
        state.Cams.Add(cam);
        QSet<QString> &names = i <= 100 ? state.TimerNames : registers[size_t((i - 1) / 100)];
        state.CopyHelpers.push_back(std::make_unique<CopyHelper>(state.platform, names));
    }
    state.CamCount = qint16(cameras);

    RecordingControl control(state);
    control.SetChecked(true);
    control.MainTimer().disconnect();

    struct Minute
    {
        qint64 ticks = 0, fullTicks = 0;
    } minute;
    qint64 savedBefore = 0;
    int minuteNo = 0;
    QElapsedTimer wall;
    wall.start();
    QObject::connect(&control.MainTimer(), &QTimer::timeout, &app, [&] {
        std::vector<bool> wasBusy(size_t(good + 1));
        int due = 0;
        for (int i = 1; i <= good; ++i) {
            wasBusy[size_t(i)] = state.Cams.Item(i)->mCamIsBusy;
            due += wasBusy[size_t(i)] ? 0 : 1;
        }
        control.MainTimer_Timer();
        int served = 0;
        for (int i = 1; i <= good; ++i)
            served += (!wasBusy[size_t(i)] && state.Cams.Item(i)->mCamIsBusy) ? 1 : 0;
        ++minute.ticks;
        minute.fullTicks += served == due ? 1 : 0;
    });

    auto goodSaved = [&] {
        qint64 n = 0;
        for (int i = 1; i <= good; ++i)
            n += view.saved[state.Cams.Item(i)->mCamName];
        return n;
    };
    std::printf("%d good cameras (%d bytes) and %lld hostile at interval 1 for %.1f min\n", good, size,
                static_cast<long long>(hostile.size()), minutes);
    std::printf("minute  RSS MB  peak MB  saved  per s  ticks  all due good served\n");
    std::fflush(stdout);
    QTimer perMinute;
    QObject::connect(&perMinute, &QTimer::timeout, &app, [&] {
        ++minuteNo;
        const qint64 saved = goodSaved();
        std::printf("%6d  %6.1f  %7.1f  %5lld  %5.1f  %5lld  %6.1f %%\n", minuteNo, ResidentMb(), ResidentMb("VmHWM:"),
                    static_cast<long long>(saved - savedBefore),
                    double(saved - savedBefore) / 60.0, static_cast<long long>(minute.ticks),
                    minute.ticks ? 100.0 * double(minute.fullTicks) / double(minute.ticks) : 0.0);
        std::fflush(stdout);
        savedBefore = saved;
        minute = Minute();
        ResetPeak();
    });
    ResetPeak();
    perMinute.start(60 * 1000);
    QTimer::singleShot(int(minutes * 60 * 1000) + 500, &app, [&] { control.SetChecked(false); app.quit(); });
    app.exec();

    std::printf("\nper hostile camera: saved / failed outcomes\n");
    for (const Hostile &h : hostile) {
        const QString name = QString::fromLatin1(h.name);
        std::printf("  %-15s %5lld / %5lld\n", h.name, static_cast<long long>(view.saved[name]),
                    static_cast<long long>(view.failed[name]));
    }
    std::printf("good cameras: %lld saved, %lld failed in %.0f s\n", static_cast<long long>(goodSaved()),
                [&] { qint64 n = 0; for (int i = 1; i <= good; ++i) n += view.failed[state.Cams.Item(i)->mCamName]; return static_cast<long long>(n); }(),
                double(wall.elapsed()) / 1000.0);
    for (auto &p : sims) {
        p->kill();
        p->waitForFinished(2000);
    }
    return 0;
}
