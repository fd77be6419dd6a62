// The text and number helpers are checked against reference readings by the fuzz target
// "text", whose corpus the suite replays; here what no reference reading gives.
#include "util/TextCodec.h"

#include <QTest>

class TestUtils : public QObject
{
    Q_OBJECT
private slots:
    // Not UTF-8: Windows-1252, its undefined 0x81 kept as it is.
    void windows1252()
    {
        QCOMPARE(DecodeTextFile("5 \x80\x81\x9F\xC3"), QString::fromUtf8("5 €") + QChar(0x81) + QChar(0x178) + QChar(0xC3));
    }
};

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
