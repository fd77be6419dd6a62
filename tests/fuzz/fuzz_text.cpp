// The text codec and the text and number helpers against plain reference readings.
#include "FuzzSupport.h"

#include "util/TextCodec.h"
#include "util/Utils.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// The number grammar: sign, digits with at most one ".", an exponent only with digits.
const QRegularExpression NumberPrefix(QStringLiteral("^[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?"));

double Strtod(const QString &number)
{
    return std::strtod(number.toLatin1().constData(), nullptr);
}

// Half to even is the default rounding mode; NaN and the infinities fit nowhere.
void CheckRounding(double x)
{
    qint16 v16 = 7;
    qint32 v32 = 7;
    const bool fits16 = RoundToInt16(x, v16), fits32 = RoundToInt32(x, v32);
    const double r = std::nearbyint(x);
    FUZZ_CHECK(fits16 == (r >= -32768 && r <= 32767) && v16 == (fits16 ? r : 7));
    FUZZ_CHECK(fits32 == (r >= -2147483648.0 && r <= 2147483647.0) && v32 == (fits32 ? r : 7));
}

} // namespace

BILDFANG_FUZZ_TARGET(FuzzText)
{
    FuzzInput in(data, size);
    const int which = in.byte() % 6, small = in.byte();
    if (which == 0) {
        // Files: valid UTF-8 comes back byte for byte, anything else is one character a byte.
        const QByteArray bytes = in.rest();
        const QString text = DecodeTextFile(bytes);
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString reference = utf8(bytes);
        FUZZ_CHECK(utf8.hasError() ? text.size() == bytes.size() : text == reference);
        FUZZ_CHECK(utf8.hasError() || bytes.startsWith("\xEF\xBB\xBF") || EncodeTextFile(text) == bytes);
        for (qsizetype i = 0; utf8.hasError() && i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes.at(i));
            FUZZ_CHECK((b >= 0x80 && b <= 0x9F) || text.at(i).unicode() == b);
        }
        // Any text without a lone surrogate or a leading byte-order mark reads back as written.
        const QString any = FuzzText(bytes);
        if (QString::fromUtf8(any.toUtf8()) == any && !any.startsWith(QChar(0xFEFF)))
            FUZZ_CHECK(DecodeTextFile(EncodeTextFile(any)) == any);
        return 0;
    }

    const QString a = FuzzText(in.field()), b = FuzzText(in.field());
    switch (which) {
    case 1: {
        const QString t = TrimBlank(a);
        FUZZ_CHECK(a.contains(t) && a.size() - t.size() <= 2);
        const QString trimmed = QString(a).remove(QRegularExpression(QStringLiteral("^ +| +\\z")));
        const qsizetype comma = trimmed.indexOf(QLatin1Char(',')), dot = trimmed.indexOf(QLatin1Char('.'));
        const qsizetype split = comma >= 0 ? comma : dot >= 0 ? dot : trimmed.size();
        FUZZ_CHECK(PadNumber(a, qint16(small % 12)) == QString(std::max<qsizetype>(0, small % 12 - split), QLatin1Char('0')) + trimmed);
        break;
    }
    case 2: {
        int count = 0;
        for (qsizetype p = 0; p + b.size() <= a.size(); ++p)
            count += QStringView(a).mid(p, b.size()).compare(b, Qt::CaseInsensitive) == 0;
        FUZZ_CHECK(CountText(a, b) == count);
        break;
    }
    case 3: {
        const int start = small % (a.size() + 3) - 1;
        const bool exact = small & 1;
        const qsizetype found = a.indexOf(b, std::max(0, start - 1), exact ? Qt::CaseSensitive : Qt::CaseInsensitive);
        const bool inside = start >= 1 && start <= a.size() && !b.isEmpty();
        FUZZ_CHECK(ExtractField(a, b, start, 1, exact) == (inside ? a.mid(start - 1, found < 0 ? -1 : found - (start - 1)) : QString()));
        FUZZ_CHECK(RemoveText(a, b) == QString(a).remove(b, Qt::CaseSensitive));
        break;
    }
    case 4: {
        // The leading number against the C library's reading of the same characters.
        qsizetype i = 0;
        while (i < a.size() && QStringLiteral(" \t\n").contains(a.at(i)))
            ++i;
        const QRegularExpressionMatch m = NumberPrefix.match(QStringView(a).mid(i));
        const double got = LeadingNumber(a), expected = m.hasMatch() ? Strtod(m.captured()) : 0.0;
        // Values below the normal range may read as 0.
        FUZZ_CHECK(std::isinf(got) || std::isinf(expected) ? got == expected : std::fabs(got - expected) <= DBL_MIN);
        CheckRounding(got);

        // Only these four count as blanks around a whole number.
        const QString whole = a.trimmed();
        const QRegularExpressionMatch w = NumberPrefix.match(whole);
        const bool otherBlank = std::any_of(a.cbegin(), a.cend(), [](QChar c) { return c.isSpace() && !QStringLiteral(" \t\r\n").contains(c); });
        qint16 v = 7, rounded = 0, again = 0;
        const bool ok = TextToInt16(a, v);
        FUZZ_CHECK(ok == (w.hasMatch() && w.capturedLength() == whole.size() && !otherBlank && RoundToInt16(Strtod(whole), rounded)));
        FUZZ_CHECK(ok ? v == rounded && TextToInt16(QString::number(v), again) && again == v : v == 7);
        break;
    }
    case 5: {
        double x = 0;
        std::memcpy(&x, a.toUtf8().leftJustified(8, '\0', true).constData(), sizeof x);
        for (const double y : {x, x / 1e300, small + 0.5, -small - 0.5, qQNaN(), -qInf()})
            CheckRounding(y);
        break;
    }
    }
    return 0;
}
