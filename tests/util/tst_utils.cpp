#include "util/TextCodec.h"
#include "util/Utils.h"

#include <QTest>
#include <limits>
#include <type_traits>

namespace {

// The converted number as text, or "refused"; a refused conversion must leave the value alone.
template <typename Int, typename In>
QString Converted(bool (*convert)(In, Int &), std::type_identity_t<In> input)
{
    Int value = 42;
    if (convert(input, value))
        return QString::number(value);
    return value == 42 ? QStringLiteral("refused") : QStringLiteral("refused, value changed");
}

} // namespace

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void textHelpers();
    void leadingNumber();
    void wholeTextToInt16();
    void roundingHalfToEven();
    void textFileCodec();
};

void TestUtils::textHelpers()
{
    // Whole numbers padded and trimmed are seen in every log line, file and folder name.
    QCOMPARE(TrimBlank("  12  "), " 12 ");   // one blank each side only
    QCOMPARE(PadNumber("3,5", 2), "03,5");
    QCOMPARE(PadNumber("7.25", 3), "007.25");   // "." only without a ","
    QCOMPARE(PadNumber("1.5,2", 3), "1.5,2");
    QCOMPARE(CountText("aaa", "aa"), 2);
    QCOMPARE(CountText("AbAB", "ab"), 2);
    QCOMPARE(CountText("ÄäÄ", "ä"), 3);
    QCOMPARE(CountText("a\r\nb\r\n\r\n", "\r\n"), 3);

    QCOMPARE(ExtractField("\"C:\\a b\\v.exe\" \"%1\"", "\"", 2, 1, true), "C:\\a b\\v.exe");
    QCOMPARE(ExtractField("a,b", ",", 2, 1, true), "");   // separator right at start
    QCOMPARE(ExtractField("a,b,c,d", ",", 1, 2, true), "a,b");
    QCOMPARE(ExtractField("a,b", ",", 1, 5, true), "a,b");
    QCOMPARE(ExtractField("abc", ",", 0, 1, true), "");
    QCOMPARE(ExtractField("abc", ",", 4, 1, true), "");
    QCOMPARE(ExtractField("a,b", ",", 1, 0, true), "");
    QCOMPARE(ExtractField("aXbxc", "x", 1, 1, true), "aXb");
    QCOMPARE(ExtractField("aXbxc", "x", 1, 1, false), "a");

    QCOMPARE(RemoveText("aaa", "aa"), "a");
    QCOMPARE(RemoveText("aabb", "ab"), "ab");   // no second pass over the joined rest
    QCOMPARE(RemoveText("HTTP:x", "http:"), "HTTP:x");
    QCOMPARE(RemoveText("abc", ""), "abc");
}

void TestUtils::leadingNumber()
{
    QCOMPARE(LeadingNumber("\t\n 9"), 9.0);
    QCOMPARE(LeadingNumber("-"), 0.0);
    QCOMPARE(LeadingNumber("- 5"), 0.0);
    QCOMPARE(LeadingNumber("-30 s"), -30.0);
    QCOMPARE(LeadingNumber("1e3"), 1000.0);
    QCOMPARE(LeadingNumber("25E-1x"), 2.5);
    QCOMPARE(LeadingNumber("7e+x"), 7.0);
    QCOMPARE(LeadingNumber("2,5"), 2.0);
    QCOMPARE(LeadingNumber("1.2.3"), 1.2);
    QCOMPARE(LeadingNumber(".5"), 0.5);
    QCOMPARE(LeadingNumber("1e-999"), 0.0);
    QCOMPARE(LeadingNumber(QString::fromUtf8("\xEF\xBC\x91")), 0.0);   // fullwidth 1 is no digit
}

void TestUtils::wholeTextToInt16()
{
    QCOMPARE(Converted(TextToInt16, "32767"), "32767");
    QCOMPARE(Converted(TextToInt16, "32768"), "refused");
    QCOMPARE(Converted(TextToInt16, "-32768"), "-32768");
    QCOMPARE(Converted(TextToInt16, "-32769"), "refused");
    QCOMPARE(Converted(TextToInt16, "2.5"), "2");
    QCOMPARE(Converted(TextToInt16, "3.5"), "4");
    QCOMPARE(Converted(TextToInt16, "-2.5"), "-2");
    QCOMPARE(Converted(TextToInt16, "-32768.5"), "-32768");
    QCOMPARE(Converted(TextToInt16, "32767.5"), "refused");
    QCOMPARE(Converted(TextToInt16, "\t 12 \r\n"), "12");
    QCOMPARE(Converted(TextToInt16, "1e3"), "1000");
    QCOMPARE(Converted(TextToInt16, ""), "refused");
    QCOMPARE(Converted(TextToInt16, "12abc"), "refused");
    QCOMPARE(Converted(TextToInt16, "inf"), "refused");
    QCOMPARE(Converted(TextToInt16, "1e400"), "refused");
}

void TestUtils::roundingHalfToEven()
{
    // The 16-bit rounding runs in the whole-text conversion above.
    QCOMPARE(Converted(RoundToInt32, -2.6), "-3");
    QCOMPARE(Converted(RoundToInt32, std::numeric_limits<double>::quiet_NaN()), "refused");
    QCOMPARE(Converted(RoundToInt32, 2147483647.5), "refused");
    QCOMPARE(Converted(RoundToInt32, -2147483648.5), "-2147483648");
    QCOMPARE(Converted(RoundToInt32, -2147483649.0), "refused");
    QCOMPARE(Converted(RoundToInt32, std::numeric_limits<double>::infinity()), "refused");
}

void TestUtils::textFileCodec()
{
    QCOMPARE(DecodeTextFile(QByteArray("gr\xC3\xBCn")), QString::fromUtf8("grün"));
    // Not UTF-8: Windows-1252 "ü", "€" and the undefined 0x81 kept as it is
    QCOMPARE(DecodeTextFile(QByteArray("gr\xFCn")), QString::fromUtf8("grün"));
    QCOMPARE(DecodeTextFile(QByteArray("5 \x80\x81\x9F")), QString::fromUtf8("5 €") + QChar(0x81) + QChar(0x178));
    // A sequence cut off at the end, and one bad byte after good UTF-8
    QCOMPARE(DecodeTextFile(QByteArray("ab\xC3")), QString::fromUtf8("abÃ"));
    QCOMPARE(DecodeTextFile(QByteArray("\xC3\xBC\xFC")), QString::fromUtf8("Ã¼ü"));

    const QString text = QString::fromUtf8("Lösche 5 €\r\n");
    QCOMPARE(EncodeTextFile(text), QByteArray("L\xC3\xB6sche 5 \xE2\x82\xAC\r\n"));   // no byte-order mark
    QCOMPARE(DecodeTextFile(EncodeTextFile(text)), text);
}

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
