#include "util/Utils.h"

#include <QDir>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The blanks that the leading-number reader skips, as the old Val did: space, tab, line feed.
bool IsLeadingBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

// Blanks allowed around a whole-text number.
bool IsSurroundingBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r')
        || c == QLatin1Char('\n');
}

// Reads the longest decimal number at text[pos]: optional sign, digits with an optional ".",
// then an exponent only when at least one digit follows "e"/"E" (and its sign).
// Returns the index after the number, or pos when no digit was found.
qsizetype ScanNumber(QStringView text, qsizetype pos, double &value)
{
    const qsizetype n = text.size();
    qsizetype i = pos;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }

    std::string buffer;   // what std::from_chars reads: no sign, ASCII only
    bool anyDigit = false;
    // Position of the decimal point relative to the first non-zero digit, to tell an
    // overflow from an underflow when the value does not fit a double.
    qint64 magnitude = 0;
    bool seenNonZero = false;
    bool seenPoint = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (IsAsciiDigit(c)) {
            anyDigit = true;
            buffer.push_back(char(c.unicode()));
            if (c != QLatin1Char('0'))
                seenNonZero = true;
            if (!seenPoint && seenNonZero)
                ++magnitude;
            else if (seenPoint && !seenNonZero)
                --magnitude;
        } else if (c == QLatin1Char('.') && !seenPoint) {
            seenPoint = true;
            buffer.push_back('.');
        } else {
            break;
        }
    }
    if (!anyDigit) {
        value = 0;
        return pos;
    }

    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        bool expNegative = false;
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-'))) {
            expNegative = text[j] == QLatin1Char('-');
            ++j;
        }
        if (j < n && IsAsciiDigit(text[j])) {
            buffer.push_back('e');
            if (expNegative)
                buffer.push_back('-');
            qint64 exponent = 0;
            for (; j < n && IsAsciiDigit(text[j]); ++j) {
                buffer.push_back(char(text[j].unicode()));
                if (exponent < 1000000)
                    exponent = exponent * 10 + (text[j].unicode() - '0');
            }
            magnitude += expNegative ? -exponent : exponent;
            i = j;
        }
    }

    double result = 0;
    const auto [ptr, ec] = std::from_chars(buffer.data(), buffer.data() + buffer.size(), result,
                                           std::chars_format::general);
    Q_UNUSED(ptr);
    if (ec == std::errc::result_out_of_range)
        result = (seenNonZero && magnitude > 0) ? std::numeric_limits<double>::infinity() : 0.0;
    else if (ec != std::errc())
        result = 0;
    value = negative ? -result : result;
    return i;
}

template <typename Int>
bool RoundHalfEven(double number, Int &value)
{
    if (!std::isfinite(number))
        return false;
    double whole = std::floor(number);
    const double fraction = number - whole;   // exact for every finite double
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole < double(std::numeric_limits<Int>::min()) || whole > double(std::numeric_limits<Int>::max()))
        return false;
    value = Int(whole);
    return true;
}

} // namespace

QString TrimBlank(const QString &value)
{
    qsizetype from = 0;
    qsizetype to = value.size();
    if (to > 0 && value[0] == QLatin1Char(' '))
        from = 1;
    if (to > from && value[to - 1] == QLatin1Char(' '))
        --to;
    return value.mid(from, to - from);
}

QString TrimBlank(qint64 value)
{
    return QString::number(value);
}

QString PadNumber(const QString &text, qint16 width)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    const QString trimmed = text.mid(from, to - from);

    qsizetype split = trimmed.indexOf(QLatin1Char(','));
    if (split < 0)
        split = trimmed.indexOf(QLatin1Char('.'));
    if (split < 0)
        split = trimmed.size();
    if (split >= width)
        return trimmed;
    return QString(width - split, QLatin1Char('0')) + trimmed;
}

QString PadNumber(qint64 value, qint16 width)
{
    return PadNumber(QString::number(value), width);
}

qint32 Max(qint32 a, qint32 b)
{
    return b > a ? b : a;
}

qint32 Min(qint32 a, qint32 b)
{
    return b < a ? b : a;
}

int CountText(const QString &text, const QString &search)
{
    const qsizetype last = text.size() - search.size();
    if (last < 0)
        return 0;
    if (search.isEmpty())
        return int(text.size() + 1);   // the empty text matches at every position
    // The log counts its CR LF pairs in a growing window text: ASCII without letters has no
    // case, so the faster exact search gives the same count.
    Qt::CaseSensitivity cs = Qt::CaseSensitive;
    for (const QChar c : search) {
        if (c.unicode() > 127 || c.isLetter()) {
            cs = Qt::CaseInsensitive;
            break;
        }
    }
    int count = 0;
    qsizetype p = text.indexOf(search, 0, cs);
    while (p >= 0) {
        ++count;
        p = text.indexOf(search, p + 1, cs);
    }
    return count;
}

QString ExtractField(const QString &text, const QString &separator, int start, int count, bool exact)
{
    if (start < 1 || start > text.size() || count < 1)
        return QString();
    const qsizetype from = start - 1;
    // An empty separator is found right at start, so its field is always empty.
    if (separator.isEmpty())
        return QString();
    const Qt::CaseSensitivity cs = exact ? Qt::CaseSensitive : Qt::CaseInsensitive;
    qsizetype p = from;
    for (int k = 1;; ++k) {
        const qsizetype found = text.indexOf(separator, p, cs);
        if (found < 0)
            return text.mid(from);
        if (k == count)
            return text.mid(from, found - from);
        p = found + separator.size();
    }
}

QString RemoveText(const QString &text, const QString &search)
{
    if (search.isEmpty())
        return text;
    QString result;
    result.reserve(text.size());
    qsizetype p = 0;
    for (;;) {
        const qsizetype found = text.indexOf(search, p, Qt::CaseSensitive);
        if (found < 0)
            break;
        result.append(QStringView(text).mid(p, found - p));
        p = found + search.size();
    }
    result.append(QStringView(text).mid(p));
    return result;
}

double LeadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && IsLeadingBlank(text[i]))
        ++i;
    double value = 0;
    ScanNumber(text, i, value);
    return value;
}

bool TextToInt16(const QString &text, qint16 &value)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && IsSurroundingBlank(text[from]))
        ++from;
    while (to > from && IsSurroundingBlank(text[to - 1]))
        --to;
    if (from == to)
        return false;
    const QStringView body = QStringView(text).mid(from, to - from);
    double number = 0;
    if (ScanNumber(body, 0, number) != body.size())
        return false;
    return RoundToInt16(number, value);
}

bool RoundToInt16(double number, qint16 &value)
{
    return RoundHalfEven(number, value);
}

bool RoundToInt32(double number, qint32 &value)
{
    return RoundHalfEven(number, value);
}

QChar PathSeparator()
{
    return QDir::separator();
}

QString AddBackslash(const QString &path)
{
    if (path.endsWith(PathSeparator()))
        return path;
    return path + PathSeparator();
}
