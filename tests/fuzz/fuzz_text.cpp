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

bool ValidUtf8(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    return !utf8.hasError();
}

bool LoneSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return true;
    }
    return false;
}

// The number grammar: sign, digits with at most one ".", an exponent only with digits.
const QRegularExpression &NumberPrefix()
{
    static const QRegularExpression re(QStringLiteral("^[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?"));
    return re;
}

double Strtod(const QString &number)
{
    return std::strtod(number.toLatin1().constData(), nullptr);
}

bool SameNumber(double a, double b)
{
    if (std::isinf(a) || std::isinf(b))
        return a == b;
    return a == b || std::fabs(a - b) <= DBL_MIN;   // values below the normal range may read as 0
}

void CheckRounding(double x)
{
    qint16 v16 = 7;
    const bool fits16 = RoundToInt16(x, v16);
    qint32 v32 = 7;
    const bool fits32 = RoundToInt32(x, v32);
    if (!std::isfinite(x)) {
        FUZZ_CHECK(!fits16 && !fits32);
        return;
    }
    const double r = std::nearbyint(x);   // the default rounding mode is half to even
    FUZZ_CHECK(fits16 == (r >= -32768 && r <= 32767));
    FUZZ_CHECK(fits32 == (r >= -2147483648.0 && r <= 2147483647.0));
    if (fits16)
        FUZZ_CHECK(v16 == r);
    else
        FUZZ_CHECK(v16 == 7);
    if (fits32)
        FUZZ_CHECK(v32 == r);
}

} // namespace

BILDFANG_FUZZ_TARGET(FuzzText)
{
    FuzzInput in(data, size);
    const int which = in.byte() % 6;
    const int small = in.byte();

    if (which == 0) {
        // Files: valid UTF-8 comes back byte for byte, anything else is one character a byte.
        const QByteArray bytes = in.rest();
        const QString text = DecodeTextFile(bytes);
        if (ValidUtf8(bytes)) {
            if (!bytes.startsWith("\xEF\xBB\xBF"))
                FUZZ_CHECK(EncodeTextFile(text) == bytes);
        } else {
            FUZZ_CHECK(text.size() == bytes.size());
            for (qsizetype i = 0; i < bytes.size(); ++i) {
                const auto b = static_cast<unsigned char>(bytes.at(i));
                if (b < 0x80 || b > 0x9F)
                    FUZZ_CHECK(text.at(i).unicode() == b);
            }
        }
        const QString any = FuzzText(bytes);
        if (!LoneSurrogate(any) && !any.startsWith(QChar(0xFEFF)))
            FUZZ_CHECK(DecodeTextFile(EncodeTextFile(any)) == any);
        return 0;
    }

    const QString a = FuzzText(in.field());
    const QString b = FuzzText(in.field());

    switch (which) {
    case 1: {
        const QString t = TrimBlank(a);
        FUZZ_CHECK(a.contains(t) && a.size() - t.size() <= 2);
        const qint16 width = qint16(small % 12);
        const QString padded = PadNumber(a, width);
        const QString trimmed = QString(a).remove(QRegularExpression(QStringLiteral("^ +| +\\z")));
        FUZZ_CHECK(padded.endsWith(trimmed));
        qsizetype split = trimmed.indexOf(QLatin1Char(','));
        if (split < 0)
            split = trimmed.indexOf(QLatin1Char('.'));
        if (split < 0)
            split = trimmed.size();
        FUZZ_CHECK(padded.size() == trimmed.size() + std::max<qsizetype>(0, width - split));
        break;
    }
    case 2: {
        int count = 0;
        for (qsizetype p = 0; p + b.size() <= a.size(); ++p)
            count += QStringView(a).mid(p, b.size()).compare(b, Qt::CaseInsensitive) == 0 ? 1 : 0;
        FUZZ_CHECK(CountText(a, b) == count);
        break;
    }
    case 3: {
        const int start = small % (a.size() + 3) - 1;
        const bool exact = small & 1;
        QString expected;
        if (start >= 1 && start <= a.size() && !b.isEmpty()) {
            const qsizetype found = a.indexOf(b, start - 1, exact ? Qt::CaseSensitive : Qt::CaseInsensitive);
            expected = a.mid(start - 1, found < 0 ? -1 : found - (start - 1));
        }
        FUZZ_CHECK(ExtractField(a, b, start, 1, exact) == expected);
        QString removed;
        if (b.isEmpty()) {
            removed = a;
        } else {
            for (qsizetype p = 0; p < a.size();) {
                if (QStringView(a).mid(p).startsWith(b)) {
                    p += b.size();
                } else {
                    removed += a.at(p);
                    ++p;
                }
            }
        }
        FUZZ_CHECK(RemoveText(a, b) == removed);
        break;
    }
    case 4: {
        // The leading number against the C library's reading of the same characters.
        qsizetype i = 0;
        while (i < a.size() && (a.at(i) == QLatin1Char(' ') || a.at(i) == QLatin1Char('\t') || a.at(i) == QLatin1Char('\n')))
            ++i;
        const QRegularExpressionMatch m = NumberPrefix().match(QStringView(a).mid(i));
        const double expected = m.hasMatch() ? Strtod(m.captured()) : 0.0;
        const double got = LeadingNumber(a);
        FUZZ_CHECK(SameNumber(got, expected));
        CheckRounding(got);

        const QString whole = a.trimmed();
        qint16 v = 0;
        const bool ok = TextToInt16(a, v);
        const QRegularExpressionMatch w = NumberPrefix().match(whole);
        bool wholeNumber = w.hasMatch() && w.capturedLength() == whole.size();
        for (const QChar c : a)
            if (c.isSpace() && c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\r') && c != QLatin1Char('\n'))
                wholeNumber = false;   // only these four count as blanks around the number
        qint16 rounded = 0;
        FUZZ_CHECK(ok == (wholeNumber && RoundToInt16(Strtod(whole), rounded)));
        if (ok) {
            FUZZ_CHECK(v == rounded);
            qint16 again = 0;
            FUZZ_CHECK(TextToInt16(QString::number(v), again) && again == v);
        }
        break;
    }
    case 5: {
        double x = 0;
        const QByteArray raw = a.toUtf8().leftJustified(8, '\0', true);
        std::memcpy(&x, raw.constData(), sizeof x);
        CheckRounding(x);
        CheckRounding(x / 1e300);
        CheckRounding(double(small) + 0.5);
        CheckRounding(-double(small) - 0.5);
        FUZZ_CHECK(Max(small, small - 128) == small && Min(small - 128, small) == small - 128);
        break;
    }
    default:
        break;
    }
    return 0;
}
