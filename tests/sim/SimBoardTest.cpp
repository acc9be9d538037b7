#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Frames.h"
#include "camera/Commands.h"
#include "sim/SimBoard.h"

namespace pelvar {
namespace {

using test::Bytes;

// Frames of the host, written out byte for byte.
const Bytes kStatus = {0x02, 0x02, 0x00, 0x00, 0x03};
const Bytes kInit = {0x02, 0x02, 0x70, 0x70, 0x03};
const Bytes kRelease = {0x02, 0x02, 0xF0, 0xF0, 0x03};
const Bytes kBlue128 = {0x02, 0x06, 0x95, 0x80, 0x00, 0x00, 0x00, 0x11, 0x03};
const Bytes kRegAddress1234 = {0x02, 0x04, 0xA5, 0x34, 0x12, 0x85, 0x03};
const Bytes kRegWriteBeef = {0x02, 0x04, 0xA4, 0xEF, 0xBE, 0xF3, 0x03};
const Bytes kRegRead = {0x02, 0x02, 0x24, 0x24, 0x03};
const Bytes kUnknown55 = {0x02, 0x02, 0x55, 0x55, 0x03};
const Bytes kBrightnessShort = {0x02, 0x04, 0x91, 0xC8, 0x00, 0x5F, 0x03}; // 2-byte payload

Bytes Frame(std::uint8_t cmd, const Bytes& payload = {}) { return test::MakeFrame(cmd, payload); }

std::vector<SimBoardExchange> Feed(SimBoard& board, const Bytes& bytes, std::uint32_t now = 0)
{
    return board.Feed(bytes.data(), bytes.size(), now);
}

// The reply to one frame; fails the test unless exactly one frame completed.
Bytes Reply(SimBoard& board, const Bytes& frame)
{
    const auto ex = Feed(board, frame);
    EXPECT_EQ(ex.size(), 1u);
    return ex.empty() ? Bytes{} : ex[0].reply;
}

SimBoardOptions With(void (*edit)(SimBoardOptions&))
{
    SimBoardOptions o;
    edit(o);
    return o;
}

// ---------------------------------------------------------------- replies

struct ReplyCase {
    const char* name;
    SimBoardOptions options;
    std::vector<Bytes> before; // frames sent first, replies not examined
    Bytes request;
    Bytes reply;
};

class SimBoardReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(SimBoardReply, IsExact)
{
    const ReplyCase& c = GetParam();
    SimBoard board(c.options);
    for (const Bytes& f : c.before)
        Feed(board, f);
    EXPECT_EQ(Reply(board, c.request), c.reply);
}

const SimBoardOptions kDefault;

INSTANTIATE_TEST_SUITE_P(
    Commands, SimBoardReply,
    ::testing::Values(
        ReplyCase{"status_before_init", kDefault, {}, kStatus, {0x02, 0x03, 0x00, 0x00, 0x01, 0x03}},
        ReplyCase{"status_after_init_L", kDefault, {kInit}, kStatus, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}},
        ReplyCase{"status_after_init_S",
                  With([](SimBoardOptions& o) { o.sensor = SensorKind::S; }),
                  {kInit},
                  kStatus,
                  {0x02, 0x03, 0x00, 0x21, 0x20, 0x03}},
        ReplyCase{"status_after_init_none",
                  With([](SimBoardOptions& o) { o.sensor = SensorKind::None; }),
                  {kInit},
                  kStatus,
                  {0x02, 0x03, 0x00, 0x01, 0x00, 0x03}},
        ReplyCase{"init_ack", kDefault, {}, kInit, {0x02, 0x06, 0x70, 0x06, 0x00, 0x00, 0x00, 0x72, 0x03}},
        ReplyCase{"release_ack", kDefault, {kInit}, kRelease, {0x02, 0x06, 0xF0, 0x06, 0x00, 0x00, 0x00, 0xF2, 0x03}},
        ReplyCase{"blue_gain_ack", kDefault, {}, kBlue128, {0x02, 0x06, 0x95, 0x06, 0x00, 0x00, 0x00, 0x97, 0x03}},
        ReplyCase{"reg_read_fresh", kDefault, {}, kRegRead, {0x02, 0x04, 0x24, 0x00, 0x00, 0x22, 0x03}},
        ReplyCase{"reg_read_written_low_byte_first",
                  kDefault,
                  {kRegAddress1234, kRegWriteBeef},
                  kRegRead,
                  {0x02, 0x04, 0x24, 0xEF, 0xBE, 0x73, 0x03}},
        ReplyCase{"ack_bytes_1",
                  With([](SimBoardOptions& o) { o.ackBytes = 1; }),
                  {},
                  kInit,
                  {0x02, 0x03, 0x70, 0x06, 0x77, 0x03}},
        ReplyCase{"ack_bytes_2",
                  With([](SimBoardOptions& o) { o.ackBytes = 2; }),
                  {},
                  kInit,
                  {0x02, 0x04, 0x70, 0x06, 0x00, 0x70, 0x03}},
        ReplyCase{"ack_bytes_3",
                  With([](SimBoardOptions& o) { o.ackBytes = 3; }),
                  {},
                  kInit,
                  {0x02, 0x05, 0x70, 0x06, 0x00, 0x00, 0x71, 0x03}},
        ReplyCase{"nak_refuses_transaction",
                  With([](SimBoardOptions& o) { o.nak = true; }),
                  {},
                  kInit,
                  {0x02, 0x06, 0x70, 0x15, 0x00, 0x00, 0x00, 0x61, 0x03}},
        ReplyCase{"nak_still_answers_status",
                  With([](SimBoardOptions& o) { o.nak = true; }),
                  {kInit},
                  kStatus,
                  {0x02, 0x03, 0x00, 0x00, 0x01, 0x03}},
        ReplyCase{
            "unknown_command_nak", kDefault, {}, kUnknown55, {0x02, 0x06, 0x55, 0x15, 0x00, 0x00, 0x00, 0x44, 0x03}},
        ReplyCase{"wrong_payload_size_nak",
                  kDefault,
                  {},
                  kBrightnessShort,
                  {0x02, 0x06, 0x91, 0x15, 0x00, 0x00, 0x00, 0x80, 0x03}},
        ReplyCase{"garbage_stray_byte_first",
                  With([](SimBoardOptions& o) { o.garbage = true; }),
                  {},
                  kStatus,
                  {0x00, 0x02, 0x03, 0x00, 0x00, 0x01, 0x03}},
        ReplyCase{"corrupt_checksum",
                  With([](SimBoardOptions& o) { o.corrupt = true; }),
                  {},
                  kStatus,
                  {0x02, 0x03, 0x00, 0x00, 0xFE, 0x03}},
        ReplyCase{"silent_no_reply", With([](SimBoardOptions& o) { o.silent = true; }), {}, kStatus, {}}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

// Every function command is acknowledged and counted, nothing else changes.
class SimBoardFunction : public ::testing::TestWithParam<std::uint8_t> {};

TEST_P(SimBoardFunction, AcknowledgedAndCounted)
{
    const std::uint8_t cmd = GetParam();
    SimBoard board;
    const Bytes reply = Reply(board, Frame(cmd));
    EXPECT_EQ(reply, Frame(cmd, {0x06, 0x00, 0x00, 0x00}));
    Feed(board, Frame(cmd));
    EXPECT_EQ(board.CommandCount(cmd), 2u);
    EXPECT_EQ(board.Status(), 0);
    EXPECT_EQ(board.Adjust().brightness, 128);
}

INSTANTIATE_TEST_SUITE_P(Functions, SimBoardFunction,
                         ::testing::Values(CMD_FUNC_16, CMD_SCALE, CMD_FUNC_18, CMD_FUNC_19, CMD_EDGE, CMD_GAMMA,
                                           CMD_ARROW_RIGHT, CMD_ARROW_LEFT, CMD_ARROW_UP, CMD_ARROW_DOWN,
                                           CMD_TEST_PATTERN));

// ---------------------------------------------------------------- state

struct StatusCase {
    SensorKind sensor;
    std::uint8_t active;   // after CMD_INIT
    std::uint8_t released; // after CMD_RELEASE
};

class SimBoardStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(SimBoardStatus, FollowsInitAndRelease)
{
    SimBoardOptions o;
    o.sensor = GetParam().sensor;
    SimBoard board(o);
    EXPECT_EQ(board.Status(), 0);
    Feed(board, kRelease); // release before init changes nothing
    EXPECT_EQ(board.Status(), 0);
    Feed(board, kInit);
    EXPECT_EQ(board.Status(), GetParam().active);
    Feed(board, kInit); // a second init keeps the board active
    EXPECT_EQ(board.Status(), GetParam().active);
    Feed(board, kRelease);
    EXPECT_EQ(board.Status(), GetParam().released);
    Feed(board, kInit);
    EXPECT_EQ(board.Status(), GetParam().active);
    EXPECT_EQ(Reply(board, kStatus), Frame(0x00, {GetParam().active}));
}

INSTANTIATE_TEST_SUITE_P(Sensors, SimBoardStatus,
                         ::testing::Values(StatusCase{SensorKind::L, 0x11, 0x10}, StatusCase{SensorKind::S, 0x21, 0x20},
                                           StatusCase{SensorKind::None, 0x01, 0x00}));

TEST(SimBoard, AdjustmentsTakeTheSigned32BitValue)
{
    struct Row {
        std::uint8_t cmd;
        Bytes payload;
        std::int32_t Adjustments::*field;
        std::int32_t expected;
    };
    const Row rows[] = {
        {CMD_BRIGHTNESS, {0xC8, 0x00, 0x00, 0x00}, &Adjustments::brightness, 200},
        {CMD_CONTRAST, {0x00, 0x00, 0x00, 0x00}, &Adjustments::contrast, 0},
        {CMD_GAIN_RED, {0xFF, 0x00, 0x00, 0x00}, &Adjustments::red, 255},
        {CMD_GAIN_GREEN, {0x34, 0x12, 0x00, 0x00}, &Adjustments::green, 0x1234},
        {CMD_GAIN_BLUE, {0xFF, 0xFF, 0xFF, 0xFF}, &Adjustments::blue, -1},
    };
    SimBoard board;
    for (const Row& r : rows) {
        SCOPED_TRACE(CommandName(r.cmd));
        EXPECT_EQ(Reply(board, Frame(r.cmd, r.payload)), Frame(r.cmd, {0x06, 0, 0, 0}));
        EXPECT_EQ(board.Adjust().*r.field, r.expected);
        EXPECT_EQ(board.CommandCount(r.cmd), 1u);
    }
    // A refused adjustment keeps the value.
    Feed(board, kBrightnessShort);
    EXPECT_EQ(board.Adjust().brightness, 200);
    EXPECT_EQ(board.CommandCount(CMD_BRIGHTNESS), 1u);
}

TEST(SimBoard, RegisterFileKeepsEveryAddress)
{
    SimBoard board;
    const std::pair<std::uint16_t, std::uint16_t> writes[] = {
        {0x0000, 0x0001}, {0x0010, 0x00FF}, {0x1234, 0xBEEF}, {0xFFFF, 0x8000}};
    for (const auto& [address, value] : writes) {
        Feed(board, Frame(CMD_REG_ADDRESS, {Bytes::value_type(address & 0xFF), Bytes::value_type(address >> 8)}));
        Feed(board, Frame(CMD_REG_WRITE, {Bytes::value_type(value & 0xFF), Bytes::value_type(value >> 8)}));
    }
    for (const auto& [address, value] : writes) {
        SCOPED_TRACE(address);
        EXPECT_EQ(board.Register(address), value);
        Feed(board, Frame(CMD_REG_ADDRESS, {Bytes::value_type(address & 0xFF), Bytes::value_type(address >> 8)}));
        EXPECT_EQ(board.LatchedAddress(), address);
        EXPECT_EQ(Reply(board, kRegRead),
                  Frame(CMD_REG_READ, {Bytes::value_type(value & 0xFF), Bytes::value_type(value >> 8)}));
    }
    EXPECT_EQ(board.Register(0x0011), 0);
    EXPECT_EQ(board.WrittenRegisters().size(), 4u);
    EXPECT_EQ(board.WrittenRegisters().at(0xFFFF), 0x8000);
}

TEST(SimBoard, StateTextShowsWhatWasSent)
{
    SimBoard board;
    Feed(board, kInit);
    Feed(board, Frame(CMD_BRIGHTNESS, {200, 0, 0, 0}));
    Feed(board, Frame(CMD_EDGE));
    Feed(board, kRegAddress1234);
    Feed(board, kRegWriteBeef);
    const std::string text = BoardStateText(board);
    EXPECT_NE(text.find("status 0x11 (active, sensor L)"), std::string::npos) << text;
    EXPECT_NE(text.find("brightness 200\n"), std::string::npos) << text;
    EXPECT_NE(text.find("contrast 128\n"), std::string::npos) << text;
    EXPECT_NE(text.find("edge 1"), std::string::npos) << text;
    EXPECT_NE(text.find("scale 0"), std::string::npos) << text;
    EXPECT_NE(text.find("registers written: 0x1234=0xbeef"), std::string::npos) << text;
    EXPECT_NE(text.find("frames 5, bad checksum 0, replies 5"), std::string::npos) << text;
}

// ---------------------------------------------------------------- faults

TEST(SimBoard, SilentBoardChangesNothing)
{
    SimBoardOptions o;
    o.silent = true;
    SimBoard board(o);
    Feed(board, kInit);
    Feed(board, kBlue128);
    EXPECT_EQ(board.Status(), 0);
    EXPECT_EQ(board.Adjust().blue, 128);
    EXPECT_EQ(board.FramesReceived(), 2u);
    EXPECT_EQ(board.RepliesSent(), 0u);
}

TEST(SimBoard, NakBoardActsOnNoTransaction)
{
    SimBoardOptions o;
    o.nak = true;
    SimBoard board(o);
    Feed(board, kInit);
    Feed(board, kRegAddress1234);
    Feed(board, kRegWriteBeef);
    EXPECT_EQ(board.Status(), 0);
    EXPECT_EQ(board.Register(0x1234), 0);
    EXPECT_EQ(board.CommandCount(CMD_INIT), 0u);
}

TEST(SimBoard, DelayGoesWithEveryReply)
{
    SimBoardOptions o;
    o.delayMs = 250;
    SimBoard board(o);
    for (const Bytes& f : {kStatus, kInit}) {
        const auto ex = Feed(board, f);
        ASSERT_EQ(ex.size(), 1u);
        EXPECT_EQ(ex[0].delayMs, 250u);
        EXPECT_FALSE(ex[0].reply.empty());
    }
}

TEST(SimBoard, DropEveryThirdFrameStillActs)
{
    SimBoardOptions o;
    o.dropEvery = 3;
    SimBoard board(o);
    std::vector<bool> answered;
    for (int i = 0; i < 7; ++i) {
        const auto ex = Feed(board, Frame(CMD_SCALE));
        ASSERT_EQ(ex.size(), 1u);
        answered.push_back(!ex[0].reply.empty());
    }
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false, true}));
    EXPECT_EQ(board.CommandCount(CMD_SCALE), 7u); // the lost replies' commands acted
    EXPECT_EQ(board.RepliesSent(), 5u);
}

TEST(SimBoard, CorruptReplyFailsItsOwnChecksum)
{
    SimBoardOptions o;
    o.corrupt = true;
    SimBoard board(o);
    for (const Bytes& f : {kStatus, kInit, kRegRead}) {
        const Bytes r = Reply(board, f);
        ASSERT_GE(r.size(), 5u);
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i + 2 < r.size(); ++i)
            sum ^= r[i];
        EXPECT_NE(sum, r[r.size() - 2]);
        EXPECT_EQ(r.back(), 0x03);
    }
}

TEST(SimBoard, HangsUpAfterAnsweringTheNthFrame)
{
    SimBoardOptions o;
    o.hangupAfter = 2;
    SimBoard board(o);
    auto ex = Feed(board, kStatus);
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_FALSE(ex[0].hangUp);
    // Frame 2 and 3 in one write: 2 is answered, then the line is dead.
    Bytes two = kInit;
    two.insert(two.end(), kStatus.begin(), kStatus.end());
    ex = Feed(board, two);
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_TRUE(ex[0].hangUp);
    EXPECT_FALSE(ex[0].reply.empty());
    EXPECT_TRUE(board.HungUp());
    EXPECT_TRUE(Feed(board, kStatus).empty());
    EXPECT_EQ(board.FramesReceived(), 2u);
}

// ---------------------------------------------------------------- framing

TEST(SimBoard, FrameSplitAtEveryPoint)
{
    for (std::size_t cut = 1; cut < kBlue128.size(); ++cut) {
        SCOPED_TRACE(cut);
        SimBoard board;
        EXPECT_TRUE(board.Feed(kBlue128.data(), cut).empty());
        const auto ex = board.Feed(kBlue128.data() + cut, kBlue128.size() - cut);
        ASSERT_EQ(ex.size(), 1u);
        EXPECT_EQ(ex[0].received, kBlue128);
        EXPECT_EQ(board.Adjust().blue, 128);
        EXPECT_EQ(board.CommandCount(CMD_GAIN_BLUE), 1u);
    }
}

TEST(SimBoard, FrameByteByByte)
{
    SimBoard board;
    std::size_t completed = 0;
    for (std::uint8_t b : kRegAddress1234)
        completed += board.Feed(&b, 1).size();
    EXPECT_EQ(completed, 1u);
    EXPECT_EQ(board.LatchedAddress(), 0x1234);
}

struct ResyncCase {
    const char* name;
    Bytes noise;           // before a status frame, same write
    std::size_t discarded; // bytes the board threw away
};

class SimBoardResync : public ::testing::TestWithParam<ResyncCase> {};

TEST_P(SimBoardResync, AnswersTheFrameAfterNoise)
{
    SimBoard board;
    Bytes bytes = GetParam().noise;
    bytes.insert(bytes.end(), kStatus.begin(), kStatus.end());
    const auto ex = Feed(board, bytes);
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].received, kStatus);
    EXPECT_EQ(ex[0].reply, (Bytes{0x02, 0x03, 0x00, 0x00, 0x01, 0x03}));
    EXPECT_EQ(board.DiscardedBytes(), GetParam().discarded);
}

INSTANTIATE_TEST_SUITE_P(Noise, SimBoardResync,
                         ::testing::Values(ResyncCase{"stray_bytes", {0x00, 0xFF, 0x55}, 3},
                                           ResyncCase{"stx_with_len_0", {0x02, 0x00}, 2},
                                           ResyncCase{"stx_with_len_1", {0x02, 0x01}, 2},
                                           // 02 03 promises ETX at offset 5, where the real frame's STX stands
                                           ResyncCase{"stx_without_etx", {0x02, 0x03, 0xAA, 0xBB, 0xCC}, 5},
                                           ResyncCase{"etx_alone", {0x03, 0x03}, 2}),
                         [](const ::testing::TestParamInfo<ResyncCase>& info) { return std::string(info.param.name); });

TEST(SimBoard, BadChecksumIgnoredThenNextFrameAnswered)
{
    SimBoard board;
    Bytes bytes = {0x02, 0x02, 0x70, 0x71, 0x03}; // init with checksum off by one
    bytes.insert(bytes.end(), kStatus.begin(), kStatus.end());
    const auto ex = Feed(board, bytes);
    ASSERT_EQ(ex.size(), 2u);
    EXPECT_FALSE(ex[0].checksumOk);
    EXPECT_TRUE(ex[0].reply.empty());
    EXPECT_TRUE(ex[1].checksumOk);
    EXPECT_EQ(ex[1].reply, (Bytes{0x02, 0x03, 0x00, 0x00, 0x01, 0x03})); // init never acted
    EXPECT_EQ(board.BadFrames(), 1u);
    EXPECT_EQ(board.FramesReceived(), 1u);
}

TEST(SimBoard, TwoFramesInOneWriteAnsweredInOrder)
{
    SimBoard board;
    Bytes bytes = kInit;
    bytes.insert(bytes.end(), kStatus.begin(), kStatus.end());
    const auto ex = Feed(board, bytes);
    ASSERT_EQ(ex.size(), 2u);
    EXPECT_EQ(ex[0].received, kInit);
    EXPECT_EQ(ex[1].reply, (Bytes{0x02, 0x03, 0x00, 0x11, 0x10, 0x03}));
}

TEST(SimBoard, PartialFrameDroppedAfterAGap)
{
    SimBoard board;
    // A lone start with a long length would hold every later byte.
    EXPECT_TRUE(Feed(board, {0x02, 0x7F}, 1000).empty());
    EXPECT_TRUE(Feed(board, kStatus, 1000 + kFrameGapMs).empty()); // still inside that frame
    const auto ex = Feed(board, kStatus, 1001 + 2 * kFrameGapMs);
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].received, kStatus);
}

// ---------------------------------------------------------------- device

class RecordingLine : public SimLine {
public:
    std::uint32_t Now() const override { return now; }
    void Send(std::uint32_t delayMs, const std::vector<std::uint8_t>& bytes) override
    {
        sends.push_back({delayMs, bytes});
    }
    void HangUp() override { hungUpAfterSends = static_cast<int>(sends.size()); }

    std::uint32_t now = 0;
    std::vector<std::pair<std::uint32_t, Bytes>> sends;
    int hungUpAfterSends = -1;
};

TEST(SimBoardDevice, DelayAndHangUpReachTheLine)
{
    SimBoardOptions o;
    o.delayMs = 40;
    o.hangupAfter = 2;
    SimBoardDevice device(o);
    RecordingLine line;
    Bytes bytes = kStatus;
    bytes.insert(bytes.end(), kInit.begin(), kInit.end());
    device.OnHostBytes(line, bytes.data(), bytes.size());
    ASSERT_EQ(line.sends.size(), 2u);
    EXPECT_EQ(line.sends[0].first, 40u);
    EXPECT_EQ(line.sends[0].second, (Bytes{0x02, 0x03, 0x00, 0x00, 0x01, 0x03}));
    EXPECT_EQ(line.hungUpAfterSends, 2); // the second reply first, then the hang-up
    device.OnHostBytes(line, kStatus.data(), kStatus.size());
    EXPECT_EQ(line.sends.size(), 2u);
}

TEST(SimBoardOptionsText, SensorKinds)
{
    SensorKind k = SensorKind::None;
    EXPECT_TRUE(ParseSensorKind("L", &k));
    EXPECT_EQ(k, SensorKind::L);
    EXPECT_TRUE(ParseSensorKind("s", &k));
    EXPECT_EQ(k, SensorKind::S);
    EXPECT_TRUE(ParseSensorKind("none", &k));
    EXPECT_EQ(k, SensorKind::None);
    EXPECT_FALSE(ParseSensorKind("M", &k));
    EXPECT_FALSE(ParseSensorKind("", &k));
}

} // namespace
} // namespace pelvar
