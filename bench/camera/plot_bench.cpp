// The plot left running: three series of the map (a register, another, a
// field) and the response time sampled ten times a second for two hours of
// the simulated board's virtual clock (72,000 samples each), with the
// process's resident memory and heap in use after one minute, ten minutes,
// one hour, an hour and a half and two hours. Each series keeps an hour, so
// the memory after two hours must be what it was after one. Then, at full
// rings, what a sample costs the window's thread (the board's part runs at
// once here) and what a paint asks of the model: the range and every
// series' segments.
// Run: build/bench/camera/plot_bench
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "bench/TrafficFlood.h"
#include "camera/BoardConnection.h"
#include "camera/RegisterPlot.h"
#include "sim/SimBoard.h"

using namespace pelvar;
using bench::Clock;
using bench::MsBetween;

namespace {

constexpr const char* kMap = R"({"registers": [
  {"name": "EXPOSURE", "address": "0x0010"},
  {"name": "CTRL", "address": "0x0012", "fields": [
    {"name": "MODE", "lsb": 0, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3}},
    {"name": "GAIN", "lsb": 4, "width": 3}]}
]})";
constexpr int kPort = 5;
constexpr std::uint32_t kSamplesPerMinute = 60 * 1000 / kPlotIntervalMs;

long VmRssKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

long HeapKb()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

void Fail(const char* what)
{
    std::fprintf(stderr, "plot_bench: %s\n", what);
    std::exit(1);
}

} // namespace

int main()
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(kPort, &board);
    BoardConnection conn(sim);
    if (conn.Attach(kPort) != LINK_OK)
        Fail("the simulated port did not open");
    auto map = std::make_shared<RegisterMap>();
    std::string error;
    if (!ParseRegisterMap(kMap, "bench.json", map.get(), &error))
        Fail(error.c_str());

    RegisterPlotModel plot(sim,
                           [&](RegisterBoardWork work, std::function<void()> done, std::string) {
                               work(conn);
                               done();
                           },
                           {});
    plot.SetMap(map);
    std::printf("before the series: VmRSS %ld KB, heap in use %ld KB\n", VmRssKb(), HeapKb());
    for (const char* name : {"EXPOSURE", "CTRL", "CTRL.MODE"})
        if (!plot.AddSeries(name, &error))
            Fail(error.c_str());
    plot.AddResponseTime();
    std::printf("4 series added (%zu points of %zu bytes each): VmRSS %ld KB, heap in use %ld KB\n\n", kPlotCapacity,
                sizeof(PlotPoint), VmRssKb(), HeapKb());

    std::printf("| sampled | samples a series | points kept a series | oldest point kept | VmRSS | heap in use |\n"
                "|---|---|---|---|---|---|\n");
    const std::uint32_t base = sim.Now() + 1000;
    std::uint32_t longestSampleMs = 0;
    const std::uint32_t total = 120 * kSamplesPerMinute;
    double sampleWallMs = 0;
    for (std::uint32_t i = 0; i < total; ++i) {
        // Values that move: EXPOSURE every second, CTRL every minute.
        if (i % 10 == 0)
            conn.WriteRegister(0x10, static_cast<std::uint16_t>(i / 10 % 4096));
        if (i % kSamplesPerMinute == 0)
            conn.WriteRegister(0x12, static_cast<std::uint16_t>(0x32 + i / kSamplesPerMinute % 4));
        if (sim.Now() > base + i * kPlotIntervalMs)
            Fail("a sample took longer than the interval on the virtual clock");
        sim.SetNow(base + i * kPlotIntervalMs);
        const auto t = Clock::now();
        plot.Sample();
        sampleWallMs += MsBetween(t, Clock::now());
        longestSampleMs = std::max(longestSampleMs, sim.Now() - (base + i * kPlotIntervalMs));
        const std::uint32_t done = i + 1;
        if (done % kSamplesPerMinute != 0)
            continue;
        // The simulated line keeps every write and read for the tests: a new
        // line each minute keeps that record from growing into the figures.
        conn.Close();
        conn.ClearCandidates();
        sim.RemovePort(kPort);
        sim.AddPort(kPort, &board);
        if (conn.Attach(kPort) != LINK_OK)
            Fail("the simulated port did not reopen");
        const std::uint32_t minutes = done / kSamplesPerMinute;
        if (minutes == 1 || minutes == 10 || minutes == 60 || minutes == 90 || minutes == 120)
            std::printf("| %u min | %u | %zu | %.1f s | %ld KB | %ld KB |\n", minutes, done, plot.Series()[1].Size(),
                        plot.Series()[1].At(0).ms / 1000.0, VmRssKb(), HeapKb());
    }
    for (const PlotSeries& s : plot.Series())
        if (s.Size() != kPlotCapacity || s.At(0).ms != (total - kPlotCapacity) * kPlotIntervalMs || s.At(0).gap)
            Fail("a series does not hold the last hour of values");
    // The last sample read what was written last, so the samples did reach the board.
    const std::size_t newest = kPlotCapacity - 1;
    if (plot.Series()[0].At(newest).value != (total - 1) / 10 % 4096 || plot.Series()[1].At(newest).value != 0x35)
        Fail("the last sample does not hold the values last written");
    std::printf("\nlongest sample on the virtual clock: %u ms (interval %u ms)\n", longestSampleMs, kPlotIntervalMs);
    std::printf("Sample() with the board's part run at once, mean of %u: %.4f ms\n", total, sampleWallMs / total);

    // What a paint asks of the model at full rings.
    constexpr int kPasses = 50;
    constexpr std::size_t kPaintColumns = 778; // the Qt pane's canvas in the panel
    std::size_t points = 0;
    double best = 1e9, sum = 0;
    for (int p = 0; p < kPasses; ++p) {
        const auto t = Clock::now();
        const PlotRange r = plot.Range();
        points += r.t1 > r.t0 ? 1 : 0;
        points += plot.RightRange().t1 > r.t0 ? 1 : 0;
        for (const PlotSeries& s : plot.Series())
            for (const auto& run : s.Segments(r.t0, r.t1, kPaintColumns))
                points += run.size();
        const double ms = MsBetween(t, Clock::now());
        best = std::min(best, ms);
        sum += ms;
    }
    std::printf("Range() + RightRange() + Segments() %zu columns wide of 4 series at %zu points each: mean %.2f ms, "
                "best %.2f ms (%zu points drawn, %d passes)\n",
                kPaintColumns, kPlotCapacity, sum / kPasses, best, points / kPasses, kPasses);
    const auto t = Clock::now();
    const std::size_t csvBytes = plot.Csv().size();
    std::printf("Csv() of the full rings: %.1f ms, %zu bytes\n", MsBetween(t, Clock::now()), csvBytes);
    return 0;
}
