// The demo's simulated line in real time: the link's time rules hold on the
// machine's clock (with a tolerance for a loaded machine).
#include <gtest/gtest.h>

#include <chrono>

#include "camera/CameraController.h"
#include "camera/ControlIds.h"
#include "sim/RealTimeSimPlatform.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"

namespace pelvar {
namespace {

constexpr std::uint32_t kToleranceMs = 400;

double MillisecondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST(RealTimeSimPlatform, ClockAndSleepAreTheMachines)
{
    RealTimeSimPlatform line;
    const std::uint32_t before = line.TickCount();
    const double ms = MillisecondsOf([&] { line.Sleep(30); });
    EXPECT_GE(ms, 30.0);
    EXPECT_GE(line.TickCount() - before, 30u);
    EXPECT_LT(line.TickCount() - before, 30u + kToleranceMs);
}

TEST(RealTimeSimPlatform, ASilentReadLastsItsTimeOut)
{
    RealTimeSimPlatform line;
    line.AddPort(5);
    const PortHandle h = line.OpenPort(5);
    ASSERT_NE(h, kNoHandle);
    line.SetTimeouts(h, {50, 50, 50, 50, 50});
    std::uint8_t buf[9];
    std::uint32_t got = 99;
    const double ms = MillisecondsOf([&] { ASSERT_TRUE(line.Read(h, buf, 1, &got)); });
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 100.0); // 50 per byte + 50
    EXPECT_LT(ms, 100.0 + kToleranceMs);
}

// The panel's whole connect on the demo board: found, started, identified,
// in real time (the reply delay is waited for, not skipped).
TEST(RealTimeSimPlatform, TheCameraLogicConnectsToTheBoard)
{
    RealTimeSimPlatform line;
    SimBoardOptions options;
    options.delayMs = 40;
    SimBoardDevice board(options);
    line.AddPort(200, &board);
    test::FakeView view;
    view.ports = {"Simulated board (COM200)"};
    CameraController camera(view, line);
    const double ms = MillisecondsOf([&] { camera.OnConnect(); });
    ASSERT_TRUE(camera.IsConnected());
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "ARVEN-L");
    // Probe, init, status poll and blue gain: four replies of 40 ms each.
    EXPECT_GE(ms, 160.0);
    EXPECT_EQ(board.Board().CommandCount(CMD_INIT), 1u);
}

} // namespace
} // namespace pelvar
