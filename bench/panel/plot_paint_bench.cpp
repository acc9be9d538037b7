// The plot's paint with three series of the map and the response time, at a
// minute and at an hour of values (full rings: 36,000 points a series), at
// the size the panel gives it: one repaint on its own, and the window's
// event loop over 5 s while the pane samples ten times a second and repaints
// after each sample (the longest gap between two turns of a 1 ms timer, and
// the share of the time lost in gaps over 2 ms). The board is the simulated one
// and its part of each sample runs at once, so what is timed is the window's.
// Run: QT_QPA_PLATFORM=offscreen build/bench/panel/plot_paint_bench
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/TrafficFlood.h"
#include "bench/panel/LoopStalls.h"
#include "camera/BoardConnection.h"
#include "camera/RegisterPlot.h"
#include "sim/SimBoard.h"
#include "ui/PelvarDlg.h"
#include "ui/PlotPane.h"

using namespace pelvar;
using bench::Clock;
using bench::MsBetween;

namespace {

constexpr const char* kMap = R"({"registers": [
  {"name": "EXPOSURE", "address": "0x0010"},
  {"name": "CTRL", "address": "0x0012", "fields": [{"name": "MODE", "lsb": 0, "width": 2}]}
]})";

void NoPorts(IPortList&) {}

// The plot pane's size in the panel.
QSize PanelPlotSize()
{
    SimPlatform sim;
    CPelvarDlg dlg(NoPorts, nullptr, sim);
    dlg.show();
    dlg.ShowPlot(true);
    QApplication::processEvents();
    return dlg.PlotPane().size();
}

void Measure(CPlotPane& pane, const char* what)
{
    QWidget* canvas = pane.findChild<QWidget*>(QStringLiteral("plotCanvas"));
    double best = 1e9, sum = 0;
    constexpr int kRepaints = 10;
    for (int i = 0; i < kRepaints; ++i) {
        const auto t = Clock::now();
        canvas->repaint();
        const double ms = MsBetween(t, Clock::now());
        best = std::min(best, ms);
        sum += ms;
    }
    // The pane's own timer samples while it shows; each sample repaints.
    const bench::LoopStalls stalls = bench::WatchLoop([](double ms) { return ms > 5000; });
    std::printf("| %s | %zu | %.1f ms | %.1f ms | %.1f ms | %.0f %% |\n", what, pane.Plot().Series()[0].Size(),
                sum / kRepaints, best, stalls.longestMs, 100.0 * stalls.lostMs / stalls.wallMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    BoardConnection conn(sim);
    auto map = std::make_shared<RegisterMap>();
    std::string error;
    if (conn.Attach(5) != LINK_OK || !ParseRegisterMap(kMap, "bench.json", map.get(), &error)) {
        std::fprintf(stderr, "plot_paint_bench: no board or no map %s\n", error.c_str());
        return 1;
    }
    // Each sample 100 ms after the last on the virtual clock; values that move.
    std::uint32_t next = sim.Now() + 1000, n = 0;
    CPlotPane pane(nullptr, sim,
                   [&](RegisterBoardWork work, std::function<void()> done, std::string) {
                       if (n++ % 10 == 0)
                           conn.WriteRegister(0x10, static_cast<std::uint16_t>(n / 10 % 4096));
                       sim.SetNow(next);
                       next += kPlotIntervalMs;
                       work(conn);
                       done();
                   },
                   {});
    pane.resize(PanelPlotSize());
    pane.SetMap(map);
    for (const char* name : {"EXPOSURE", "CTRL", "CTRL.MODE"})
        pane.Plot().AddSeries(name, &error);
    pane.Plot().AddResponseTime();

    std::printf("pane %dx%d\n\n| values | points a series | repaint, mean of 10 | best | longest event-loop stall, "
                "5 s sampling | time in stalls |\n|---|---|---|---|---|---|\n",
                pane.width(), pane.height());
    const auto fill = [&](std::size_t points) {
        while (pane.Plot().Series()[0].Size() < points)
            pane.Plot().Sample();
    };
    fill(600);
    pane.show();
    QApplication::processEvents();
    Measure(pane, "1 minute");
    pane.hide();
    fill(kPlotCapacity);
    pane.show();
    QApplication::processEvents();
    Measure(pane, "1 hour (full)");
    return 0;
}
