// Long use: many connect/disconnect cycles and transactions against the
// simulated board on a pseudo-terminal. Descriptors and memory must come out
// as they went in. PELVAR_SOAK_SCALE shortens the run (sanitizer builds).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

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

int Scaled(int count)
{
    const char* s = std::getenv("PELVAR_SOAK_SCALE");
    double scale = s ? std::atof(s) : 1.0;
    int n = static_cast<int>(count * scale);
    return n < 10 ? 10 : n;
}

long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The recording view keeps every status line; here only the last counts, so
// that the fake's own history does not pass for memory the program kept.
class SoakView : public test::FakeView {
public:
    void SetStatusText(const std::string& text) override { statuses.assign(1, text); }
};

class Soak : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.emplace("PELVAR_PORTS_DIR", dir.Path());
        PtyBoardOptions options;
        options.port = 211;
        options.portsDir = dir.Path();
        board = std::make_unique<PtyBoard>(options);
        ASSERT_EQ(board->Start(), 0) << board->ErrorText();
        view.ports = {"Simulated board (COM211)"};
    }
    void TearDown() override { board->Stop(); }

    void Report(const char* what, int count, int fdsBefore, int fdsAfter, long kibBefore, long kibAfter)
    {
        std::printf("%s: %d done; descriptors %d -> %d; resident memory %ld KiB -> %ld KiB\n", what, count, fdsBefore,
                    fdsAfter, kibBefore, kibAfter);
        RecordProperty("count", count);
        RecordProperty("rss_growth_kib", static_cast<int>(kibAfter - kibBefore));
    }

    PortsDir dir;
    std::optional<test::ScopedEnv> env;
    SoakView view;
    PosixPlatform posix;
    std::unique_ptr<PtyBoard> board;
};

TEST_F(Soak, ConnectDisconnectCyclesLoseNothing)
{
    CameraController camera(view, posix);
    auto cycle = [&] {
        camera.OnConnect();
        ASSERT_TRUE(camera.IsConnected());
        camera.OnDisconnect();
        ASSERT_FALSE(camera.IsConnected());
    };
    for (int i = 0; i < 20; ++i)
        cycle(); // warm-up: allocator and first-use caches
    const int fds = OpenFdCount();
    const long kib = ResidentKiB();
    const int cycles = Scaled(1000);
    long kibHalf = 0;
    for (int i = 0; i < cycles; ++i) {
        cycle();
        if (i == cycles / 2)
            kibHalf = ResidentKiB();
    }
    const int fdsAfter = OpenFdCount();
    const long kibAfter = ResidentKiB();
    EXPECT_EQ(fdsAfter, fds);
    // The heap may settle one step higher early on; a leak keeps growing
    // through the second half. A shortened run (the sanitized one) is too
    // short for halves to mean anything: LeakSanitizer watches it instead.
    EXPECT_LT(kibAfter - kib, 2048);
    if (cycles >= 500) {
        EXPECT_LT(kibAfter - kibHalf, 256) << "memory grew with the cycles";
    }
    // The board stays started after its first release: each later cycle is
    // probe, poll, blue gain and the disconnect's status query.
    EXPECT_EQ(board->Snapshot().CommandCount(CMD_GAIN_BLUE), static_cast<std::uint32_t>(cycles + 20));
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "ARVEN-L");
    Report("connect/disconnect cycles", cycles, fds, fdsAfter, kib, kibAfter);
}

TEST_F(Soak, TransactionsLoseNothing)
{
    CameraController camera(view, posix);
    camera.OnConnect();
    ASSERT_TRUE(camera.IsConnected());
    for (int i = 0; i < 20; ++i)
        camera.OnHScroll(IDC_GREEN, i);
    const int fds = OpenFdCount();
    const long kib = ResidentKiB();
    const int count = Scaled(10000);
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        camera.OnHScroll(IDC_GREEN, i % 256);
        failed += camera.LastResult() != LINK_OK;
    }
    const int fdsAfter = OpenFdCount();
    const long kibAfter = ResidentKiB();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(fdsAfter, fds);
    EXPECT_LT(kibAfter - kib, 256);
    EXPECT_EQ(board->Snapshot().Adjust().green, (count - 1) % 256);
    camera.OnDisconnect();
    Report("transactions", count, fds, fdsAfter, kib, kibAfter);
}

} // namespace
} // namespace pelvar::e2e
