// A far end that answers each frame the host writes with the next scripted
// reply (or nothing), and records what it got.
#pragma once

#include <deque>
#include <vector>

#include "platform/SimPlatform.h"
#include "tests/support/Frames.h"

namespace pelvar::test {

struct ScriptedReply {
    std::uint32_t delayMs;
    std::vector<std::uint8_t> bytes;
};

class ScriptedDevice : public ISimDevice {
public:
    // Replies in order; once used up, `always` (if set) answers every frame.
    std::deque<ScriptedReply> replies;
    std::vector<std::uint8_t> always;
    std::uint32_t alwaysDelayMs = 0;
    int frames = 0;

    void OnHostBytes(SimLine& line, const std::uint8_t*, std::size_t) override
    {
        ++frames;
        if (!replies.empty()) {
            ScriptedReply r = replies.front();
            replies.pop_front();
            if (!r.bytes.empty())
                line.Send(r.delayMs, r.bytes);
            return;
        }
        if (!always.empty())
            line.Send(alwaysDelayMs, always);
    }
};

} // namespace pelvar::test
