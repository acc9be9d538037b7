// BSD sockets: errno, fcntl, close, MSG_NOSIGNAL, poll.
#include "platform/net/NetConnection.h"
#include "platform/net/SocketCalls.h"
#include "platform/SysError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace pelvar {

bool StartSockets() { return true; }
int LastSocketError() { return errno; }

bool SetSocketNonBlocking(SocketId s)
{
    const int flags = fcntl(s, F_GETFL);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

void CloseSocket(SocketId s) { close(s); }
bool ConnectInProgress(int err) { return err == EINPROGRESS; }
bool SocketWouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

long SendOnSocket(SocketId s, const std::uint8_t* bytes, std::size_t n)
{
    // A peer that has gone must fail the send, not end the process.
    return static_cast<long>(send(s, bytes, n, MSG_NOSIGNAL));
}

long ReceiveOnSocket(SocketId s, std::uint8_t* bytes, std::size_t room)
{
    return static_cast<long>(recv(s, bytes, room, 0));
}

int WaitOnSocket(SocketId s, bool write, std::uint32_t ms)
{
    // poll, not select: a process may hold more descriptors than an fd_set.
    pollfd p{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int r = poll(&p, 1, static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX)));
    if (r < 0)
        return SocketWouldBlock(errno) ? 0 : -1;
    if (r > 0 && (p.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return r > 0 ? 1 : 0;
}

// A lost connection is a device that has gone, as an unplugged adapter.
int NetErrorDropped() { return ECONNRESET; }
int NetErrorBusy() { return EBUSY; }
int NetErrorTimedOut() { return ETIMEDOUT; }
int NetErrorUnknownHost() { return kErrorUnknownHost; }
int NetErrorBadAddress() { return EINVAL; }

} // namespace pelvar
