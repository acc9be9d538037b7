// A serial port on another machine, reached by RFC 2217 (Telnet Com Port
// Control) over one TCP connection, or by a raw one (socket://) whose bytes
// are the line's: the operations of the platform seam for one open port. The clock is the platform's, so that every time-out
// here runs on the simulated clock in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Platform.h"
#include "platform/PortName.h"
#include "platform/net/NetConnection.h"
#include "platform/net/TelnetSession.h"

namespace pelvar {

// A few seconds for the connection; the open then waits this long at most
// for the server to confirm the line settings (a busy server closes within
// it), and goes on without the confirmation.
constexpr std::uint32_t kNetConnectLimitMs = 3000;
constexpr std::uint32_t kNetOpenAnswerMs = 300;
// Sends made outside the write time-outs (negotiation, SET-CONTROL).
constexpr std::uint32_t kNetControlSendMs = 1000;

class Rfc2217Port {
public:
    Rfc2217Port(IPlatform& clock, std::unique_ptr<INetConnection> connection);
    ~Rfc2217Port();

    // Connects, negotiates and asks for `settings`. False with Error().
    bool Open(const NetworkAddress& address, const LineSettings& settings);
    bool ApplyLineSettings(const LineSettings& s);
    void SetTimeouts(const Timeouts& t) { m_timeouts = t; }
    bool Read(std::uint8_t* buf, std::uint32_t len, std::uint32_t* got);
    bool Write(const std::uint8_t* buf, std::uint32_t len);
    bool SetRts(bool raised);
    bool PurgeInput();
    bool Gone();
    void Close();

    int Error() const { return m_error; }
    const TelnetSession& Session() const { return m_session; }

private:
    bool Fail(int err);
    bool Dropped();
    bool Flush(std::vector<std::uint8_t>& bytes, std::uint32_t limitMs);
    // One receive of at most `waitMs`; false when the connection ended.
    bool Pump(std::uint32_t waitMs);
    std::uint32_t Take(std::uint8_t* buf, std::uint32_t room);

    IPlatform& m_clock;
    std::unique_ptr<INetConnection> m_connection;
    NetworkAddress m_address;
    TelnetSession m_session;
    Timeouts m_timeouts{};
    LineSettings m_settings{};
    // Data received and not yet read, from m_head on.
    std::vector<std::uint8_t> m_data;
    std::size_t m_head = 0;
    // Commands that go out ahead of the next frame's bytes, in one segment.
    std::vector<std::uint8_t> m_ahead;
    std::vector<std::uint8_t> m_answers;
    bool m_gone = false;
    int m_error = 0;
};

} // namespace pelvar
