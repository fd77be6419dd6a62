#include "cameras/SpaceObject.h"

#include "util/Utils.h"

#include <limits>

void SpaceObject::Reset()
{
    mCycleCount = 0;
    mHighestInterval = 0;
    mByteCount = 0;
    mEstimate = -1;
    mOpenTransfers = 0;
    // Never 0, which is the ticket of a transfer outside any window.
    mWindow = mWindow == std::numeric_limits<quint32>::max() ? 1 : mWindow + 1;
}

void SpaceObject::HighestInterval(qint16 iData)
{
    if (iData > mHighestInterval)
        mHighestInterval = iData;
}

qint16 SpaceObject::HighestInterval() const
{
    return mHighestInterval;
}

void SpaceObject::CountCycles()
{
    // A window that never completes (all cameras off) must not wrap to negative counts.
    if (mEstimate == -1 && mCycleCount < std::numeric_limits<qint16>::max())
        ++mCycleCount;
}

void SpaceObject::CollectBytes(qint64 lData)
{
    if (mEstimate != -1)
        return;
    constexpr qint64 top = std::numeric_limits<qint32>::max();
    constexpr qint64 bottom = std::numeric_limits<qint32>::min();
    // Compared before adding, so that even the largest lData cannot overflow on the way.
    if (lData > 0 && lData > top - mByteCount)
        mByteCount = qint32(top);
    else if (lData < 0 && lData < bottom - mByteCount)
        mByteCount = qint32(bottom);
    else
        mByteCount = qint32(mByteCount + lData);
}

bool SpaceObject::HasEnoughCycles() const
{
    return mEstimate == -1 && mHighestInterval > 0 && mCycleCount >= mHighestInterval;
}

quint32 SpaceObject::TransferStarted()
{
    // Called before the tick is counted: at tick n the count is n - 1.
    if (mEstimate != -1 || mCycleCount >= mHighestInterval)
        return 0;
    ++mOpenTransfers;
    return mWindow;
}

void SpaceObject::TransferEnded(quint32 ticket)
{
    if (ticket != 0 && ticket == mWindow && mOpenTransfers > 0)
        --mOpenTransfers;
}

bool SpaceObject::ResultDue() const
{
    return HasEnoughCycles() && (mByteCount != 0 || mOpenTransfers == 0);
}

qint32 SpaceObject::EstimateSpace()
{
    if (mEstimate == -1 && mHighestInterval > 0) {
        const double rate = double(mByteCount) / double(mHighestInterval) * 3600.0;
        qint32 estimate = 0;
        if (!RoundToInt32(rate, estimate))
            estimate = rate > 0 ? std::numeric_limits<qint32>::max() : std::numeric_limits<qint32>::min();
        mEstimate = estimate;
    }
    return mEstimate;
}
