// One TCP connection through the system's sockets: the same code for BSD
// sockets and Winsock, the calls in which they differ in SocketCalls.
#include "platform/net/NetConnection.h"
#include "platform/net/SocketCalls.h"

#include <chrono>
#include <string>

namespace pelvar {

namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

class TcpConnection : public INetConnection {
public:
    ~TcpConnection() override { Close(); }

    bool Connect(const std::string& host, std::uint16_t port, std::uint32_t limitMs) override
    {
        Close();
        if (!StartSockets())
            return Fail(LastSocketError());
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
            return Fail(NetErrorUnknownHost());
        int err = NetErrorTimedOut();
        for (addrinfo* a = found; a && m_socket == kNoSocket; a = a->ai_next) {
            err = TryAddress(*a, deadline);
            if (MsLeft(deadline) == 0)
                break;
        }
        freeaddrinfo(found);
        if (m_socket == kNoSocket)
            return Fail(err);
        // Frames are small and each one is waited for: no Nagle delay.
        int on = 1;
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        return true;
    }

    bool Send(const std::uint8_t* bytes, std::size_t n, std::uint32_t limitMs) override
    {
        if (m_socket == kNoSocket)
            return Fail(NetErrorDropped());
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        std::size_t done = 0;
        while (done < n) {
            const long k = SendOnSocket(m_socket, bytes + done, n - done);
            if (k > 0) {
                done += static_cast<std::size_t>(k);
                continue;
            }
            const int err = LastSocketError();
            if (!SocketWouldBlock(err))
                return Fail(err);
            const std::uint32_t left = MsLeft(deadline);
            if (left == 0)
                return Fail(NetErrorTimedOut());
            if (WaitOnSocket(m_socket, true, left) < 0)
                return Fail(LastSocketError());
        }
        return true;
    }

    bool Receive(std::uint8_t* bytes, std::size_t room, std::uint32_t waitMs, std::size_t* got) override
    {
        *got = 0;
        if (m_socket == kNoSocket)
            return Fail(NetErrorDropped());
        const int ready = WaitOnSocket(m_socket, false, waitMs);
        if (ready < 0)
            return Fail(LastSocketError());
        if (ready == 0)
            return true;
        const long k = ReceiveOnSocket(m_socket, bytes, room);
        if (k > 0) {
            *got = static_cast<std::size_t>(k);
            return true;
        }
        if (k < 0 && SocketWouldBlock(LastSocketError()))
            return true;
        // End of stream or a reset: the server, or the way to it, has gone.
        return Fail(k == 0 ? NetErrorDropped() : LastSocketError());
    }

    void Close() override
    {
        if (m_socket != kNoSocket)
            CloseSocket(m_socket);
        m_socket = kNoSocket;
    }

    int LastError() const override { return m_error; }

private:
    bool Fail(int err)
    {
        m_error = err;
        return false;
    }

    // 0 when connected (m_socket set), else the code of the failure.
    int TryAddress(const addrinfo& a, Clock::time_point deadline)
    {
        SocketId s = socket(a.ai_family, a.ai_socktype, a.ai_protocol);
        if (s == kNoSocket)
            return LastSocketError();
        if (!SetSocketNonBlocking(s)) {
            const int err = LastSocketError();
            CloseSocket(s);
            return err;
        }
        int err = 0;
        if (connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
            err = LastSocketError();
            if (ConnectInProgress(err)) {
                const int ready = WaitOnSocket(s, true, MsLeft(deadline));
                err = ready > 0 ? PendingError(s) : ready == 0 ? NetErrorTimedOut() : LastSocketError();
            }
        }
        if (err != 0) {
            CloseSocket(s);
            return err;
        }
        m_socket = s;
        return 0;
    }

    static int PendingError(SocketId s)
    {
        int err = 0;
        socklen_t size = sizeof err;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &size) != 0)
            return LastSocketError();
        return err;
    }

    SocketId m_socket = kNoSocket;
    int m_error = 0;
};

} // namespace

std::unique_ptr<INetConnection> MakeTcpConnection() { return std::make_unique<TcpConnection>(); }

} // namespace pelvar
