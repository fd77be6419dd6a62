#include "app/AppState.h"
#include "log/Log.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Fixture
{
    TestPlatform tp;
    AppState state{tp.platform};

    Fixture()
    {
        state.LogFileName = LogFileNameFor(tp.program->folder, tp.clock->current);
    }

    // Lines "Zeile 1" .. "Zeile n", one minute apart.
    void writeLines(int n, const QString &prefix = QStringLiteral("Zeile "))
    {
        for (int i = 1; i <= n; ++i) {
            QVERIFY(WriteLog(state, prefix + QString::number(i)));
            tp.clock->advanceSeconds(60);
        }
    }
    QByteArray logFile() const
    {
        QFile file(state.LogFileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

} // namespace

class tst_Log : public QObject
{
    Q_OBJECT

private slots:
    void timeStampIsPadded();
    void lineKeepsMessageAndSetsCurrentTime();
    void lineBreakCountFollowsAppendAndClear();
    void capacityCountsEmbeddedLineBreaks_data();
    void capacityCountsEmbeddedLineBreaks();
    void autoClearKeepsAtMostNineLines();
    void autoSaveWritesRemovedLines();
    void withoutAutoClearNothingIsSavedAndWindowGrows();
    void failedAutoSaveKeepsWindowAndLine();
    void appendOnEmptyWindowCreatesFile();
    void twoRunsAppendToOneDaysFile();
    void logFileName();
    void fileIsWrittenInUtf8();
};

void tst_Log::timeStampIsPadded()
{
    QCOMPARE(LogTimeStamp(QDateTime(QDate(2006, 3, 1), QTime(9, 5, 59))), QString("<01.03.2006 09:05> "));
    QCOMPARE(LogTimeStamp(QDateTime(QDate(2006, 12, 31), QTime(23, 59))), QString("<31.12.2006 23:59> "));
    QCOMPARE(LogTimeStamp(QDateTime(QDate(987, 1, 2), QTime(0, 0))), QString("<02.01.0987 00:00> "));
}

void tst_Log::lineKeepsMessageAndSetsCurrentTime()
{
    Fixture f;
    f.tp.clock->current = QDateTime(QDate(2006, 12, 6), QTime(4, 5, 30));
    QVERIFY(WriteLog(f.state, "*** Bildfang gestartet ***"));
    QCOMPARE(f.state.CurrentTime, f.tp.clock->current);
    f.tp.clock->advanceSeconds(3600);
    QVERIFY(WriteLog(f.state, "  zwei\r\n  >\"Zeilen\"  "));
    QCOMPARE(f.state.CurrentTime, f.tp.clock->current);
    QCOMPARE(f.state.txtLog.text(),
             QString("<06.12.2006 04:05> *** Bildfang gestartet ***\r\n"
                     "<06.12.2006 05:05>   zwei\r\n  >\"Zeilen\"  \r\n"));
    QCOMPARE(f.state.txtLog.lineBreaks(), 3);
}

void tst_Log::lineBreakCountFollowsAppendAndClear()
{
    LogWindow window;
    QSignalSpy appended(&window, &LogWindow::appended);
    QSignalSpy cleared(&window, &LogWindow::cleared);
    window.append("a\r\nb\r\n");
    QCOMPARE(window.lineBreaks(), 2);
    window.append("c\r");        // a lone CR is no pair yet ...
    QCOMPARE(window.lineBreaks(), 2);
    window.append("\nd\n\r");    // ... until an LF follows it; LF CR is none
    QCOMPARE(window.lineBreaks(), 3);
    QCOMPARE(window.lineBreaks(), LogWindow::CountLineBreaks(window.text()));
    QCOMPARE(appended.count(), 3);
    window.clear();
    QCOMPARE(window.lineBreaks(), 0);
    QVERIFY(window.text().isEmpty());
    QCOMPARE(cleared.count(), 1);
    window.append("\n");         // no CR left over from before the clearing
    QCOMPARE(window.lineBreaks(), 0);
}

void tst_Log::capacityCountsEmbeddedLineBreaks_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("6 + 3 + 1 > 9 empties") << 6 << true;
    QTest::newRow("5 + 3 + 1 = 9 does not") << 5 << false;
}

void tst_Log::capacityCountsEmbeddedLineBreaks()
{
    QFETCH(int, linesBefore);
    QFETCH(bool, emptied);
    Fixture f;
    f.state.LogAutoClear = true;
    f.writeLines(linesBefore);
    const QString message = "Fehler\r\n  >\"a\"\r\n  >\"b\"\r\n  >\"c\"";
    QVERIFY(WriteLog(f.state, message));
    const QString &text = f.state.txtLog.text();
    QCOMPARE(text.startsWith("<12.05.2006 13:45> Zeile 1\r\n"), !emptied);
    QVERIFY(text.endsWith(message + "\r\n"));
    QCOMPARE(f.state.txtLog.lineBreaks(), emptied ? 4 : linesBefore + 4);
    QVERIFY(!QFile::exists(f.state.LogFileName));   // saving is off
}

void tst_Log::autoClearKeepsAtMostNineLines()
{
    Fixture f;
    f.state.LogAutoClear = true;
    f.writeLines(9);
    QCOMPARE(f.state.txtLog.lineBreaks(), 9);
    QVERIFY(WriteLog(f.state, "Zehn"));
    QCOMPARE(f.state.txtLog.lineBreaks(), 1);
    QVERIFY(f.state.txtLog.text().endsWith("> Zehn\r\n"));
    f.writeLines(20);
    QVERIFY(f.state.txtLog.lineBreaks() <= 9);
    // The removed lines were not saved.
    QVERIFY(!QFile::exists(f.state.LogFileName));
}

void tst_Log::autoSaveWritesRemovedLines()
{
    Fixture f;
    f.state.LogAutoClear = true;
    f.state.LogAutoSave = true;
    f.writeLines(9);
    const QString nine = f.state.txtLog.text();
    QVERIFY(WriteLog(f.state, "Zehn"));
    QCOMPARE(f.logFile(), nine.toUtf8());
    f.writeLines(8, "Mehr ");
    const QString secondNine = f.state.txtLog.text();
    QVERIFY(WriteLog(f.state, "Elf"));
    QCOMPARE(f.logFile(), (nine + secondNine).toUtf8());
    QVERIFY(f.state.txtLog.text().endsWith("> Elf\r\n"));
}

void tst_Log::withoutAutoClearNothingIsSavedAndWindowGrows()
{
    Fixture f;
    f.state.LogAutoSave = true;   // no effect without automatic clearing
    f.writeLines(25);
    QCOMPARE(f.state.txtLog.lineBreaks(), 25);
    QVERIFY(!QFile::exists(f.state.LogFileName));
}

void tst_Log::failedAutoSaveKeepsWindowAndLine()
{
    Fixture f;
    f.state.LogAutoClear = true;
    f.state.LogAutoSave = true;
    f.writeLines(9);
    const QString before = f.state.txtLog.text();
    const QDateTime timeBefore = f.state.CurrentTime;
    f.state.LogFileName = f.tp.program->folder + "/fehlt/Bildfang Log 20060512.txt";
    QVERIFY(!WriteLog(f.state, "verloren?"));
    QCOMPARE(f.state.txtLog.text(), before);
    QCOMPARE(f.state.txtLog.lineBreaks(), 9);
    QCOMPARE(f.state.CurrentTime, timeBefore);

    // Once the file can be written again, nothing of the window was lost.
    f.state.LogFileName = LogFileNameFor(f.tp.program->folder, f.tp.clock->current);
    QVERIFY(WriteLog(f.state, "wieder da"));
    QCOMPARE(f.logFile(), before.toUtf8());
}

void tst_Log::appendOnEmptyWindowCreatesFile()
{
    Fixture f;
    QVERIFY(!QFile::exists(f.state.LogFileName));
    QVERIFY(AppendLogFile(f.state));
    QVERIFY(QFile::exists(f.state.LogFileName));
    QCOMPARE(f.logFile(), QByteArray());

    QString error;
    f.state.LogFileName = f.tp.program->folder + "/fehlt/x.txt";
    QVERIFY(!AppendLogFile(f.state, &error));
    QVERIFY(!error.isEmpty());
}

void tst_Log::twoRunsAppendToOneDaysFile()
{
    Fixture first;
    first.writeLines(2, "Lauf 1 ");
    QVERIFY(AppendLogFile(first.state));   // the end of the first run
    const QString firstRun = first.state.txtLog.text();

    AppState second(first.tp.platform);
    second.LogFileName = LogFileNameFor(first.tp.program->folder, first.tp.clock->current);
    QCOMPARE(second.LogFileName, first.state.LogFileName);
    QVERIFY(WriteLog(second, "Lauf 2"));
    QVERIFY(AppendLogFile(second));
    QCOMPARE(first.logFile(), (firstRun + second.txtLog.text()).toUtf8());
}

void tst_Log::logFileName()
{
    const QString sep(QDir::separator());
    const QDateTime date(QDate(2006, 12, 6), QTime(23, 59));
    QCOMPARE(LogFileNameFor("/opt/bildfang", date), "/opt/bildfang" + sep + "Bildfang Log 20061206.txt");
    QCOMPARE(LogFileNameFor("/opt/bildfang" + sep, date), "/opt/bildfang" + sep + "Bildfang Log 20061206.txt");
    QCOMPARE(LogFileNameFor("/x", QDateTime(QDate(2007, 1, 1), QTime(0, 0))),
             "/x" + sep + "Bildfang Log 20070101.txt");
}

void tst_Log::fileIsWrittenInUtf8()
{
    Fixture f;
    QVERIFY(WriteLog(f.state, QString::fromUtf8("Log löschen")));
    QVERIFY(AppendLogFile(f.state));
    QVERIFY(f.logFile().endsWith("Log l\xc3\xb6schen\r\n"));
}

QTEST_GUILESS_MAIN(tst_Log)
#include "tst_log.moc"
