// Winsock: WSAStartup, WSAGetLastError, ioctlsocket, closesocket.
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

// A lost connection is a device that has gone, as an unplugged adapter.
int NetErrorDropped() { return WSAECONNRESET; }
int NetErrorBusy() { return ERROR_BUSY; }
int NetErrorTimedOut() { return WSAETIMEDOUT; }
int NetErrorUnknownHost() { return WSAHOST_NOT_FOUND; }
int NetErrorBadAddress() { return ERROR_INVALID_PARAMETER; }

} // namespace pelvar
