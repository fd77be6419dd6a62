// The simulator's images: real JPEGs of the exact size asked for, a different file for every
// serial, the same file for the same serial.
#include "JpegMaker.h"

#include <QBuffer>
#include <QImageReader>
#include <QTest>

namespace {

// The bytes before the scan that are not comment segments; -1 if the segments do not chain.
qsizetype withoutComments(const QByteArray &jpeg)
{
    qsizetype at = 2, comments = 0;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF && quint8(jpeg[at + 1]) != 0xDA) {
        const qsizetype length = 2 + (quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]));
        comments += quint8(jpeg[at + 1]) == 0xFE ? length : 0;
        at += length;
    }
    return at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF ? jpeg.size() - comments : -1;
}

} // namespace

class TestCamSim : public QObject
{
    Q_OBJECT
private slots:
    void realJpegs_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("thumbnail");
        QTest::newRow("stand-in below any picture") << 30 << false;
        QTest::newRow("3000") << 3000 << true;
        QTest::newRow("20000") << 20000 << false;
        QTest::newRow("200 KB, four comment segments") << 200 * 1024 << true;
        QTest::newRow("2 MB") << 2000000 << false;
    }
    void realJpegs()
    {
        QFETCH(int, size);
        QFETCH(bool, thumbnail);
        JpegMaker maker;
        const QByteArray one = maker.make(size, 1, thumbnail), two = maker.make(size, 2, thumbnail);
        QCOMPARE(one.size(), size);
        QCOMPARE(two.size(), size);
        QVERIFY(one != two && one.startsWith("\xFF\xD8") && one.endsWith("\xFF\xD9"));
        QCOMPARE(JpegMaker().make(size, 2, thumbnail), two);
        QCOMPARE(one.contains(QByteArray("\xFF\xD8\x01\x02\x03\x04\xFF\xD9", 8)), thumbnail);
        const QSize picture = maker.pictureSize(size);
        QCOMPARE(picture.isEmpty(), size < 100);
        if (picture.isEmpty())
            return;
        for (const QByteArray &jpeg : {one, two}) {
            QBuffer buffer;
            buffer.setData(jpeg);
            QImageReader reader(&buffer, "jpeg");
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(image.size(), picture);
            QVERIFY(withoutComments(jpeg) > 0);
        }
    }

    // Paddings that leave one to three bytes beyond whole comment segments.
    void paddingTails()
    {
        JpegMaker maker;
        const int large = 4000000;
        const qsizetype picture = withoutComments(maker.make(large, 3));
        QVERIFY(picture > 0);
        for (int segments = 1; segments <= 2; ++segments) {
            for (int tail = 0; tail <= 4; ++tail) {
                const int size = int(picture) + segments * 65537 + tail;
                const QByteArray jpeg = maker.make(size, 3);
                QCOMPARE(jpeg.size(), size);
                QCOMPARE(withoutComments(jpeg), picture);
                QVERIFY(!QImage::fromData(jpeg, "jpeg").isNull());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCamSim)
#include "tst_camsim.moc"
