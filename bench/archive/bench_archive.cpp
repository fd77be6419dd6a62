// The archive browser, offscreen, on one camera's day at 1 s: 86,400 images in 24 hour
// folders, hard links to a few real camera-sized JPEGs. The time to open the day (listing and
// first picture shown) and the time from a slider move to its picture, over random moves.
// Figures only; nothing passes or fails. The tree is deleted at the end.
//
//   bench_archive [--images N] [--moves M] [--folder F]

#include "../support/CameraPicture.h"
#include "state/AppState.h"
#include "archive/ArchiveDay.h"
#include "ui/ArchiveBrowser.h"
#include "ui/PictureBox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

double Ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// Runs events until the browser shows the slider's picture.
void UntilShown(ArchiveBrowser &browser)
{
    while (browser.currentIndex() >= 0 && browser.shownIndex() != browser.currentIndex())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption imagesOption(QStringLiteral("images"), QStringLiteral("Images of the day."), QStringLiteral("N"), QStringLiteral("86400"));
    const QCommandLineOption movesOption(QStringLiteral("moves"), QStringLiteral("Slider moves."), QStringLiteral("M"), QStringLiteral("200"));
    const QCommandLineOption folderOption(QStringLiteral("folder"), QStringLiteral("Where the tree is made."), QStringLiteral("F"), QDir::tempPath());
    parser.addOptions({imagesOption, movesOption, folderOption});
    parser.process(app);
    const int images = std::clamp(parser.value(imagesOption).toInt(), 1, 86400);
    const int moves = std::max(1, parser.value(movesOption).toInt());

    QTemporaryDir dir(parser.value(folderOption) + QStringLiteral("/bench_archive-XXXXXX"));
    if (!dir.isValid()) {
        std::printf("no folder for the tree\n");
        return 0;
    }
    const int pool = 4;
    QList<QByteArray> sources;
    qint64 bytes = 0;
    for (int i = 0; i < pool; ++i) {
        const QString file = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
        CameraPicture(i).save(file, "JPG", 86);
        bytes += QFileInfo(file).size();
        sources << QFile::encodeName(file);
    }

    QElapsedTimer t;
    t.start();
    const QString day = dir.filePath(QStringLiteral("CAM01/2006/05/12"));
    const int step = 86400 / images;
    int made = 0;
    for (int hour = 0; hour < 24; ++hour)
        QDir().mkpath(day + QStringLiteral("/%1").arg(hour, 2, 10, QLatin1Char('0')));
    for (int i = 0; i < images; ++i) {
        const int second = i * step;
        const QString name = day + QStringLiteral("/%1/20060512-%1%2%3(Hof).jpg")
                                       .arg(second / 3600, 2, 10, QLatin1Char('0'))
                                       .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                                       .arg(second % 60, 2, 10, QLatin1Char('0'));
        made += ::link(sources[i % pool].constData(), QFile::encodeName(name).constData()) == 0;
    }
    std::printf("tree: %d images (links to %d JPEGs of %lld KB on average) made in %.1f s\n", made, pool,
                bytes / pool / 1024, Ms(t) / 1000);

    AppState state(Platform::real());
    state.ArchivePath = dir.path() + QLatin1Char('/');
    state.CamCount = 1;

    std::vector<double> listings;
    for (int i = 0; i < 5; ++i) {
        t.restart();
        const ArchiveDay listed(*state.platform.fileSystem, state.ArchivePath, 1, QDate(2006, 5, 12));
        listings.push_back(Ms(t));
    }

    t.restart();
    ArchiveBrowser browser(state, QString(), QString());
    browser.show();
    UntilShown(browser);
    const double open = Ms(t);

    std::vector<double> times;
    QRandomGenerator random(7);
    for (int i = 0; i < moves; ++i) {
        const int index = int(random.bounded(browser.day().count()));
        t.restart();
        browser.sldZeit->setValue(index);
        UntilShown(browser);
        times.push_back(Ms(t));
    }

    std::printf("day listing alone: median %.1f ms of 5\n", Percentile(listings, 0.5));
    std::printf("open the day (calendar marks, listing, first picture shown): %.1f ms (goal < 1000)\n", open);
    std::printf("slider move until its picture is shown, %d random moves: median %.1f ms (goal < 100), "
                "90th percentile %.1f ms, slowest %.1f ms\n",
                moves, Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 1.0));
    std::printf("picture box %d x %d; figures with the files in the page cache\n", browser.imgBild->width(),
                browser.imgBild->height());
    browser.close();
    t.restart();
    const bool removed = dir.remove();
    std::printf("tree %s in %.1f s\n", removed ? "deleted" : "NOT deleted", Ms(t) / 1000);
    return 0;
}
