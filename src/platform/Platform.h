#pragma once

#include "platform/Associations.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Events.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/ProgramInfo.h"
#include "platform/TcpSocket.h"

#include <memory>

// The services the program takes from its surroundings. A test replaces any of them.
struct Platform
{
    std::shared_ptr<Clock> clock;
    std::shared_ptr<FileSystem> fileSystem;
    std::shared_ptr<Events> events;
    std::shared_ptr<Dialogs> dialogs;
    std::shared_ptr<Launcher> launcher;
    std::shared_ptr<ProgramInfo> program;
    std::shared_ptr<SocketFactory> sockets;
    std::shared_ptr<Associations> associations;

    // Real services; the message boxes stay silent until the GUI puts its own in place.
    static Platform real();
};
