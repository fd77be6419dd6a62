#pragma once

#include "platform/Platform.h"
#include "platform/QtFileSystem.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <exception>
#include <functional>
#include <memory>

// Fakes for the platform services, so that a test sets the time and the free space and sees
// message boxes and program exits instead of blocking or ending.

class FakeClock final : public Clock
{
public:
    QDateTime current = QDateTime(QDate(2006, 5, 12), QTime(13, 45, 7));
    QDateTime now() const override { return current; }
    void advanceSeconds(qint64 s) { current = current.addSecs(s); }
};

// The real file system; the free space (-2: the real one) and folders that refuse deletion set
// by the test.
class FakeFreeSpaceFileSystem final : public QtFileSystem
{
public:
    qint64 freeBytesValue = -2;
    QStringList undeletable;
    qint64 freeBytes(const QString &path) const override { return freeBytesValue == -2 ? QtFileSystem::freeBytes(path) : freeBytesValue; }
    bool deleteFolder(const QString &path, QString *error) override
    {
        if (!undeletable.contains(path))
            return QtFileSystem::deleteFolder(path, error);
        if (error)
            *error = QStringLiteral("Zugriff verweigert");
        return false;
    }
};

class RecordingDialogs final : public Dialogs
{
public:
    struct Box { QString title, text; Icon icon; };
    QList<Box> boxes;
    void messageBox(const QString &title, const QString &text, Icon icon) override { boxes.append({title, text, icon}); }
};

class CountingEvents final : public Events
{
public:
    int calls = 0;
    std::function<void()> onProcess;   // what "other events" do when they get to run
    void processPendingEvents() override
    {
        ++calls;
        if (onProcess)
            onProcess();
    }
};

class RecordingLauncher final : public Launcher
{
public:
    QStringList commandLines;
    QHash<QString, QString> programs;   // what findProgram finds, by name
    bool startDetached(const QString &commandLine) override { commandLines.append(commandLine); return true; }
    QString findProgram(const QString &name) const override { return programs.value(name); }
};

// Thrown by FakeProgramInfo::exitNow so that nothing after a fatal error runs.
struct ProgramExited : std::exception
{
    int code;
    explicit ProgramExited(int c) : code(c) {}
};

class FakeProgramInfo final : public ProgramInfo
{
public:
    QString folder;
    QList<int> exits;
    QString programFolder() const override { return folder; }
    void exitNow(int code) override { exits.append(code); throw ProgramExited(code); }
};

// One set of fakes with a temporary program folder, the real sockets and no associations.
struct TestPlatform
{
    TestPlatform() { program->folder = programDir.path(); }
    QTemporaryDir programDir;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeFreeSpaceFileSystem> fileSystem = std::make_shared<FakeFreeSpaceFileSystem>();
    std::shared_ptr<CountingEvents> events = std::make_shared<CountingEvents>();
    std::shared_ptr<RecordingDialogs> dialogs = std::make_shared<RecordingDialogs>();
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    std::shared_ptr<FakeProgramInfo> program = std::make_shared<FakeProgramInfo>();
    Platform platform{clock, fileSystem, events, dialogs, launcher, program, Platform::real().sockets,
                      std::make_shared<Associations>()};
};
