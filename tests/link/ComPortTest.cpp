#include <cerrno>
#include <gtest/gtest.h>

#include "link/ComPort.h"
#include "link/ResultCodes.h"
#include "tests/support/ScriptedDevice.h"

namespace pelvar {
namespace {

using test::Bytes;

struct SettingsRow {
    const char* name;
    std::int32_t port, baud, byteSize, parity, stopBits;
    std::int32_t expected;
    bool openAfter;
    int openCalls; // 0: validation refused it before any device was touched
};

class ComPortSettings : public ::testing::TestWithParam<SettingsRow> {};

TEST_P(ComPortSettings, ValidatesBeforeTouchingTheDevice)
{
    const SettingsRow& row = GetParam();
    SimPlatform sim;
    for (int p : {1, 99, 100, 255, 256})
        sim.AddPort(p);
    CComPort port(sim);
    port.m_nPort = row.port;
    port.m_nBaud = row.baud;
    port.m_nByteSize = row.byteSize;
    port.m_nParity = row.parity;
    port.m_nStopBits = row.stopBits;

    EXPECT_EQ(port.Open(), row.expected);
    EXPECT_EQ(port.m_bOpen, row.openAfter ? 1 : 0);
    int calls = 0;
    for (int p : {1, 99, 100, 255, 256})
        calls += sim.OpenCalls(p);
    EXPECT_EQ(calls, row.openCalls);
}

INSTANTIATE_TEST_SUITE_P(Table, ComPortSettings,
                         ::testing::Values(SettingsRow{"port0", 0, 115200, 8, 0, 0, PORT_ERR_CONFIG, false, 0},
                                           SettingsRow{"port256", 256, 115200, 8, 0, 0, PORT_ERR_CONFIG, false, 0},
                                           SettingsRow{"port1", 1, 115200, 8, 0, 0, LINK_OK, true, 1},
                                           SettingsRow{"port99", 99, 115200, 8, 0, 0, LINK_OK, true, 1},
                                           SettingsRow{"port100", 100, 115200, 8, 0, 0, LINK_OK, true, 1},
                                           SettingsRow{"port255", 255, 115200, 8, 0, 0, LINK_OK, true, 1},
                                           SettingsRow{"baud1", 1, 1, 8, 0, 0, PORT_ERR_CONFIG, false, 0},
                                           SettingsRow{"baud2", 1, 2, 8, 0, 0, LINK_OK, true, 1},
                                           SettingsRow{"bits4", 1, 115200, 4, 0, 0, PORT_ERR_CONFIG, false, 0},
                                           SettingsRow{"bits10", 1, 115200, 10, 0, 0, PORT_ERR_CONFIG, false, 0},
                                           SettingsRow{"bits5", 1, 115200, 5, 0, 0, LINK_OK, true, 1},
                                           SettingsRow{"bits7", 1, 115200, 7, 2, 2, LINK_OK, true, 1},
                                           // The device refuses 9 data bits: open, but not configured.
                                           SettingsRow{"bits9", 1, 115200, 9, 0, 0, PORT_ERR_CONFIG, true, 1},
                                           SettingsRow{"stop15", 1, 115200, 8, 0, 1, PORT_ERR_CONFIG, true, 1},
                                           SettingsRow{"parity3", 1, 115200, 8, 3, 0, PORT_ERR_CONFIG, false, 0},
                                           SettingsRow{"parity4", 1, 115200, 8, 4, 0, PORT_ERR_CONFIG, false, 0},
                                           SettingsRow{"parityNegative", 1, 115200, 8, -1, 0, PORT_ERR_CONFIG, false,
                                                       0},
                                           SettingsRow{"stop3", 1, 115200, 8, 0, 3, PORT_ERR_CONFIG, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddPort(3, &device);
        port.m_nPort = 3;
        port.m_nByteSize = 8;
    }

    SimPlatform sim;
    test::ScriptedDevice device;
    CComPort port{sim};
};

TEST_F(ComPortTest, OpenAppliesLineSettingsTimeoutsAndRaisesRts)
{
    ASSERT_EQ(port.Open(), LINK_OK);
    EXPECT_EQ(sim.Settings(3).baud, 115200);
    EXPECT_EQ(sim.Settings(3).byteSize, 8);
    Timeouts t = sim.AppliedTimeouts(3);
    for (std::uint32_t v : {t.readInterval, t.readMultiplier, t.readConstant, t.writeMultiplier, t.writeConstant})
        EXPECT_EQ(v, 50u);
    EXPECT_TRUE(sim.Rts(3));
}

TEST_F(ComPortTest, DeviceHeldElsewhereGivesConfigAndStaysClosed)
{
    sim.FailOpen(3, EBUSY);
    EXPECT_EQ(port.Open(), PORT_ERR_CONFIG);
    EXPECT_EQ(port.m_bOpen, 0);
    EXPECT_EQ(port.LastError(), EBUSY);
}

TEST_F(ComPortTest, DestroyingAPortOpenedWithoutSettingsReleasesIt)
{
    sim.FailSettings(3, true);
    {
        CComPort p(sim);
        p.m_nPort = 3;
        p.m_nByteSize = 8;
        EXPECT_EQ(p.Open(), PORT_ERR_CONFIG);
        EXPECT_EQ(p.m_bOpen, 1);
        EXPECT_TRUE(sim.IsOpen(3));
    }
    EXPECT_FALSE(sim.IsOpen(3));
}

TEST_F(ComPortTest, ReadTimedRefusesBadArguments)
{
    ASSERT_EQ(port.Open(), LINK_OK);
    std::uint8_t buf[4];
    std::uint32_t got = 77;
    EXPECT_EQ(port.ReadTimed(nullptr, 4, &got), PORT_ERR_BAD_ARG);
    EXPECT_EQ(port.ReadTimed(buf, 0, &got), PORT_ERR_BAD_ARG);
    EXPECT_EQ(port.ReadTimed(buf, 4, nullptr), PORT_ERR_BAD_ARG);
    EXPECT_EQ(got, 77u);
    EXPECT_EQ(sim.ReadCalls(3), 0u);
    EXPECT_EQ(sim.Now(), 0u);
}

struct ReadRow {
    const char* name;
    std::vector<std::pair<std::uint32_t, Bytes>> arrivals; // at time, bytes
    std::int32_t expected;
    std::uint32_t count;
    std::vector<std::uint32_t> platformReads; // durations in ms
};

class ComPortReads : public ::testing::TestWithParam<ReadRow> {};

TEST_P(ComPortReads, FollowTheIntervalAndTotalTimeouts)
{
    const ReadRow& row = GetParam();
    SimPlatform sim;
    sim.AddPort(3);
    CComPort port(sim);
    port.m_nPort = 3;
    port.m_nByteSize = 8;
    ASSERT_EQ(port.Open(), LINK_OK);
    for (const auto& [at, bytes] : row.arrivals)
        sim.Deliver(3, at, bytes);

    std::uint8_t buf[9] = {};
    std::uint32_t got = 99;
    EXPECT_EQ(port.ReadTimed(buf, 9, &got), row.expected);
    EXPECT_EQ(got, row.count);
    EXPECT_EQ(sim.ReadDurations(3), row.platformReads);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ComPortReads,
    ::testing::Values(ReadRow{"nothingArrives", {}, PORT_ERR_READ_TIMEOUT, 0, {500}},
                      ReadRow{"sixOfNineAtOnce", {{0, Bytes(6, 0x41)}}, PORT_ERR_READ_TIMEOUT, 6, {50, 200}},
                      ReadRow{"allWithin100ms", {{10, Bytes(4, 1)}, {40, Bytes(5, 2)}}, LINK_OK, 9, {40}},
                      ReadRow{"gapOfExactly50IsStillOneRead", {{0, Bytes(5, 1)}, {50, Bytes(4, 2)}}, LINK_OK, 9, {50}},
                      ReadRow{"allButLate",
                              {{0, Bytes(1, 1)}, {45, Bytes(1, 2)}, {90, Bytes(1, 3)}, {130, Bytes(6, 4)}},
                              PORT_ERR_READ_TIMEOUT,
                              9,
                              {130}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ComPortTest, FailingReadsRetryUntilTheLimitAndKeepTheResult)
{
    ASSERT_EQ(port.Open(), LINK_OK);
    sim.FailRead(3, true);
    std::uint8_t buf[4];
    std::uint32_t got = 5;
    EXPECT_EQ(port.ReadTimed(buf, 4, &got), PORT_ERR_READ_TIMEOUT);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port.LastError(), EIO);
    EXPECT_GT(sim.Now(), 100u);
}

TEST_F(ComPortTest, WriteReportsTheCountOrFails)
{
    ASSERT_EQ(port.Open(), LINK_OK);
    const std::uint8_t frame[] = {2, 2, 0, 0, 3};
    std::uint32_t written = 0;
    EXPECT_EQ(port.Write(frame, 5, &written), LINK_OK);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(port.Write(nullptr, 5, &written), PORT_ERR_WRITE);
    EXPECT_EQ(port.Write(frame, 0, &written), PORT_ERR_WRITE);
    sim.FailWrite(3, true);
    EXPECT_EQ(port.Write(frame, 5, &written), PORT_ERR_WRITE);
    EXPECT_EQ(sim.WrittenBytes(3), Bytes(frame, frame + 5));
}

TEST_F(ComPortTest, CloseReleasesTheDevice)
{
    ASSERT_EQ(port.Open(), LINK_OK);
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(port.m_bOpen, 0);
    EXPECT_EQ(port.m_hCom, kNoHandle);
    EXPECT_FALSE(sim.IsOpen(3));
    EXPECT_FALSE(port.Close());
}

} // namespace
} // namespace pelvar
