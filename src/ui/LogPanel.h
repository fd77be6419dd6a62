#pragma once

#include <QGroupBox>

class AppState;
class QCheckBox;
class QPlainTextEdit;
class QPushButton;

// frLog: the log window, mirroring the log's own text line by line, with its buttons and
// the two automatic-handling boxes.
class LogPanel : public QGroupBox
{
    Q_OBJECT
public:
    explicit LogPanel(AppState &state, QWidget *parent = nullptr);

    void appendLogLine(const QString &line);

    QPlainTextEdit *txtLog;
    QPushButton *btLogLeeren, *btLogSpeichern, *btLogDatei;
    QCheckBox *chkLogAutoLeeren, *chkLogAutoSichern;

signals:
    // One of the two boxes changed its value.
    void flagsChanged();

public slots:
    void btLogLeeren_Click();
    void btLogSpeichern_Click();
    void btLogDatei_Click();

private:
    AppState &mState;
};
