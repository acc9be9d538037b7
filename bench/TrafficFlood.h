// What the traffic pane benchmarks (the Qt and the Win32 pane) share: the
// flood's size, its outcome and the table it is printed as.
#pragma once

#include <chrono>
#include <cstdio>

namespace pelvar::bench {

using Clock = std::chrono::steady_clock;

constexpr int kFloodExchanges = 10000;

inline double MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

struct FloodOutcome {
    double longestStallMs = 0;
    double wallMs = 0;
    int rows = 0;
};

// `loop` names the window's loop ("event-loop", "message-loop").
inline void PrintFloodHeader(const char* loop)
{
    std::printf("| pane | exchanges | rows kept | longest %s stall | wall time |\n|---|---|---|---|---|\n", loop);
}

// The Connect's four exchanges come before the flood's.
inline void PrintFloodRow(bool shown, const FloodOutcome& o)
{
    std::printf("| %s | %d | %d | %.1f ms | %.0f ms |\n", shown ? "shown" : "hidden", kFloodExchanges + 4, o.rows,
                o.longestStallMs, o.wallMs);
    std::fflush(stdout);
}

} // namespace pelvar::bench
