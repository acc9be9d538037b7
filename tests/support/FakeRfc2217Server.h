// A scripted RFC 2217 server standing behind the network port's socket
// seam, on the simulated clock: its bytes reach the client at given virtual
// times, every wait of the client advances the clock exactly, and what the
// client sent is recorded with the time it went out.
#pragma once

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/SimPlatform.h"
#include "platform/net/NetConnection.h"
#include "tests/support/Frames.h"

namespace pelvar::test {

struct FakeServerState {
    explicit FakeServerState(SimPlatform& c) : clock(c) {}

    SimPlatform& clock;
    // Connect: refused with this code, or taking this long.
    int refuseWith = 0;
    std::uint32_t connectMs = 0;
    // Answers SET-BAUDRATE (IAC SB 44 1 ...) after this long; none: never.
    std::optional<std::uint32_t> confirmBaudAfterMs = 0;
    // The connection ends at this virtual time.
    std::optional<std::uint32_t> closeAt;
    // A send that cannot go out: the client's limit passes.
    bool sendStalls = false;
    // Called with each block the client sends; may schedule an answer.
    std::function<void(const Bytes&)> onClientBytes;

    struct Chunk {
        std::uint32_t at;
        Bytes bytes;
    };
    std::deque<Chunk> toClient;
    struct Sent {
        std::uint32_t at;
        Bytes bytes;
    };
    std::vector<Sent> fromClient;
    std::string connectedHost;
    std::uint16_t connectedPort = 0;
    int connects = 0;
    bool closedByClient = false;

    // Bytes that reach the client `delayMs` from now.
    void SendIn(std::uint32_t delayMs, const Bytes& bytes) { SendAt(clock.Now() + delayMs, bytes); }
    void SendAt(std::uint32_t at, const Bytes& bytes)
    {
        auto it = toClient.begin();
        while (it != toClient.end() && it->at <= at)
            ++it;
        toClient.insert(it, Chunk{at, bytes});
    }
    // Everything the client sent, in one string of bytes.
    Bytes AllFromClient() const
    {
        Bytes all;
        for (const Sent& s : fromClient)
            all.insert(all.end(), s.bytes.begin(), s.bytes.end());
        return all;
    }
};

class FakeRfc2217Connection : public INetConnection {
public:
    explicit FakeRfc2217Connection(FakeServerState& s) : m_s(s) {}

    bool Connect(const std::string& host, std::uint16_t port, std::uint32_t limitMs) override
    {
        ++m_s.connects;
        m_s.connectedHost = host;
        m_s.connectedPort = port;
        if (m_s.refuseWith != 0)
            return Fail(m_s.refuseWith);
        if (m_s.connectMs > limitMs) {
            m_s.clock.Advance(limitMs);
            return Fail(NetErrorTimedOut());
        }
        m_s.clock.Advance(m_s.connectMs);
        m_open = true;
        return true;
    }

    bool Send(const std::uint8_t* bytes, std::size_t n, std::uint32_t limitMs) override
    {
        if (!m_open || Closed(m_s.clock.Now()))
            return Fail(NetErrorDropped());
        if (m_s.sendStalls) {
            m_s.clock.Advance(limitMs);
            return Fail(NetErrorTimedOut());
        }
        Bytes block(bytes, bytes + n);
        m_s.fromClient.push_back({m_s.clock.Now(), block});
        if (m_s.confirmBaudAfterMs && Contains(block, {0xFF, 0xFA, 0x2C, 0x01}))
            m_s.SendIn(*m_s.confirmBaudAfterMs, {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0});
        if (m_s.onClientBytes)
            m_s.onClientBytes(block);
        return true;
    }

    bool Receive(std::uint8_t* bytes, std::size_t room, std::uint32_t waitMs, std::size_t* got) override
    {
        *got = 0;
        if (!m_open)
            return Fail(NetErrorDropped());
        const std::uint32_t now = m_s.clock.Now();
        const std::uint32_t until = now + waitMs;
        if (!m_s.toClient.empty() && m_s.toClient.front().at <= until && !Closed(m_s.toClient.front().at)) {
            auto& chunk = m_s.toClient.front();
            if (chunk.at > now)
                m_s.clock.SetNow(chunk.at);
            const std::size_t k = std::min(room, chunk.bytes.size());
            std::copy_n(chunk.bytes.begin(), k, bytes);
            chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + static_cast<std::ptrdiff_t>(k));
            if (chunk.bytes.empty())
                m_s.toClient.pop_front();
            *got = k;
            return true;
        }
        if (m_s.closeAt && *m_s.closeAt <= until) {
            if (*m_s.closeAt > now)
                m_s.clock.SetNow(*m_s.closeAt);
            return Fail(NetErrorDropped());
        }
        m_s.clock.SetNow(until);
        return true;
    }

    void Close() override
    {
        if (m_open)
            m_s.closedByClient = true;
        m_open = false;
    }
    int LastError() const override { return m_error; }

private:
    static bool Contains(const Bytes& hay, const Bytes& needle)
    {
        return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
    }
    bool Closed(std::uint32_t at) const { return m_s.closeAt && *m_s.closeAt <= at; }
    bool Fail(int err)
    {
        m_error = err;
        return false;
    }

    FakeServerState& m_s;
    bool m_open = false;
    int m_error = 0;
};

} // namespace pelvar::test
