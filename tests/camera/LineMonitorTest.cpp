// The passive splitter: byte streams heard on a line, with their arrival
// times, in; garbage, cut frames and request/reply exchanges out, decoded
// as the traffic pane decodes them.
#include <gtest/gtest.h>

#include "camera/LineMonitor.h"
#include "link/ResultCodes.h"

namespace pelvar {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Chunk {
    std::uint32_t atMs;
    Bytes bytes; // empty: the line is quiet up to atMs
};

struct Case {
    const char* name;
    std::vector<Chunk> chunks;
    std::vector<std::string> events; // "garbage 00 FF", "partial 02 06", "MEANING|RESULT|RESPONSE"
};

std::string Describe(const LineEvent& e)
{
    switch (e.kind) {
    case LineEvent::Kind::Garbage: return "garbage " + LineEventText(e).substr(27);
    case LineEvent::Kind::Partial: return "partial " + LineEventText(e).substr(27);
    case LineEvent::Kind::Exchange: break;
    }
    std::string text = ExchangeMeaning(e.record) + "|" + ResultName(e.record.result);
    if (e.replied)
        text += "|" + std::to_string(e.record.durationMs) + " ms";
    if (e.outsideWindow)
        text += "|late";
    if (e.record.attempts > 1)
        text += "|" + AttemptsText(e.record.attempts);
    return text;
}

std::vector<std::string> Listen(const std::vector<Chunk>& chunks)
{
    std::vector<std::string> seen;
    LineMonitor monitor([&](const LineEvent& e) { seen.push_back(Describe(e)); });
    for (const Chunk& c : chunks) {
        if (c.bytes.empty())
            monitor.Idle(1000 + c.atMs);
        else
            monitor.Feed(c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size()), 1000 + c.atMs);
    }
    return seen;
}

const Bytes kStatus = {0x02, 0x02, 0x00, 0x00, 0x03};
const Bytes kStatusReply = {0x02, 0x03, 0x00, 0x11, 0x10, 0x03};
const Bytes kInit = {0x02, 0x02, 0x70, 0x70, 0x03};
const Bytes kAck = {0x02, 0x03, 0x70, 0x06, 0x77, 0x03};
const Bytes kNak = {0x02, 0x03, 0x70, 0x15, 0x64, 0x03};

TEST(LineMonitorTest, SplitsPairsAndDecodesWhatTheLineCarried)
{
    const std::vector<Case> cases = {
        {"status answered", {{0, kStatus}, {5, kStatusReply}}, {"status 0x11: active, ARVEN-L|LINK_OK|5 ms"}},
        {"request and reply in one read",
         {{0, {0x02, 0x06, 0x91, 0xC8, 0x00, 0x00, 0x00, 0x5D, 0x03, 0x02, 0x03, 0x91, 0x06, 0x96, 0x03}}},
         {"brightness 200|LINK_OK|0 ms"}},
        {"frame split across reads",
         {{0, {0x02, 0x06, 0x91}},
          {2, {0xC8, 0x00, 0x00, 0x00, 0x5D, 0x03}},
          {4, {0x02, 0x03, 0x91}},
          {6, {0x06, 0x96, 0x03}}},
         {"brightness 200|LINK_OK|2 ms"}},
        {"noise before a request", {{0, {0x00, 0xFF}}, {1, kInit}, {3, kAck}}, {"garbage 00 FF", "init|LINK_OK|2 ms"}},
        {"an STX in the noise whose LEN swallows the frames after it",
         {{0, {0x02, 0x40}}, {1, kInit}, {3, kAck}, {300, {}}},
         {"partial 02 40", "init|LINK_OK|2 ms"}},
        {"a frame cut short by silence", {{0, {0x02, 0x06, 0x91, 0xC8}}, {300, {}}}, {"partial 02 06 91 C8"}},
        {"a pause inside a frame shorter than the frame gap keeps it whole",
         {{0, {0x02, 0x06, 0x91}},
          {200, {0xC8, 0x00, 0x00, 0x00, 0x5D, 0x03}},
          {205, {0x02, 0x03, 0x91, 0x06, 0x96, 0x03}}},
         {"brightness 200|LINK_OK|5 ms"}},
        {"silence inside a frame ends it: what follows starts afresh",
         {{0, {0x02, 0x06, 0x91}}, {300, kStatus}, {305, kStatusReply}},
         {"partial 02 06 91", "status 0x11: active, ARVEN-L|LINK_OK|5 ms"}},
        {"reply with a wrong checksum",
         {{0, kStatus}, {5, {0x02, 0x03, 0x00, 0x11, 0x11, 0x03}}},
         {"status|LINK_ERR_CHECKSUM|5 ms"}},
        {"transaction refused: out once no repeat can follow",
         {{0, kInit}, {5, kNak}, {999, {}}, {1006, {}}},
         {"init|LINK_ERR_NAK|5 ms"}},
        {"reply longer than the host's room, checksum wrong too: it never completes",
         {{0, kStatus}, {5, {0x02, 0x04, 0x00, 0x11, 0x00, 0x18, 0x03}}},
         {"status|LINK_ERR_NO_REPLY|5 ms"}},
        {"reply of LEN 1",
         {{0, kInit}, {5, {0x02, 0x01, 0x03, 0x03}}, {1100, {}}},
         {"init|LINK_ERR_REPLY_TOO_LONG|5 ms"}},
        {"no reply at all", {{0, kInit}, {999, {}}, {1006, {}}}, {"init|LINK_ERR_NO_REPLY"}},
        {"reply after the receive window",
         {{0, kInit}, {600, kAck}, {1700, {}}},
         {"init|LINK_ERR_NO_REPLY|600 ms|late"}},
        {"the host's repeat after its window is no reply but the next attempt",
         {{0, kInit}, {520, kInit}, {525, kAck}},
         {"init|LINK_OK|5 ms|2 attempts"}},
        {"six refusals are one exchange of six attempts",
         {{0, kInit},
          {2, kNak},
          {520, kInit},
          {522, kNak},
          {1040, kInit},
          {1042, kNak},
          {1560, kInit},
          {1562, kNak},
          {2080, kInit},
          {2082, kNak},
          {2600, kInit},
          {2602, kNak}},
         {"init|LINK_ERR_NAK|2 ms|6 attempts"}},
        {"a query is never repeated: each is its own exchange",
         {{0, kStatus}, {800, kStatus}, {805, kStatusReply}},
         {"status|LINK_ERR_NO_REPLY", "status 0x11: active, ARVEN-L|LINK_OK|5 ms"}},
        {"a failed transaction whose repeat never comes",
         {{0, kInit}, {2, kNak}, {30, kStatus}, {32, kStatusReply}},
         {"init|LINK_ERR_NAK|2 ms", "status 0x11: active, ARVEN-L|LINK_OK|2 ms"}},
        {"noise between attempts keeps them apart",
         {{0, kInit}, {2, kNak}, {300, {0xFF}}, {520, kInit}, {522, kAck}},
         {"init|LINK_ERR_NAK|2 ms", "garbage FF", "init|LINK_OK|2 ms"}},
        {"register read after its address",
         {{0, {0x02, 0x04, 0xA5, 0x10, 0x00, 0xB3, 0x03}},
          {3, {0x02, 0x03, 0xA5, 0x06, 0xA2, 0x03}},
          {20, {0x02, 0x02, 0x24, 0x24, 0x03}},
          {23, {0x02, 0x04, 0x24, 0xEF, 0xBE, 0x73, 0x03}}},
         {"reg address 0x0010|LINK_OK|3 ms", "reg 0x0010 reads 0xbeef|LINK_OK|3 ms"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Listen(c.chunks), c.events) << c.name;
}

TEST(LineMonitorTest, LinesReadAsTheTrafficPaneWithTheLineNotesAfter)
{
    std::vector<std::string> lines;
    LineMonitor monitor([&](const LineEvent& e) { lines.push_back(LineEventText(e)); });
    const Bytes noise = {0xFF, 0x00};
    monitor.Feed(noise.data(), 2, 50);
    monitor.Feed(kInit.data(), 5, 62);
    monitor.Feed(kAck.data(), 6, 700);
    monitor.Finish();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "      0 ms  garbage        FF 00");
    EXPECT_EQ(lines[1],
              "     12 ms  init          init                            LINK_ERR_NO_REPLY        1 attempt     "
              "638 ms  > 02 02 70 70 03  < 02 03 70 06 77 03  (reply after the receive window)");
}

} // namespace
} // namespace pelvar
