#include "state/AppState.h"
#include "log/Log.h"
#include "support/TestPlatform.h"

#include <QSignalSpy>
#include <QTest>

namespace {

struct Fixture
{
    TestPlatform tp;
    AppState state{tp.platform};

    Fixture() { state.LogFileName = LogFileNameFor(tp.program->folder, tp.clock->current); }

    void writeLines(int n, const QString &prefix)
    {
        for (int i = 1; i <= n; ++i)
            QVERIFY(WriteLog(state, prefix + QString::number(i)));
    }
    QByteArray logFile() const
    {
        QByteArray bytes;
        return tp.fileSystem->readFile(state.LogFileName, bytes) ? bytes : QByteArray("(no file)");
    }
};

} // namespace

class tst_Log : public QObject
{
    Q_OBJECT

private slots:
    void lineFormat()
    {
        Fixture f;
        f.tp.clock->current = QDateTime(QDate(2006, 3, 1), QTime(9, 5, 59));
        QVERIFY(WriteLog(f.state, "*** Bildfang gestartet ***"));
        QCOMPARE(f.state.txtLog.text(), QString("<01.03.2006 09:05> *** Bildfang gestartet ***\r\n"));
        QCOMPARE(f.state.CurrentTime, f.tp.clock->current);
    }

    void fullWindow_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("autoClear");
        QTest::addColumn<bool>("autoSave");
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<bool>("emptied");

        const QString threeBreaks = "Fehler\r\n  >\"a\"\r\n  >\"b\"\r\n  >\"c\"";
        QTest::newRow("6 + 3 + 1 empties") << 6 << threeBreaks << true << false << false << true;
        QTest::newRow("5 + 3 + 1 does not") << 5 << threeBreaks << true << false << false << false;
        QTest::newRow("tenth line, saved first") << 9 << "Zehn" << true << true << false << true;
        QTest::newRow("clearing off: grows, nothing saved") << 9 << "Zehn" << false << true << false << false;
        // Nothing is lost: the window's lines go first into the file once it can be written.
        QTest::newRow("saving fails") << 9 << "Zehn" << true << true << true << true;
    }

    void fullWindow()
    {
        QFETCH(int, lines);
        QFETCH(QString, message);
        QFETCH(bool, autoClear);
        QFETCH(bool, autoSave);
        QFETCH(bool, saveFails);
        QFETCH(bool, emptied);

        Fixture f;
        f.state.LogAutoClear = autoClear;
        f.state.LogAutoSave = autoSave;
        f.writeLines(lines, "Zeile ");
        const QString before = f.state.txtLog.text();
        if (saveFails)
            f.state.LogFileName = f.tp.program->folder + "/fehlt/log.txt";
        QSignalSpy cleared(&f.state.txtLog, &LogWindow::cleared);
        QCOMPARE(WriteLog(f.state, message), !saveFails);

        const QString line = LogTimeStamp(f.tp.clock->current) + message + "\r\n";
        const QString expected = emptied ? line : before + line;
        QCOMPARE(f.state.txtLog.text(), expected);
        QCOMPARE(f.state.txtLog.lineBreaks(), LogWindow::CountLineBreaks(expected));
        QCOMPARE(cleared.count(), emptied ? 1 : 0);
        QCOMPARE(f.logFile(), emptied && autoSave && !saveFails ? before.toUtf8() : QByteArray("(no file)"));
        f.state.LogFileName = LogFileNameFor(f.tp.program->folder, f.tp.clock->current);
        QVERIFY(!saveFails || (AppendLogFile(f.state) && f.logFile() == (before + line).toUtf8()));
    }

    // Without clearing, a failed overflow save is tried again after as many lines more; once
    // it succeeds the window overflows at the usual size again.
    void overflowAfterAFailedSave()
    {
        Fixture f;
        f.state.LogAutoClear = false;
        const QString logFile = f.state.LogFileName;
        f.state.LogFileName = f.tp.program->folder + "/fehlt/log.txt";
        f.state.txtLog.overflowAt = 2;   // stands in for a full window, to keep the test short
        f.writeLines(3, "Zeile ");
        QCOMPARE(f.state.txtLog.lineBreaks(), 3);
        f.state.LogFileName = logFile;
        f.writeLines(LogWindow::OverflowLines, "Zeile ");
        QCOMPARE(f.logFile().count("\r\n"), LogWindow::OverflowLines + 2);
        QCOMPARE(f.state.txtLog.overflowAt, LogWindow::OverflowLines);
    }

    void twoRunsAppendToOneDaysFile()
    {
        Fixture first;
        QVERIFY(AppendLogFile(first.state));   // an empty window creates the file
        QCOMPARE(first.logFile(), QByteArray());
        first.writeLines(2, QString::fromUtf8("Lauf 1, Log löschen "));
        QVERIFY(AppendLogFile(first.state));

        AppState second(first.tp.platform);
        first.tp.clock->advanceSeconds(3600);
        second.LogFileName = LogFileNameFor(first.tp.program->folder, first.tp.clock->current);
        QVERIFY(WriteLog(second, "Lauf 2"));
        QVERIFY(AppendLogFile(second));
        QCOMPARE(first.logFile(), (first.state.txtLog.text() + second.txtLog.text()).toUtf8());
    }
};

QTEST_GUILESS_MAIN(tst_Log)
#include "tst_log.moc"
