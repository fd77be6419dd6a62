#pragma once

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Events.h"
#include "platform/Launcher.h"
#include "platform/ProgramInfo.h"

// The real services of the platform layer, apart from the file system and the sockets.

class QtClock final : public Clock
{
public:
    QDateTime now() const override;
};

class QtEvents final : public Events
{
public:
    void processPendingEvents() override;
};

// Splits the command line as a shell would (quoted parts stay together) and starts the
// program without waiting for it.
class QtLauncher final : public Launcher
{
public:
    bool startDetached(const QString &commandLine) override;
};

class QtProgramInfo final : public ProgramInfo
{
public:
    QString programFolder() const override;
    // Flushes what was printed and ends the process at once, without running destructors.
    [[noreturn]] void exitNow(int code) override;
};

// Message boxes before the windows exist, and in a program without windows: nothing shown.
class SilentDialogs final : public Dialogs
{
public:
    void messageBox(const QString &title, const QString &text, Icon icon) override;
};
