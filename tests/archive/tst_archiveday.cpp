#include "archive/ArchiveDay.h"
#include "platform/QtFileSystem.h"
#include "support/Files.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

// The browser's view of the archive: which names count, the order of a day, the calendar's
// days, and a day whose hours the storage limit deletes while it is looked at. Nothing here
// may change the tree.
class TestArchiveDay : public QObject
{
    Q_OBJECT

    QTemporaryDir mDir;
    QtFileSystem mFs;
    const QDate mDay{2006, 5, 12};

    QString archive() const { return mDir.path() + QLatin1Char('/'); }
    void put(const QString &rel) const { QVERIFY(WriteAll(archive() + rel, QByteArrayLiteral("x"))); }
    // Every entry of the tree with its size and change time.
    QStringList tree() const
    {
        QStringList entries;
        for (QDirIterator it(mDir.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
             it.hasNext();) {
            it.next();
            entries << it.filePath() + QLatin1Char(' ') + QString::number(it.fileInfo().size()) + QLatin1Char(' ')
                    + QString::number(it.fileInfo().lastModified().toMSecsSinceEpoch());
        }
        entries.sort();
        return entries;
    }
    static QStringList names(const ArchiveDay &day)
    {
        QStringList list;
        for (const ArchiveImage &image : day.images())
            list << image.fileName;
        return list;
    }

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("second");   // -1: not an image of 2006-05-12, hour 13
        QTest::addColumn<int>("copy");
        const int s = 13 * 3600 + 45 * 60 + 7;
        QTest::newRow("plain") << "20060512-134507(Hof).jpg" << s << 1;
        QTest::newRow("taken name") << "20060512-134507(Hof)-2.jpg" << s << 2;
        QTest::newRow("brackets in the name") << "20060512-134507(a)-2)(b).jpg" << s << 1;
        QTest::newRow("empty name, copy 12") << "20060512-134507()-12.jpg" << s << 12;
        QTest::newRow("kept answer") << "20060512-134507(Hof)-broken.http" << -1 << 0;
        QTest::newRow("copy 1") << "20060512-134507(Hof)-1.jpg" << -1 << 0;
        QTest::newRow("copy 02") << "20060512-134507(Hof)-02.jpg" << -1 << 0;
        QTest::newRow("dash without bracket") << "20060512-134507(Hof-2.jpg" << -1 << 0;
        QTest::newRow("other hour") << "20060512-144507(Hof).jpg" << -1 << 0;
        QTest::newRow("other day") << "20060513-134507(Hof).jpg" << -1 << 0;
        QTest::newRow("second 60") << "20060512-134560(Hof).jpg" << -1 << 0;
        QTest::newRow("capital ending") << "20060512-134507(Hof).JPG" << -1 << 0;
        QTest::newRow("no bracket") << "20060512-134507.jpg" << -1 << 0;
        QTest::newRow("temporary") << ".bildfang-12-3.tmp" << -1 << 0;
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(int, second);
        QFETCH(int, copy);
        ArchiveImage image;
        QCOMPARE(ParseImageName(name, mDay, 13, &image), second >= 0);
        if (second >= 0)
            QVERIFY(image.second == second && image.copy == copy && image.fileName == name);
    }

    // Hours 00, 05 and 23 of 24; foreign files and folders everywhere; an hour deleted and one
    // grown while the day is open.
    void dayWithGaps()
    {
        const QString d = QStringLiteral("CAM01/2006/05/12/");
        for (const char *f : {"05/20060512-050010(Hof)-2.jpg", "05/20060512-050010(Hof).jpg", "05/20060512-055959(Neu).jpg",
                              "05/20060512-050011(Hof)-broken.http", "05/notiz.txt", "05/20060512-060000(Hof).jpg",
                              "00/20060512-000000(Hof).jpg", "23/20060512-230001(Hof).jpg", "23/sub/20060512-230002(Hof).jpg",
                              "7/20060512-070000(Hof).jpg", "24/20060512-240000(Hof).jpg", "xx/20060512-100000(Hof).jpg",
                              "12/.bildfang-1-1.tmp"})
            put(d + QLatin1String(f));
        QVERIFY(QFile::link(archive() + d + QStringLiteral("00/20060512-000000(Hof).jpg"),
                            archive() + d + QStringLiteral("00/20060512-000001(Hof).jpg")));
        const QStringList before = tree();

        ArchiveDay day(mFs, archive(), 1, mDay);
        QCOMPARE(names(day), (QStringList{"20060512-000000(Hof).jpg", "20060512-050010(Hof).jpg", "20060512-050010(Hof)-2.jpg",
                                          "20060512-055959(Neu).jpg", "20060512-230001(Hof).jpg"}));
        QCOMPARE(day.hours(), (QList<int>{0, 5, 23}));
        QVERIFY(day.firstOfHour(5) == 1 && day.firstOfHour(12) == -1);
        QCOMPARE(day.path(3), archive() + d + QStringLiteral("05/20060512-055959(Neu).jpg"));
        QCOMPARE(day.time(4), QDateTime(mDay, QTime(23, 0, 1)));
        // Inclusive at both ends; an empty range comes back with first past last.
        QCOMPARE(day.between(5 * 3600 + 10, 5 * 3600 + 3599), std::make_pair(1, 3));
        QVERIFY(day.between(6 * 3600, 22 * 3600).first > day.between(6 * 3600, 22 * 3600).second);
        QCOMPARE(day.nearest(5 * 3600 + 11), 1);   // the first of the two copies
        QCOMPARE(day.nearest(14 * 3600 + 30 * 60), 3);
        QCOMPARE(day.nearest(14 * 3600 + 30 * 60 + 2), 4);
        QCOMPARE(tree(), before);

        // The storage limit takes hour 05 while hour 23 grows.
        QVERIFY(QDir(archive() + d + QStringLiteral("05")).removeRecursively());
        put(d + QStringLiteral("23/20060512-235959(Hof).jpg"));
        QVERIFY(day.refresh(5));
        QCOMPARE(day.hours(), (QList<int>{0, 23}));
        QCOMPARE(day.at(day.nearest(5 * 3600 + 10)).fileName, QStringLiteral("20060512-000000(Hof).jpg"));
        QVERIFY(!day.refresh(5));
        QVERIFY(day.refresh(23) && day.count() == 3 && day.at(2).second == 86399);
        QVERIFY(!day.refresh());

        QVERIFY(QDir(archive() + QStringLiteral("CAM01")).removeRecursively());
        QVERIFY(day.refresh() && day.isEmpty() && day.nearest(0) == -1);
    }

    // The calendar's marks: a day counts only with an image; the newest such day over years.
    void calendarDays()
    {
        for (const char *f : {"CAM02/2006/05/03/00/20060503-001500(Hof).jpg", "CAM02/2006/05/04/10/20060504-101500(Hof)-broken.http",
                              "CAM02/2006/05/06/09/20060507-091500(Hof).jpg", "CAM02/2006/05/07/23/20060507-231500(Hof).jpg",
                              "CAM02/2006/05/31/25/20060531-251500(Hof).jpg", "CAM02/2006/05/1/00/2006051-001500(Hof).jpg",
                              "CAM02/2006/06/31/00/20060631-001500(Hof).jpg", "CAM02/2007/01/02/00/20070102-001500(Hof)-broken.http",
                              "CAM02/2007/01/02/00/notiz.txt", "CAM02/2008/xx/01/00/2008xx01-001500(Hof).jpg",
                              "CAM01/2007/02/01/00/20070201-001500(Hof).jpg"})
            put(QLatin1String(f));
        QVERIFY(QDir().mkpath(archive() + QStringLiteral("CAM02/2006/05/05/11")));
        const QStringList before = tree();
        QCOMPARE(DaysWithImages(mFs, archive(), 2, 2006, 5), (QList<int>{3, 7}));
        QVERIFY(DaysWithImages(mFs, archive(), 2, 2006, 6).isEmpty());
        QCOMPARE(LatestDayWithImages(mFs, archive(), 2), QDate(2006, 5, 7));
        QVERIFY(!LatestDayWithImages(mFs, archive(), 3).isValid());
        QCOMPARE(tree(), before);
    }
};

QTEST_GUILESS_MAIN(TestArchiveDay)
#include "tst_archiveday.moc"
