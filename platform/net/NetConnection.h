// The seam under a network port: one TCP connection. The real one waits on
// the system's sockets; a test's fake server stands in its place and spends
// the waits on the simulated clock. Every wait is bounded by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pelvar {

class INetConnection {
public:
    virtual ~INetConnection() = default;
    // Connects within `limitMs`. False with LastError() on failure.
    virtual bool Connect(const std::string& host, std::uint16_t port, std::uint32_t limitMs) = 0;
    // Sends all `n` bytes within `limitMs`, or fails.
    virtual bool Send(const std::uint8_t* bytes, std::size_t n, std::uint32_t limitMs) = 0;
    // Waits at most `waitMs` for bytes and takes up to `room` of them;
    // *got is 0 when none came. False when the connection has ended.
    virtual bool Receive(std::uint8_t* bytes, std::size_t room, std::uint32_t waitMs, std::size_t* got) = 0;
    virtual void Close() = 0;
    // The system's code of the last failure (errno, or the Winsock code).
    virtual int LastError() const = 0;
};

// A TCP connection through the system's sockets (BSD sockets or Winsock).
std::unique_ptr<INetConnection> MakeTcpConnection();

// The codes a network port reports, in the system's terms.
int NetErrorDropped();     // the connection ended: the device has gone
int NetErrorBusy();        // the server serves another client
int NetErrorTimedOut();    // connect or send did not finish in time
int NetErrorUnknownHost(); // the name does not resolve
int NetErrorBadAddress();  // the port's entry holds no usable URL

} // namespace pelvar
