#include "support/TestPlatform.h"

TestPlatform::TestPlatform()
    : clock(std::make_shared<FakeClock>())
    , fileSystem(std::make_shared<FakeFreeSpaceFileSystem>())
    , events(std::make_shared<CountingEvents>())
    , dialogs(std::make_shared<RecordingDialogs>())
    , launcher(std::make_shared<RecordingLauncher>())
    , program(std::make_shared<FakeProgramInfo>())
{
    program->folder = programDir.path();
    platform = Platform::real();
    platform.clock = clock;
    platform.fileSystem = fileSystem;
    platform.events = events;
    platform.dialogs = dialogs;
    platform.launcher = launcher;
    platform.program = program;
}
