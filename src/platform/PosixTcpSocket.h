#pragma once

#include "platform/TcpSocket.h"

#include <memory>

// Real TCP client sockets: non-blocking POSIX sockets driven by QSocketNotifier.
std::shared_ptr<SocketFactory> makePosixSocketFactory();
