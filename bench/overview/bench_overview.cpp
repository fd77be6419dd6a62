// The overview window, offscreen, on N cameras whose images all change between refreshes:
// the cost of one refresh (its bounded decodes at tile size) beside a full-size decode of
// the same images, and of a refresh with nothing new. Figures only; nothing passes or fails.
//
//   bench_overview [--cameras N] [--refreshes R]

#include "../support/CameraPicture.h"
#include "state/AppState.h"
#include "cameras/CamObject.h"
#include "ui/OverviewWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption camerasOption(QStringLiteral("cameras"), QStringLiteral("Cameras."), QStringLiteral("N"), QStringLiteral("255"));
    const QCommandLineOption refreshesOption(QStringLiteral("refreshes"), QStringLiteral("Refreshes."), QStringLiteral("R"), QStringLiteral("40"));
    parser.addOptions({camerasOption, refreshesOption});
    parser.process(app);
    const int cameras = std::clamp(parser.value(camerasOption).toInt(), 1, 255);
    const int refreshes = std::max(1, parser.value(refreshesOption).toInt());

    QTemporaryDir dir;
    const int pool = 8;
    QStringList files;
    qint64 bytes = 0;
    for (int i = 0; i < pool; ++i) {
        files << dir.filePath(QStringLiteral("p%1.jpg").arg(i));
        CameraPicture(i).save(files.last(), "JPG", 80);
        bytes += QFileInfo(files.last()).size();
    }

    std::vector<double> full;
    for (const QString &file : files) {
        QElapsedTimer t;
        t.start();
        QImageReader(file).read();
        full.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    AppState state(Platform::real());
    state.CamCount = qint16(cameras);
    for (int i = 1; i <= cameras; ++i)
        state.Cams.Add(std::make_shared<CamObject>(state));
    OverviewWindow window(state);
    window.show();
    QApplication::processEvents();

    std::vector<double> busy, idle;
    const int decodesBefore = window.decodes();
    for (int r = 0; r < refreshes; ++r) {
        // Every camera saved a new image since the last refresh.
        for (int i = 1; i <= cameras; ++i) {
            const auto cam = state.Cams.Item(i);
            cam->mCamLastPic = files[(i + r) % pool];
            cam->mLastSavedTime = QDateTime::currentDateTime();
        }
        QElapsedTimer t;
        t.start();
        window.Refresh();
        busy.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double decodesPerRefresh = double(window.decodes() - decodesBefore) / refreshes;
    // Until every tile shows its camera's image, then refreshes with nothing new.
    for (int k = 0; k <= cameras + 1; ++k)
        window.Refresh();
    for (int r = 0; r < refreshes; ++r) {
        QElapsedTimer t;
        t.start();
        window.Refresh();
        idle.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double perDecode = Median(busy) / decodesPerRefresh;
    std::printf("overview: %d cameras, images %.0f KB, 1280x960\n", cameras, double(bytes) / pool / 1024);
    std::printf("full-size decode:             %.2f ms (median)\n", Median(full));
    std::printf("refresh, all images new:      %.2f ms (median), %.1f decodes at tile size, %.2f ms each\n", Median(busy),
                decodesPerRefresh, perDecode);
    std::printf("refresh, nothing new:         %.2f ms (median)\n", Median(idle));
    std::printf("share of the GUI thread at one refresh per %d ms: %.1f %%\n", OverviewWindow::RefreshMs,
                100.0 * Median(busy) / OverviewWindow::RefreshMs);
    std::printf("a tile's picture is at most %.1f s behind with every camera at 1 s\n",
                double(cameras) / decodesPerRefresh * OverviewWindow::RefreshMs / 1000.0);
    return 0;
}
