#include "platform/Platform.h"

#include "platform/GioAssociations.h"
#include "platform/PosixTcpSocket.h"
#include "platform/QtFileSystem.h"
#include "platform/QtServices.h"

Platform Platform::real()
{
    Platform platform;
    platform.clock = std::make_shared<QtClock>();
    platform.fileSystem = std::make_shared<QtFileSystem>();
    platform.events = std::make_shared<QtEvents>();
    platform.dialogs = std::make_shared<SilentDialogs>();
    platform.launcher = std::make_shared<QtLauncher>();
    platform.program = std::make_shared<QtProgramInfo>();
    platform.sockets = makePosixSocketFactory();
    platform.associations = std::make_shared<GioAssociations>();
    return platform;
}
