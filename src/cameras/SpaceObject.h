#pragma once

#include <QtGlobal>

// The one transfer-volume estimator for all cameras: samples the bytes saved during a
// window as long as the longest camera interval and turns them into bytes per hour.
// Counts that would pass their width stay at their largest value.
class SpaceObject
{
public:
    // Starts a new sampling window.
    void Reset();
    // Raises the window's length to iData seconds; smaller values (and -1, off) change nothing.
    void HighestInterval(qint16 iData);
    qint16 HighestInterval() const;
    // One capture-cycle tick, while sampling.
    void CountCycles();
    // Bytes of one saved file, while sampling.
    void CollectBytes(qint64 lData);
    // True from the end of the window until the estimate is computed.
    bool HasEnoughCycles() const;
    // A transfer starts: inside the window it is counted, and the ticket returned (0 outside)
    // goes back to TransferEnded when it ends.
    quint32 TransferStarted();
    void TransferEnded(quint32 ticket);
    // The window's result may be taken: it is complete, and either something was saved or
    // every transfer started inside it has ended. A camera that fails at once must not close
    // a window whose images are still on their way.
    bool ResultDue() const;
    // Bytes per hour; computed once per window, then frozen. -1 while sampling with no
    // interval to divide by; 0 before the first Reset.
    qint32 EstimateSpace();

private:
    qint16 mHighestInterval = 0;
    qint16 mCycleCount = 0;
    qint32 mByteCount = 0;
    qint32 mEstimate = 0;   // -1: sampling; any other value: done
    quint32 mWindow = 0;    // counts the windows, so a ticket of an earlier one is ignored
    int mOpenTransfers = 0; // started inside this window and not ended
};
