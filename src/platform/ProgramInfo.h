#pragma once

#include <QString>

// The program's own folder and the way it ends at once after a fatal error.
class ProgramInfo
{
public:
    virtual ~ProgramInfo() = default;
    virtual QString programFolder() const = 0;
    // Where the settings file and the daily log files live; beside the program unless an
    // installed program keeps them elsewhere.
    virtual QString settingsFolder() const { return programFolder(); }
    virtual QString logFolder() const { return programFolder(); }
    // Ends the program at once, without any further shutdown step. A test fake records the
    // call and throws, so code after it is never reached either way.
    virtual void exitNow(int code) = 0;
};
