// Applying a settings file: the ReadTag walk per value (the earlier way, one walk of the
// whole text for each of the ~1,540 values of 255 cameras) against one walk for all values,
// on a 255-camera file and on a damaged 1 MB file, in CPU milliseconds of this thread.
// Figures only; nothing passes or fails.
//
//   bench_settings [--full]   --full: time the earlier way on the 1 MB file completely
//                             instead of from a sample of its values

#include "state/AppState.h"
#include "archive/ArchiveLayout.h"
#include "cameras/CamObject.h"
#include "config/Settings.h"
#include "state/SettingsView.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

class NullView final : public SettingsView
{
public:
    QString archive, unit, space, age;
    void SetSpeicherortText(const QString &text) override { archive = text; }
    QString SpeicherortText() const override { return archive; }
    void ClickPlatzlimit() override {}
    void ClickZeitlimit() override {}
    void SetEinheitText(const QString &text) override { unit = text; }
    QString EinheitText() const override { return unit; }
    void SetSpeicherlimitText(const QString &text) override { space = text; }
    QString SpeicherlimitText() const override { return space; }
    void SetZeitlimitText(const QString &text) override { age = text; }
    QString ZeitlimitText() const override { return age; }
    void SetLogAutoLeerenChecked(bool) override {}
    void SetLogAutoSichernChecked(bool) override {}
    void SetRecordingChecked(bool) override {}
    void SetWindowLeft(qint16) override {}
    void SetWindowTop(qint16) override {}
    void SetWindowState(qint16) override {}
    qint32 WindowLeft() const override { return 0; }
    qint32 WindowTop() const override { return 0; }
    qint16 WindowState() const override { return 0; }
};

QString CameraFile(int cameras)
{
    AppState state(Platform::real());
    NullView view;
    state.ArchivePath = QStringLiteral("/srv/archiv/");
    for (int i = 1; i <= cameras; ++i) {
        auto cam = std::make_shared<CamObject>(state);
        cam->mCamName = QStringLiteral("Kamera %1 Einfahrt").arg(i);
        cam->mCamSocket = QStringLiteral("192.168.10.%1:8080").arg(i);
        cam->mCamImagePath = QStringLiteral("/record/current.jpg");
        cam->mCamUser = QStringLiteral("admin");
        cam->mCamPassword = QStringLiteral("geheim%1").arg(i);
        cam->mCamUpdaterate = 1;
        state.Cams.Add(cam);
    }
    state.CamCount = qint16(cameras);
    state.SelectedCam = 1;
    state.TimeLimitOn = true;
    state.TimeLimitUnit = QStringLiteral("h");
    return BuildSettingsText(state, view);
}

// The file repeated to 1 MB, with one ">" in seven dropped and stray "<" put in: many tags
// that never close.
QString DamagedFile(const QString &file)
{
    QRandomGenerator random(4711);
    QString text;
    while (text.size() < 1024 * 1024) {
        for (const QChar c : file) {
            if (c == QLatin1Char('>') && random.bounded(7) == 0)
                continue;
            if (random.bounded(50) == 0)
                text += QLatin1Char('<');
            text += c;
        }
    }
    return text;
}

// The names ApplySettings asks for, in its order, for a file of so many cameras.
QStringList NamesRead(int cameras)
{
    QStringList names = {QStringLiteral("CAM_COUNT")};
    for (int i = 1; i <= cameras; ++i) {
        for (const char *field : {"_NAME", "_SOCKET", "_PATH", "_USER", "_PWD", "_RATE"})
            names << CamFolderName(i) + QLatin1String(field);
    }
    for (const char *name : {"ARCHIVE", "LASTCAM", "LIMIT_OPT", "LIMIT_UNIT", "LIMIT_SPACE", "LIMIT_TIME",
                             "LOG_CLEAR", "LOG_SAVE", "RECORD", "WINDOW_LEFT", "WINDOW_TOP", "WINDOW_STATE"})
        names << QLatin1String(name);
    return names;
}

double ThreadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Median CPU milliseconds of a few runs: the machine may be busy with other work.
double MedianMs(int runs, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const double start = ThreadCpuMs();
        work();
        ms.push_back(ThreadCpuMs() - start);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void Measure(const char *label, const QString &text, int sample)
{
    const QStringList names = NamesRead(255);
    qsizetype checksum = 0;

    const QStringList sampled = names.mid(0, sample);
    const double readTagMs = MedianMs(sample == names.size() ? 5 : 1, [&] {
        for (const QString &name : sampled)
            checksum += ReadTag(text, name).size();
    }) * double(names.size()) / double(sampled.size());

    const double onePassMs = MedianMs(21, [&] {
        const SettingsTags tags(text);
        for (const QString &name : names)
            checksum += tags.value(name).size();
    });

    const double applyMs = MedianMs(21, [&] {
        AppState state(Platform::real());
        NullView view;
        checksum += ApplySettings(state, view, text);
    });

    std::printf("%-28s %8.1f KB %14.2f%s %12.3f %8.0fx %14.3f\n", label, double(text.size()) / 1024.0, readTagMs,
                sample == names.size() ? " " : "*", onePassMs, readTagMs / onePassMs, applyMs);
    if (checksum == 42)
        std::printf(" ");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool full = app.arguments().contains(QStringLiteral("--full"));
    const QString file = CameraFile(255);
    const int all = int(NamesRead(255).size());

    std::printf("%-28s %11s %15s %12s %9s %14s\n", "settings text", "size", "ReadTag ms", "one pass ms", "ratio",
                "ApplySettings");
    Measure("255 cameras", file, all);
    Measure("damaged 1 MB", DamagedFile(file), full ? all : 40);
    if (!full)
        std::printf("* ReadTag on the 1 MB text timed for 40 of its %d values and scaled (each walks the whole text)\n",
                    all);
    return 0;
}
