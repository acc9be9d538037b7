// The link's exchanges through the Win32 platform, for a run under wine:
// COM ports of an answering and of a silent simulated board are given.
//   wine_link_bench.exe ANSWERING_PORT SILENT_PORT
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "platform/win/WinPlatform.h"

using namespace pelvar;

namespace {

template <typename Fn>
double MedianMs(int runs, Fn fn)
{
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        fn();
        samples.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: wine_link_bench ANSWERING_PORT SILENT_PORT\n");
        return 2;
    }
    WinPlatform win;
    CFrameLink answering(std::atoi(argv[1]), 115200, win);
    CFrameLink silent(std::atoi(argv[2]), 115200, win);
    if (answering.Open() != LINK_OK || silent.Open() != LINK_OK) {
        std::fprintf(stderr, "cannot open the ports\n");
        return 1;
    }
    double status = MedianMs(50, [&] { QueryStatus(answering); });
    double ack = MedianMs(50, [&] { answering.Transact(CMD_EDGE, nullptr, 0); });
    double none = MedianMs(3, [&] { silent.Transact(CMD_EDGE, nullptr, 0); });
    std::printf("%-28s %10s %10s\n", "exchange", "wall ms", "figure ms");
    std::printf("%-28s %10.2f %10s\n", "status query", status, "<5");
    std::printf("%-28s %10.2f %10s\n", "transaction, 9-byte ack", ack, "<20");
    std::printf("%-28s %10.2f %10s\n", "transaction, silent board", none, "3072");
    return 0;
}
