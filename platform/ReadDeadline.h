// When a timed read of the platform seam ends, by the rule of Timeouts: all
// bytes in, or more than the interval limit between two bytes once one has
// come, or the total limit since the read began. The limits mean what the
// Windows driver makes of them, so every platform reads alike: a zero
// interval sets no interval limit, a zero total (multiplier and constant
// both 0) no total limit, and the largest interval with no total limit
// returns at once with what has come.
//
// Times are the platform's tick counts in milliseconds. Only differences of
// two readings are used, so the counter may wrap across 0xFFFFFFFF.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/Platform.h"

namespace pelvar {

// What is left of a limit once `spent` of it has gone: 0 when it is used up.
inline std::uint32_t MsLeft(std::uint32_t spent, std::uint32_t limit) { return spent >= limit ? 0 : limit - spent; }

class ReadDeadline {
public:
    // What Remaining() says when no limit applies: wait for bytes.
    static constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;

    ReadDeadline(const Timeouts& t, std::uint32_t len, std::uint32_t startTick)
        : m_start(startTick), m_interval(t.readInterval)
    {
        // 64 bits: the multiplier times a long read does not fit in 32.
        const std::uint64_t total = std::uint64_t{t.readMultiplier} * len + t.readConstant;
        m_total = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, kNoLimit - 1));
        m_atOnce = total == 0 && t.readInterval == kNoLimit;
    }

    // Bytes came at `tick`: the interval limit counts from here.
    void Arrived(std::uint32_t tick)
    {
        m_lastByte = tick;
        m_anyByte = true;
    }

    // How long the next wait from `tick` may last, in milliseconds: 0 once
    // the read is over, kNoLimit when nothing limits it.
    std::uint32_t Remaining(std::uint32_t tick) const
    {
        if (m_atOnce)
            return 0;
        std::uint32_t left = kNoLimit;
        if (m_total != 0)
            left = MsLeft(tick - m_start, m_total);
        if (m_anyByte && m_interval != 0)
            left = std::min(left, MsLeft(tick - m_lastByte, m_interval));
        return left;
    }

    bool Expired(std::uint32_t tick) const { return Remaining(tick) == 0; }

private:
    std::uint32_t m_start;
    std::uint32_t m_interval;
    std::uint32_t m_total = 0;
    std::uint32_t m_lastByte = 0;
    bool m_anyByte = false;
    bool m_atOnce = false;
};

} // namespace pelvar
