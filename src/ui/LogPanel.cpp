#include "ui/LogPanel.h"

#include "state/AppState.h"
#include "log/Log.h"
#include "ui/ExternalPrograms.h"
#include "ui/WindowHelpers.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

LogPanel::LogPanel(AppState &state, QWidget *parent)
    : QGroupBox(QStringLiteral("Logging"), parent)
    , mState(state)
{
    setObjectName(QStringLiteral("frLog"));
    txtLog = Named(new QPlainTextEdit, "txtLog", QStringLiteral("Logfenster"));
    txtLog->setReadOnly(true);
    txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtLog->setUndoRedoEnabled(false);
    txtLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtLog->setMinimumHeight(txtLog->fontMetrics().lineSpacing() * 6);
    btLogLeeren = Named(new QPushButton(QStringLiteral("Log löschen!")), "btLogLeeren", QStringLiteral("Logfenster leeren"));
    btLogSpeichern = Named(new QPushButton(QStringLiteral("Log speichern!")), "btLogSpeichern",
                           QStringLiteral("Logfenster an Logdatei anhängen"));
    btLogDatei = Named(new QPushButton(QStringLiteral("Logdatei öffnen")), "btLogDatei",
                       QStringLiteral("Aktuelle Logdatei im Texteditor öffnen"));
    chkLogAutoLeeren = Named(new QCheckBox(QStringLiteral("Auto Log leeren")), "chkLogAutoLeeren",
                             QStringLiteral("Leer das Logfenster automatisch, wenn es voll ist"));
    chkLogAutoSichern = Named(new QCheckBox(QStringLiteral("Auto Log speichern")), "chkLogAutoSichern",
                              QStringLiteral("Speichert das Logfenster automatisch in eine Datei, wenn es voll ist und geleert wird"));
    auto *logButtons = new QHBoxLayout;
    logButtons->addWidget(btLogLeeren);
    logButtons->addWidget(btLogSpeichern);
    logButtons->addWidget(btLogDatei);
    logButtons->addStretch(1);
    logButtons->addWidget(chkLogAutoLeeren);
    logButtons->addWidget(chkLogAutoSichern);
    auto *log = new QVBoxLayout(this);
    log->addWidget(txtLog, 1);
    log->addLayout(logButtons);

    connect(btLogLeeren, &QPushButton::clicked, this, &LogPanel::btLogLeeren_Click);
    connect(btLogSpeichern, &QPushButton::clicked, this, &LogPanel::btLogSpeichern_Click);
    connect(btLogDatei, &QPushButton::clicked, this, &LogPanel::btLogDatei_Click);
    connect(chkLogAutoLeeren, &QCheckBox::toggled, this, [this](bool checked) {
        mState.LogAutoClear = checked;
        emit flagsChanged();
    });
    connect(chkLogAutoSichern, &QCheckBox::toggled, this, [this](bool checked) {
        mState.LogAutoSave = checked;
        emit flagsChanged();
    });
    // The log window mirrors the log's own text, line by line.
    connect(&mState.txtLog, &LogWindow::appended, this, &LogPanel::appendLogLine);
    connect(&mState.txtLog, &LogWindow::cleared, txtLog, &QPlainTextEdit::clear);
}

void LogPanel::appendLogLine(const QString &line)
{
    // Inserted at the end through a cursor of its own: the cost is the line's, and the
    // user's caret stays where it is. The view follows new lines while it shows the last
    // one, as terminals do; scrolled up, it stays.
    QScrollBar *bar = txtLog->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    QString shown = line;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QTextCursor cursor(txtLog->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(shown);
    if (following)
        bar->setValue(bar->maximum());
}

void LogPanel::btLogLeeren_Click()
{
    LogLeeren(mState);
}

void LogPanel::btLogSpeichern_Click()
{
    SaveAndClearLog(mState);
}

void LogPanel::btLogDatei_Click()
{
    OpenLogFile(mState);
}
