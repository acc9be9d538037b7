// The few calls in which BSD sockets and Winsock differ; each system has
// its own file. Everything else of the TCP connection is one source.
#pragma once

#include <cstddef>
#include <cstdint>

// Found in the directory of this system (posix/ or win/).
#include "SocketHeaders.h"

namespace pelvar {

// Once per process: WSAStartup on Windows, SIGPIPE kept away on POSIX.
bool StartSockets();
int LastSocketError();
bool SetSocketNonBlocking(SocketId s);
void CloseSocket(SocketId s);
// A non-blocking connect that goes on in the background.
bool ConnectInProgress(int err);
bool SocketWouldBlock(int err);
// send() without raising a signal when the peer has gone.
long SendOnSocket(SocketId s, const std::uint8_t* bytes, std::size_t n);
long ReceiveOnSocket(SocketId s, std::uint8_t* bytes, std::size_t room);
// Waits until `s` can be read (or written) or `ms` milliseconds have passed:
// 1 ready (a failure counts: the next call on the socket names it), 0 not
// yet, -1 the wait itself failed.
int WaitOnSocket(SocketId s, bool write, std::uint32_t ms);

} // namespace pelvar
