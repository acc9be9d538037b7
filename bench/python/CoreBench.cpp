// The C++ side of the Python module's benchmark: the same status queries
// and 256-register dumps as python_bench.py, on the same core calls the
// module makes, against a board that python_bench.py serves.
//   python_core_bench PORT QUERIES DUMPS
// prints "status_query_ms MEDIAN" and "dump_ms MEDIAN".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "camera/BoardConnection.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

template <class F>
std::vector<double> Times(int n, F f)
{
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        if (!f())
            std::exit(1);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: python_core_bench PORT QUERIES DUMPS\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    pelvar::BoardConnection board(pelvar::DefaultPlatform());
    std::uint8_t probe = 0;
    if (!board.Detect(std::vector<int>{port}, &probe) || !board.Start(probe, pelvar::kStartLimitMs).Started()) {
        std::fprintf(stderr, "python_core_bench: no board on COM%d\n", port);
        return 1;
    }
    const auto queries = Times(std::atoi(argv[2]), [&] { return board.QueryStatus().result == 0; });
    const auto dumps = Times(std::atoi(argv[3]), [&] {
        for (unsigned a = 0; a <= 0xFF; ++a) {
            if (!board.ReadRegister(static_cast<std::uint16_t>(a)).Ok())
                return false;
        }
        return true;
    });
    std::printf("status_query_ms %.3f\ndump_ms %.1f\n", Median(queries), Median(dumps));
    board.Release();
    return 0;
}
