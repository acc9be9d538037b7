// Unplugging: the board hangs up in the middle of each kind of exchange. The
// link must fail within its time bounds, Disconnect must still release
// everything, and a later Connect must work once the board is back.
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include "camera/CameraController.h"
#include "camera/ControlIds.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/PtyBoard.h"
#include "tests/support/FakeView.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/Timing.h"
#include "tests/e2e/Process.h"

namespace pelvar::e2e {
namespace {

using test::Clock;
using test::MsSince;
constexpr int kPort = 210;

class Unplug : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.emplace("PELVAR_PORTS_DIR", dir.Path());
        view.ports = {"Simulated board (COM210)"};
        fdsBefore = OpenFdCount();
    }
    void TearDown() override
    {
        camera.reset();
        if (board)
            board->Stop();
        board.reset();
        EXPECT_EQ(OpenFdCount(), fdsBefore) << "a descriptor was lost";
    }

    void PlugIn(std::uint32_t hangupAfter)
    {
        if (board)
            board->Stop();
        PtyBoardOptions options;
        options.port = kPort;
        options.portsDir = dir.Path();
        options.board.hangupAfter = hangupAfter;
        board = std::make_unique<PtyBoard>(options);
        ASSERT_EQ(board->Start(), 0) << board->ErrorText();
    }

    void ConnectAndCheck()
    {
        camera->OnConnect();
        ASSERT_TRUE(camera->IsConnected());
        EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "ARVEN-L");
    }

    // Disconnect releases the port whatever the line did; then the board is
    // back and a new Connect works.
    void DisconnectAndReconnect()
    {
        camera->OnDisconnect();
        EXPECT_FALSE(camera->IsConnected());
        EXPECT_EQ(view.LastState(), std::make_pair(true, false));
        PlugIn(0);
        ConnectAndCheck();
        camera->OnDisconnect();
        EXPECT_FALSE(camera->IsConnected());
    }

    PortsDir dir;
    std::optional<test::ScopedEnv> env;
    test::FakeView view;
    PosixPlatform posix;
    std::unique_ptr<CameraController> camera = std::make_unique<CameraController>(view, posix);
    std::unique_ptr<PtyBoard> board;
    int fdsBefore = 0;
};

// Connect takes four frames: probe, init, status poll, blue gain.
constexpr std::uint32_t kConnectFrames = 4;

TEST_F(Unplug, InTheMiddleOfATransaction)
{
    PlugIn(kConnectFrames);
    ConnectAndCheck();
    auto start = Clock::now();
    camera->OnFunctionButton(IDC_EDGE);
    EXPECT_NE(camera->LastResult(), LINK_OK);
    EXPECT_LT(MsSince(start), 3200) << "six attempts at most";
    DisconnectAndReconnect();
}

TEST_F(Unplug, InTheMiddleOfARegisterRead)
{
    PlugIn(kConnectFrames + 1); // the address is latched, then the line drops
    ConnectAndCheck();
    view.texts[IDC_REG_ADDRESS] = "10";
    view.texts[IDC_REG_CONTENT] = "junk";
    auto start = Clock::now();
    camera->OnRegisterRead();
    EXPECT_EQ(view.texts[IDC_REG_CONTENT], "") << "a failed read shows no value";
    EXPECT_LT(MsSince(start), 1200) << "one send and one reply window";
    DisconnectAndReconnect();
}

TEST_F(Unplug, InTheMiddleOfTheStartUpPoll)
{
    PlugIn(2); // probe and init answered; the poll meets a dead line
    auto start = Clock::now();
    camera->OnConnect();
    EXPECT_NE(camera->LineLostError(), 0);
    EXPECT_FALSE(camera->StartTimedOut());
    EXPECT_FALSE(camera->IsConnected());
    EXPECT_EQ(view.LastState(), std::make_pair(true, false));
    EXPECT_LT(MsSince(start), 1500) << "the gone device ends the poll, not its 10 s bound";
    PlugIn(0);
    ConnectAndCheck();
    camera->OnDisconnect();
}

TEST_F(Unplug, InTheMiddleOfASliderDrag)
{
    PlugIn(kConnectFrames + 3);
    ConnectAndCheck();
    auto start = Clock::now();
    for (int position = 100; position < 120; ++position)
        camera->OnHScroll(IDC_RED, position);
    EXPECT_EQ(view.texts[IDC_RED_VALUE], "119");
    EXPECT_EQ(view.cursorDepth, 0);
    EXPECT_LT(MsSince(start), 17 * 3200) << "each notification within one transaction's bound";
    DisconnectAndReconnect();
}

} // namespace
} // namespace pelvar::e2e
