#include <gtest/gtest.h>

#include <cstdio>

#include "camera/CameraController.h"
#include "camera/RegisterPlot.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"

namespace pelvar {
namespace {

constexpr const char* kMap = R"({"registers": [
  {"name": "CTRL", "address": "0x0012", "fields": [
    {"name": "MODE", "lsb": 4, "width": 2}, {"name": "EN", "lsb": 0, "width": 1}]},
  {"name": "IRQ", "address": "0x0020", "access": "wo"}
]})";

// The plot on a connected simulated board that answers 7 ms after each
// frame; the worker's part runs at once, and samples are asked for at
// exact times on the simulated clock.
class RegisterPlotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddPort(8, &board);
        view.ports.push_back("Board COM8 (COM8)");
        cam.OnConnect();
        ASSERT_TRUE(cam.IsConnected());
        auto map = std::make_shared<RegisterMap>();
        std::string error;
        ASSERT_TRUE(ParseRegisterMap(kMap, "test.json", map.get(), &error)) << error;
        plot.SetMap(map);
        ASSERT_EQ(cam.Board().WriteRegister(0x12, 0x0021), LINK_OK);
        base = sim.TickCount() + 1000;
    }

    // A sample asked for `ms` after the first.
    void SampleAt(std::uint32_t ms)
    {
        sim.SetNow(base + ms);
        plot.Sample();
    }

    SimPlatform sim;
    SimBoardDevice board{[] {
        SimBoardOptions o;
        o.delayMs = 7;
        return o;
    }()};
    test::FakeView view;
    CameraController cam{view, sim};
    std::uint32_t base = 0;
    int changes = 0;
    std::function<void()> later; // a sample's outcome held back, as a busy worker would
    bool holdBack = false;
    RegisterPlotModel plot{sim,
                           [this](RegisterBoardWork work, std::function<void()> done, std::string) {
                               work(cam.Board());
                               if (holdBack)
                                   later = done;
                               else
                                   done();
                           },
                           [this] { ++changes; }, 5};
};

TEST_F(RegisterPlotTest, ValuesAndGapsAtTheirTimesAndTheCsv)
{
    std::string error;
    ASSERT_TRUE(plot.AddSeries("CTRL", &error)) << error;
    ASSERT_TRUE(plot.AddSeries("CTRL.MODE", &error)) << error;
    plot.AddResponseTime();
    SampleAt(0);
    ASSERT_EQ(cam.Board().WriteRegister(0x12, 0x0030), LINK_OK);
    SampleAt(100);
    // The board gone: the reads fail and leave a gap, not the last value again.
    sim.FailRead(8, true);
    SampleAt(200);
    sim.FailRead(8, false);
    SampleAt(300);
    EXPECT_EQ(changes, 4);

    const PlotSeries& ctrl = plot.Series()[0];
    ASSERT_EQ(ctrl.Size(), 4u);
    EXPECT_EQ(ctrl.At(0).ms, 0u);
    EXPECT_EQ(ctrl.At(0).value, 0x21);
    EXPECT_EQ(ctrl.At(1).ms, 100u);
    EXPECT_EQ(ctrl.At(1).value, 0x30);
    EXPECT_EQ(ctrl.At(2).ms, 200u);
    EXPECT_TRUE(ctrl.At(2).gap);
    EXPECT_FALSE(ctrl.At(3).gap);
    // The gap breaks the line in two.
    auto segments = ctrl.Segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].size(), 2u);
    EXPECT_EQ(segments[1].size(), 1u);
    EXPECT_EQ(segments[1][0].ms, 300u);

    EXPECT_EQ(plot.Csv(), "ms,CTRL,CTRL.MODE,response ms\n"
                          "0,33,2,7\n"
                          "100,48,3,7\n"
                          "200,,,\n"
                          "300,48,3,7\n");
}

// The axes span the times of every kept point and the values of no gap: a
// gap first must not pull the value axis down to 0. The response times
// (7 ms) go on an axis of their own, not into the register's 0x21..0x30.
TEST_F(RegisterPlotTest, RangeSpansEveryTimeAndTheValuesOfNoGap)
{
    std::string error;
    plot.AddResponseTime();
    EXPECT_FALSE(plot.HasRightAxis());
    ASSERT_TRUE(plot.AddSeries("CTRL", &error)) << error;
    EXPECT_TRUE(plot.OnRightAxis(0));
    EXPECT_FALSE(plot.OnRightAxis(1));
    sim.FailRead(8, true);
    SampleAt(0);
    sim.FailRead(8, false);
    SampleAt(100);
    ASSERT_EQ(cam.Board().WriteRegister(0x12, 0x0030), LINK_OK);
    SampleAt(200);
    const PlotRange r = plot.Range();
    EXPECT_EQ(r.t0, 0u);
    EXPECT_EQ(r.t1, 200u);
    EXPECT_EQ(r.v0, 0x21);
    EXPECT_EQ(r.v1, 0x30);
    const PlotRange right = plot.RightRange();
    EXPECT_EQ(right.t0, 0u);
    EXPECT_EQ(right.t1, 200u);
    EXPECT_EQ(right.v0, 7);
    EXPECT_EQ(right.v1, 8);
}

// An hour of a sawtooth 0..9 drawn 100 pixels wide: each column of 360
// points keeps its first (0), its first highest (9) and its last (9); a gap
// still breaks the line, and the column after it starts at 1, so it keeps
// its highest (9) and then its lowest (0) as well.
TEST_F(RegisterPlotTest, SegmentsForAWidthKeepEachColumnsExtremes)
{
    PlotSeries s("x", 36000);
    for (std::uint32_t i = 0; i < 36000; ++i)
        s.Append({i * 100, i == 18000, static_cast<double>(i % 10)});
    const auto runs = s.Segments(0, 3599900, 100);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].size(), 150u);
    EXPECT_EQ(runs[1].size(), 151u);
    const auto is = [](const PlotPoint& p, std::uint32_t ms, double value) { return p.ms == ms && p.value == value; };
    EXPECT_TRUE(is(runs[0][0], 0, 0));
    EXPECT_TRUE(is(runs[0][1], 900, 9));
    EXPECT_TRUE(is(runs[0][2], 35900, 9));
    EXPECT_TRUE(is(runs[0][3], 36000, 0));
    EXPECT_TRUE(is(runs[0][149], 1799900, 9));
    EXPECT_TRUE(is(runs[1][0], 1800100, 1));
    EXPECT_TRUE(is(runs[1][1], 1800900, 9));
    EXPECT_TRUE(is(runs[1][2], 1801000, 0));
    EXPECT_TRUE(is(runs[1][3], 1835900, 9));
    EXPECT_EQ(s.Segments().size(), 2u);
    EXPECT_EQ(s.Segments()[0].size(), 18000u);
}

TEST_F(RegisterPlotTest, RingKeepsItsCapacityDroppingTheOldest)
{
    PlotSeries s("x", 36000);
    for (std::uint32_t i = 0; i < 40000; ++i)
        s.Append({i * 100, false, static_cast<double>(i)});
    EXPECT_EQ(s.Size(), 36000u);
    EXPECT_EQ(s.At(0).ms, 400000u);
    EXPECT_EQ(s.At(0).value, 4000);
    EXPECT_EQ(s.At(35999).value, 39999);

    // The model's series are rings of the capacity it was given (5 here).
    plot.AddResponseTime();
    for (std::uint32_t n = 0; n < 8; ++n)
        SampleAt(n * 100);
    ASSERT_EQ(plot.Series()[0].Size(), 5u);
    EXPECT_EQ(plot.Series()[0].At(0).ms, 300u);
}

TEST_F(RegisterPlotTest, PausedOrBusyTakesNoSample)
{
    std::string error;
    ASSERT_TRUE(plot.AddSeries("CTRL", &error));
    SampleAt(0);
    plot.SetPaused(true);
    SampleAt(100);
    SampleAt(200);
    EXPECT_EQ(plot.Series()[0].Size(), 1u);
    plot.SetPaused(false);
    // The worker still busy with a sample: the timer's next tick adds no work.
    holdBack = true;
    SampleAt(300);
    SampleAt(400);
    ASSERT_TRUE(later);
    later();
    ASSERT_EQ(plot.Series()[0].Size(), 2u);
    EXPECT_EQ(plot.Series()[0].At(1).ms, 300u);
}

TEST_F(RegisterPlotTest, SeriesRefusedWithAReason)
{
    struct Case {
        const char* name;
        const char* error;
    } cases[] = {
        {"NOPE", "'NOPE' is no register address and no name in test.json"},
        {"IRQ", "plot: register IRQ is write-only (wo in the map)"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(plot.AddSeries(c.name, &error)) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
    EXPECT_TRUE(plot.Series().empty());
}

TEST_F(RegisterPlotTest, CsvSavedToAFile)
{
    plot.AddResponseTime();
    SampleAt(0);
    const std::string path = ::testing::TempDir() + "plot-test.csv";
    std::string error;
    ASSERT_TRUE(plot.SaveCsv(path, &error)) << error;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char text[64] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_EQ(std::string(text, n), "ms,response ms\n0,7\n");
}

} // namespace
} // namespace pelvar
