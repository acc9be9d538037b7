// 256 registers read from a simulated board on a real pseudo-terminal, three
// ways: one `pelvarctl reg dump`, 256 `pelvarctl reg read` processes, and the
// floor, the same exchanges (CMD_REG_ADDRESS transaction, CMD_REG_READ query)
// made in-process on an open link.
//
//   ctl_bench [RUNS]     median of RUNS (default 3) of each
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/PtyBoard.h"

using namespace pelvar;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPort = 200;
constexpr int kRegisters = 256;

template <typename Fn>
double MedianMs(int runs, Fn fn)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        fn();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void Run(const std::string& args)
{
    const std::string command =
        std::string("'") + PELVARCTL_PATH + "' --port " + std::to_string(kPort) + " " + args + " >/dev/null";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "ctl_bench: '%s' failed\n", command.c_str());
        std::exit(1);
    }
}

void Floor(CFrameLink& link)
{
    for (int a = 0; a < kRegisters; ++a) {
        const auto address = EncodeWord(static_cast<std::uint16_t>(a));
        if (RunTransaction(link, CMD_REG_ADDRESS, address.data(), 2) != LINK_OK
            || QueryRegister(link).result != LINK_OK) {
            std::fprintf(stderr, "ctl_bench: register 0x%04x failed\n", a);
            std::exit(1);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string dir = (std::filesystem::temp_directory_path() / "pelvar-ctl-bench-XXXXXX").string();
    if (!mkdtemp(dir.data()))
        return 1;
    setenv("PELVAR_PORTS_DIR", dir.c_str(), 1);
    PtyBoardOptions options;
    options.port = kPort;
    options.portsDir = dir;
    PtyBoard board(options);
    if (board.Start() != 0) {
        std::fprintf(stderr, "board: %s\n", board.ErrorText().c_str());
        return 1;
    }

    const double dump = MedianMs(runs, [] { Run("reg dump 0 ff"); });
    const double single = MedianMs(runs, [] {
        char address[8];
        for (int a = 0; a < kRegisters; ++a) {
            std::snprintf(address, sizeof address, "%x", a);
            Run(std::string("reg read ") + address);
        }
    });
    PosixPlatform posix;
    CFrameLink link(kPort, 115200, posix);
    if (link.Open() != LINK_OK)
        return 1;
    const double floor = MedianMs(runs, [&] { Floor(link); });
    link.Close();
    board.Stop();
    std::filesystem::remove_all(dir);

    std::printf("256 registers, median of %d runs\n", runs);
    std::printf("%-34s %10s %12s %10s\n", "way", "wall", "per register", "vs floor");
    auto row = [&](const char* name, double ms) {
        std::printf("%-34s %8.0f ms %9.2f ms %9.2fx\n", name, ms, ms / kRegisters, ms / floor);
    };
    row("pelvarctl reg dump 0 ff", dump);
    row("256 x pelvarctl reg read", single);
    row("floor (in-process exchanges)", floor);
    return 0;
}
