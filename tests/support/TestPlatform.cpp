#include "support/TestPlatform.h"

TestPlatform::TestPlatform()
{
    program->folder = programDir.path();
    platform = Platform::real();
    platform.clock = clock;
    platform.fileSystem = fileSystem;
    platform.events = events;
    platform.dialogs = dialogs;
    platform.launcher = launcher;
    platform.program = program;
    platform.associations = std::make_shared<Associations>();   // not the desktop's real ones
}
