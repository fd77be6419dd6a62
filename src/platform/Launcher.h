#pragma once

#include <QString>

// Starts another program from a command line and does not wait for it, and finds programs.
class Launcher
{
public:
    virtual ~Launcher() = default;
    virtual bool startDetached(const QString &commandLine) = 0;
    // The system's description of why the last start failed.
    virtual QString lastError() const { return {}; }
    // Full path of the program called name on the search path, looked up now; empty when
    // there is none.
    virtual QString findProgram(const QString &name) const
    {
        Q_UNUSED(name);
        return {};
    }
};
