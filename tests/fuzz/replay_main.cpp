// Replays every seed and finding of tests/fuzz/corpus through the fuzz targets, so the
// ordinary build checks their properties without clang.
#include "FuzzSupport.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int FuzzDecoder(const std::uint8_t *data, std::size_t size);
int FuzzSettings(const std::uint8_t *data, std::size_t size);
int FuzzRequest(const std::uint8_t *data, std::size_t size);
int FuzzText(const std::uint8_t *data, std::size_t size);
int FuzzAuth(const std::uint8_t *data, std::size_t size);
int FuzzRedirect(const std::uint8_t *data, std::size_t size);
int FuzzTls(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(BILDFANG_FUZZ_CORPUS);
    const struct
    {
        const char *name;
        int (*run)(const std::uint8_t *, std::size_t);
    } targets[] = {{"decoder", FuzzDecoder}, {"settings", FuzzSettings}, {"request", FuzzRequest}, {"text", FuzzText},
                   {"auth", FuzzAuth}, {"redirect", FuzzRedirect}, {"tls", FuzzTls}};
    int failures = 0;
    for (const auto &[name, run] : targets) {
        const QDir dir(root + QLatin1Char('/') + QLatin1String(name));
        const QStringList files = dir.entryList(QDir::Files, QDir::Name);
        if (files.isEmpty()) {
            std::fprintf(stderr, "no corpus in %s\n", qPrintable(dir.path()));
            ++failures;
        }
        for (const QString &file : files) {
            QFile f(dir.filePath(file));
            try {
                FUZZ_CHECK(f.open(QIODevice::ReadOnly));
                const QByteArray bytes = f.readAll();
                run(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
            } catch (const FuzzFailure &failure) {
                std::fprintf(stderr, "%s/%s: %s\n", name, qPrintable(file), failure.what());
                ++failures;
            }
        }
        std::printf("%s: %lld inputs\n", name, static_cast<long long>(files.size()));
    }
    return failures == 0 ? 0 : 1;
}
