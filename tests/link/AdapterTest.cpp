// A USB adapter in front of the line: the low-latency request on open and
// its undoing on close, what its latency timer costs a status query, and the
// driver's RS-485 mode. Simulated clock.
#include <cerrno>

#include <gtest/gtest.h>

#include "link/FrameLink.h"
#include "platform/SimPlatform.h"

namespace pelvar {
namespace {

constexpr int kPort = 33;
constexpr std::uint8_t kStatusQuery = 0x00;

// Answers every write at once with the status frame 02 03 00 01 00 03 (checksum 0x00).
class StatusBoard : public ISimDevice {
public:
    void OnHostBytes(SimLine& line, const std::uint8_t*, std::size_t) override
    {
        line.Send(0, {0x02, 0x03, 0x00, 0x01, 0x00, 0x03});
    }
};

struct LatencyRow {
    const char* name;
    bool adapter;
    int refusal;              // the driver's answer to the low-latency request
    bool lowLatencyWhileOpen; // in effect between open and close
    std::uint32_t roundTripMs;
};

class AdapterLatency : public ::testing::TestWithParam<LatencyRow> {};

TEST_P(AdapterLatency, LowLatencyIsAskedOnOpenAndPutBackOnClose)
{
    const LatencyRow& row = GetParam();
    SimPlatform sim;
    StatusBoard board;
    sim.AddPort(kPort, &board);
    if (row.adapter) {
        SimAdapter adapter;
        adapter.lowLatencyRefusal = row.refusal;
        sim.SetAdapter(kPort, adapter);
    }
    CFrameLink link(kPort, 115200, sim);
    // A refusal is silent: the port opens and works as before.
    ASSERT_EQ(link.Open(), LINK_OK);
    EXPECT_EQ(sim.LowLatencyRequests(kPort), 1);
    EXPECT_EQ(sim.LowLatency(kPort), row.lowLatencyWhileOpen);

    // On a timer tick, so that a 16 ms timer costs all of its 16 ms.
    sim.SetNow(1024);
    ASSERT_EQ(link.SendFrame(kStatusQuery, nullptr, 0), LINK_OK);
    std::uint8_t frame[8] = {};
    std::uint32_t length = 0;
    ASSERT_EQ(link.ReceiveFrame(frame, 1, &length), LINK_OK);
    EXPECT_EQ(sim.Now() - 1024, row.roundTripMs);

    link.Close();
    EXPECT_FALSE(sim.LowLatency(kPort));
}

INSTANTIATE_TEST_SUITE_P(Table, AdapterLatency,
                         ::testing::Values(
                             // Reply released at the 1 ms tick, within the 2 ms RTS hold.
                             LatencyRow{"granted", true, 0, true, 2},
                             // Held for the whole 16 ms timer.
                             LatencyRow{"refusedPermission", true, EPERM, false, 16},
                             LatencyRow{"refusedByDriver", true, ENOTTY, false, 16},
                             // No adapter (a pseudo-terminal): refused, nothing held.
                             LatencyRow{"noAdapter", false, 0, false, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AdapterRs485, OffByDefault)
{
    SimPlatform sim;
    sim.AddPort(kPort);
    sim.SetAdapter(kPort, SimAdapter{});
    CFrameLink link(kPort, 115200, sim);
    ASSERT_EQ(link.Open(), LINK_OK);
    EXPECT_FALSE(sim.Rs485(kPort));
}

TEST(AdapterRs485, TheDriverDrivesRtsWithTheHoldAfterTheFrame)
{
    SimPlatform sim;
    sim.AddPort(kPort);
    sim.SetAdapter(kPort, SimAdapter{});
    CFrameLink link(kPort, 115200, sim);
    link.SetRs485(true);
    ASSERT_EQ(link.Open(), LINK_OK);
    ASSERT_TRUE(sim.Rs485(kPort));
    EXPECT_EQ(sim.Rs485Applied(kPort).delayBeforeSendMs, 0u);
    EXPECT_EQ(sim.Rs485Applied(kPort).delayAfterSendMs, 2u);

    const int rtsChangesAfterOpen = sim.RtsChanges(kPort);
    sim.SetNow(1000);
    const std::uint8_t payload[4] = {0xC8, 0, 0, 0};
    ASSERT_EQ(link.SendFrame(0x91, payload, 4), LINK_OK);
    ASSERT_EQ(sim.Writes(kPort).size(), 1u);
    EXPECT_TRUE(sim.Writes(kPort)[0].rtsRaised);
    // The host neither raises nor lowers RTS, nor waits out a hold.
    EXPECT_EQ(sim.RtsChanges(kPort), rtsChangesAfterOpen);
    EXPECT_EQ(sim.Now(), 1000u);
}

TEST(AdapterRs485, ADriverWithoutItLeavesThePortUnused)
{
    SimPlatform sim;
    sim.AddPort(kPort);
    SimAdapter adapter;
    adapter.rs485Refusal = ENOTTY;
    sim.SetAdapter(kPort, adapter);
    CFrameLink link(kPort, 115200, sim);
    link.SetRs485(true);
    EXPECT_EQ(link.Open(), PORT_ERR_RS485);
    EXPECT_EQ(link.Port()->LastError(), ENOTTY);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(sim.IsOpen(kPort));
    EXPECT_EQ(link.SendFrame(0x91, nullptr, 0), LINK_ERR_NOT_OPEN);
    EXPECT_TRUE(sim.Writes(kPort).empty());
}

} // namespace
} // namespace pelvar
