#include "fetch/Base64.h"

namespace {

// Built once from the alphabet and kept for the run.
const char *alphabet()
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    return table;
}

} // namespace

std::optional<QString> Base64Encode(const QString &text)
{
    const char *table = alphabet();
    const qsizetype n = text.size();
    QString out;
    out.reserve(4 * ((n + 2) / 3));

    auto byteAt = [&](qsizetype i, bool &ok) -> unsigned {
        const char16_t c = text.at(i).unicode();
        if (c > 255)
            ok = false;
        return c & 0xFF;
    };

    bool ok = true;
    qsizetype i = 0;
    for (; i + 2 < n; i += 3) {
        const unsigned c1 = byteAt(i, ok), c2 = byteAt(i + 1, ok), c3 = byteAt(i + 2, ok);
        out += QLatin1Char(table[c1 / 4]);
        out += QLatin1Char(table[(c1 % 4) * 16 + c2 / 16]);
        out += QLatin1Char(table[(c2 % 16) * 4 + c3 / 64]);
        out += QLatin1Char(table[c3 % 64]);
    }
    if (n - i == 1) {
        const unsigned c1 = byteAt(i, ok);
        out += QLatin1Char(table[c1 / 4]);
        out += QLatin1Char(table[(c1 % 4) * 16]);
        out += QLatin1String("==");
    } else if (n - i == 2) {
        const unsigned c1 = byteAt(i, ok), c2 = byteAt(i + 1, ok);
        out += QLatin1Char(table[c1 / 4]);
        out += QLatin1Char(table[(c1 % 4) * 16 + c2 / 16]);
        out += QLatin1Char(table[(c2 % 16) * 4]);
        out += QLatin1Char('=');
    }
    if (!ok)
        return std::nullopt;
    return out;
}
