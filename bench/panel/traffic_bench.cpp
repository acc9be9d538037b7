// The traffic pane under a flood: 10,000 exchanges against the simulated
// board (virtual clock, so the worker runs them as fast as it can and the
// pane gets rows faster than any line could deliver them). Reports the
// longest time the window's event loop did not run, with the pane shown and
// hidden, the rows kept and the wall time.
// Run: QT_QPA_PLATFORM=offscreen build/bench/panel/traffic_bench
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "camera/ControlIds.h"
#include "bench/TrafficFlood.h"
#include "sim/SimBoard.h"
#include "ui/PelvarDlg.h"
#include "ui/TrafficPane.h"

using namespace pelvar;
using bench::Clock;
using bench::FloodOutcome;
using bench::MsBetween;

namespace {

constexpr int kExchanges = bench::kFloodExchanges;

void OnePort(IPortList& list) { list.AddString("Simulated board (COM5)"); }

FloodOutcome Flood(bool paneShown)
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.show();
    dlg.ShowTrafficPane(paneShown);
    dlg.OnCommand(IDC_CONNECT);
    dlg.WaitForCamera();

    FloodOutcome o;
    auto last = Clock::now();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        o.longestStallMs = std::max(o.longestStallMs, MsBetween(last, now));
        last = now;
    });
    tick.start(1);
    QApplication::processEvents();
    const auto start = Clock::now();
    last = start;
    // Presses come in while the earlier ones run, as a busy operator's would.
    for (int i = 0; i < kExchanges; ++i) {
        dlg.OnCommand(i % 2 ? IDC_EDGE : IDC_GAMMA);
        if (i % 100 == 0)
            QApplication::processEvents();
    }
    while (!dlg.Worker().Idle())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    dlg.WaitForCamera();
    // The last batch lands one batch interval later.
    const auto settle = Clock::now() + std::chrono::milliseconds(3 * kTrafficBatchMs);
    while (Clock::now() < settle)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    o.wallMs = MsBetween(start, Clock::now());
    o.rows = dlg.TrafficModel().rowCount();
    return o;
}

// The pane's own share: one batch of 10,000 rows added to a shown pane and
// painted, the worst a single flush can be.
double OneFullBatchMs()
{
    QWidget window;
    window.resize(480, 300);
    CTrafficPane pane(&window);
    pane.resize(480, 300);
    window.show();
    QApplication::processEvents();
    for (int i = 0; i < kExchanges; ++i) {
        ExchangeRecord r;
        r.atMs = static_cast<std::uint32_t>(i);
        r.cmd = 0x1A;
        r.frames = {{true, {0x02, 0x02, 0x1A, 0x1A, 0x03}}, {false, {0x02, 0x06, 0x1A, 0x06, 0, 0, 0, 0x18, 0x03}}};
        pane.Model().Post(r);
    }
    const auto start = Clock::now();
    pane.Model().Flush();
    pane.scrollToBottom();
    pane.repaint();
    return MsBetween(start, Clock::now());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    bench::PrintFloodHeader("event-loop");
    for (bool shown : {true, false}) {
        const FloodOutcome o = Flood(shown);
        bench::PrintFloodRow(shown, o);
    }
    std::printf("\none batch of %d rows into a shown pane, painted: %.1f ms\n", kExchanges, OneFullBatchMs());
    return 0;
}
