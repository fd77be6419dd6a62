// The real main window, offscreen: recording N cameras at interval 1 from simulator
// processes, the selected camera's picture shown at every save, beside the headless
// recorder (bench_recording) run in the same invocation; then WriteLog through the window
// with automatic clearing off. Figures only; nothing passes or fails.
//
//   bench_mainwindow [--cameras N] [--seconds T] [--size BYTES] [--lines L]
//   bench_mainwindow --overview [--cameras N] [--phases P] [--seconds T] [--warmup W] [--overview-size WxH]
//
// --overview instead alternates phases of T seconds with the overview window closed and open
// (opened through its menu entry, closed as a user closes it), so that other load on the
// machine falls on both alike, and prints per phase the images saved, the CPU per saved image
// and the ticks at which some due camera was not started.

#include "../support/CamSimProcess.h"
#include "state/AppState.h"
#include "app/MainWindow.h"
#include "cameras/CamObject.h"
#include "log/Log.h"
#include "ui/OverviewWindow.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTcpServer>
#include <QTcpSocket>
#include <QCommandLineParser>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <ctime>
#include <vector>

namespace {

class BenchProgramInfo final : public ProgramInfo
{
public:
    QString folder;
    QString programFolder() const override { return folder; }
    [[noreturn]] void exitNow(int code) override { std::_Exit(code); }
};

double ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QString Tag(const QString &name, const QString &value)
{
    return QStringLiteral("<%1>%2</%1>\r\n").arg(name, value);
}

// The headless recorder's CPU per saved image, from its own output.
double HeadlessCpuPerImage(int cameras, int seconds, int size, QString *output)
{
    QProcess p;
    p.start(QStringLiteral(BENCH_RECORDING_PATH), {QStringLiteral("--cameras"), QString::number(cameras), QStringLiteral("--seconds"),
                                                   QString::number(seconds), QStringLiteral("--size"), QString::number(size)});
    p.waitForFinished(seconds * 1000 + 60000);
    *output = QString::fromLocal8Bit(p.readAllStandardOutput());
    const auto match = QRegularExpression(QStringLiteral("CPU per saved image: *([0-9.]+)")).match(*output);
    return match.hasMatch() ? match.captured(1).toDouble() : 0.0;
}

// Camera 1, the selected one, serves real pictures the window has to decode: two
// different 1280x960 JPEGs in turn, so each one is new to the change test.
class PictureCamera : public QTcpServer
{
public:
    PictureCamera()
    {
        for (int k = 0; k < 2; ++k) {
            QImage image(1280, 960, QImage::Format_RGB32);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    image.setPixel(x, y, qRgb((x * 7 + y * 3 + k * 90) & 255, (x ^ y) & 255, (y * 5 + k * 40) & 255));
            QBuffer buffer(&mJpeg[k]);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "JPG", 85);
        }
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    if (!s->readAll().contains("\r\n\r\n"))
                        return;
                    const QByteArray &jpeg = mJpeg[mNext++ % 2];
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n" + jpeg);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
    }
    qsizetype size() const { return mJpeg[0].size(); }

private:
    QByteArray mJpeg[2];
    int mNext = 0;
};

struct Phase
{
    bool overview = false;
    qint64 saved = 0, ticks = 0, shortTicks = 0, due = 0, served = 0;
    double cpu = 0;
};

// Alternating phases, closed first; see the head of this file.
int RunOverviewPhases(QApplication &app, frmMain &window, AppState &state, int cameras, int phaseCount, int seconds,
                      int warmup, QSize overviewSize)
{
    std::vector<Phase> phases(static_cast<size_t>(phaseCount));
    for (int k = 0; k < phaseCount; ++k)
        phases[size_t(k)].overview = k % 2 == 1;
    int current = -1;   // the warm-up

    // The cycle as the timer runs it, with a count of the due cameras it did not start
    // (interval 1: every camera not busy is due).
    RecordingControl &control = window.Recording();
    control.MainTimer().disconnect();
    std::vector<char> wasBusy(size_t(cameras + 1));
    QObject::connect(&control.MainTimer(), &QTimer::timeout, &app, [&] {
        if (state.Cams.Count() < cameras) {   // the program is closing
            control.MainTimer_Timer();
            return;
        }
        int due = 0;
        for (int i = 1; i <= cameras; ++i) {
            wasBusy[size_t(i)] = state.Cams.Item(i)->mCamIsBusy;
            due += wasBusy[size_t(i)] ? 0 : 1;
        }
        control.MainTimer_Timer();
        int served = 0;
        for (int i = 1; i <= cameras; ++i)
            served += (!wasBusy[size_t(i)] && state.Cams.Item(i)->mCamIsBusy) ? 1 : 0;
        if (current < 0)
            return;
        Phase &p = phases[size_t(current)];
        ++p.ticks;
        p.shortTicks += served < due ? 1 : 0;
        p.due += due;
        p.served += served;
    });
    // Saved images: every camera's last picture changes with each save, at most once a second.
    std::vector<QString> lastPic(size_t(cameras + 1));
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        for (int i = 1; i <= cameras; ++i) {
            const auto cam = state.Cams.Item(i);
            if (cam && cam->mCamLastPic != lastPic[size_t(i)]) {
                lastPic[size_t(i)] = cam->mCamLastPic;
                if (current >= 0)
                    ++phases[size_t(current)].saved;
            }
        }
    });
    probe.start(100);

    double cpuStart = 0;
    QTimer next;
    next.setSingleShot(true);
    QObject::connect(&next, &QTimer::timeout, [&] {
        const double cpu = CpuSeconds();
        if (current >= 0)
            phases[size_t(current)].cpu = cpu - cpuStart;
        if (++current == phaseCount) {
            window.SetRecordingChecked(false);
            app.quit();
            return;
        }
        if (phases[size_t(current)].overview) {
            window.mnuOverview->trigger();
            if (overviewSize.isValid() && window.frmOverview->size() != overviewSize)
                window.frmOverview->resize(overviewSize);
        } else if (window.frmOverview) {
            window.frmOverview->close();
        }
        cpuStart = CpuSeconds();
        next.start(seconds * 1000);
    });
    next.start(warmup * 1000);
    app.exec();
    probe.stop();

    std::printf("main window offscreen, overview closed and open in turn: %d cameras, interval 1, %d s a phase after %d s warm-up\n",
                cameras, seconds, warmup);
    if (window.frmOverview)
        std::printf("overview %dx%d, %d decodes at tile size in all\n", window.frmOverview->width(), window.frmOverview->height(),
                    window.frmOverview->decodes());
    std::printf("phase  overview  saved  per s   CPU ms/image  ticks  short ticks  served/due\n");
    double perImage[2] = {0, 0};
    qint64 saved[2] = {0, 0};
    for (size_t k = 0; k < phases.size(); ++k) {
        const Phase &p = phases[k];
        const double ms = p.saved ? 1000.0 * p.cpu / double(p.saved) : 0.0;
        std::printf("%5zu  %-8s  %5lld  %5.1f  %12.3f  %5lld  %11lld  %lld/%lld\n", k + 1, p.overview ? "open" : "closed",
                    static_cast<long long>(p.saved), double(p.saved) / seconds, ms, static_cast<long long>(p.ticks),
                    static_cast<long long>(p.shortTicks), static_cast<long long>(p.served), static_cast<long long>(p.due));
        perImage[p.overview ? 1 : 0] += 1000.0 * p.cpu;
        saved[p.overview ? 1 : 0] += p.saved;
    }
    if (saved[0] && saved[1]) {
        const double closed = perImage[0] / double(saved[0]), open = perImage[1] / double(saved[1]);
        std::printf("CPU per saved image: closed %.3f ms, open %.3f ms, rise %+.1f %%\n", closed, open, 100.0 * (open / closed - 1.0));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption camerasOpt(QStringLiteral("cameras"), QStringLiteral("Cameras (1..255)."), QStringLiteral("n"), QStringLiteral("64"));
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("Recording time."), QStringLiteral("s"), QStringLiteral("20"));
    const QCommandLineOption sizeOpt(QStringLiteral("size"), QStringLiteral("Image size in bytes."), QStringLiteral("bytes"), QStringLiteral("204800"));
    const QCommandLineOption linesOpt(QStringLiteral("lines"), QStringLiteral("WriteLog calls."), QStringLiteral("l"), QStringLiteral("100000"));
    const QCommandLineOption overviewOpt(QStringLiteral("overview"), QStringLiteral("Phases with the overview closed and open."));
    const QCommandLineOption phasesOpt(QStringLiteral("phases"), QStringLiteral("Phases (with --overview)."), QStringLiteral("p"), QStringLiteral("4"));
    const QCommandLineOption warmupOpt(QStringLiteral("warmup"), QStringLiteral("Seconds before the first phase (with --overview)."), QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption overviewSizeOpt(QStringLiteral("overview-size"), QStringLiteral("Overview window size, e.g. 1900x1000."), QStringLiteral("WxH"));
    parser.addOptions({camerasOpt, secondsOpt, sizeOpt, linesOpt, overviewOpt, phasesOpt, warmupOpt, overviewSizeOpt});
    parser.process(app);
    const int cameras = std::clamp(parser.value(camerasOpt).toInt(), 1, 255);
    const bool overview = parser.isSet(overviewOpt);
    const int seconds = std::max(1, parser.isSet(secondsOpt) || !overview ? parser.value(secondsOpt).toInt() : 60);
    const int size = std::max(64, parser.value(sizeOpt).toInt());
    const int lines = std::max(2000, parser.value(linesOpt).toInt());
    const int simCount = std::clamp((cameras + 31) / 32, 1, cameras);

    std::vector<std::unique_ptr<QProcess>> sims;
    std::vector<quint16> ports;
    if (!StartNewImageSims(simCount, size, sims, ports))
        return 1;

    // The program folder with a settings file that records every camera at interval 1.
    QTemporaryDir folder;
    QTemporaryDir archive;
    QString ini = QStringLiteral("*** INI file of Bildfang. Do NOT edit ***\r\n");
    ini += Tag(QStringLiteral("ARCHIVE"), archive.path()) + Tag(QStringLiteral("CAM_COUNT"), QString::number(cameras));
    PictureCamera pictures;
    for (int i = 1; i <= cameras; ++i) {
        const QString prefix = QStringLiteral("CAM%1").arg(i, 2, 10, QLatin1Char('0'));
        ini += Tag(prefix + QStringLiteral("_NAME"), QStringLiteral("Bench%1").arg(i));
        const quint16 port = i == 1 ? pictures.serverPort() : ports[size_t((i - 1) % simCount)];
        ini += Tag(prefix + QStringLiteral("_SOCKET"), QStringLiteral("127.0.0.1:%1").arg(port));
        ini += Tag(prefix + QStringLiteral("_PATH"), QStringLiteral("/cam%1.jpg").arg(i));
        ini += Tag(prefix + QStringLiteral("_RATE"), QStringLiteral("1"));
    }
    ini += Tag(QStringLiteral("LASTCAM"), QStringLiteral("1")) + Tag(QStringLiteral("LIMIT_OPT"), QStringLiteral("Z"))
        + Tag(QStringLiteral("LIMIT_TIME"), QStringLiteral("24")) + Tag(QStringLiteral("LIMIT_UNIT"), QStringLiteral("h"))
        + Tag(QStringLiteral("LOG_CLEAR"), QStringLiteral("True")) + Tag(QStringLiteral("RECORD"), QStringLiteral("True"));
    QFile file(folder.filePath(QStringLiteral("Bildfang.ini")));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(ini.toUtf8());
    file.close();

    Platform platform = Platform::real();
    auto program = std::make_shared<BenchProgramInfo>();
    program->folder = folder.path();
    platform.program = program;
    AppState state(platform);
    frmMain window(state);
    qint64 shown = 0;
    window.Form_Load();
    window.show();
    if (overview) {
        const QStringList wh = parser.value(overviewSizeOpt).split(QLatin1Char('x'));
        const QSize overviewSize = wh.size() == 2 ? QSize(wh[0].toInt(), wh[1].toInt()) : QSize();
        const int result = RunOverviewPhases(app, window, state, cameras, std::max(2, parser.value(phasesOpt).toInt()), seconds,
                                             std::max(0, parser.value(warmupOpt).toInt()), overviewSize);
        for (auto &p : sims) {
            p->kill();
            p->waitForFinished(2000);
        }
        return result;
    }
    // From here on, as the headless recorder counts: its set-up is not in its figure either.
    const double cpuStart = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    // Counts the pictures shown: every change of the file name label.
    QString lastLabel;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (window.lblLetztesBild->text() != lastLabel) {
            lastLabel = window.lblLetztesBild->text();
            ++shown;
        }
    });
    probe.start(100);
    QTimer::singleShot(seconds * 1000, &app, [&] {
        window.SetRecordingChecked(false);
        app.quit();
    });
    app.exec();
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpuStart;
    probe.stop();
    for (auto &p : sims) {
        p->kill();
        p->waitForFinished(2000);
    }

    qint64 saved = 0;
    for (QDirIterator it(archive.path(), {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++saved;
    const double windowPerImage = saved ? cpu / double(saved) : 0.0;

    QString headlessOutput;
    const double headlessPerImage = HeadlessCpuPerImage(cameras, seconds, size, &headlessOutput);

    std::printf("main window offscreen: %d cameras, interval 1, image %d bytes, %.1f s\n", cameras, size, elapsed);
    std::printf("images saved:                  %lld (%.1f per second), pictures shown: %lld (camera 1: %lld-byte 1280x960 JPEGs)\n",
                static_cast<long long>(saved), double(saved) / elapsed, static_cast<long long>(shown),
                static_cast<long long>(pictures.size()));
    std::printf("window CPU per saved image:    %.5f s\n", windowPerImage);
    std::printf("headless CPU per saved image:  %.5f s (bench_recording, same run)\n", headlessPerImage);
    if (headlessPerImage > 0)
        std::printf("ratio window / headless:       %.2f\n", windowPerImage / headlessPerImage);

    // WriteLog through the window, automatic clearing off: per-call cost at the start and the end.
    window.SetLogAutoLeerenChecked(false);
    LogLeeren(state);
    const QString message = QStringLiteral("Hoftor: Keine Verbindung zur Kamera!");
    // Thread CPU time, so other processes on the machine do not blur the figures; blocks of a
    // tenth of the calls, the last block including the window's save into the log file.
    const int block = lines / 10;
    std::vector<double> perCall;
    for (int done = 0; done + block <= lines; done += block) {
        const double start = ThreadCpuNs();
        for (int i = 0; i < block; ++i)
            WriteLog(state, message);
        perCall.push_back((ThreadCpuNs() - start) / block);
    }
    // The same calls without a window, as the peer.
    AppState headless(Platform::real());
    headless.LogFileName = archive.filePath(QStringLiteral("headless.txt"));
    const double headlessStart = ThreadCpuNs();
    for (int i = 0; i < lines; ++i)
        WriteLog(headless, message);
    const double headlessPerCall = (ThreadCpuNs() - headlessStart) / lines;
    std::printf("WriteLog through the window, %d lines, clearing off (CPU ns per call, blocks of %d):\n ", lines, block);
    for (const double ns : perCall)
        std::printf(" %.0f", ns);
    std::printf("\n  ratio last block / first block %.2f; headless WriteLog %.0f ns/call; window / headless %.1f\n",
                perCall.back() / perCall.front(), headlessPerCall, perCall.back() / headlessPerCall);
    std::printf("  window now holds %d lines (emptied into the log file every %d)\n", state.txtLog.lineBreaks(),
                LogWindow::OverflowLines);
    return 0;
}
