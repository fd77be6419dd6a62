#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the GUI thread. The handler only writes
// the signal's number into a socket pair; a notifier reads it between other events, so
// the shutdown runs as an ordinary handler, never inside the signal handler. Signals are
// caught from construction on (it needs no application object yet) but reported only after
// start(), so one arriving while the program starts up waits until the start-up is complete.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    // False when the socket pair could not be made; the signals then keep their default.
    bool isActive() const { return mFds[0] >= 0; }
    // Reports the signals caught so far and all later ones; needs the application object.
    void start();

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignals();

    int mFds[2] = {-1, -1};
    QSocketNotifier *mNotifier = nullptr;
};
