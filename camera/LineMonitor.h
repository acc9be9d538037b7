// A half-duplex line heard from the side (a receive-only adapter hears both
// directions): bytes with their arrival times go in; frames cut out by the
// frame rules, garbage, frames cut short by a pause, and exchanges (a
// request paired with its reply, decoded as the traffic pane decodes them)
// come out. pelvarctl monitor, its tests and anything else that listens
// share this one splitter.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/ExchangeLog.h"

namespace pelvar {

// A frame whose bytes pause longer than this is cut: its sender stopped.
// Every listener (this monitor, the sigrok decoder) cuts at this one pause.
// 250 ms, not the host's 100 ms collecting limit: one poll's platform read
// waits up to 50 ms per missing byte plus 50 ms, so the host still takes a
// reply paused well past 100 ms whole, and a listener's adapter under load
// delivers a frame's bytes late; it stays below the 500 ms receive window.
constexpr std::uint32_t kFrameGapMs = 250;
// A frame this long after a request starts a new exchange instead of
// answering it (the host has long given up and sent again); a failed
// transaction's repeat comes within it.
constexpr std::uint32_t kPairingMs = 1000;

struct LineEvent {
    enum class Kind {
        Exchange, // a request and its reply, or a request without one
        Garbage,  // bytes that are no frame
        Partial,  // a frame's beginning, then the line went quiet
    };
    Kind kind = Kind::Exchange;
    // Exchange: durationMs is the last attempt's response time, and the
    // flags below are the last attempt's.
    ExchangeRecord record;
    bool replied = false;            // a reply was heard
    bool requestChecksumOk = true;   // false: a request the board drops
    bool outsideWindow = false;      // the reply came after the receive window
    std::vector<std::uint8_t> bytes; // Garbage, Partial
    std::uint32_t atMs = 0;          // when its first byte was heard
};

// "    512 ms  brightness    brightness 200 ...": the traffic pane's line for
// an exchange, with what stood out after it; "garbage" and "partial frame"
// lines for the rest.
std::string LineEventText(const LineEvent& event);

class LineMonitor {
public:
    using Sink = std::function<void(const LineEvent&)>;

    explicit LineMonitor(Sink sink) : m_sink(std::move(sink)) {}

    // Bytes as one read delivered them, at `atMs` (any origin; times in the
    // events are relative to the first call).
    void Feed(const std::uint8_t* bytes, std::uint32_t n, std::uint32_t atMs);
    // Nothing arrived up to `nowMs`: ends a frame cut short and a request
    // whose reply will not come.
    void Idle(std::uint32_t nowMs);
    // The end of listening: everything still held comes out.
    void Finish();

private:
    struct HeardFrame {
        std::vector<std::uint8_t> bytes;
        std::uint32_t atMs = 0;  // first byte
        std::uint32_t endMs = 0; // last byte
    };

    std::uint32_t Since(std::uint32_t atMs);
    void Split(bool quiet);
    void TakeFrame(std::size_t length);
    void DropFirstAsGarbage();
    void FlushGarbage();
    std::size_t WholeFrameAt(std::size_t start) const;
    void EmitBytes(LineEvent::Kind kind, std::vector<std::uint8_t> bytes, std::uint32_t atMs);
    void Pair(HeardFrame frame);
    void EmitExchange(const HeardFrame* reply);
    void Deliver(LineEvent event);
    void FlushFailed();

    Sink m_sink;
    bool m_started = false;
    std::uint32_t m_origin = 0;
    std::uint32_t m_lastByteMs = 0;
    std::vector<std::uint8_t> m_held; // bytes not yet a frame
    std::vector<std::uint32_t> m_heldMs;
    std::vector<std::uint8_t> m_garbage;
    std::uint32_t m_garbageAtMs = 0;
    bool m_pending = false; // a request waits for its reply
    HeardFrame m_request;
    RegisterLatch m_latch;
    bool m_failing = false; // a failed transaction that its repeat may join
    LineEvent m_failed;
    std::uint32_t m_failedEndMs = 0;
};

} // namespace pelvar
