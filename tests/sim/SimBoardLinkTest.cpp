// The simulated board behind the host's own link, in virtual time: what the
// host's exchanges make of each board behaviour.
#include <gtest/gtest.h>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "sim/SimBoard.h"
#include "platform/SimPlatform.h"

namespace pelvar {
namespace {

constexpr int kPort = 200;

struct LinkCase {
    const char* name;
    SimBoardOptions options;
    std::int32_t initResult;   // the transaction CMD_INIT
    std::uint32_t initFrames;  // how many init frames the board saw
    std::int32_t statusResult; // the status query afterwards
    std::uint32_t status;
};

SimBoardOptions With(void (*edit)(SimBoardOptions&))
{
    SimBoardOptions o;
    edit(o);
    return o;
}

class BoardBehindLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(BoardBehindLink, InitThenStatus)
{
    const LinkCase& c = GetParam();
    SimPlatform platform;
    SimBoardDevice device(c.options);
    platform.AddPort(kPort, &device);
    CFrameLink link(kPort, 115200, platform);
    ASSERT_EQ(link.Open(), LINK_OK);

    EXPECT_EQ(RunTransaction(link, CMD_INIT, nullptr, 0), c.initResult);
    EXPECT_EQ(device.Board().FramesReceived(), c.initFrames);
    const QueryResult q = QueryStatus(link);
    EXPECT_EQ(q.result, c.statusResult);
    EXPECT_EQ(q.value, c.status);
    link.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, BoardBehindLink,
    ::testing::Values(
        LinkCase{"plain", {}, LINK_OK, 1, LINK_OK, 0x11},
        LinkCase{"ack_bytes_1", With([](SimBoardOptions& o) { o.ackBytes = 1; }), LINK_OK, 1, LINK_OK, 0x11},
        LinkCase{"sensor_S", With([](SimBoardOptions& o) { o.sensor = SensorKind::S; }), LINK_OK, 1, LINK_OK, 0x21},
        LinkCase{"nak", With([](SimBoardOptions& o) { o.nak = true; }), LINK_ERR_NAK, 6, LINK_OK, 0},
        LinkCase{"silent", With([](SimBoardOptions& o) { o.silent = true; }), LINK_ERR_NO_REPLY, 6, LINK_ERR_NO_REPLY,
                 0},
        LinkCase{"corrupt", With([](SimBoardOptions& o) { o.corrupt = true; }), LINK_ERR_CHECKSUM, 6, LINK_ERR_CHECKSUM,
                 0},
        LinkCase{"garbage", With([](SimBoardOptions& o) { o.garbage = true; }), LINK_ERR_NO_REPLY, 6, LINK_ERR_NO_REPLY,
                 0}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

TEST(BoardBehindLink, LostReplyMeansTheCommandActsTwice)
{
    SimBoardOptions o;
    o.dropEvery = 2;
    SimPlatform platform;
    SimBoardDevice device(o);
    platform.AddPort(kPort, &device);
    CFrameLink link(kPort, 115200, platform);
    ASSERT_EQ(link.Open(), LINK_OK);
    EXPECT_EQ(RunTransaction(link, CMD_SCALE, nullptr, 0), LINK_OK); // frame 1 answered
    EXPECT_EQ(RunTransaction(link, CMD_EDGE, nullptr, 0), LINK_OK);  // frame 2 lost, 3 answered
    EXPECT_EQ(device.Board().CommandCount(CMD_SCALE), 1u);
    EXPECT_EQ(device.Board().CommandCount(CMD_EDGE), 2u);
}

TEST(BoardBehindLink, RegisterWriteThenRead)
{
    SimPlatform platform;
    SimBoardDevice device;
    platform.AddPort(kPort, &device);
    CFrameLink link(kPort, 115200, platform);
    ASSERT_EQ(link.Open(), LINK_OK);
    const auto address = EncodeWord(0x0010);
    const auto content = EncodeWord(0x00FF);
    ASSERT_EQ(RunTransaction(link, CMD_REG_ADDRESS, address.data(), 2), LINK_OK);
    ASSERT_EQ(RunTransaction(link, CMD_REG_WRITE, content.data(), 2), LINK_OK);
    ASSERT_EQ(RunTransaction(link, CMD_REG_ADDRESS, address.data(), 2), LINK_OK);
    const QueryResult q = QueryRegister(link);
    EXPECT_EQ(q.result, LINK_OK);
    EXPECT_EQ(q.value, 0x00FFu);
    EXPECT_EQ(device.Board().Register(0x0010), 0x00FF);
}

TEST(BoardBehindLink, HangUpFailsTheLine)
{
    SimBoardOptions o;
    o.hangupAfter = 1;
    SimPlatform platform;
    SimBoardDevice device(o);
    platform.AddPort(kPort, &device);
    CFrameLink link(kPort, 115200, platform);
    ASSERT_EQ(link.Open(), LINK_OK);
    RunTransaction(link, CMD_INIT, nullptr, 0);
    EXPECT_TRUE(device.Board().HungUp());
    EXPECT_NE(QueryStatus(link).result, LINK_OK);
    EXPECT_EQ(device.Board().FramesReceived(), 1u);
}

} // namespace
} // namespace pelvar
