// BSD socket headers and the type of a socket.
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace pelvar {
using SocketId = int;
constexpr SocketId kNoSocket = -1;
} // namespace pelvar
