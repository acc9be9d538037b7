// The register view with a 256-register map: how long loading the map (the
// tree filled, expanded and painted) takes, and how long the window's event
// loop stands still while Refresh reads every register from the simulated
// board, on the virtual clock (the worker reads as fast as it can, so all
// rows come back at once) and on a line in real time (the 3.6 s a real line
// takes, the window idle meanwhile). The event loop is the window's own (a
// QEventLoop), timed by the longest gap between two turns of a 1 ms timer,
// with the view shown. Also one update of every row's values repainted on
// its own, the window's share of a refresh.
// Run: QT_QPA_PLATFORM=offscreen build/bench/panel/register_view_bench [runs]
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/TrafficFlood.h"
#include "bench/panel/LoopStalls.h"
#include "camera/ControlIds.h"
#include "camera/RegisterView.h"
#include "sim/RealTimeSimPlatform.h"
#include "sim/SimBoard.h"
#include "ui/PelvarDlg.h"
#include "ui/RegisterPane.h"

using namespace pelvar;
using bench::Clock;
using bench::MsBetween;

namespace {

constexpr int kRegisters = 256;

void OnePort(IPortList& list) { list.AddString("Simulated board (COM5)"); }

// 256 readable registers (rw, every eighth ro), each with three fields, the
// first with named values; 1024 rows in the expanded tree.
std::string MapText()
{
    std::string text = "{\"registers\": [\n";
    for (int i = 0; i < kRegisters; ++i) {
        char reg[400];
        std::snprintf(reg, sizeof reg,
                      "%s{\"name\": \"REG_%03d\", \"address\": \"0x%04x\", \"reset\": \"0x0000\", \"access\": \"%s\", "
                      "\"fields\": [{\"name\": \"MODE\", \"lsb\": 0, \"width\": 2, "
                      "\"values\": {\"off\": 0, \"continuous\": 2, \"single\": 3}}, "
                      "{\"name\": \"GAIN\", \"lsb\": 4, \"width\": 3}, {\"name\": \"EN\", \"lsb\": 15, \"width\": 1}]}",
                      i ? ",\n" : "", i, 0x100 + i, i % 8 == 7 ? "ro" : "rw");
        text += reg;
    }
    return text + "\n]}\n";
}

struct Run {
    double loadMs = 0;     // LoadMap: parsed, tree reset and expanded
    double paintMs = 0;    // the tree's first paint after it
    double stallMs = 0;    // longest gap between two turns of the 1 ms timer during Refresh
    double stallEndMs = 0; // when it ended, after the press
    double wallMs = 0;     // Refresh pressed to the last row filled
    double updateMs = 0;   // every row's values updated and repainted, on its own
    bool complete = false;
};

QPushButton* RefreshButton(CPelvarDlg& dlg)
{
    for (QPushButton* b : dlg.RegisterPane().findChildren<QPushButton*>())
        if (b->text() == QString::fromUtf8(kRefreshButtonText))
            return b;
    return nullptr;
}

template <typename Platform>
Run OneRun(const std::string& mapPath)
{
    Platform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.show();
    dlg.ShowRegisterView(true);
    dlg.OnCommand(IDC_CONNECT);
    dlg.WaitForCamera();
    // Values with every field non-zero, so each row decodes to something.
    for (int i = 0; i < kRegisters; ++i)
        dlg.Camera().Board().WriteRegister(static_cast<std::uint16_t>(0x100 + i),
                                           static_cast<std::uint16_t>(0x8032 + i));
    QApplication::processEvents();

    Run r;
    QTreeView* tree = dlg.RegisterPane().TreeView();
    std::string error;
    auto t = Clock::now();
    if (!dlg.RegisterPane().LoadMap(mapPath, &error)) {
        std::fprintf(stderr, "register_view_bench: %s\n", error.c_str());
        std::exit(1);
    }
    r.loadMs = MsBetween(t, Clock::now());
    t = Clock::now();
    tree->repaint();
    r.paintMs = MsBetween(t, Clock::now());

    const RegisterViewModel& view = dlg.RegisterPane().View();
    const auto filled = [&] { return !view.CellText(kRegisters - 1, -1, kRegViewRaw).empty(); };
    RefreshButton(dlg)->click();
    const bench::LoopStalls stalls =
        bench::WatchLoop([&](double ms) { return (filled() && dlg.Worker().Idle()) || ms > 60000; });
    r.stallMs = stalls.longestMs;
    r.stallEndMs = stalls.longestEndMs;
    r.wallMs = stalls.wallMs;
    r.complete = filled() && view.CellText(0, 0, kRegViewDecoded) == "continuous(2)";

    t = Clock::now();
    dlg.RegisterPane().Tree().ValuesChanged();
    tree->repaint();
    r.updateMs = MsBetween(t, Clock::now());
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    const std::string mapPath = dir.filePath(QStringLiteral("map256.json")).toStdString();
    std::ofstream(mapPath) << MapText();

    std::printf(
        "| line | run | load map | first paint | Refresh: longest event-loop stall (ended at) | Refresh: wall | values "
        "updated + repainted | complete |\n|---|---|---|---|---|---|---|---|\n");
    for (int i = 1; i <= 2 * runs; ++i) {
        const bool realTime = i > runs;
        const Run r = realTime ? OneRun<RealTimeSimPlatform>(mapPath) : OneRun<SimPlatform>(mapPath);
        std::printf("| %s | %d | %.1f ms | %.1f ms | %.1f ms (%.0f ms) | %.1f ms | %.1f ms | %s |\n",
                    realTime ? "real time" : "virtual", realTime ? i - runs : i, r.loadMs, r.paintMs, r.stallMs,
                    r.stallEndMs, r.wallMs, r.updateMs, r.complete ? "yes" : "NO");
        std::fflush(stdout);
    }
    return 0;
}
