#include "util/TextCodec.h"
#include "util/Utils.h"

#include <QTest>
#include <limits>

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void trimBlank_data();
    void trimBlank();
    void trimBlankNumbers();
    void padNumber_data();
    void padNumber();
    void maxMinTieGivesFirst();
    void countText_data();
    void countText();
    void extractField_data();
    void extractField();
    void removeText_data();
    void removeText();
    void leadingNumber_data();
    void leadingNumber();
    void textToInt16_data();
    void textToInt16();
    void roundHalfEven();
    void roundOverflowLeavesValue();
    void decodeUtf8AndFallback();
    void encodeWritesUtf8WithoutMark();
};

void TestUtils::trimBlank_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("one each side") << " 12 " << "12";
    QTest::newRow("only one of several") << "  12  " << " 12 ";
    QTest::newRow("no blanks") << "abc" << "abc";
    QTest::newRow("single blank") << " " << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("tab is not a blank") << "\tx" << "\tx";
}

void TestUtils::trimBlank()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(TrimBlank(in), out);
}

void TestUtils::trimBlankNumbers()
{
    QCOMPARE(TrimBlank(qint64(0)), QStringLiteral("0"));
    QCOMPARE(TrimBlank(qint64(2006)), QStringLiteral("2006"));
    QCOMPARE(TrimBlank(qint64(-5)), QStringLiteral("-5"));
    QCOMPARE(TrimBlank(std::numeric_limits<qint64>::min()), QStringLiteral("-9223372036854775808"));
}

void TestUtils::padNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("out");
    QTest::newRow("5 to 2") << "5" << 2 << "05";
    QTest::newRow("2006 to 4") << "2006" << 4 << "2006";
    QTest::newRow("3,5 to 2") << "3,5" << 2 << "03,5";
    QTest::newRow("empty to 2") << "" << 2 << "00";
    QTest::newRow("point when no comma") << "7.25" << 3 << "007.25";
    QTest::newRow("comma before point") << "1.5,2" << 3 << "1.5,2";
    QTest::newRow("blanks trimmed") << "  9 " << 3 << "009";
    QTest::newRow("longer stays") << "12345" << 2 << "12345";
    QTest::newRow("longer trimmed") << " 123 " << 2 << "123";
    QTest::newRow("width 0") << "5" << 0 << "5";
    QTest::newRow("negative width") << "5" << -3 << "5";
}

void TestUtils::padNumber()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, out);
    QCOMPARE(PadNumber(text, qint16(width)), out);
}

void TestUtils::maxMinTieGivesFirst()
{
    QCOMPARE(Max(3, 7), 7);
    QCOMPARE(Max(-1, -9), -1);
    QCOMPARE(Min(3, 7), 3);
    QCOMPARE(Min(std::numeric_limits<qint32>::min(), 0), std::numeric_limits<qint32>::min());
    QCOMPARE(Max(0, 0), 0);
    QCOMPARE(PadNumber(qint64(7), 3), QStringLiteral("007"));
    QCOMPARE(PadNumber(qint64(12), 1), QStringLiteral("12"));
}

void TestUtils::countText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("count");
    QTest::newRow("overlapping") << "aaa" << "aa" << 2;
    QTest::newRow("case ignored") << "AbAB" << "ab" << 2;
    QTest::newRow("umlaut case ignored") << "ÄäÄ" << "ä" << 3;
    QTest::newRow("search longer") << "ab" << "abc" << 0;
    QTest::newRow("at the very end") << "xyab" << "ab" << 1;
    QTest::newRow("CR LF pairs") << "a\r\nb\r\n\r\n" << "\r\n" << 3;
    QTest::newRow("none") << "abc" << "d" << 0;
    QTest::newRow("empty search matches everywhere") << "abc" << "" << 4;
}

void TestUtils::countText()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(int, count);
    QCOMPARE(CountText(text, search), count);
}

void TestUtils::extractField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<QString>("out");
    QTest::newRow("quoted program") << "\"C:\\a b\\v.exe\" \"%1\"" << "\"" << 2 << 1 << true << "C:\\a b\\v.exe";
    QTest::newRow("separator right at start") << "a,b" << "," << 2 << 1 << true << "";
    QTest::newRow("no separator runs to end") << "abc" << "," << 2 << 1 << true << "bc";
    QTest::newRow("second occurrence") << "a,b,c,d" << "," << 1 << 2 << true << "a,b";
    QTest::newRow("fewer occurrences than count") << "a,b" << "," << 1 << 5 << true << "a,b";
    QTest::newRow("start 0") << "abc" << "," << 0 << 1 << true << "";
    QTest::newRow("start after end") << "abc" << "," << 4 << 1 << true << "";
    QTest::newRow("start at last character") << "abc" << "," << 3 << 1 << true << "c";
    QTest::newRow("count 0") << "a,b" << "," << 1 << 0 << true << "";
    QTest::newRow("exact respects case") << "aXbxc" << "x" << 1 << 1 << true << "aXb";
    QTest::newRow("inexact ignores case") << "aXbxc" << "x" << 1 << 1 << false << "a";
    QTest::newRow("long separator") << "key::value::" << "::" << 6 << 1 << true << "value";
    QTest::newRow("empty text") << "" << "," << 1 << 1 << true << "";
}

void TestUtils::extractField()
{
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(bool, exact);
    QFETCH(QString, out);
    QCOMPARE(ExtractField(text, separator, start, count, exact), out);
}

void TestUtils::removeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("out");
    QTest::newRow("address clean-up") << "http://cam.local:8080/" << "http:" << "//cam.local:8080/";
    QTest::newRow("slashes") << "//cam.local:8080/" << "/" << "cam.local:8080";
    QTest::newRow("non-overlapping from the left") << "aaa" << "aa" << "a";
    QTest::newRow("joined remainder stays") << "aabb" << "ab" << "ab";
    QTest::newRow("case-sensitive") << "HTTP:x" << "http:" << "HTTP:x";
    QTest::newRow("empty search") << "abc" << "" << "abc";
    QTest::newRow("everything") << "xxxx" << "xx" << "";
}

void TestUtils::removeText()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(QString, out);
    QCOMPARE(RemoveText(text, search), out);
}

void TestUtils::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("blanks then number then text") << " 12abc" << 12.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("no number") << "OFF" << 0.0;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("exponent capital, signed") << "25E-1x" << 2.5;
    QTest::newRow("e without digits stops") << "7e" << 7.0;
    QTest::newRow("e sign without digits stops") << "7e+x" << 7.0;
    QTest::newRow("decimal point") << "2.5" << 2.5;
    QTest::newRow("comma stops") << "2,5" << 2.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "8." << 8.0;
    QTest::newRow("negative") << "-30 s" << -30.0;
    QTest::newRow("plus") << "+4" << 4.0;
    QTest::newRow("tab and line feed skipped") << "\t\n 9" << 9.0;
    QTest::newRow("blank after sign stops") << "- 5" << 0.0;
    QTest::newRow("port after colon") << "8080/bild.jpg" << 8080.0;
    QTest::newRow("long digits") << "123456789012345678901234567890" << 1.2345678901234568e29;
    QTest::newRow("underflow is 0") << "1e-999" << 0.0;
    QTest::newRow("fullwidth digit is no digit") << QString::fromUtf8("\xEF\xBC\x91") << 0.0;
}

void TestUtils::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(LeadingNumber(text), value);
}

void TestUtils::textToInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("max") << "32767" << true << 32767;
    QTest::newRow("max + 1") << "32768" << false << 0;
    QTest::newRow("min") << "-32768" << true << -32768;
    QTest::newRow("min - 1") << "-32769" << false << 0;
    QTest::newRow("2.5 to even") << "2.5" << true << 2;
    QTest::newRow("3.5 to even") << "3.5" << true << 4;
    QTest::newRow("-2.5 to even") << "-2.5" << true << -2;
    QTest::newRow("32767.4 fits") << "32767.4" << true << 32767;
    QTest::newRow("32767.5 rounds out") << "32767.5" << false << 0;
    QTest::newRow("-32768.5 rounds to even inside") << "-32768.5" << true << -32768;
    QTest::newRow("blanks around") << "  12 " << true << 12;
    QTest::newRow("tab and CR LF around") << "\t3\r\n" << true << 3;
    QTest::newRow("exponent") << "1e3" << true << 1000;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("trailing text") << "12abc" << false << 0;
    QTest::newRow("blank inside") << "1 2" << false << 0;
    QTest::newRow("sign alone") << "-" << false << 0;
    QTest::newRow("comma") << "2,5" << false << 0;
    QTest::newRow("e without digits") << "5e" << false << 0;
    QTest::newRow("infinity word") << "inf" << false << 0;
    QTest::newRow("huge") << "1e400" << false << 0;
    QTest::newRow("plus sign") << "+7" << true << 7;
}

void TestUtils::textToInt16()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    qint16 result = 99;
    QCOMPARE(TextToInt16(text, result), ok);
    QCOMPARE(int(result), ok ? value : 99);
}

void TestUtils::roundHalfEven()
{
    qint16 s = 0;
    QVERIFY(RoundToInt16(0.5, s));
    QCOMPARE(s, qint16(0));
    QVERIFY(RoundToInt16(1.5, s));
    QCOMPARE(s, qint16(2));
    QVERIFY(RoundToInt16(-0.5, s));
    QCOMPARE(s, qint16(0));
    QVERIFY(RoundToInt16(-1.5, s));
    QCOMPARE(s, qint16(-2));
    QVERIFY(RoundToInt16(2.4999999, s));
    QCOMPARE(s, qint16(2));
    QVERIFY(RoundToInt16(-2.6, s));
    QCOMPARE(s, qint16(-3));

    qint32 l = 0;
    // 150000 bytes in 5 s as bytes per hour, and then as kilobytes: 105468.75 gives 105469.
    QVERIFY(RoundToInt32(150000.0 / 5 * 3600 / 1024, l));
    QCOMPARE(l, 105469);
    QVERIFY(RoundToInt32(2147483647.4, l));
    QCOMPARE(l, 2147483647);
    QVERIFY(RoundToInt32(-2147483648.5, l));
    QCOMPARE(l, std::numeric_limits<qint32>::min());
    QVERIFY(RoundToInt32(4194304.5, l));
    QCOMPARE(l, 4194304);
}

void TestUtils::roundOverflowLeavesValue()
{
    qint16 s = 42;
    QVERIFY(!RoundToInt16(32767.5, s));
    QVERIFY(!RoundToInt16(-32769.0, s));
    QVERIFY(!RoundToInt16(std::numeric_limits<double>::quiet_NaN(), s));
    QVERIFY(!RoundToInt16(std::numeric_limits<double>::infinity(), s));
    QCOMPARE(s, qint16(42));
    qint32 l = 42;
    QVERIFY(!RoundToInt32(2147483647.5, l));
    QVERIFY(!RoundToInt32(-2147483649.0, l));
    QVERIFY(!RoundToInt32(1e300, l));
    QCOMPARE(l, 42);
}

void TestUtils::decodeUtf8AndFallback()
{
    // UTF-8 "ü"
    QCOMPARE(DecodeTextFile(QByteArray("gr\xC3\xBCn")), QString::fromUtf8("grün"));
    // Windows-1252 "ü" and "€", and a position that code page leaves undefined
    QCOMPARE(DecodeTextFile(QByteArray("gr\xFCn")), QString::fromUtf8("grün"));
    QCOMPARE(DecodeTextFile(QByteArray("5 \x80")), QString::fromUtf8("5 €"));
    QCOMPARE(DecodeTextFile(QByteArray("\x81\x9F")), QString(QChar(0x81)) + QChar(0x178));
    // A sequence cut off at the end is not valid UTF-8.
    QCOMPARE(DecodeTextFile(QByteArray("ab\xC3")), QString::fromUtf8("abÃ"));
    // Mixed: one bad byte makes the whole file Windows-1252.
    QCOMPARE(DecodeTextFile(QByteArray("\xC3\xBC\xFC")), QString::fromUtf8("Ã¼ü"));
    QCOMPARE(DecodeTextFile(QByteArray()), QString());
    QCOMPARE(DecodeTextFile(QByteArray("CAM_COUNT\r\n")), QStringLiteral("CAM_COUNT\r\n"));
}

void TestUtils::encodeWritesUtf8WithoutMark()
{
    const QString text = QString::fromUtf8("Lösche 5 €\r\n");
    const QByteArray bytes = EncodeTextFile(text);
    QCOMPARE(bytes, QByteArray("L\xC3\xB6sche 5 \xE2\x82\xAC\r\n"));
    QCOMPARE(DecodeTextFile(bytes), text);
}

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
