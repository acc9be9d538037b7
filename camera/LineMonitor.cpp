#include "camera/LineMonitor.h"

#include <cstdio>

#include "camera/Commands.h"
#include "link/ResultCodes.h"
#include "platform/HexBytes.h"

namespace pelvar {

namespace {

// A whole frame (STX ... ETX, LEN + 3 bytes) has its checksum before ETX.
bool ChecksumOk(const std::vector<std::uint8_t>& frame)
{
    std::uint8_t sum = 0;
    return frame.size() >= 3 && XorChecksum(frame.data(), static_cast<std::uint32_t>(frame.size() - 2), &sum) == LINK_OK
           && sum == frame[frame.size() - 2];
}

// What the host would have made room for: a longer reply never completes.
std::uint32_t ReplyRoom(std::uint8_t cmd, bool query)
{
    if (!query)
        return kTransactRoom;
    return cmd == CMD_STATUS ? kStatusRoom : kRegReadRoom;
}

} // namespace

std::string LineEventText(const LineEvent& e)
{
    char head[48];
    switch (e.kind) {
    case LineEvent::Kind::Garbage:
        std::snprintf(head, sizeof head, "%7u ms  garbage        ", e.atMs);
        return head + HexBytes(e.bytes);
    case LineEvent::Kind::Partial:
        std::snprintf(head, sizeof head, "%7u ms  partial frame  ", e.atMs);
        return head + HexBytes(e.bytes);
    case LineEvent::Kind::Exchange: break;
    }
    std::string text = ExchangeLine(e.record);
    if (!e.requestChecksumOk)
        text += "  (request checksum wrong)";
    if (e.outsideWindow)
        text += "  (reply after the receive window)";
    return text;
}

std::uint32_t LineMonitor::Since(std::uint32_t atMs)
{
    if (!m_started) {
        m_started = true;
        m_origin = atMs;
    }
    return atMs - m_origin;
}

void LineMonitor::Feed(const std::uint8_t* bytes, std::uint32_t n, std::uint32_t atMs)
{
    if (n == 0)
        return;
    const std::uint32_t t = Since(atMs);
    Idle(atMs);
    for (std::uint32_t i = 0; i < n; ++i) {
        m_held.push_back(bytes[i]);
        m_heldMs.push_back(t);
    }
    m_lastByteMs = t;
    Split(false);
}

void LineMonitor::Idle(std::uint32_t nowMs)
{
    const std::uint32_t t = Since(nowMs);
    if (!m_held.empty() && t - m_lastByteMs > kFrameGapMs)
        Split(true);
    else if (!m_garbage.empty() && t - m_lastByteMs > kFrameGapMs)
        FlushGarbage();
    if (m_pending && t - m_request.endMs > kPairingMs)
        EmitExchange(nullptr);
    if (m_failing && t - m_failedEndMs > kPairingMs)
        FlushFailed();
}

void LineMonitor::Finish()
{
    Split(true);
    if (m_pending)
        EmitExchange(nullptr);
    FlushFailed();
}

// The length of the whole frame that starts at `start`, or 0.
std::size_t LineMonitor::WholeFrameAt(std::size_t start) const
{
    const std::size_t avail = m_held.size() - start;
    if (m_held[start] != STX || avail < 3)
        return 0;
    const std::size_t length = m_held[start + 1] + 3u;
    return avail >= length && m_held[start + length - 1] == ETX ? length : 0;
}

void LineMonitor::Split(bool quiet)
{
    while (!m_held.empty()) {
        if (m_held[0] != STX) {
            DropFirstAsGarbage();
            continue;
        }
        const std::size_t length = m_held.size() >= 2 ? m_held[1] + 3u : 3u;
        if (m_held.size() >= length) {
            // No escaping on this line: only the end byte tells a frame
            // from an STX that happened to be in the noise.
            if (WholeFrameAt(0))
                TakeFrame(length);
            else
                DropFirstAsGarbage();
            continue;
        }
        if (!quiet)
            return;
        // The line went quiet inside a frame. A whole frame further on means
        // this STX began nothing (its LEN swallowed the frame); else the
        // rest is a frame cut short.
        std::size_t next = 1;
        while (next < m_held.size() && !WholeFrameAt(next))
            ++next;
        FlushGarbage();
        EmitBytes(LineEvent::Kind::Partial, {m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(next)},
                  m_heldMs[0]);
        m_held.erase(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(next));
        m_heldMs.erase(m_heldMs.begin(), m_heldMs.begin() + static_cast<std::ptrdiff_t>(next));
    }
    if (quiet)
        FlushGarbage();
}

void LineMonitor::DropFirstAsGarbage()
{
    if (m_garbage.empty())
        m_garbageAtMs = m_heldMs[0];
    m_garbage.push_back(m_held[0]);
    m_held.erase(m_held.begin());
    m_heldMs.erase(m_heldMs.begin());
}

void LineMonitor::FlushGarbage()
{
    if (m_garbage.empty())
        return;
    std::vector<std::uint8_t> bytes;
    bytes.swap(m_garbage);
    EmitBytes(LineEvent::Kind::Garbage, std::move(bytes), m_garbageAtMs);
}

void LineMonitor::EmitBytes(LineEvent::Kind kind, std::vector<std::uint8_t> bytes, std::uint32_t atMs)
{
    // In the order heard: a failed transaction waiting for its repeat comes first.
    FlushFailed();
    LineEvent e;
    e.kind = kind;
    e.bytes = std::move(bytes);
    e.atMs = atMs;
    if (m_sink)
        m_sink(e);
}

void LineMonitor::TakeFrame(std::size_t length)
{
    FlushGarbage();
    const auto end = static_cast<std::ptrdiff_t>(length);
    HeardFrame frame{{m_held.begin(), m_held.begin() + end}, m_heldMs[0], m_heldMs[length - 1]};
    m_held.erase(m_held.begin(), m_held.begin() + end);
    m_heldMs.erase(m_heldMs.begin(), m_heldMs.begin() + end);
    Pair(std::move(frame));
}

void LineMonitor::Pair(HeardFrame frame)
{
    if (m_pending) {
        const std::uint32_t response = frame.atMs - m_request.endMs;
        // The host sends a failed command again once its window has closed;
        // the same bytes then are that repeat, not an echo.
        const bool repeat = frame.bytes == m_request.bytes && response > kReceiveWindowMs;
        if (response <= kPairingMs && !repeat) {
            EmitExchange(&frame);
            return;
        }
        EmitExchange(nullptr);
    }
    m_request = std::move(frame);
    m_pending = true;
}

void LineMonitor::EmitExchange(const HeardFrame* reply)
{
    m_pending = false;
    LineEvent e;
    e.kind = LineEvent::Kind::Exchange;
    e.atMs = m_request.atMs;
    ExchangeRecord& r = e.record;
    const std::vector<std::uint8_t>& req = m_request.bytes;
    r.atMs = m_request.atMs;
    r.cmd = req.size() > 3 ? req[2] : 0;
    if (req.size() > 5)
        r.payload.assign(req.begin() + 3, req.end() - 2);
    const CommandInfo* info = FindCommand(r.cmd);
    r.query = info && info->exchange == Exchange::Query;
    e.requestChecksumOk = ChecksumOk(req);
    m_latch.Fill(&r);
    r.frames.push_back({true, req, m_request.atMs});
    r.result = LINK_ERR_NO_REPLY;
    if (reply) {
        const std::vector<std::uint8_t>& rep = reply->bytes;
        e.replied = true;
        r.frames.push_back({false, rep, reply->atMs});
        r.durationMs = reply->atMs - m_request.endMs;
        e.outsideWindow = r.durationMs > kReceiveWindowMs;
        // The verdict the host's receive comes to, had the reply come in its window.
        if (e.outsideWindow) {
            r.result = LINK_ERR_NO_REPLY;
        } else {
            r.result = JudgeReply(rep.data(), static_cast<std::uint32_t>(rep.size()), ReplyRoom(r.cmd, r.query),
                                  r.query ? ReplyKind::Data : ReplyKind::Acknowledge);
        }
        if (r.result == LINK_OK && r.query) {
            const std::uint32_t payloadLength = rep[1] - 2u;
            for (std::uint32_t i = 0; i < payloadLength; ++i)
                r.value |= static_cast<std::uint32_t>(rep[3 + i]) << (8 * i);
        }
    }
    m_latch.Learn(r);
    Deliver(std::move(e));
}

// The host repeats a failed transaction, the same frame, up to six attempts
// in all; as in the traffic pane, the attempts make one exchange. A failed
// one is held until its repeat or the end of the pairing time shows whether
// more attempts follow.
void LineMonitor::Deliver(LineEvent e)
{
    ExchangeRecord& r = e.record;
    if (m_failing) {
        const ExchangeRecord& before = m_failed.record;
        const bool repeat = !r.query && r.frames.front().bytes == before.frames.front().bytes
                            && r.atMs - m_failedEndMs <= kPairingMs && before.attempts < kTransactAttempts;
        if (repeat) {
            r.attempts = before.attempts + 1;
            r.frames.insert(r.frames.begin(), before.frames.begin(), before.frames.end());
            r.atMs = before.atMs;
            e.atMs = m_failed.atMs;
            m_failing = false;
        } else {
            FlushFailed();
        }
    }
    if (!r.query && r.result != LINK_OK && r.attempts < kTransactAttempts) {
        m_failed = std::move(e);
        m_failedEndMs = m_failed.record.frames.back().atMs;
        m_failing = true;
        return;
    }
    if (m_sink)
        m_sink(e);
}

void LineMonitor::FlushFailed()
{
    if (!m_failing)
        return;
    m_failing = false;
    if (m_sink)
        m_sink(m_failed);
}

} // namespace pelvar
