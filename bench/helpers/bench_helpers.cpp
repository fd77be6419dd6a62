// Throughput of the helpers that run on every log line, settings value and saved image, and
// of the text-file decoding. Prints figures; never fails.
#include "util/TextCodec.h"
#include "util/Utils.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdio>

namespace {

template <typename F>
void Measure(const char *name, int rounds, F &&f)
{
    QElapsedTimer timer;
    timer.start();
    qint64 sink = 0;
    for (int i = 0; i < rounds; ++i)
        sink += f(i);
    const double ns = double(timer.nsecsElapsed()) / rounds;
    std::printf("%-44s %10.1f ns per call   (%lld)\n", name, ns, static_cast<long long>(sink % 10));
}

} // namespace

int main()
{
    // A full log window: nine lines of the usual length.
    QString window;
    for (int i = 0; i < 9; ++i)
        window += QStringLiteral("<12.05.2006 13:45> CAM01: Bild gespeichert als 20060512-134507(Hof).jpg\r\n");
    const QString crlf = QStringLiteral("\r\n");
    Measure("CountText(CR LF, 9-line window)", 200000, [&](int) { return CountText(window, crlf); });
    Measure("CountText(word, case-insensitive)", 200000,
            [&](int) { return CountText(window, QStringLiteral("cam01")); });
    Measure("PadNumber(minute, 2)", 1000000, [](int i) { return PadNumber(qint64(i % 60), 2).size(); });
    Measure("LeadingNumber(\" 8080/bild.jpg\")", 1000000,
            [](int) { return qint64(LeadingNumber(QStringLiteral(" 8080/bild.jpg"))); });
    Measure("TextToInt16(\" 12 \")", 1000000, [](int) {
        qint16 v = 0;
        return TextToInt16(QStringLiteral(" 12 "), v) ? qint64(v) : 0;
    });
    Measure("ExtractField(settings line)", 1000000, [](int) {
        return ExtractField(QStringLiteral("<CAM01_NAME>Hof</CAM01_NAME>"), QStringLiteral("<"), 13, 1, true).size();
    });

    // A settings file of 64 cameras, once as UTF-8 and once needing the Windows-1252 fallback.
    QString settings;
    for (int i = 1; i <= 64; ++i)
        settings += QStringLiteral("<CAM%1_NAME>Einfahrt Süd</CAM%1_NAME>\r\n").arg(i, 2, 10, QLatin1Char('0'));
    const QByteArray utf8 = EncodeTextFile(settings);
    QByteArray latin = utf8;
    latin.replace("\xC3\xBC", "\xFC");
    Measure("DecodeTextFile(UTF-8, 3 KB)", 20000, [&](int) { return DecodeTextFile(utf8).size(); });
    Measure("DecodeTextFile(Windows-1252, 3 KB)", 20000, [&](int) { return DecodeTextFile(latin).size(); });
    return 0;
}
