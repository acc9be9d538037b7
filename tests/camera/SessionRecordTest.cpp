// Session recording on the worker, without its thread and on the simulated
// clock: the lines are the operations that went to the board, slider sweeps
// as the positions actually sent, pauses as exact sleep lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "camera/CameraWorker.h"
#include "camera/ControlIds.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"

namespace pelvar {
namespace {

using test::FakeView;

std::vector<std::string> Lines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class SessionRecordTest : public ::testing::Test {
protected:
    SessionRecordTest()
    {
        sim.AddPort(5, &board);
        path = (std::filesystem::temp_directory_path() / ("pelvar-record-" + std::to_string(::getpid()) + ".txt"))
                   .string();
    }
    ~SessionRecordTest() override { std::filesystem::remove(path); }

    void Run()
    {
        worker.RunQueued();
        worker.DrainUi();
    }

    void Connect()
    {
        worker.Connect();
        Run();
        ASSERT_TRUE(worker.Camera().IsConnected());
    }

    void Record(bool pauses)
    {
        std::string error;
        ASSERT_TRUE(worker.Recorder().Start(path, pauses, &error)) << error;
    }

    SimPlatform sim;
    SimBoardDevice board;
    FakeView view;
    CameraWorker worker{view,    sim,   [] { return std::vector<PortListing>{{"Board (COM5)", {}}}; },
                        nullptr, [] {}, CameraWorkerOptions{false}};
    std::string path;
};

TEST_F(SessionRecordTest, EachOperationSentBecomesOneScriptLine)
{
    Connect();
    Record(false);
    // Three positions while the worker is busy: only the latest is sent.
    worker.Slider(IDC_BRIGHTNESS, 10);
    worker.Slider(IDC_BRIGHTNESS, 20);
    worker.Slider(IDC_BRIGHTNESS, 200);
    worker.Button(IDC_EDGE);
    view.texts[IDC_REG_ADDRESS] = "10";
    view.texts[IDC_REG_CONTENT] = "0xBEEF";
    worker.RegisterWrite();
    worker.RegisterRead();
    worker.Disconnect();
    Run();
    // Without a link nothing is sent, so nothing is recorded.
    worker.Slider(IDC_RED, 3);
    worker.Button(IDC_GAMMA);
    Run();
    worker.Recorder().Stop();

    const std::vector<std::string> expected = {
        "# pelvar session: replay with pelvarctl run FILE",
        "set brightness 200",
        "press edge",
        "reg write 0x0010 0xbeef",
        "reg read 0x0010",
        "disconnect",
    };
    EXPECT_EQ(Lines(path), expected);
    EXPECT_EQ(board.Board().CommandCount(CMD_BRIGHTNESS), 1u);
}

TEST_F(SessionRecordTest, PausesBetweenOperationsBecomeSleepLines)
{
    Connect();
    Record(true);
    worker.Button(IDC_EDGE);
    Run();
    sim.Advance(250);
    worker.Button(IDC_GAMMA);
    Run();
    worker.Button(IDC_SCALE); // at once: no sleep line
    Run();
    worker.Recorder().Stop();
    const std::vector<std::string> expected = {"# pelvar session: replay with pelvarctl run FILE", "press edge",
                                               "sleep 250", "press gamma", "press scale"};
    EXPECT_EQ(Lines(path), expected);
}

TEST_F(SessionRecordTest, APresetSendsEachAdjustmentOnceAndIsRecordedAsFiveSets)
{
    Connect();
    Record(false);
    Adjustments preset;
    preset.brightness = 200;
    preset.blue = 120;
    worker.SetAdjustments(preset);
    EXPECT_EQ(view.texts[IDC_BRIGHTNESS_VALUE], "200"); // shown at once
    Run();
    worker.Recorder().Stop();
    const std::vector<std::string> expected = {"# pelvar session: replay with pelvarctl run FILE",
                                               "set brightness 200",
                                               "set contrast 128",
                                               "set red 128",
                                               "set green 128",
                                               "set blue 120"};
    EXPECT_EQ(Lines(path), expected);
    for (std::uint8_t cmd : {CMD_BRIGHTNESS, CMD_CONTRAST, CMD_GAIN_RED, CMD_GAIN_GREEN})
        EXPECT_EQ(board.Board().CommandCount(cmd), 1u) << int(cmd);
    EXPECT_EQ(board.Board().Adjust().blue, 120);
    EXPECT_EQ(worker.Camera().m_adjust.brightness, 200);
}

TEST_F(SessionRecordTest, ARecordingThatCannotBeCreatedSaysWhy)
{
    std::string error;
    EXPECT_FALSE(worker.Recorder().Start("/nonexistent-dir/session.txt", false, &error));
    EXPECT_NE(error.find("/nonexistent-dir/session.txt"), std::string::npos);
    EXPECT_FALSE(worker.Recorder().Recording());
}

} // namespace
} // namespace pelvar
