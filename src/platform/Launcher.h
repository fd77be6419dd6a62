#pragma once

#include <QString>

// Starts another program from a command line and does not wait for it.
class Launcher
{
public:
    virtual ~Launcher() = default;
    virtual bool startDetached(const QString &commandLine) = 0;
    // The system's description of why the last start failed.
    virtual QString lastError() const { return {}; }
};
