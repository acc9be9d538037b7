// pelvarctl monitor on a pseudo-terminal that stands for a receive-only
// adapter: the far end replays the bytes of recorded sessions, with noise,
// a frame split across reads and a request left unanswered, and the monitor
// prints what the line carried until Ctrl-C.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

#include "tests/e2e/Process.h"
#include "tests/support/Pty.h"

namespace pelvar::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_symlink(pty.SlavePath(), dir.Path() + "/COM210"); }

    // The monitor has put the line into raw mode: bytes written now reach
    // it unchanged (a cooked pseudo-terminal would echo and buffer them).
    bool WaitUntilListening()
    {
        for (int i = 0; i < 500; ++i) {
            termios t{};
            if (tcgetattr(pty.Slave(), &t) == 0 && (t.c_lflag & ICANON) == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Writes, then waits until the monitor has read everything, so the next
    // write arrives in a read of its own.
    void Send(const Bytes& bytes)
    {
        ASSERT_EQ(write(pty.Master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        for (int i = 0; i < 1000; ++i) {
            int pending = 0;
            if (ioctl(pty.Slave(), FIONREAD, &pending) == 0 && pending == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        FAIL() << "the monitor did not read";
    }

    test::PseudoTerminal pty;
    PortsDir dir;
};

// The command, meaning and result columns of a decoded line, and its frames.
std::string Columns(const std::string& line) { return line.size() > 81 ? line.substr(12, 69) : line; }
std::string Frames(const std::string& line)
{
    const std::size_t at = line.find(" ms  ", 12);
    return at == std::string::npos ? std::string() : line.substr(at + 5);
}

TEST_F(MonitorTest, RecordedSessionWithNoiseAndASplitFrameReadsAsThePanelsLog)
{
    Background monitor({PELVARCTL_PATH, "--port", "210", "monitor"}, {dir.Env()});
    ASSERT_TRUE(WaitUntilListening());
    // A connect as the panel makes it, the board answering.
    Send({0x02, 0x02, 0x00, 0x00, 0x03, 0x02, 0x03, 0x00, 0x00, 0x01, 0x03});
    Send({0x02, 0x02, 0x70, 0x70, 0x03});
    Send({0x02, 0x03, 0x70, 0x06, 0x77, 0x03});
    Send({0x02, 0x02, 0x00, 0x00, 0x03, 0x02, 0x03, 0x00, 0x11, 0x10, 0x03});
    // Line noise, then a brightness frame split across two reads.
    Send({0xFF, 0x00, 0xFF});
    Send({0x02, 0x06, 0x91, 0xC8});
    Send({0x00, 0x00, 0x00, 0x5D, 0x03});
    Send({0x02, 0x06, 0x91, 0x06, 0x00, 0x00, 0x00, 0x93, 0x03});
    // A reply with a wrong checksum, then a request nobody answers.
    Send({0x02, 0x02, 0x00, 0x00, 0x03, 0x02, 0x03, 0x00, 0x11, 0x11, 0x03});
    Send({0x02, 0x02, 0xF0, 0xF0, 0x03});

    std::vector<std::string> lines;
    for (int i = 0; i < 6; ++i)
        lines.push_back(monitor.FirstLine());
    int status = -1;
    const std::string rest = monitor.Stop(&status, SIGINT);
    EXPECT_EQ(status, 0) << rest;
    lines.push_back(rest.substr(0, rest.find('\n')));

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"status        status 0x00: not started        LINK_OK                ",
         "> 02 02 00 00 03  < 02 03 00 00 01 03"},
        {"init          init                            LINK_OK                ",
         "> 02 02 70 70 03  < 02 03 70 06 77 03"},
        {"status        status 0x11: active, ARVEN-L    LINK_OK                ",
         "> 02 02 00 00 03  < 02 03 00 11 10 03"},
        {"", "FF 00 FF"},
        {"brightness    brightness 200                  LINK_OK                ",
         "> 02 06 91 C8 00 00 00 5D 03  < 02 06 91 06 00 00 00 93 03"},
        {"status        status                          LINK_ERR_CHECKSUM      ",
         "> 02 02 00 00 03  < 02 03 00 11 11 03"},
        {"release       release                         LINK_ERR_NO_REPLY      ", "> 02 02 F0 F0 03"},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (expected[i].first.empty()) {
            EXPECT_NE(lines[i].find(" ms  garbage        FF 00 FF"), std::string::npos) << lines[i];
            continue;
        }
        EXPECT_EQ(Columns(lines[i]), expected[i].first) << lines[i];
        EXPECT_EQ(Frames(lines[i]), expected[i].second) << lines[i];
    }
}

TEST_F(MonitorTest, JsonGivesOneObjectPerExchangeAndAPartialFrameIsShownAsSuch)
{
    Background monitor({PELVARCTL_PATH, "--port", "210", "--json", "monitor"}, {dir.Env()});
    ASSERT_TRUE(WaitUntilListening());
    Send({0x02, 0x04, 0xA5, 0x34, 0x12, 0x85, 0x03, 0x02, 0x03, 0xA5, 0x06, 0xA2, 0x03});
    Send({0x02, 0x06, 0x91});
    const std::string exchange = monitor.FirstLine();
    EXPECT_NE(exchange.find(R"("kind":"exchange","command":"reg_address","meaning":"reg address 0x1234",)"
                            R"("result":"LINK_OK","code":0,"request":"02 04 A5 34 12 85 03",)"
                            R"("reply":"02 03 A5 06 A2 03","response_ms":)"),
              std::string::npos)
        << exchange;
    // The cut frame comes out once the line has been quiet for a while.
    const std::string partial = monitor.FirstLine();
    EXPECT_NE(partial.find(R"("kind":"partial frame","bytes":"02 06 91"})"), std::string::npos) << partial;
    int status = -1;
    monitor.Stop(&status, SIGINT);
    EXPECT_EQ(status, 0);
}

TEST_F(MonitorTest, NeedsAPortAndLeavesAHeldOneAlone)
{
    RunResult none = RunProgram({PELVARCTL_PATH, "monitor"}, {dir.Env()});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("monitor: --port N"), std::string::npos) << none.err;
    // Another program holds the device (as pelvar and cooperating programs do).
    ASSERT_EQ(flock(pty.Slave(), LOCK_EX | LOCK_NB), 0);
    RunResult held = RunProgram({PELVARCTL_PATH, "--port", "210", "monitor"}, {dir.Env()}, {}, 30000);
    EXPECT_EQ(held.status, 1);
    // This test program holds it: e2e_tests.
    EXPECT_EQ(held.err, "pelvarctl: monitor: COM210 (" + dir.Path() + "/COM210): cannot open: busy: held by process "
                            + std::to_string(getpid()) + " (e2e_tests)\n");
    flock(pty.Slave(), LOCK_UN);
}

} // namespace
} // namespace pelvar::e2e
