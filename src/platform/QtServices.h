#pragma once

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Events.h"
#include "platform/Launcher.h"
#include "platform/ProgramInfo.h"

#include <QString>
#include <QStringList>
#include <functional>

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

// The program that the words run through env ("env VAR=x browser ..."): the first word
// after env's options and assignments. Empty when the words are no env call.
QString ProgramBehindEnv(const QStringList &words);

// Splits the command line as a shell would (quoted parts stay together) and starts the
// program without waiting for it. Through env, the program env runs must exist too.
class QtLauncher final : public Launcher
{
public:
    bool startDetached(const QString &commandLine) override;
    QString lastError() const override { return mLastError; }
    QString findProgram(const QString &name) const override;

private:
    QString mLastError;
};

// Where the settings file and the log files live. Beside the program (the portable layout)
// when besideProgram; otherwise $XDG_CONFIG_HOME/bildfang and $XDG_STATE_HOME/bildfang,
// falling back to ~/.config and ~/.local/state when a variable is unset or not absolute.
// env gives an environment variable's value, empty when unset.
struct DataFolders
{
    QString settings;
    QString logs;
};
DataFolders ChooseDataFolders(const QString &programFolder, bool besideProgram,
                              const std::function<QString(const char *)> &env);

// The portable layout applies when the program's folder is writable and the program was
// not installed (no desktop entry of ours in ../share/applications).
bool KeepsDataBesideProgram(const QString &programFolder);

class QtProgramInfo final : public ProgramInfo
{
public:
    // A configFolder given holds both the settings file and the log files.
    explicit QtProgramInfo(QString configFolder = QString());
    QString programFolder() const override;
    // Chosen at the first call; the XDG folders are created then.
    QString settingsFolder() const override { return folders().settings; }
    QString logFolder() const override { return folders().logs; }
    // Flushes what was printed and ends the process at once, without running destructors.
    [[noreturn]] void exitNow(int code) override;

private:
    const DataFolders &folders() const;
    QString mConfigFolder;
    mutable DataFolders mFolders;
};

// Message boxes before the windows exist, and in a program without windows: nothing shown.
class SilentDialogs final : public Dialogs
{
public:
    void messageBox(const QString &title, const QString &text, Icon icon) override;
};
