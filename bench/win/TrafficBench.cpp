// The Win32 traffic pane under a flood, as bench/panel/traffic_bench does for
// the Qt pane: 10,000 presses against the simulated board (virtual clock, so
// the worker runs them as fast as it can and the pane gets rows faster than
// any line could deliver them). Reports the longest time the window's
// message loop did not run, with the pane shown and hidden, the rows kept
// and the wall time; then one batch of 10,000 rows into a shown pane.
// Run: scripts/run-windows-tests.sh --bench
#include <windows.h>
#include <commctrl.h>
// The printer spooler's macro, not the simulated platform's method.
#undef AddPort

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "camera/ControlIds.h"
#include "bench/TrafficFlood.h"
#include "sim/SimBoard.h"
#include "winui/PelvarDlg.h"
#include "winui/RegistryPortMemory.h"

using namespace pelvar;
using bench::Clock;
using bench::FloodOutcome;
using bench::MsBetween;

namespace {

constexpr int kExchanges = bench::kFloodExchanges;
constexpr const wchar_t* kBenchKey = L"Software\\Zandrel\\PelvarTrafficBench";

struct Stall {
    Clock::time_point last;
    double longestMs = 0;
};
Stall g_stall;

// A 1 ms timer: the gaps between its calls are the loop's stalls.
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    const auto now = Clock::now();
    g_stall.longestMs = std::max(g_stall.longestMs, MsBetween(g_stall.last, now));
    g_stall.last = now;
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void RunFor(int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        Pump();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
}

FloodOutcome Flood(bool paneShown)
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    CPelvarDlg dlg(
        GetModuleHandleW(nullptr), [](IPortList& list) { list.AddString("Simulated board (COM5)"); }, sim,
        std::make_unique<CRegistryPortMemory>(kBenchKey));
    HWND hwnd = dlg.Create();
    ShowWindow(hwnd, SW_SHOW);
    dlg.ShowTrafficPane(paneShown);
    SendDlgItemMessageW(hwnd, IDC_CONNECT, BM_CLICK, 0, 0);
    dlg.WaitForCamera();

    const UINT_PTR timer = SetTimer(nullptr, 0, 1, Tick);
    Pump();
    const auto start = Clock::now();
    g_stall = {start, 0};
    // Presses come in while the earlier ones run, as a busy operator's would;
    // as the buttons' notifications, without drawing the buttons pushed.
    for (int i = 0; i < kExchanges; ++i) {
        const int id = i % 2 ? IDC_EDGE : IDC_GAMMA;
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, id)));
        if (i % 100 == 0)
            Pump();
    }
    dlg.WaitForCamera(120000);
    // The last batch lands one batch interval later.
    RunFor(3 * kTrafficBatchMs);
    KillTimer(nullptr, timer);
    FloodOutcome o;
    o.longestStallMs = g_stall.longestMs;
    o.wallMs = MsBetween(start, Clock::now());
    o.rows = ListView_GetItemCount(GetDlgItem(hwnd, IDC_TRAFFIC_LIST));
    DestroyWindow(hwnd);
    RegDeleteKeyW(HKEY_CURRENT_USER, kBenchKey);
    return o;
}

// The pane's own share: one batch of 10,000 rows added to a shown pane and
// painted, the worst a single flush can be.
double OneFullBatchMs()
{
    SimPlatform sim;
    CPelvarDlg dlg(
        GetModuleHandleW(nullptr), [](IPortList&) {}, sim, std::make_unique<CRegistryPortMemory>(kBenchKey));
    HWND hwnd = dlg.Create();
    ShowWindow(hwnd, SW_SHOW);
    dlg.ShowTrafficPane(true);
    RunFor(100);
    for (int i = 0; i < kExchanges; ++i) {
        ExchangeRecord r;
        r.atMs = static_cast<std::uint32_t>(i);
        r.cmd = 0x1A;
        r.frames = {{true, {0x02, 0x02, 0x1A, 0x1A, 0x03}}, {false, {0x02, 0x06, 0x1A, 0x06, 0, 0, 0, 0x18, 0x03}}};
        dlg.Traffic().Rows().Post(r);
    }
    const auto start = Clock::now();
    dlg.Traffic().Flush();
    UpdateWindow(dlg.Traffic().Handle());
    const double ms = MsBetween(start, Clock::now());
    DestroyWindow(hwnd);
    RegDeleteKeyW(HKEY_CURRENT_USER, kBenchKey);
    return ms;
}

} // namespace

int main()
{
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    bench::PrintFloodHeader("message-loop");
    for (bool shown : {true, false}) {
        const FloodOutcome o = Flood(shown);
        bench::PrintFloodRow(shown, o);
    }
    std::printf("\none batch of %d rows into a shown pane, painted: %.1f ms\n", kExchanges, OneFullBatchMs());
    return 0;
}
