#include "support/SettingsText.h"
#include "support/WindowRig.h"
#include "ui/ArchiveBrowser.h"
#include "ui/ExternalPrograms.h"
#include "ui/PictureBox.h"

#include <QCalendarWidget>
#include <QDirIterator>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// "Archiv" opened from the menu and driven by keys and mouse on the real window: the newest
// day, the calendar's marks, stepping, playing, an hour the storage limit takes meanwhile,
// the viewer, the export's refusals. The archive stays as it was.
class TestArchiveBrowser : public QObject
{
    Q_OBJECT

private slots:
    void browse()
    {
        WindowRig r;
        const QString day = r.archive.path() + QStringLiteral("/CAM01/2006/05/12/");
        int colour = 0;
        for (const char *f : {"09/20060512-090000(Hof).jpg", "09/20060512-090000(Hof)-2.jpg", "09/20060512-090030(Hof).jpg",
                              "13/20060512-134500(Hof).jpg", "13/20060512-134507(Hof).jpg", "../10/08/20060510-080000(Hof).jpg"}) {
            QImage image(64, 48, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(60 * colour++, 255, 255));
            QVERIFY(QDir().mkpath(QFileInfo(day + QLatin1String(f)).path()) && image.save(day + QLatin1String(f), "JPG"));
        }
        QVERIFY(WriteAll(day + QStringLiteral("13/20060512-134600(Hof)-broken.http"), "HTTP/1.1 500") && WriteAll(day + QStringLiteral("13/x.jpg"), "x"));
        const auto tree = [&] {
            QStringList entries;
            for (QDirIterator it(r.archive.path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
                entries << it.next() + QString::number(it.fileInfo().size()) + it.fileInfo().lastModified().toString();
            entries.sort();
            return entries;
        };
        frmMain &w = r.load(SettingsText({{"ARCHIVE", r.archive.path()}, {"CAM_COUNT", "2"}, {"CAM01_NAME", "Hof"}, {"CAM02_NAME", "Tor"},
                                          {"LASTCAM", "1"}, {"LIMIT_OPT", "Z"}, {"LIMIT_UNIT", "h"}}));
        w.ViewerProgram = QStringLiteral("bildansicht");
        w.ViewerArguments = QStringLiteral("\"%1\"");
        r.menu(w.mnuArchive);
        ArchiveBrowser *b = w.frmArchive;
        QVERIFY(b && b->isVisible());
        QWindow *window = b->windowHandle();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const auto shown = [&](const char *name) {
            QCoreApplication::processEvents();
            return b->lblDatei->text() == QLatin1String(name) && b->shownIndex() == b->currentIndex() && b->imgBild->hasPicture();
        };

        // The newest day at its newest image; bold on the days with images only.
        QVERIFY(shown("20060512-134507(Hof).jpg"));
        QCOMPARE(b->calTag->selectedDate(), QDate(2006, 5, 12));
        for (int d : {10, 11, 12})
            QCOMPARE(b->calTag->dateTextFormat(QDate(2006, 5, d)).fontWeight() == QFont::Bold, d != 11);

        // Arrow keys step image by image, from the slider and from anywhere else in the window.
        QTest::keyClick(window, Qt::Key_Left);
        QTest::keyClick(window, Qt::Key_Left);
        QVERIFY(shown("20060512-090030(Hof).jpg"));
        b->btAnsehen->setFocus();
        QTest::keyClick(window, Qt::Key_Left);
        QVERIFY(shown("20060512-090000(Hof)-2.jpg"));
        QTest::mouseClick(b->sldZeit, Qt::LeftButton, {}, QPoint(b->sldZeit->positionOf(0), b->sldZeit->height() / 2));
        QVERIFY(shown("20060512-090000(Hof).jpg"));
        // Dragged along: only where it stops is decoded.
        const int y = b->sldZeit->height() / 2, decodes = b->decodes();
        QTest::mousePress(b->sldZeit, Qt::LeftButton, {}, QPoint(b->sldZeit->positionOf(0), y));
        for (int i : {1, 2, 3})
            QTest::mouseMove(b->sldZeit, QPoint(b->sldZeit->positionOf(i), y));
        QTest::mouseRelease(b->sldZeit, Qt::LeftButton, {}, QPoint(b->sldZeit->positionOf(3), y));
        QVERIFY(shown("20060512-134500(Hof).jpg"));
        QCOMPARE(b->decodes(), decodes + 1);

        // Played forward it stops at the end; backward from there.
        QTest::mouseClick(b->btVorwaerts, Qt::LeftButton);
        QCOMPARE(b->playDirection(), 1);
        for (int i = 0; i < 3; ++i)
            b->PlayTick();
        QVERIFY(b->playDirection() == 0 && shown("20060512-134507(Hof).jpg"));
        QTest::mouseClick(b->btRueckwaerts, Qt::LeftButton);
        b->PlayTick();
        QVERIFY(b->playDirection() == -1 && shown("20060512-134500(Hof).jpg"));
        QTest::mouseClick(b->btStopp, Qt::LeftButton);
        QCOMPARE(b->playDirection(), 0);

        // The viewer gets the image shown, as for the last image.
        QTest::mouseClick(b->btAnsehen, Qt::LeftButton);
        QCOMPARE(r.tp.launcher->commandLines,
                 QStringList{ViewerCommandLine(w.ViewerProgram, w.ViewerArguments, day + QStringLiteral("13/20060512-134500(Hof).jpg"))});

        // The storage limit takes hour 09 while 09:00:30 is to be shown: the nearest image left.
        QVERIFY(QDir(day + QStringLiteral("09")).removeRecursively());
        QTest::keyClick(window, Qt::Key_Left);
        QVERIFY(shown("20060512-134500(Hof).jpg"));
        QCOMPARE(b->day().count(), 2);

        // Export: MP4 without ffmpeg says how to get it and asks nothing; a cancelled choice starts nothing.
        QStringList asked;
        b->chooseExportFile = [&](const QString &suggested) { asked << suggested; return QString(); };
        const QStringList before = tree();
        WindowRig::pick(b->cmbFormat, 0);
        QTest::mouseClick(b->btExportieren, Qt::LeftButton);
        QVERIFY(asked.isEmpty() && b->lblExport->text().contains(QStringLiteral("„sudo apt install ffmpeg“")));
        WindowRig::pick(b->cmbFormat, 1);
        QTest::mouseClick(b->btExportieren, Qt::LeftButton);
        QVERIFY(asked.last().endsWith(QStringLiteral("/CAM01_20060512_134500-134507.zip")) && !b->btAbbrechen->isEnabled());
        // Answered: the whole day goes out, the bar runs full and the buttons come back.
        QTemporaryDir out;
        b->chooseExportFile = [&](const QString &) { return out.filePath(QStringLiteral("tag")); };
        QTest::mouseClick(b->btExportieren, Qt::LeftButton);
        QVERIFY(!b->btExportieren->isEnabled() && b->btAbbrechen->isEnabled());
        QTRY_VERIFY(b->btExportieren->isEnabled());
        QVERIFY(QFileInfo(out.filePath(QStringLiteral("tag.zip"))).size() > 0 && !b->btAbbrechen->isEnabled());
        QCOMPARE(b->prgExport->value(), b->prgExport->maximum());

        // Another camera without images: an empty day, nothing shown.
        WindowRig::pick(b->cmbKamera, 1);
        QCoreApplication::processEvents();
        QVERIFY(b->day().isEmpty() && b->lblDatei->text() == QStringLiteral("Keine Bilder an diesem Tag.") && !b->imgBild->hasPicture());
        QCOMPARE(tree(), before);
        QVERIFY(r.tp.dialogs->boxes.isEmpty());
    }
};

QTEST_MAIN(TestArchiveBrowser)
#include "tst_archivebrowser.moc"
