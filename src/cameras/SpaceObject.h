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
    // Bytes per hour; computed once per window, then frozen. -1 while sampling with no
    // interval to divide by; 0 before the first Reset.
    qint32 EstimateSpace();

private:
    qint16 mHighestInterval = 0;
    qint16 mCycleCount = 0;
    qint32 mByteCount = 0;
    qint32 mEstimate = 0;   // -1: sampling; any other value: done
};
