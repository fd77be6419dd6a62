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
    void padNumber_data();
    void padNumber();
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
    void roundHalfEven_data();
    void roundHalfEven();
    void textFileCodec();
};

void TestUtils::trimBlank_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("one each side") << " 12 " << "12";
    QTest::newRow("only one of several") << "  12  " << " 12 ";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("tab is not a blank") << "\tx" << "\tx";
}

void TestUtils::trimBlank()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(TrimBlank(in), out);
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
    QTest::newRow("negative width") << "5" << -3 << "5";
}

void TestUtils::padNumber()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, out);
    QCOMPARE(PadNumber(text, qint16(width)), out);
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
    QTest::newRow("count 0") << "a,b" << "," << 1 << 0 << true << "";
    QTest::newRow("exact respects case") << "aXbxc" << "x" << 1 << 1 << true << "aXb";
    QTest::newRow("inexact ignores case") << "aXbxc" << "x" << 1 << 1 << false << "a";
    QTest::newRow("long separator") << "key::value::" << "::" << 6 << 1 << true << "value";
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
    QTest::newRow("signed capital exponent") << "25E-1x" << 2.5;
    QTest::newRow("e without digits stops") << "7e" << 7.0;
    QTest::newRow("e sign without digits stops") << "7e+x" << 7.0;
    QTest::newRow("comma stops") << "2,5" << 2.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("negative") << "-30 s" << -30.0;
    QTest::newRow("tab and line feed skipped") << "\t\n 9" << 9.0;
    QTest::newRow("blank after sign stops") << "- 5" << 0.0;
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
    QTest::newRow("32767.5 rounds out") << "32767.5" << false << 0;
    QTest::newRow("-32768.5 rounds to even inside") << "-32768.5" << true << -32768;
    QTest::newRow("blanks around") << "  12 " << true << 12;
    QTest::newRow("tab and CR LF around") << "\t3\r\n" << true << 3;
    QTest::newRow("exponent") << "1e3" << true << 1000;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("trailing text") << "12abc" << false << 0;
    QTest::newRow("blank inside") << "1 2" << false << 0;
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

void TestUtils::roundHalfEven_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<bool>("ok16");
    QTest::addColumn<int>("value16");
    QTest::addColumn<bool>("ok32");
    QTest::addColumn<qint64>("value32");
    QTest::newRow("0.5") << 0.5 << true << 0 << true << qint64(0);
    QTest::newRow("1.5") << 1.5 << true << 2 << true << qint64(2);
    QTest::newRow("-1.5") << -1.5 << true << -2 << true << qint64(-2);
    QTest::newRow("-2.6") << -2.6 << true << -3 << true << qint64(-3);
    QTest::newRow("just below half") << 2.4999999 << true << 2 << true << qint64(2);
    // 150000 bytes in 5 s, per hour, in kilobytes: 105468.75
    QTest::newRow("estimate") << 150000.0 / 5 * 3600 / 1024 << false << 0 << true << qint64(105469);
    QTest::newRow("16-bit top") << 32767.5 << false << 0 << true << qint64(32768);
    QTest::newRow("16-bit bottom") << -32768.5 << true << -32768 << true << qint64(-32768);
    QTest::newRow("32-bit top") << 2147483647.5 << false << 0 << false << qint64(0);
    QTest::newRow("32-bit bottom") << -2147483648.5 << false << 0 << true << qint64(-2147483648LL);
    QTest::newRow("32-bit below") << -2147483649.0 << false << 0 << false << qint64(0);
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << false << 0 << false << qint64(0);
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false << 0 << false << qint64(0);
}

void TestUtils::roundHalfEven()
{
    QFETCH(double, number);
    QFETCH(bool, ok16);
    QFETCH(int, value16);
    QFETCH(bool, ok32);
    QFETCH(qint64, value32);
    qint16 s = 42;   // a failed conversion leaves the value untouched
    QCOMPARE(RoundToInt16(number, s), ok16);
    QCOMPARE(int(s), ok16 ? value16 : 42);
    qint32 l = 42;
    QCOMPARE(RoundToInt32(number, l), ok32);
    QCOMPARE(qint64(l), ok32 ? value32 : 42);
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
