// RTS falls at the later of the hold time and the drain of the output, both
// counted from the write's return; what lowering it takes beyond that is
// late. Simulated clock with an adapter latency.
#include <gtest/gtest.h>

#include "link/FrameLink.h"
#include "platform/SimPlatform.h"

namespace pelvar {
namespace {

constexpr int kPort = 4;

struct DrainRow {
    const char* name;
    std::int32_t baud;
    std::uint32_t payloadLength;
    std::uint32_t drainMs;
    std::uint32_t rtsFallsAfterMs;
    std::uint32_t releaseMs = 0; // lowering RTS takes this long (the host's scheduling)
    std::uint32_t lateMs = 0;    // what the link counts as late
};

class RtsDrain : public ::testing::TestWithParam<DrainRow> {};

TEST_P(RtsDrain, RtsFallsAtTheLaterOfHoldAndDrain)
{
    const DrainRow& row = GetParam();
    SimPlatform sim;
    sim.AddPort(kPort);
    sim.SetDrainDelay(kPort, row.drainMs);
    sim.SetRtsRelease(kPort, row.releaseMs);
    CFrameLink link(kPort, row.baud, sim);
    ASSERT_EQ(link.Open(), LINK_OK);
    const std::uint8_t payload[4] = {0xC8, 0, 0, 0};
    sim.SetNow(1000);
    ASSERT_EQ(link.SendFrame(0x91, row.payloadLength ? payload : nullptr, row.payloadLength), LINK_OK);
    ASSERT_EQ(sim.Writes(kPort).size(), 1u);
    EXPECT_TRUE(sim.Writes(kPort)[0].rtsRaised);
    EXPECT_FALSE(sim.Rts(kPort));
    EXPECT_EQ(sim.Now() - sim.Writes(kPort)[0].time, row.rtsFallsAfterMs);
    EXPECT_EQ(link.LastRtsLateMs(), row.lateMs) << "a drain beyond the hold is no lateness";
}

INSTANTIATE_TEST_SUITE_P(Table, RtsDrain,
                         ::testing::Values(DrainRow{"fastUart", 115200, 4, 0, 2}, // hold 2 ms
                                           DrainRow{"drainWithinHold", 115200, 4, 1, 2},
                                           DrainRow{"usbLatencyBeyondHold", 115200, 4, 5, 5},
                                           DrainRow{"slowLineHold", 9600, 4, 3, 12}, // 9 bytes at 9600: hold 12 ms
                                           DrainRow{"slowLineLatency", 9600, 0, 20, 20},
                                           DrainRow{"slowRelease", 115200, 4, 0, 7, 5, 5},
                                           DrainRow{"slowReleaseAfterDrain", 115200, 4, 5, 8, 3, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pelvar
