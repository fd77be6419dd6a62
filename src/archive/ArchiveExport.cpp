#include "archive/ArchiveExport.h"

#include "archive/ZipWriter.h"
#include "platform/Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QSize>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>

namespace {

// ffmpeg stops at the first image that vanished under it; the run is repeated without the
// images gone by then, this often at most.
constexpr int kFfmpegRuns = 3;
// Below this the drive counts as full after a failed write.
constexpr qint64 kNearlyFull = 1 << 20;

QString Quoted(const QString &strText)
{
    return QStringLiteral("„") + strText + QStringLiteral("“");
}

QString ImageCount(int iCount)
{
    return iCount == 1 ? QStringLiteral("1 Bild") : QString::number(iCount) + QStringLiteral(" Bilder");
}

// An empty hidden file beside the target, so the rename at the end stays on one file system
// and no second export picks the same name.
QString ReserveTemporary(const QString &strTarget, QString *error)
{
    const QFileInfo info(strTarget);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString path = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.')
            + QString::number(QRandomGenerator::global()->generate(), 36) + QStringLiteral(".part");
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return path;
        if (!QFileInfo::exists(path)) {
            *error = file.errorString();
            return {};
        }
    }
    *error = QStringLiteral("kein freier Name");
    return {};
}

// One line of an ffconcat list; quotes in the path are closed, escaped and reopened.
QByteArray ConcatLine(const QString &strPath)
{
    QByteArray path = QFile::encodeName(strPath);
    path.replace('\'', "'\\''");
    return "file '" + path + "'\n";
}

QByteArray LastLine(const QByteArray &byText)
{
    const QList<QByteArray> lines = byText.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QByteArray trimmed = line->trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return {};
}

} // namespace

struct ArchiveExport::Job
{
    Format format = Format::Zip;
    QStringList files;   // for a video: the images ffmpeg gets
    QString target;
    QString temporary;   // emptied once it became the target
    QString ffmpeg;
    int framesPerSecond = 1;
    int missing = 0;
    std::atomic<bool> cancelled{false};
    std::unique_ptr<QThread> worker;

    // What the worker leaves; read after it ended.
    QString workerError;
    bool writeFailed = false;
    int written = 0;
    QSize size;

    std::unique_ptr<QTemporaryDir> listFolder;   // outside the archive
    QProcess *process = nullptr;
    QByteArray output;
    QByteArray errors;
    int frames = -1;
    int runs = 0;

    ~Job()
    {
        cancelled = true;
        if (worker)
            worker->wait();
        if (process) {
            process->disconnect();
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
            // Its own signal may be on the stack.
            process->deleteLater();
        }
        if (!temporary.isEmpty())
            QFile::remove(temporary);
    }

    QString listPath() const { return listFolder->filePath(QStringLiteral("images.ffconcat")); }

    // Worker: the images still there, the first one's size, and the list ffmpeg reads.
    void listForFfmpeg()
    {
        QStringList present;
        present.reserve(files.size());
        for (const QString &path : std::as_const(files)) {
            if (cancelled)
                return;
            if (QFileInfo::exists(path))
                present.append(path);
            else
                ++missing;
        }
        files = present;
        if (files.isEmpty()) {
            workerError = QStringLiteral("Die Bilder des Zeitraums wurden inzwischen gelöscht.");
            return;
        }
        size = QSize();
        for (qsizetype i = 0; i < files.size() && i < 16 && !size.isValid(); ++i)
            size = QImageReader(files.at(i)).size();
        if (!size.isValid()) {
            workerError = QStringLiteral("Die Bilder lassen sich nicht lesen.");
            return;
        }
        QByteArray list("ffconcat version 1.0\n");
        for (const QString &path : std::as_const(files))
            list += ConcatLine(path);
        QFile file(listPath());
        if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size() || !file.flush()) {
            workerError = QStringLiteral("Die Bildliste für ffmpeg kann nicht geschrieben werden: ") + file.errorString();
            return;
        }
    }

    // Worker: the ZIP into the temporary, synced before it counts.
    void writeZip(const std::function<void(int, int)> &progress)
    {
        const QString cannotWrite = QStringLiteral("Die ZIP-Datei kann nicht geschrieben werden: ");
        QFile out(temporary);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            writeFailed = true;
            workerError = cannotWrite + out.errorString();
            return;
        }
        ZipWriter zip(out);
        const int total = int(files.size());
        const int step = std::max(1, total / 200);
        for (int i = 0; i < total; ++i) {
            if (cancelled)
                return;
            const QString &path = files.at(i);
            QFile in(path);
            QByteArray data;
            if (in.open(QIODevice::ReadOnly))
                data = in.readAll();
            if (!in.isOpen() || in.error() != QFileDevice::NoError) {
                ++missing;
                continue;
            }
            if (!zip.add(QFileInfo(path).fileName(), data, in.fileTime(QFileDevice::FileModificationTime))) {
                writeFailed = true;
                workerError = cannotWrite + zip.errorString();
                return;
            }
            if ((i + 1) % step == 0 || i + 1 == total)
                progress(i + 1, total);
        }
        written = int(zip.count());
        if (written == 0) {
            workerError = QStringLiteral("Die Bilder des Zeitraums wurden inzwischen gelöscht.");
            return;
        }
        if (!zip.finish() || !out.flush() || ::fsync(out.handle()) != 0) {
            writeFailed = true;
            workerError = cannotWrite + (zip.errorString().isEmpty() ? out.errorString() : zip.errorString());
        }
    }
};

ArchiveExport::ArchiveExport(Platform &platform, QObject *parent) : QObject(parent), mPlatform(platform) {}

ArchiveExport::~ArchiveExport() = default;

QString ArchiveExport::findFfmpeg() const
{
    return mPlatform.launcher->findProgram(QStringLiteral("ffmpeg"));
}

bool ArchiveExport::start(Format format, const QStringList &files, const QString &target, int framesPerSecond,
                          QString *error)
{
    QString reason;
    const auto refuse = [&](const QString &strMessage) {
        if (error)
            *error = strMessage;
        return false;
    };
    if (mJob)
        return refuse(QStringLiteral("Es läuft bereits ein Export."));
    if (files.isEmpty())
        return refuse(QStringLiteral("Im gewählten Zeitraum gibt es keine Bilder."));
    if (target.isEmpty())
        return refuse(QStringLiteral("Keine Zieldatei angegeben."));

    auto job = std::make_unique<Job>();
    job->format = format;
    job->files = files;
    job->target = QFileInfo(target).absoluteFilePath();
    job->framesPerSecond = framesPerSecond;
    if (format == Format::Mp4) {
        if (framesPerSecond < 1)
            return refuse(QStringLiteral("Die Bildrate muss mindestens 1 Bild pro Sekunde sein."));
        job->ffmpeg = findFfmpeg();
        if (job->ffmpeg.isEmpty())
            return refuse(QStringLiteral("ffmpeg ist nicht installiert. Bitte mit \"sudo apt install ffmpeg\" installieren."));
        job->listFolder = std::make_unique<QTemporaryDir>();
        if (!job->listFolder->isValid())
            return refuse(QStringLiteral("Die Bildliste für ffmpeg kann nicht angelegt werden: ") + job->listFolder->errorString());
    }
    job->temporary = ReserveTemporary(job->target, &reason);
    if (job->temporary.isEmpty())
        return refuse(QStringLiteral("Die Datei ") + Quoted(job->target) + QStringLiteral(" kann nicht angelegt werden: ") + reason);
    mJob = std::move(job);
    prepare();
    return true;
}

void ArchiveExport::cancel()
{
    if (!mJob || mJob->cancelled)
        return;
    mJob->cancelled = true;
    if (mJob->process && mJob->process->state() != QProcess::NotRunning)
        mJob->process->kill();
}

bool ArchiveExport::isRunning() const
{
    return mJob != nullptr;
}

void ArchiveExport::prepare()
{
    Job *job = mJob.get();
    job->workerError.clear();
    if (job->format == Format::Zip) {
        // The images go through the worker's hands; only the counts come back, queued.
        job->worker.reset(QThread::create([this, job] {
            job->writeZip([this](int iDone, int iTotal) {
                QMetaObject::invokeMethod(this, [this, iDone, iTotal] { emit progress(iDone, iTotal); },
                                          Qt::QueuedConnection);
            });
        }));
    } else {
        job->worker.reset(QThread::create([job] { job->listForFfmpeg(); }));
    }
    connect(job->worker.get(), &QThread::finished, this, &ArchiveExport::prepared);
    job->worker->start();
}

void ArchiveExport::prepared()
{
    Job &job = *mJob;
    job.worker->wait();
    job.worker.reset();
    if (job.cancelled)
        fail(QStringLiteral("Export abgebrochen."));
    else if (!job.workerError.isEmpty())
        fail(job.workerError, job.writeFailed);
    else if (job.format == Format::Zip)
        publish(job.written);
    else
        startFfmpeg();
}

void ArchiveExport::startFfmpeg()
{
    Job &job = *mJob;
    ++job.runs;
    job.frames = -1;
    job.output.clear();
    job.errors.clear();
    const QString rate = QString::number(job.framesPerSecond);
    // H.264 wants even sides; images of another size are fitted into the first one's frame.
    const QString width = QString::number(std::max(2, job.size.width() & ~1));
    const QString height = QString::number(std::max(2, job.size.height() & ~1));
    const QString fit = QStringLiteral("scale=%1:%2:force_original_aspect_ratio=decrease,pad=%1:%2:(ow-iw)/2:(oh-ih)/2,"
                                       "setsar=1,format=yuv420p").arg(width, height);
    const QStringList arguments{
        QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
        QStringLiteral("-y"), QStringLiteral("-r"), rate, QStringLiteral("-f"), QStringLiteral("concat"),
        QStringLiteral("-safe"), QStringLiteral("0"), QStringLiteral("-i"), job.listPath(),
        QStringLiteral("-vf"), fit, QStringLiteral("-r"), rate, QStringLiteral("-c:v"), QStringLiteral("libx264"),
        QStringLiteral("-preset"), QStringLiteral("veryfast"), QStringLiteral("-crf"), QStringLiteral("23"),
        QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-movflags"), QStringLiteral("+faststart"),
        QStringLiteral("-progress"), QStringLiteral("pipe:1"), QStringLiteral("-nostats"),
        QStringLiteral("-f"), QStringLiteral("mp4"), job.temporary};

    if (!job.process) {
        job.process = new QProcess;
        job.process->setStandardInputFile(QProcess::nullDevice());
        // The encoder takes every core it gets; the recording on this machine comes first.
        job.process->setChildProcessModifier([] { [[maybe_unused]] const int niceness = ::nice(10); });
        connect(job.process, &QProcess::readyReadStandardOutput, this, &ArchiveExport::readFfmpegOutput);
        connect(job.process, &QProcess::readyReadStandardError, this, &ArchiveExport::readFfmpegOutput);
        connect(job.process, &QProcess::started, this, [this] {
            if (mJob->cancelled)
                mJob->process->kill();
        });
        connect(job.process, &QProcess::finished, this, [this](int iExitCode, QProcess::ExitStatus status) {
            ffmpegEnded(iExitCode, status == QProcess::CrashExit);
        });
        connect(job.process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError iError) {
            if (iError == QProcess::FailedToStart)
                fail(QStringLiteral("ffmpeg konnte nicht gestartet werden: ") + mJob->process->errorString());
        });
    }
    job.process->start(job.ffmpeg, arguments);
}

void ArchiveExport::readFfmpegOutput()
{
    Job &job = *mJob;
    job.errors += job.process->readAllStandardError();
    if (job.errors.size() > 8192)
        job.errors = job.errors.right(4096);
    job.output += job.process->readAllStandardOutput();
    const qsizetype end = job.output.lastIndexOf('\n');
    if (end < 0)
        return;
    const QList<QByteArray> lines = job.output.left(end).split('\n');
    job.output.remove(0, end + 1);
    int frames = -1;
    for (const QByteArray &line : lines) {
        bool ok = false;
        const int value = line.startsWith("frame=") ? line.mid(6).trimmed().toInt(&ok) : -1;
        if (ok)
            frames = value;
    }
    if (frames >= 0) {
        job.frames = frames;
        const int total = int(job.files.size());
        emit progress(std::min(frames, total), total);
    }
}

void ArchiveExport::ffmpegEnded(int iExitCode, bool bCrashed)
{
    readFfmpegOutput();
    Job &job = *mJob;
    if (job.cancelled) {
        fail(QStringLiteral("Export abgebrochen."));
        return;
    }
    if (bCrashed || iExitCode != 0) {
        const QByteArray last = LastLine(job.errors);
        fail(QStringLiteral("Das Video konnte nicht erstellt werden. ")
             + (last.isEmpty() ? QStringLiteral("ffmpeg endete mit Code %1.").arg(iExitCode)
                               : QStringLiteral("ffmpeg meldet: ") + QString::fromLocal8Bit(last)),
             true);
        return;
    }
    const int handed = int(job.files.size());
    if (job.frames >= 0 && job.frames < handed) {
        const bool vanished = std::any_of(job.files.cbegin(), job.files.cend(),
                                          [](const QString &path) { return !QFileInfo::exists(path); });
        if (vanished && job.runs < kFfmpegRuns) {
            prepare();
            return;
        }
    }
    publish(job.frames >= 0 ? std::min(job.frames, handed) : handed);
}

void ArchiveExport::publish(int iWritten)
{
    Job &job = *mJob;
    // rename() replaces a target the user agreed to overwrite in one step.
    if (std::rename(QFile::encodeName(job.temporary).constData(), QFile::encodeName(job.target).constData()) != 0) {
        const int code = errno;
        fail(QStringLiteral("Die Datei ") + Quoted(job.target) + QStringLiteral(" kann nicht angelegt werden: ")
                 + QString::fromLocal8Bit(std::strerror(code)),
             true);
        return;
    }
    job.temporary.clear();
    QString message = ImageCount(iWritten)
        + (job.format == Format::Mp4 ? QStringLiteral(" als Video gespeichert: ") : QStringLiteral(" als ZIP gespeichert: "))
        + Quoted(job.target) + QLatin1Char('.');
    if (job.missing > 0)
        message += QLatin1Char(' ') + ImageCount(job.missing)
            + (job.missing == 1 ? QStringLiteral(" fehlte, inzwischen gelöscht.") : QStringLiteral(" fehlten, inzwischen gelöscht."));
    finish(true, message);
}

void ArchiveExport::fail(const QString &strMessage, bool bWriteFailed)
{
    QString message = strMessage;
    if (bWriteFailed) {
        // Asked before the temporary goes, while the drive is still as full as it was.
        const qint64 free = mPlatform.fileSystem->freeBytes(QFileInfo(mJob->target).absolutePath());
        if (free >= 0 && free < kNearlyFull)
            message = QStringLiteral("Auf dem Ziellaufwerk ist kein Platz mehr frei. ") + message;
    }
    finish(false, message);
}

void ArchiveExport::finish(bool ok, const QString &message)
{
    mJob.reset();   // removes what is left of a failed or cancelled export
    emit finished(ok, message);
}
