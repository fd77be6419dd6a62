#include "platform/PosixTcpSocket.h"

// Placeholder until the socket lands.
std::shared_ptr<SocketFactory> makePosixSocketFactory()
{
    return nullptr;
}
