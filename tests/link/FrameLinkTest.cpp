#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "tests/support/ScriptedDevice.h"

namespace pelvar {
namespace {

using test::Bytes;
using test::ScriptedDevice;

constexpr int kPort = 7;

class FrameLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddPort(kPort, &device);
        link = std::make_unique<CFrameLink>(kPort, 115200, sim);
        ASSERT_EQ(link->Open(), LINK_OK);
        sim.SetNow(1000);
    }

    std::int32_t Receive(std::uint32_t room, Bytes* frame)
    {
        std::uint8_t buf[kFrameBufferSize] = {};
        std::uint32_t len = 1234;
        std::int32_t r = link->ReceiveFrame(buf, room, &len);
        frame->assign(buf, buf + len);
        return r;
    }

    SimPlatform sim;
    ScriptedDevice device;
    std::unique_ptr<CFrameLink> link;
};

struct SendRow {
    const char* name;
    std::uint8_t cmd;
    Bytes payload;
    Bytes wire;
    std::uint32_t holdMs; // RTS held after the write: 11 bits a byte at 115200 bit/s plus 2 ms, in whole ms
};

class FrameLinkSend : public FrameLinkTest, public ::testing::WithParamInterface<SendRow> {};

TEST_P(FrameLinkSend, WritesTheFrameWithRtsRaisedForTheHoldTime)
{
    const SendRow& row = GetParam();
    const std::uint32_t before = sim.Now();
    ASSERT_EQ(link->SendFrame(row.cmd, row.payload.empty() ? nullptr : row.payload.data(),
                              static_cast<std::uint32_t>(row.payload.size())),
              LINK_OK);
    ASSERT_EQ(sim.Writes(kPort).size(), 1u);
    EXPECT_EQ(sim.Writes(kPort)[0].bytes, row.wire);
    EXPECT_TRUE(sim.Writes(kPort)[0].rtsRaised);
    EXPECT_FALSE(sim.Rts(kPort));
    EXPECT_EQ(sim.Now() - before, row.holdMs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameLinkSend,
    ::testing::Values(
        SendRow{"status", CMD_STATUS, {}, {0x02, 0x02, 0x00, 0x00, 0x03}, 2},
        SendRow{"init", CMD_INIT, {}, {0x02, 0x02, 0x70, 0x70, 0x03}, 2},
        SendRow{"release", CMD_RELEASE, {}, {0x02, 0x02, 0xF0, 0xF0, 0x03}, 2},
        SendRow{"blueGain", CMD_GAIN_BLUE, {0x80, 0, 0, 0}, {0x02, 0x06, 0x95, 0x80, 0, 0, 0, 0x11, 0x03}, 2},
        SendRow{"brightness200", CMD_BRIGHTNESS, {0xC8, 0, 0, 0}, {0x02, 0x06, 0x91, 0xC8, 0, 0, 0, 0x5D, 0x03}, 2},
        SendRow{"regAddress1234", CMD_REG_ADDRESS, {0x34, 0x12}, {0x02, 0x04, 0xA5, 0x34, 0x12, 0x85, 0x03}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HoldTime, FollowsFrameLengthAndBitRate)
{
    struct Row {
        std::uint32_t frame, baud, ms;
    };
    const Row rows[] = {{5, 115200, 2}, {10, 115200, 2}, {11, 115200, 3},  {20, 115200, 3},
                        {5, 9600, 7},   {9, 9600, 12},   {257, 115200, 26}};
    for (const Row& r : rows)
        EXPECT_EQ(HoldTimeMs(r.frame, r.baud), r.ms) << r.frame << " bytes at " << r.baud;
}

TEST(XorChecksumTest, RefusesNothingAndXorsEveryByte)
{
    std::uint8_t out = 0x55;
    EXPECT_EQ(XorChecksum(nullptr, 3, &out), LINK_ERR_BAD_ARG);
    const std::uint8_t bytes[] = {0x02, 0x06, 0x91, 0xC8, 0, 0, 0};
    EXPECT_EQ(XorChecksum(bytes, 0, &out), LINK_ERR_BAD_ARG);
    EXPECT_EQ(out, 0x55);
    EXPECT_EQ(XorChecksum(bytes, 7, &out), LINK_OK);
    EXPECT_EQ(out, 0x5D);
}

// The verdict on bytes taken as a reply, as the link and the line monitor
// come to it.
TEST(ReplyJudgeTest, JudgesTheFrameAtTheStartOfTheBytes)
{
    constexpr auto kAckKind = ReplyKind::Acknowledge;
    constexpr auto kData = ReplyKind::Data;
    struct Row {
        const char* name;
        Bytes bytes;
        std::uint32_t room;
        ReplyKind kind;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"ack", {0x02, 0x06, 0x91, 0x06, 0x00, 0x00, 0x00, 0x93, 0x03}, 4, kAckKind, LINK_OK},
        {"nak", {0x02, 0x06, 0x91, 0x15, 0x00, 0x00, 0x00, 0x80, 0x03}, 4, kAckKind, LINK_ERR_NAK},
        {"bytes after the frame", {0x02, 0x06, 0x91, 0x06, 0x00, 0x00, 0x00, 0x93, 0x03, 0x02}, 4, kAckKind, LINK_OK},
        {"status", {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}, 1, kData, LINK_OK},
        {"two payload bytes in room 2", {0x02, 0x04, 0x24, 0x34, 0x12, 0x04, 0x03}, 2, kData, LINK_OK},
        {"too long for room 1", {0x02, 0x04, 0x24, 0x34, 0x12, 0x04, 0x03}, 1, kData, LINK_ERR_NO_REPLY},
        {"too long, checksum wrong too", {0x02, 0x04, 0x24, 0x34, 0x12, 0x85, 0x03}, 1, kData, LINK_ERR_NO_REPLY},
        {"bad checksum", {0x02, 0x03, 0x00, 0x11, 0x11, 0x03}, 1, kData, LINK_ERR_CHECKSUM},
        {"wrong end byte", {0x02, 0x03, 0x00, 0x11, 0x10, 0x04}, 1, kData, LINK_ERR_NO_REPLY},
        {"cut short", {0x02, 0x03, 0x00, 0x11, 0x10}, 1, kData, LINK_ERR_NO_REPLY},
        {"stray byte first", {0x00, 0x02, 0x03, 0x00, 0x11, 0x10, 0x03}, 1, kData, LINK_ERR_NO_REPLY},
        {"length 1, checksum right", {0x02, 0x01, 0x03, 0x03}, 4, kAckKind, LINK_ERR_REPLY_TOO_LONG},
        {"length 1 as data", {0x02, 0x01, 0x03, 0x03}, 1, kData, LINK_ERR_REPLY_TOO_LONG},
        // LEN 0: the checksum position holds LEN itself.
        {"length 0", {0x02, 0x00, 0x03}, 4, kAckKind, LINK_ERR_CHECKSUM},
    };
    for (const Row& r : rows)
        EXPECT_EQ(JudgeReply(r.bytes.data(), static_cast<std::uint32_t>(r.bytes.size()), r.room, r.kind), r.expected)
            << r.name;
}

TEST_F(FrameLinkTest, SendOnAClosedLinkTouchesNeitherRtsNorTheLine)
{
    link->Close();
    const int before = sim.RtsChanges(kPort);
    EXPECT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_ERR_NOT_OPEN);
    EXPECT_EQ(sim.RtsChanges(kPort), before);
    EXPECT_TRUE(sim.Writes(kPort).empty());
}

TEST_F(FrameLinkTest, SendOnALinkWhoseOpenFailedTouchesNeitherRtsNorTheLine)
{
    // The port stays open behind a link whose settings failed: only the
    // link's own state keeps the frame off the line.
    sim.AddPort(kPort + 1);
    sim.FailSettings(kPort + 1, true);
    CFrameLink failed(kPort + 1, 115200, sim);
    ASSERT_EQ(failed.Open(), PORT_ERR_CONFIG);
    ASSERT_TRUE(sim.IsOpen(kPort + 1));
    const int before = sim.RtsChanges(kPort + 1);
    EXPECT_EQ(failed.SendFrame(CMD_STATUS, nullptr, 0), LINK_ERR_NOT_OPEN);
    EXPECT_EQ(sim.RtsChanges(kPort + 1), before);
    EXPECT_TRUE(sim.Writes(kPort + 1).empty());
}

TEST_F(FrameLinkTest, RefusesPayloadsThatCannotBeAFrame)
{
    std::vector<std::uint8_t> big(253, 0xAA);
    EXPECT_EQ(link->SendFrame(CMD_STATUS, big.data(), 253), LINK_ERR_BAD_ARG);
    EXPECT_EQ(link->SendFrame(CMD_STATUS, nullptr, 4), LINK_ERR_BAD_ARG);
    EXPECT_TRUE(sim.Writes(kPort).empty());
    EXPECT_EQ(link->SendFrame(CMD_STATUS, big.data(), 252), LINK_OK);
    EXPECT_EQ(sim.Writes(kPort)[0].bytes.size(), 257u);
    EXPECT_EQ(sim.Writes(kPort)[0].bytes[1], 254);
}

TEST_F(FrameLinkTest, FailedWriteReleasesTheBus)
{
    sim.FailWrite(kPort, true);
    EXPECT_EQ(link->SendFrame(CMD_INIT, nullptr, 0), LINK_ERR_SEND);
    EXPECT_FALSE(sim.Rts(kPort));
}

TEST_F(FrameLinkTest, RtsThatCannotBeRaisedSendsNothing)
{
    sim.FailRts(kPort, true);
    EXPECT_EQ(link->SendFrame(CMD_INIT, nullptr, 0), LINK_ERR_SEND);
    EXPECT_TRUE(sim.Writes(kPort).empty());
}

struct ReceiveRow {
    const char* name;
    std::uint32_t room;
    std::vector<std::pair<std::uint32_t, Bytes>> arrivals; // relative ms, bytes
    std::int32_t expected;
    Bytes frame;
    std::uint32_t durationMs;
};

// Each row runs from two clock origins: one near 0, one where the 32-bit
// tick count wraps within the receive.
class FrameLinkReceive : public FrameLinkTest,
                         public ::testing::WithParamInterface<std::tuple<ReceiveRow, std::uint32_t>> {};

TEST_P(FrameLinkReceive, RecognisesOnlyWholeValidFramesAtTheStartOfARead)
{
    const ReceiveRow& row = std::get<0>(GetParam());
    sim.SetNow(std::get<1>(GetParam()));
    const std::uint32_t start = sim.Now();
    for (const auto& [at, bytes] : row.arrivals)
        sim.Deliver(kPort, start + at, bytes);
    Bytes frame;
    EXPECT_EQ(Receive(row.room, &frame), row.expected);
    EXPECT_EQ(frame, row.frame);
    EXPECT_EQ(sim.Now() - start, row.durationMs);
}

const Bytes kAck = {0x02, 0x03, 0x00, 0x06, 0x07, 0x03};
const Bytes kNineStray(9, 0x55);

INSTANTIATE_TEST_SUITE_P(
    Table, FrameLinkReceive,
    // Durations follow the read time-outs: a poll that gets a partial block
    // waits 50 ms after it, then 50 ms per missing byte plus 50 ms.
    ::testing::Combine(
        ::testing::Values(
            // Six bytes of nine: the read ends 50 ms after them, the rest waits 200 ms.
            ReceiveRow{"ackRoom4", 4, {{0, kAck}}, LINK_OK, kAck, 250},
            ReceiveRow{"nothing", 4, {}, LINK_ERR_NO_REPLY, {}, 500},
            ReceiveRow{"nothingRoom1", 1, {}, LINK_ERR_NO_REPLY, {}, 700},
            ReceiveRow{"nothingRoom2", 2, {}, LINK_ERR_NO_REPLY, {}, 800},
            ReceiveRow{"room0", 0, {{0, kAck}}, LINK_ERR_NO_REPLY, {}, 500},
            ReceiveRow{"badChecksum", 4, {{0, {0x02, 0x03, 0x00, 0x06, 0x08, 0x03}}}, LINK_ERR_CHECKSUM, {}, 750},
            ReceiveRow{
                "strayByteFirst", 4, {{0, {0x00, 0x02, 0x03, 0x00, 0x06, 0x07, 0x03}}}, LINK_ERR_NO_REPLY, {}, 700},
            ReceiveRow{"lenOneWithGoodChecksum", 4, {{0, {0x02, 0x01, 0x03, 0x03}}}, LINK_ERR_REPLY_TOO_LONG, {}, 850},
            // LEN 0: the checksum position holds LEN itself, so the checksum test fails first.
            ReceiveRow{"lenZero", 4, {{0, {0x02, 0x00, 0x03}}}, LINK_ERR_CHECKSUM, {}, 900},
            ReceiveRow{"twoPayloadBytesRoom1",
                       1,
                       {{0, {0x02, 0x04, 0x24, 0x34, 0x12, 0x85, 0x03}}},
                       LINK_ERR_NO_REPLY,
                       {},
                       700},
            ReceiveRow{"statusRoom1",
                       1,
                       {{5, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}}},
                       LINK_OK,
                       Bytes({0x02, 0x03, 0x00, 0x11, 0x10, 0x03}),
                       5},
            ReceiveRow{"laterEmptyPollKeepsRejection",
                       4,
                       {{0, {0x02, 0x03, 0x00, 0x06, 0x08, 0x03}}, {300, {0x55}}},
                       LINK_ERR_CHECKSUM,
                       {},
                       800},
            ReceiveRow{"goodFrameAfterBadOne",
                       4,
                       {{0, {0x02, 0x03, 0x00, 0x06, 0x08, 0x03}}, {300, kAck}},
                       LINK_OK,
                       kAck,
                       550},
            // The window's edge: nine stray bytes fill the first poll's read and
            // end it at 499 or 500 ms; the acknowledge behind them counts only if
            // another poll may start then (elapsed < 500 ms).
            ReceiveRow{"lastPollStartsAt499", 4, {{499, kNineStray}, {499, kAck}}, LINK_OK, kAck, 749},
            ReceiveRow{"noPollStartsAt500", 4, {{500, kNineStray}, {500, kAck}}, LINK_ERR_NO_REPLY, {}, 500},
            ReceiveRow{"wrongEtx", 4, {{0, {0x02, 0x03, 0x00, 0x06, 0x07, 0x04}}}, LINK_ERR_NO_REPLY, {}, 750},
            ReceiveRow{"bytesTrailingTheFrameStayOut",
                       4,
                       {{0, {0x02, 0x03, 0x00, 0x06, 0x07, 0x03, 0x02}}},
                       LINK_OK,
                       kAck,
                       200},
            // A frame in two bursts: the first platform read ends 50 ms after the
            // head. At exactly 100 ms the poll reads on and joins the tail; at
            // 101 ms it gives up, and the tail alone opens the next poll.
            ReceiveRow{
                "readLimitHitExactly", 4, {{50, {0x02, 0x03, 0x00}}, {120, {0x06, 0x07, 0x03}}}, LINK_OK, kAck, 170},
            ReceiveRow{"frameSplitAcrossTwoPolls",
                       4,
                       {{51, {0x02, 0x03, 0x00}}, {120, {0x06, 0x07, 0x03}}},
                       LINK_ERR_NO_REPLY,
                       {},
                       520}),
        ::testing::Values(1000u, 0xFFFFFF00u)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) == 1000u ? "" : "AcrossTheWrap");
    });

TEST_F(FrameLinkTest, ReceiveWithoutBufferLeavesTheLengthAlone)
{
    std::uint32_t len = 42;
    EXPECT_EQ(link->ReceiveFrame(nullptr, 4, &len), LINK_ERR_BAD_ARG);
    EXPECT_EQ(len, 42u);
    std::uint8_t buf[kFrameBufferSize];
    EXPECT_EQ(link->ReceiveFrame(buf, 4, nullptr), LINK_ERR_BAD_ARG);
    EXPECT_EQ(link->ReceiveFrame(buf, 254, &len), LINK_ERR_BAD_ARG);
    EXPECT_EQ(len, 42u);
    EXPECT_EQ(sim.ReadCalls(kPort), 0u);
}

TEST_F(FrameLinkTest, TransactAcceptsAckAsTheFirstPayloadByte)
{
    device.replies.push_back({0, kAck});
    EXPECT_EQ(link->Transact(CMD_EDGE, nullptr, 0), LINK_OK);
    EXPECT_EQ(device.frames, 1);
}

TEST_F(FrameLinkTest, EmptyPayloadReplyIsAckOnlyWhenItsChecksumIs06)
{
    device.always = {0x02, 0x02, 0x06, 0x06, 0x03};
    EXPECT_EQ(link->Transact(CMD_EDGE, nullptr, 0), LINK_OK);
    device.always = {0x02, 0x02, 0x07, 0x07, 0x03};
    EXPECT_EQ(link->Transact(CMD_EDGE, nullptr, 0), LINK_ERR_NAK);
}

TEST_F(FrameLinkTest, TransactWithOnePayloadByteTakes260ms)
{
    device.replies.push_back({0, kAck});
    const std::uint32_t start = sim.Now();
    EXPECT_EQ(link->Transact(CMD_EDGE, nullptr, 0), LINK_OK);
    // 10 ms pause, 2 ms hold, 50 ms after the reply, 200 ms for the missing 3 bytes.
    EXPECT_EQ(sim.Now() - start, 262u);
}

TEST_F(FrameLinkTest, TransactWithNineByteAckEndsAsSoonAsItIsIn)
{
    device.replies.push_back({1, {0x02, 0x06, 0x91, 0x06, 0, 0, 0, 0x93, 0x03}});
    const std::uint32_t start = sim.Now();
    EXPECT_EQ(link->Transact(CMD_BRIGHTNESS, EncodeAdjustment(200).data(), 4), LINK_OK);
    EXPECT_EQ(sim.Now() - start, 12u);
}

TEST_F(FrameLinkTest, TransactToASilentBoardSendsSixTimesInAbout3s)
{
    const std::uint32_t start = sim.Now();
    EXPECT_EQ(link->Transact(CMD_INIT, nullptr, 0), LINK_ERR_NO_REPLY);
    ASSERT_EQ(sim.Writes(kPort).size(), 6u);
    EXPECT_EQ(sim.Now() - start, 6u * (10 + 2 + 500));
    for (std::size_t i = 1; i < 6; ++i)
        EXPECT_EQ(sim.Writes(kPort)[i].time - sim.Writes(kPort)[i - 1].time, 512u);
}

// A slow path to the board (a distant server) widens the window: a reply a
// second late is taken, and a silent board costs six wider attempts.
TEST_F(FrameLinkTest, AWiderReceiveWindowTakesALateReplyAndWaitsItOut)
{
    device.replies.push_back({1000, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}});
    EXPECT_EQ(QueryStatus(*link).result, LINK_ERR_NO_REPLY);
    sim.Advance(2000);
    link->SetReceiveWindow(1500);
    device.replies.push_back({1000, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}});
    const QueryResult late = QueryStatus(*link);
    EXPECT_EQ(late.result, LINK_OK);
    EXPECT_EQ(late.value, 0x11u);
    const std::uint32_t start = sim.Now();
    EXPECT_EQ(link->Transact(CMD_INIT, nullptr, 0), LINK_ERR_NO_REPLY);
    EXPECT_EQ(sim.Now() - start, 6u * (10 + 2 + 1500));
}

// The window closes while the board is silent: the flag goes up during the
// first attempt, which runs to its end; no second one follows.
TEST(FrameLinkCancel, ATransactionCancelledDuringAnAttemptMakesNoFurtherOne)
{
    struct CancelOnFrame : ISimDevice {
        std::atomic<bool> cancel{false};
        void OnHostBytes(SimLine&, const std::uint8_t*, std::size_t) override { cancel = true; }
    } device;
    SimPlatform sim;
    sim.AddPort(kPort, &device);
    CFrameLink link(kPort, 115200, sim);
    link.SetCancelFlag(&device.cancel);
    ASSERT_EQ(link.Open(), LINK_OK);
    const std::uint32_t start = sim.Now();
    EXPECT_EQ(link.Transact(CMD_INIT, nullptr, 0), LINK_ERR_NO_REPLY);
    EXPECT_EQ(sim.Writes(kPort).size(), 1u);
    EXPECT_EQ(sim.Now() - start, 10u + 2 + 500);
}

TEST_F(FrameLinkTest, TransactRefusedEveryTimeIsNak)
{
    device.always = {0x02, 0x03, 0x00, 0x15, 0x14, 0x03};
    EXPECT_EQ(link->Transact(CMD_INIT, nullptr, 0), LINK_ERR_NAK);
    EXPECT_EQ(device.frames, 6);
}

TEST_F(FrameLinkTest, TransactOnAClosedLinkTakesSixPausesAndWritesNothing)
{
    link->Close();
    const std::uint32_t start = sim.Now();
    EXPECT_EQ(link->Transact(CMD_INIT, nullptr, 0), LINK_ERR_NOT_OPEN);
    EXPECT_EQ(sim.Now() - start, 60u);
    EXPECT_TRUE(sim.Writes(kPort).empty());
}

TEST_F(FrameLinkTest, LateReplyIsDiscardedBeforeTheNextFrame)
{
    // The status reply arrives after the receive gave up (700 ms window).
    device.replies.push_back({900, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}});
    device.replies.push_back({5, {0x02, 0x03, 0x00, 0x00, 0x01, 0x03}});
    QueryResult first = QueryStatus(*link);
    EXPECT_EQ(first.result, LINK_ERR_NO_REPLY);
    sim.Advance(400);
    QueryResult second = QueryStatus(*link);
    EXPECT_EQ(second.result, LINK_OK);
    EXPECT_EQ(second.value, 0u) << "the stale 0x11 must not answer the second query";
}

TEST(FrameLinkLog, DebugFileIsCreatedEmptyAndStaysEmpty)
{
    std::remove("Corvel.debug");
    SimPlatform sim;
    {
        CFrameLink link(1, 115200, sim);
        struct stat st {};
        ASSERT_EQ(stat("Corvel.debug", &st), 0);
        EXPECT_EQ(st.st_size, 0);
    }
    struct stat st {};
    ASSERT_EQ(stat("Corvel.debug", &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST(FrameLinkOpen, FailedOpenLeavesTheLinkClosedAndDestructionReleasesThePort)
{
    SimPlatform sim;
    sim.AddPort(4);
    sim.FailSettings(4, true);
    {
        CFrameLink link(4, 115200, sim);
        EXPECT_EQ(link.Open(), PORT_ERR_CONFIG);
        EXPECT_FALSE(link.IsOpen());
        EXPECT_TRUE(sim.IsOpen(4));
        EXPECT_EQ(link.SendFrame(CMD_STATUS, nullptr, 0), LINK_ERR_NOT_OPEN);
    }
    EXPECT_FALSE(sim.IsOpen(4));
}

} // namespace
} // namespace pelvar
