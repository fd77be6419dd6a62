// The change test per received 200 KB image, with the last saved file's stamp remembered
// against a file system that knows no stamps (the file read for every image, as before).
// Figures only; nothing passes or fails.

#include "state/AppState.h"
#include "cameras/CamObject.h"
#include "platform/QtFileSystem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

namespace {

class StamplessFileSystem final : public QtFileSystem
{
public:
    std::optional<FileStamp> fileStamp(const QString &) const override { return std::nullopt; }
};

QByteArray Image(bool mobotix, int number, int size)
{
    QByteArray head("\xff\xd8\xff\xfe");
    if (mobotix)
        head += "PRD=MOBOTIX\r\nFRM=" + QByteArray::number(number) + "\r\n";
    QByteArray data = head + QByteArray(size - head.size(), char('a' + number % 20));
    for (qsizetype i = head.size(); i < data.size(); i += 97)
        data[i] = char((i * 31 + number) & 0xff);   // some "=" in the body, as in real images
    return data;
}

// Microseconds per IsNewImage, the last file saved once and every received image new
// (sizes differ) or, with same, of equal length.
double PerImageUs(const std::shared_ptr<FileSystem> &fs, bool mobotix, bool sameSize, const QString &path)
{
    Platform platform = Platform::real();
    platform.fileSystem = fs;
    AppState state(platform);
    CamObject cam(state);
    const QByteArray saved = Image(mobotix, 1, 200 * 1024);
    fs->writeFile(path, saved);
    cam.mCamLastPic = path;
    cam.RememberLastPic(saved);
    QList<QByteArray> received;
    for (int i = 0; i < 7; ++i)
        received.append(Image(mobotix, 2 + i, 200 * 1024 + (sameSize ? 0 : 1 + i)));
    constexpr int Rounds = 2000;
    int changed = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Rounds; ++i)
        changed += cam.IsNewImage(received[i % 7]);
    const double us = double(timer.nsecsElapsed()) / 1e3 / Rounds;
    return changed == Rounds ? us : -us;
}

// What remembering costs at each save: the stamp and one scan of the image.
double RememberUs(const FileSystem &fs, bool mobotix, const QString &path)
{
    const QByteArray image = Image(mobotix, 3, 200 * 1024);
    constexpr int Rounds = 2000;
    int marks = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Rounds; ++i)
        marks += fs.fileStamp(path).has_value() + CamObject::ScanMarks(image).marker;
    return double(timer.nsecsElapsed()) / 1e3 / Rounds + (marks < 0 ? 1 : 0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("last.jpg"));
    const auto stamped = std::make_shared<QtFileSystem>();
    const auto stampless = std::make_shared<StamplessFileSystem>();
    std::printf("%-32s %14s %14s %8s %18s\n", "200 KB images, all new", "read each us", "stamp us", "ratio",
                "+ at each save us");
    for (const bool mobotix : {false, true}) {
        for (const bool sameSize : {false, true}) {
            if (mobotix && sameSize)
                continue;
            const double before = PerImageUs(stampless, mobotix, sameSize, path);
            const double after = PerImageUs(stamped, mobotix, sameSize, path);
            std::printf("%-32s %14.1f %14.1f %8.2f %18.1f\n",
                        mobotix ? "frame numbers" : sameSize ? "plain, same length" : "plain, other length", before,
                        after, before / after, RememberUs(*stamped, mobotix, path));
        }
    }
    return 0;
}
