#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

struct Platform;

// Writes a time range of one camera's images into one file: an MP4 (H.264) made by ffmpeg,
// or a ZIP of the JPEGs as they are. It only reads the archive. The target appears only when
// the export succeeded; a cancelled or failed export leaves nothing behind. It runs on while
// events run, so the recording goes on meanwhile.
class ArchiveExport : public QObject
{
    Q_OBJECT
public:
    enum class Format { Mp4, Zip };

    explicit ArchiveExport(Platform &platform, QObject *parent = nullptr);
    ~ArchiveExport() override;

    // The ffmpeg program found now; empty when there is none.
    QString findFfmpeg() const;

    // Starts exporting files (full paths, in time order) into target. framesPerSecond is the
    // video's rate (ignored for ZIP). False, with the German reason in *error, when it cannot
    // start, for example an MP4 without ffmpeg.
    bool start(Format format, const QStringList &files, const QString &target, int framesPerSecond,
               QString *error);
    void cancel();
    bool isRunning() const;

signals:
    void progress(int done, int total);
    // ok false: message says why, in German (also after cancel).
    void finished(bool ok, const QString &message);

private:
    struct Job;
    void prepare();
    void prepared();
    void startFfmpeg();
    void readFfmpegOutput();
    void ffmpegEnded(int iExitCode, bool bCrashed);
    void publish(int iWritten);
    void fail(const QString &strMessage, bool bWriteFailed = false);
    void finish(bool ok, const QString &message);

    Platform &mPlatform;
    std::unique_ptr<Job> mJob;
};
