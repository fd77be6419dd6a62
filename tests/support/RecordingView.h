#pragma once

#include "app/AppState.h"
#include "app/MainView.h"
#include "app/RecordingControl.h"
#include "log/Log.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QStringList>
#include <memory>

// A main window that remembers what the logic showed on it. When a RecordingControl is
// attached, setting the recording box runs its click handling as the real window does.
class RecordingView final : public MainView
{
public:
    QStringList panel1, panel2;          // every text, in order
    struct Shown { QString path, label; };
    QList<Shown> shown;
    QList<bool> recordingStates;         // ShowRecordingState calls
    QList<bool> checkedRequests;         // SetRecordingChecked calls
    bool failShow = false;
    RecordingControl *control = nullptr;

    void SetStatusText(int panel, const QString &text) override
    {
        (panel == 1 ? panel1 : panel2).append(text);
    }
    bool ShowLastImage(const QString &path, const QString &label, QString *error) override
    {
        if (failShow || !QFile::exists(path)) {
            if (error)
                *error = QStringLiteral("Bild kann nicht geladen werden");
            return false;
        }
        shown.append({path, label});
        return true;
    }
    void SetRecordingChecked(bool checked) override
    {
        checkedRequests.append(checked);
        if (control)
            control->SetChecked(checked);
    }
    void ShowRecordingState(bool on) override { recordingStates.append(on); }
};

// The messages of the log window as they were written, without their time stamps.
class LogLines
{
public:
    explicit LogLines(AppState &state)
    {
        mConnection = QObject::connect(&state.txtLog, &LogWindow::appended, [this](const QString &line) {
            QString message = line.mid(19);   // "<dd.mm.yyyy hh:mm> "
            if (message.endsWith(QLatin1String("\r\n")))
                message.chop(2);
            lines.append(message);
        });
    }
    ~LogLines() { QObject::disconnect(mConnection); }
    LogLines(const LogLines &) = delete;
    LogLines &operator=(const LogLines &) = delete;

    QStringList lines;
    int count(const QString &message) const { return int(lines.count(message)); }
    int countContaining(const QString &part) const
    {
        int n = 0;
        for (const QString &l : lines)
            n += l.contains(part) ? 1 : 0;
        return n;
    }

private:
    QMetaObject::Connection mConnection;
};
