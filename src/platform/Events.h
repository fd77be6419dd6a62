#pragma once

// Lets the events waiting on the GUI thread run in the middle of a handler.
class Events
{
public:
    virtual ~Events() = default;
    virtual void processPendingEvents() = 0;
};
