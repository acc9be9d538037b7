#include "platform/net/Rfc2217Port.h"

#include <algorithm>

#include "platform/ReadDeadline.h"
#include "platform/SysError.h"
#include "platform/net/TlsConnection.h"

namespace pelvar {

using namespace telnet;

namespace {

// What the server sends between two reads is kept up to this much, the
// oldest bytes dropped first, as a serial driver's buffer overflows.
constexpr std::size_t kMaxBuffered = 64 * 1024;
constexpr std::size_t kReceiveChunk = 1024;

void AppendSettings(const LineSettings& s, std::vector<std::uint8_t>* out)
{
    const auto baud = static_cast<std::uint32_t>(s.baud);
    const std::uint8_t rate[4] = {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                                  static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
    TelnetSession::AppendComPort(SET_BAUDRATE, rate, 4, out);
    const std::uint8_t size = static_cast<std::uint8_t>(s.byteSize);
    TelnetSession::AppendComPort(SET_DATASIZE, &size, 1, out);
    // The classic codes count from 0, RFC 2217's from 1 (0 asks the server).
    const std::uint8_t parity = s.parity == 1 ? SETPARITY_ODD : s.parity == 2 ? SETPARITY_EVEN : SETPARITY_NONE;
    TelnetSession::AppendComPort(SET_PARITY, &parity, 1, out);
    const std::uint8_t stop = s.stopBits == 1 ? STOPSIZE_ONE_HALF : s.stopBits == 2 ? STOPSIZE_TWO : STOPSIZE_ONE;
    TelnetSession::AppendComPort(SET_STOPSIZE, &stop, 1, out);
}

bool SameSettings(const LineSettings& a, const LineSettings& b)
{
    return a.baud == b.baud && a.byteSize == b.byteSize && a.parity == b.parity && a.stopBits == b.stopBits;
}

} // namespace

Rfc2217Port::Rfc2217Port(IPlatform& clock, std::unique_ptr<INetConnection> connection)
    : m_clock(clock), m_connection(std::move(connection))
{}

Rfc2217Port::~Rfc2217Port() { Close(); }

bool Rfc2217Port::Fail(int err)
{
    m_error = err;
    return false;
}

bool Rfc2217Port::Dropped()
{
    m_gone = true;
    return Fail(NetErrorDropped());
}

bool Rfc2217Port::Open(const NetworkAddress& address, const LineSettings& settings)
{
    m_address = address;
    // The handshake is part of the connection, within the same limit.
    if (address.tls)
        m_connection = MakeTlsConnection(std::move(m_connection), m_clock, address);
    if (!m_connection->Connect(address.host, address.port, kNetConnectLimitMs))
        return Fail(m_connection->LastError());
    m_settings = settings;
    // A raw server sets its line itself: nothing to negotiate, nothing to wait for.
    if (address.raw)
        return true;
    std::vector<std::uint8_t> out;
    m_session.AppendOpeningRequests(&out);
    AppendSettings(settings, &out);
    if (!Flush(out, kNetControlSendMs))
        return false;

    // A server that serves another client closes the connection at once
    // (ser2net after a line of text); one that serves us confirms the bit
    // rate. Some never confirm anything: the wait is short and not needed.
    const std::uint32_t start = m_clock.TickCount();
    const auto refused = [this] { return m_session.LocalState(COM_PORT_OPTION) == OptionState::Inactive; };
    while (m_session.Answers(SET_BAUDRATE) == 0 && !refused()) {
        const std::uint32_t elapsed = m_clock.TickCount() - start;
        if (elapsed >= kNetOpenAnswerMs)
            break;
        if (!Pump(kNetOpenAnswerMs - elapsed)) {
            m_connection->Close();
            return Fail(NetErrorBusy());
        }
    }
    // A plain telnet server, or one that drives the line itself: the port
    // controls cannot be used, so the port is not opened as one.
    if (refused()) {
        m_connection->Close();
        return Fail(kErrorNotRfc2217);
    }
    // A greeting is no reply of the board.
    m_data.clear();
    m_head = 0;
    return true;
}

bool Rfc2217Port::ApplyLineSettings(const LineSettings& s)
{
    if (m_gone)
        return Fail(NetErrorDropped());
    if (m_address.raw || SameSettings(s, m_settings))
        return true;
    std::vector<std::uint8_t> out;
    AppendSettings(s, &out);
    m_settings = s;
    return Flush(out, kNetControlSendMs);
}

bool Rfc2217Port::Flush(std::vector<std::uint8_t>& bytes, std::uint32_t limitMs)
{
    if (bytes.empty())
        return true;
    const bool sent = m_connection->Send(bytes.data(), bytes.size(), limitMs);
    bytes.clear();
    if (sent)
        return true;
    // A send cut off may have left half a command in the stream: nothing
    // that follows could be trusted, so the port has gone either way.
    const int err = m_connection->LastError();
    m_gone = true;
    return Fail(err == NetErrorTimedOut() ? err : NetErrorDropped());
}

bool Rfc2217Port::Pump(std::uint32_t waitMs)
{
    std::uint8_t received[kReceiveChunk];
    std::size_t got = 0;
    if (!m_connection->Receive(received, sizeof received, waitMs, &got)) {
        Dropped();
        return false;
    }
    if (got == 0)
        return true;
    if (m_head > 0 && m_head == m_data.size()) {
        m_data.clear();
        m_head = 0;
    }
    if (m_address.raw)
        m_data.insert(m_data.end(), received, received + got);
    else
        m_session.Feed(received, got, &m_data, &m_answers);
    if (m_data.size() - m_head > kMaxBuffered) {
        m_data.erase(m_data.begin(), m_data.end() - static_cast<std::ptrdiff_t>(kMaxBuffered));
        m_head = 0;
    }
    // What the negotiation owes the server goes out at once; it is small.
    if (!m_answers.empty() && !Flush(m_answers, kNetControlSendMs))
        return !m_gone;
    return true;
}

std::uint32_t Rfc2217Port::Take(std::uint8_t* buf, std::uint32_t room)
{
    const auto k = static_cast<std::uint32_t>(std::min<std::size_t>(room, m_data.size() - m_head));
    std::copy_n(m_data.begin() + static_cast<std::ptrdiff_t>(m_head), k, buf);
    m_head += k;
    return k;
}

// The rule of a local port's read, measured on the socket.
bool Rfc2217Port::Read(std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    if (m_gone && m_head == m_data.size()) {
        // Callers retry a failed read at once; a millisecond apart, a dead
        // connection does not spin the processor.
        m_clock.Sleep(1);
        return Fail(NetErrorDropped());
    }
    const std::uint32_t start = m_clock.TickCount();
    ReadDeadline deadline(m_timeouts, len, start);
    std::uint32_t n = Take(buf, len);
    if (n > 0)
        deadline.Arrived(start);
    while (n < len) {
        const std::uint32_t wait = deadline.Remaining(m_clock.TickCount());
        if (wait == 0)
            break;
        if (m_gone || !Pump(wait)) {
            // The bytes already here are delivered; the next call fails.
            if (n > 0)
                break;
            return Fail(NetErrorDropped());
        }
        if (const std::uint32_t k = Take(buf + n, len - n); k > 0) {
            n += k;
            deadline.Arrived(m_clock.TickCount());
        }
    }
    *got = n;
    return true;
}

bool Rfc2217Port::Write(const std::uint8_t* buf, std::uint32_t len)
{
    if (m_gone)
        return Fail(NetErrorDropped());
    // The commands queued for this frame go out with it, in one segment.
    std::vector<std::uint8_t> out;
    out.swap(m_ahead);
    if (m_address.raw)
        out.insert(out.end(), buf, buf + len);
    else
        TelnetSession::AppendEscaped(buf, len, &out);
    std::uint64_t limit = static_cast<std::uint64_t>(m_timeouts.writeMultiplier) * len + m_timeouts.writeConstant;
    if (limit == 0)
        limit = kNetControlSendMs;
    return Flush(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, 0xFFFFFFFFu)));
}

// RTS travels in the data stream, so the server switches it in order with
// the frame's bytes: raised ahead of them, lowered after the hold time.
// The server's confirmation is never waited for (ser2net on a
// pseudo-terminal sends none).
bool Rfc2217Port::SetRts(bool raised)
{
    if (m_gone)
        return Fail(NetErrorDropped());
    // A raw server drives the line's direction itself.
    if (m_address.ignoreSetControl || m_address.raw)
        return true;
    const std::uint8_t value = raised ? CONTROL_RTS_ON : CONTROL_RTS_OFF;
    TelnetSession::AppendComPort(SET_CONTROL, &value, 1, &m_ahead);
    if (raised)
        return true;
    return Flush(m_ahead, kNetControlSendMs);
}

// Discards what has arrived here, and asks the server to discard what its
// serial port has received, ahead of the next frame.
bool Rfc2217Port::PurgeInput()
{
    if (m_gone)
        return Fail(NetErrorDropped());
    for (int i = 0; i < 64; ++i) {
        const std::size_t before = m_data.size() - m_head;
        if (!Pump(0))
            return false;
        if (m_data.size() - m_head == before)
            break;
    }
    m_data.clear();
    m_head = 0;
    if (!m_address.ignorePurge && !m_address.raw) {
        const std::uint8_t value = PURGE_RECEIVE;
        TelnetSession::AppendComPort(PURGE_DATA, &value, 1, &m_ahead);
    }
    return true;
}

bool Rfc2217Port::Gone()
{
    if (!m_gone)
        Pump(0);
    return m_gone;
}

void Rfc2217Port::Close()
{
    if (m_connection)
        m_connection->Close();
}

} // namespace pelvar
