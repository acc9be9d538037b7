// Winsock headers and the type of a socket.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

namespace pelvar {
using SocketId = SOCKET;
constexpr SocketId kNoSocket = INVALID_SOCKET;
} // namespace pelvar
