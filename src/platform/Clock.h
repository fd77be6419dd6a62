#pragma once

#include <QDateTime>

// The present local date-time. Tests set it instead of waiting.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};
