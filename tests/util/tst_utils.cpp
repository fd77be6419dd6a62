#include "util/TextCodec.h"
#include "util/Utils.h"

#include <QTest>
#include <type_traits>
#include <utility>

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
    void textHelpers()
    {
        QCOMPARE(PadNumber("3,5", 2), "03,5");   // TrimBlank: in the fuzz corpus
        QCOMPARE(PadNumber("7.25", 3), "007.25");   // "." only without a ","
        QCOMPARE(PadNumber("1.5,2", 3), "1.5,2");
    }

    void leadingNumber()
    {
        const std::pair<const char *, double> rows[] = {
            {"\t\n 9", 9}, {"-", 0}, {"- 5", 0}, {"-30 s", -30}, {"1e3", 1000}, {"25E-1x", 2.5},
            {"7e+x", 7}, {"2,5", 2}, {"1.2.3", 1.2}, {".5", 0.5}, {"1e-999", 0},
            {"\xEF\xBC\x91", 0},   // fullwidth 1 is no digit
        };
        for (const auto &[text, number] : rows)
            QVERIFY2(LeadingNumber(QString::fromUtf8(text)) == number, text);
    }

    void wholeTextToInt16()
    {
        const std::pair<const char *, const char *> rows[] = {
            {"32767", "32767"}, {"32768", "refused"}, {"-32768", "-32768"}, {"-32769", "refused"},
            {"2.5", "2"}, {"3.5", "4"}, {"-2.5", "-2"}, {"-32768.5", "-32768"}, {"32767.5", "refused"},
            {"\t 12 \r\n", "12"}, {"1e3", "1000"}, {"", "refused"}, {"12abc", "refused"}, {"inf", "refused"},
            {"1e400", "refused"},
        };
        for (const auto &[text, converted] : rows)
            QCOMPARE(Converted(TextToInt16, text), QString::fromLatin1(converted));
    }

    void roundingHalfToEven()
    {
        // The 16-bit rounding runs in the whole-text conversion above.
        const std::pair<double, const char *> rows[] = {{-2.6, "-3"}, {qQNaN(), "refused"}, {2147483647.5, "refused"},
            {-2147483648.5, "-2147483648"}, {-2147483649.0, "refused"}, {qInf(), "refused"}};
        for (const auto &[number, converted] : rows)
            QCOMPARE(Converted(RoundToInt32, number), QString::fromLatin1(converted));
    }

    void textFileCodec()
    {
        // Not UTF-8, also cut off at the end or after good UTF-8: Windows-1252, its undefined 0x81
        // kept as it is.
        QCOMPARE(DecodeTextFile("5 \x80\x81\x9F"), QString::fromUtf8("5 €") + QChar(0x81) + QChar(0x178));
        QCOMPARE(DecodeTextFile("ab\xC3"), QString::fromUtf8("abÃ"));
        QCOMPARE(DecodeTextFile("\xC3\xBC\xFC"), QString::fromUtf8("Ã¼ü"));
        const QString text = QString::fromUtf8("Lösche 5 €\r\n");
        QCOMPARE(EncodeTextFile(text), QByteArray("L\xC3\xB6sche 5 \xE2\x82\xAC\r\n"));   // no byte-order mark
        QCOMPARE(DecodeTextFile(EncodeTextFile(text)), text);
    }
};

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
