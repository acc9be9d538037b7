// When a timed read ends, on the simulated clock, exactly: the total limit,
// the interval limit from the last byte, zero limits as the Windows driver
// reads them, and a tick counter that wraps during the read.
#include <cerrno>
#include <gtest/gtest.h>
#include <vector>

#include "platform/SimPlatform.h"

namespace pelvar {
namespace {

constexpr int kPort = 4;
constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

struct DeadlineRow {
    const char* name;
    Timeouts timeouts;
    std::uint32_t start;               // tick count when the read begins
    std::vector<std::uint32_t> arrive; // one byte each, ms after the start
    std::uint32_t length;
    std::uint32_t got;
    std::uint32_t lasted; // ms
};

void PrintTo(const DeadlineRow& r, std::ostream* os) { *os << r.name; }

class ReadDeadlineRows : public ::testing::TestWithParam<DeadlineRow> {};

TEST_P(ReadDeadlineRows, EndAsTheRuleSays)
{
    const DeadlineRow& r = GetParam();
    SimPlatform sim;
    sim.AddPort(kPort);
    sim.SetNow(r.start);
    const PortHandle h = sim.OpenPort(kPort);
    ASSERT_NE(h, kNoHandle);
    ASSERT_TRUE(sim.SetTimeouts(h, r.timeouts));
    for (std::size_t i = 0; i < r.arrive.size(); ++i)
        sim.Deliver(kPort, r.start + r.arrive[i], {static_cast<std::uint8_t>(0x10 + i)});

    std::vector<std::uint8_t> buf(r.length);
    std::uint32_t got = 0;
    ASSERT_TRUE(sim.Read(h, buf.data(), r.length, &got));
    EXPECT_EQ(got, r.got);
    EXPECT_EQ(sim.Now() - r.start, r.lasted);
    for (std::uint32_t i = 0; i < got; ++i)
        EXPECT_EQ(buf[i], 0x10 + i);
}

const Timeouts kBoard{50, 50, 50, 50, 50};

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadDeadlineRows,
    ::testing::Values(
        DeadlineRow{"SilentLineEndsAtTheTotal", kBoard, 1000, {}, 9, 0, 500},
        DeadlineRow{"ByteAtTheTotalStillCounts", kBoard, 1000, {300, 340, 380, 420, 460, 500, 540}, 9, 6, 500},
        DeadlineRow{"AllBytesEndTheReadAtOnce", kBoard, 1000, {5, 10, 15}, 3, 3, 15},
        DeadlineRow{"SixAtOnceThenTheInterval", kBoard, 1000, {0, 0, 0, 0, 0, 0}, 9, 6, 50},
        DeadlineRow{"IntervalRestartsOnEachByte", kBoard, 1000, {0, 40, 80, 120, 200}, 9, 4, 170},
        DeadlineRow{"ByteAtTheIntervalStillCounts", kBoard, 1000, {10, 60, 111}, 9, 2, 110},
        DeadlineRow{"ZeroIntervalSetsNoIntervalLimit", {0, 50, 50}, 1000, {0, 100, 200, 600}, 9, 3, 500},
        DeadlineRow{"ZeroTotalSetsNoTotalLimit", {50, 0, 0}, 1000, {700, 740, 800}, 3, 2, 790},
        DeadlineRow{"NoLimitsWaitForEveryByte", {0, 0, 0}, 1000, {1000, 90000}, 2, 2, 90000},
        DeadlineRow{"LargestIntervalAloneReturnsAtOnce", {kMaxDword, 0, 0}, 1000, {0, 0, 10}, 3, 2, 0},
        DeadlineRow{"MultiplierTimesLengthBeyond32Bits", {0, 0x20000000, 0}, 1000, {}, 8, 0, 0xFFFFFFFEu},
        // The tick counter passes 0xFFFFFFFF between the two bytes.
        DeadlineRow{"IntervalAcrossTheWrap", kBoard, 0xFFFFFFF0u, {10, 30}, 9, 2, 80},
        DeadlineRow{"TotalAcrossTheWrap", kBoard, 0xFFFFFF00u, {}, 9, 0, 500},
        DeadlineRow{"TotalBeyondHalfTheCounterAcrossTheWrap", {0, 0, 3000000000u}, 0xFFFFFF00u, {}, 1, 0, 3000000000u}),
    [](const ::testing::TestParamInfo<DeadlineRow>& info) { return std::string(info.param.name); });

// A real port would wait for ever; the simulation says so instead of hanging.
TEST(ReadDeadline, SimulatedReadWithoutLimitsAndNothingComingFails)
{
    SimPlatform sim;
    sim.AddPort(kPort);
    const PortHandle h = sim.OpenPort(kPort);
    ASSERT_TRUE(sim.SetTimeouts(h, {0, 0, 0, 0, 0}));
    std::uint8_t b = 0;
    std::uint32_t got = 0;
    EXPECT_FALSE(sim.Read(h, &b, 1, &got));
    EXPECT_EQ(sim.LastError(), EDEADLK);
}

} // namespace
} // namespace pelvar
