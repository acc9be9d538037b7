// Winsock: WSAStartup, WSAGetLastError, ioctlsocket, closesocket, select.
#include "platform/net/NetConnection.h"
#include "platform/net/SocketCalls.h"

namespace pelvar {

bool StartSockets()
{
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

int LastSocketError() { return WSAGetLastError(); }

bool SetSocketNonBlocking(SocketId s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

void CloseSocket(SocketId s) { closesocket(s); }
bool ConnectInProgress(int err) { return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS; }
bool SocketWouldBlock(int err) { return err == WSAEWOULDBLOCK || err == WSAEINTR; }

long SendOnSocket(SocketId s, const std::uint8_t* bytes, std::size_t n)
{
    return send(s, reinterpret_cast<const char*>(bytes), static_cast<int>(n), 0);
}

long ReceiveOnSocket(SocketId s, std::uint8_t* bytes, std::size_t room)
{
    return recv(s, reinterpret_cast<char*>(bytes), static_cast<int>(room), 0);
}

int WaitOnSocket(SocketId s, bool write, std::uint32_t ms)
{
    // select, not WSAPoll: WSAPoll does not report a failed connect before
    // Windows 10 2004. Winsock's fd_set is a list of sockets, not a bitmap
    // indexed by number, so any socket fits.
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval tv{};
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>(ms % 1000) * 1000;
    // A failed connect shows in the exception set, not the write set.
    const int r = select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &failed : nullptr, &tv);
    if (r == SOCKET_ERROR)
        return SocketWouldBlock(WSAGetLastError()) ? 0 : -1;
    return r > 0 ? 1 : 0;
}

// A lost connection is a device that has gone, as an unplugged adapter.
int NetErrorDropped() { return WSAECONNRESET; }
int NetErrorBusy() { return ERROR_BUSY; }
int NetErrorTimedOut() { return WSAETIMEDOUT; }
int NetErrorUnknownHost() { return WSAHOST_NOT_FOUND; }
int NetErrorBadAddress() { return ERROR_INVALID_PARAMETER; }

} // namespace pelvar
