// Export of one hour of one camera at 1 s (3,600 JPEGs of about 200 KB) as a video and as a
// ZIP, in images per second, beside ffmpeg (and zip, when installed) run by hand on the same
// files with the same options; and the longest gap between 10 ms timer ticks on the GUI
// thread during our exports, which is how long the recording would have waited, beside the
// same with nothing exported. ffmpeg by hand runs at the lower priority ours gets, and the
// CPU time of the encoders is shown too: on a shared machine it says more than the clock.
// Figures only; nothing passes or fails. The files are deleted at the end.
//
//   bench_export [--images N] [--distinct D] [--fps F]

#include "../support/CameraPicture.h"
#include "archive/ArchiveExport.h"
#include "platform/Platform.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double ChildCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The longest gap between 10 ms ticks while the loop runs for ms milliseconds.
qint64 IdleGap(int ms)
{
    QEventLoop loop;
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    sinceTick.start();
    ticker.start(10);
    loop.exec();
    return longest;
}

struct Run
{
    bool ok = false;
    double seconds = 0;
    qint64 longestGapMs = 0;
    QString message;
};

// One export with the event loop running, as in the program, and a 10 ms timer beside it.
Run Export(ArchiveExport &exporter, ArchiveExport::Format format, const QStringList &files, const QString &target, int fps)
{
    Run run;
    QEventLoop loop;
    QElapsedTimer clock, sinceTick;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        run.longestGapMs = std::max(run.longestGapMs, sinceTick.restart());
    });
    QObject::connect(&exporter, &ArchiveExport::finished, &loop, [&](bool ok, const QString &message) {
        run.ok = ok;
        run.message = message;
        loop.quit();
    });
    clock.start();
    sinceTick.start();
    ticker.start();
    QString error;
    if (!exporter.start(format, files, target, fps, &error)) {
        run.message = error;
        return run;
    }
    loop.exec();
    run.seconds = clock.elapsed() / 1000.0;
    QObject::disconnect(&exporter, &ArchiveExport::finished, &loop, nullptr);
    return run;
}

double ByHand(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setChildProcessModifier([] { [[maybe_unused]] const int niceness = ::nice(10); });
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return -1;
    return clock.elapsed() / 1000.0;
}

void Print(const char *what, int images, double seconds, const char *extra = "")
{
    if (seconds <= 0)
        std::printf("%-34s failed\n", what);
    else
        std::printf("%-34s %8.1f images/s  (%.1f s)%s\n", what, images / seconds, seconds, extra);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption imagesOption(QStringLiteral("images"), QStringLiteral("Images."), QStringLiteral("N"), QStringLiteral("3600"));
    const QCommandLineOption distinctOption(QStringLiteral("distinct"), QStringLiteral("Distinct images, hard-linked to N."), QStringLiteral("D"), QStringLiteral("48"));
    const QCommandLineOption fpsOption(QStringLiteral("fps"), QStringLiteral("Video rate."), QStringLiteral("F"), QStringLiteral("25"));
    parser.addOptions({imagesOption, distinctOption, fpsOption});
    parser.process(app);
    const int images = std::clamp(parser.value(imagesOption).toInt(), 1, 86400);
    const int distinct = std::clamp(parser.value(distinctOption).toInt(), 1, images);
    const int fps = std::max(1, parser.value(fpsOption).toInt());

    QTemporaryDir root;
    const QString hour = root.filePath(QStringLiteral("CAM01/2026/12/07/13"));
    const QString out = root.filePath(QStringLiteral("export"));
    QDir().mkpath(hour);
    QDir().mkpath(out);
    QStringList files;
    qint64 bytes = 0;
    for (int i = 0; i < images; ++i) {
        const QString name = QStringLiteral("%1/20261207-13%2%3(Hof).jpg").arg(hour).arg(i / 60 % 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0'));
        if (i < distinct)
            CameraPicture(i).save(name, "JPEG", 88);
        else if (::link(QFile::encodeName(files.at(i % distinct)).constData(), QFile::encodeName(name).constData()) != 0)
            QFile::copy(files.at(i % distinct), name);
        bytes += QFileInfo(name).size();
        files.append(name);
    }
    std::printf("%d images (%d distinct) of %.0f KB on average, 1280 x 960, video at %d images/s\n\n", images, distinct,
                bytes / 1024.0 / images, fps);

    std::printf("%-34s %8lld ms\n", "longest GUI gap, nothing exported", static_cast<long long>(IdleGap(10000)));
    Platform platform = Platform::real();
    ArchiveExport exporter(platform);
    const QString ffmpeg = exporter.findFfmpeg();
    if (ffmpeg.isEmpty()) {
        std::printf("ffmpeg is not installed: no video figures\n");
    } else {
        double cpu = ChildCpuSeconds();
        const Run video = Export(exporter, ArchiveExport::Format::Mp4, files, out + QStringLiteral("/ours.mp4"), fps);
        const QByteArray gap = QStringLiteral("  longest GUI gap %1 ms, encoder CPU %2 ms/image")
                                   .arg(video.longestGapMs).arg(1000 * (ChildCpuSeconds() - cpu) / images, 0, 'f', 1).toUtf8();
        cpu = ChildCpuSeconds();
        Print("MP4, our export", images, video.ok ? video.seconds : -1, gap.constData());
        if (!video.ok)
            std::printf("  %s\n", qPrintable(video.message));
        const QString rate = QString::number(fps);
        const double byHand = ByHand(ffmpeg, {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                              QStringLiteral("-framerate"), rate, QStringLiteral("-pattern_type"), QStringLiteral("glob"),
                              QStringLiteral("-i"), hour + QStringLiteral("/*.jpg"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
                              QStringLiteral("-preset"), QStringLiteral("veryfast"), QStringLiteral("-crf"), QStringLiteral("23"),
                              QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-movflags"), QStringLiteral("+faststart"),
                              out + QStringLiteral("/byhand.mp4")},
                     out);
        const QByteArray handCpu = QStringLiteral("  encoder CPU %1 ms/image").arg(1000 * (ChildCpuSeconds() - cpu) / images, 0, 'f', 1).toUtf8();
        Print("MP4, ffmpeg by hand", images, byHand, handCpu.constData());
    }
    const Run zip = Export(exporter, ArchiveExport::Format::Zip, files, out + QStringLiteral("/ours.zip"), fps);
    const QByteArray gap = QStringLiteral("  longest GUI gap %1 ms").arg(zip.longestGapMs).toUtf8();
    Print("ZIP, our export", images, zip.ok ? zip.seconds : -1, gap.constData());
    if (!zip.ok)
        std::printf("  %s\n", qPrintable(zip.message));
    const QString zipTool = QStandardPaths::findExecutable(QStringLiteral("zip"));
    if (!zipTool.isEmpty())
        Print("ZIP, zip -0 by hand", images,
              ByHand(zipTool, {QStringLiteral("-q"), QStringLiteral("-0"), QStringLiteral("-j"), QStringLiteral("-r"), out + QStringLiteral("/byhand.zip"), hour},
                     out));
    return 0;
}
