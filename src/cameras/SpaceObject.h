#pragma once

#include <QtGlobal>

// The one transfer-volume estimator for all cameras (placeholder declaration).
class SpaceObject
{
public:
    void Reset();
    void HighestInterval(qint16 iData);
    qint16 HighestInterval() const;
    void CountCycles();
    void CollectBytes(qint64 lData);
    bool HasEnoughCycles() const;
    qint32 EstimateSpace();
};
