// pelvar.exe: the control panel of the camera board, as a Win32 dialog.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/win/DemoBoard.h"
#include "app/win/PanelPicture.h"
#include "app/win/PelvarApp.h"
#include "camera/ControlIds.h"
#include "winui/PlotView.h"
#include "winui/RegisterList.h"
#include "winui/StartupMark.h"
#include "winui/WideText.h"

namespace {

struct Options {
    bool demo = false;
    std::wstring picture;   // with --demo: connect, move a slider, save a picture, close
    bool traffic = false;   // the picture shows the traffic pane after a session with dropped replies
    std::wstring registers; // the picture shows the register view of this map after a comparison
    std::wstring plot;      // the picture shows the plot of this map's EXPOSURE, with a gap
    std::string error;
};

Options ParseOptions()
{
    Options o;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--demo")
            o.demo = true;
        else if (arg == L"--picture" && i + 1 < argc)
            o.picture = argv[++i];
        else if (arg == L"--traffic")
            o.traffic = true;
        else if (arg == L"--registers" && i + 1 < argc)
            o.registers = argv[++i];
        else if (arg == L"--plot" && i + 1 < argc)
            o.plot = argv[++i];
        else if (o.error.empty())
            o.error = "unknown argument: " + pelvar::Narrow(arg)
                      + "\nusage: pelvar.exe [--demo [--picture FILE.bmp [--traffic | --registers MAP.json | --plot "
                        "MAP.json]]]";
    }
    LocalFree(argv);
    if (o.error.empty() && !o.picture.empty() && !o.demo)
        o.error = "--picture goes with --demo";
    return o;
}

// The demo board answers within a second; more means something is wrong,
// and the picture shows how far it got.
constexpr DWORD kDemoStepMs = 10000;

// The screen copy sees what the window drew once it has reached the screen;
// under wine that happens as messages run, so they run a moment first.
void LetTheScreenCatchUp(DWORD ms)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void MoveSlider(HWND hwnd, int id, int position)
{
    HWND slider = GetDlgItem(hwnd, id);
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
    SendMessageW(hwnd, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(slider));
    pelvar::CPelvarDlg::FromHandle(hwnd)->WaitForCamera(kDemoStepMs);
}

// The traffic pane's picture: a short session with the board dropping every
// third reply, so retried rows stand out.
void RunTrafficSession(HWND hwnd)
{
    pelvar::CPelvarDlg* dlg = pelvar::CPelvarDlg::FromHandle(hwnd);
    SendMessageW(hwnd, WM_SYSCOMMAND, pelvar::IDM_TRAFFIC_PANE, 0);
    // The wider window, whole on the screen.
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageW(hwnd, WM_SYSCOMMAND, pelvar::FaultCommand(4), 0); // drop every 3rd reply
    for (const int id : {pelvar::IDC_EDGE, pelvar::IDC_GAMMA, pelvar::IDC_SCALE}) {
        SendDlgItemMessageW(hwnd, id, BM_CLICK, 0, 0);
        dlg->WaitForCamera(kDemoStepMs);
    }
    for (const int position : {140, 160, 180})
        MoveSlider(hwnd, pelvar::IDC_CONTRAST, position);
}

// The register view's picture: a snapshot of the demo board, CTRL.MODE
// picked by name and EXPOSURE changed behind the panel's back, compared.
void RunRegisterSession(HWND hwnd, const std::wstring& map)
{
    pelvar::CPelvarDlg* dlg = pelvar::CPelvarDlg::FromHandle(hwnd);
    SendMessageW(hwnd, WM_SYSCOMMAND, pelvar::IDM_REGISTER_VIEW, 0);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    std::string error;
    if (!dlg->Registers().LoadMap(pelvar::Narrow(map), &error)) {
        std::fprintf(stderr, "pelvar: %s\n", error.c_str());
        return;
    }
    pelvar::BoardConnection& board = dlg->Camera().Board();
    const std::pair<std::uint16_t, std::uint16_t> values[] = {
        {0x10, 0x0100}, {0x11, 0x5a01}, {0x12, 0x8022}, {0x30, 0x0004}, {0xFE, 0x1234}};
    for (const auto& [address, value] : values)
        board.WriteRegister(address, value);
    pelvar::RegisterViewModel& view = dlg->Registers().View();
    view.TakeSnapshot();
    dlg->WaitForCamera(kDemoStepMs);
    view.Edit(2, 0, "single", &error);
    dlg->WaitForCamera(kDemoStepMs);
    board.WriteRegister(0x10, 0x0180);
    view.Compare();
    dlg->WaitForCamera(kDemoStepMs);
}

// The plot's picture: EXPOSURE stepped through the worker every 100 ms while
// the plot's timer samples it and the response time, the board silent for
// a while in the middle so the lines break.
void RunPlotSession(HWND hwnd, const std::wstring& map)
{
    pelvar::CPelvarDlg* dlg = pelvar::CPelvarDlg::FromHandle(hwnd);
    std::string error;
    if (!dlg->Registers().LoadMap(pelvar::Narrow(map), &error)) {
        std::fprintf(stderr, "pelvar: %s\n", error.c_str());
        return;
    }
    SendMessageW(hwnd, WM_SYSCOMMAND, pelvar::IDM_PLOT, 0);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetDlgItemTextW(hwnd, pelvar::IDC_PLOT_NAMES, L"EXPOSURE");
    SendDlgItemMessageW(hwnd, pelvar::IDC_PLOT_ADD, BM_CLICK, 0, 0);
    SendDlgItemMessageW(hwnd, pelvar::IDC_PLOT_ADD_RESPONSE, BM_CLICK, 0, 0);
    // Nothing is written while the board is silent: the samples meet the silence, not a queue of writes.
    for (int n = 0; n < 100; ++n) {
        const bool silent = n >= 30 && n < 70;
        if (n == 30 || n == 70)
            SendMessageW(hwnd, WM_SYSCOMMAND, pelvar::FaultCommand(0), 0);
        const auto value = static_cast<std::uint16_t>(0x100 + (n % 20) * 24);
        if (!silent)
            dlg->Worker().RunOnBoard([value](pelvar::BoardConnection& board) { board.WriteRegister(0x10, value); },
                                     nullptr);
        LetTheScreenCatchUp(100);
    }
    dlg->WaitForCamera(kDemoStepMs);
}

// What the demo's picture shows: the panel connected to the simulated board,
// the brightness slider moved, as an operator would leave it. The worker
// runs each step; the picture waits until the window shows its outcome.
// False when the panel did not show the board connected with the slider
// sent, or the picture could not be written.
bool TakeDemoPicture(HWND hwnd, const std::wstring& path, bool traffic, const std::wstring& registers,
                     const std::wstring& plot)
{
    pelvar::CPelvarDlg* dlg = pelvar::CPelvarDlg::FromHandle(hwnd);
    SendDlgItemMessageW(hwnd, pelvar::IDC_CONNECT, BM_CLICK, 0, 0);
    dlg->WaitForCamera(kDemoStepMs);
    if (traffic)
        RunTrafficSession(hwnd);
    if (!registers.empty())
        RunRegisterSession(hwnd, registers);
    if (!plot.empty())
        RunPlotSession(hwnd, plot);
    MoveSlider(hwnd, pelvar::IDC_BRIGHTNESS, 200);
    HWND slider = GetDlgItem(hwnd, pelvar::IDC_BRIGHTNESS);
    SetFocus(slider);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    LetTheScreenCatchUp(200);
    bool ok = true;
    const std::string status = dlg->StatusText();
    if (!dlg->Camera().IsConnected() || status != "brightness 200: sent") {
        std::fprintf(stderr, "pelvar: the demo panel shows \"%s\", not the board connected\n", status.c_str());
        ok = false;
    }
    if (!pelvar::SaveWindowPicture(hwnd, path)) {
        std::fprintf(stderr, "pelvar: cannot write the picture\n");
        ok = false;
    }
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return ok;
}

// The start-up benchmark's end: everything painted, then the window closes
// as the operator's close does, while the port list is still being read.
void CloseAfterPaint(HWND hwnd)
{
    RedrawWindow(hwnd, nullptr, nullptr, RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    pelvar::PrintStartupMark("painted");
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const Options o = ParseOptions();
    if (!o.error.empty()) {
        // A window program's standard error goes nowhere the user looks.
        std::fprintf(stderr, "pelvar: %s\n", o.error.c_str());
        MessageBoxW(nullptr, pelvar::Widen(o.error).c_str(), L"Pelvar", MB_OK | MB_ICONERROR);
        return 2;
    }
    std::function<void(HWND)> firstPaint;
    bool pictureOk = true;
    if (!o.picture.empty())
        firstPaint = [&o, &pictureOk](HWND hwnd) {
            pictureOk = TakeDemoPicture(hwnd, o.picture, o.traffic, o.registers, o.plot);
        };
    else if (pelvar::ExitAfterShowRequested())
        firstPaint = CloseAfterPaint;

    pelvar::CPelvarApp app(instance);
    if (o.demo) {
        pelvar::CDemoBoard demo;
        app.InitInstance(pelvar::CDemoBoard::FillPortList, demo.Platform(), firstPaint, demo.FaultSwitches());
    } else {
        app.InitInstance(pelvar::CPelvarDlg::DefaultPortListFiller(), pelvar::DefaultPlatform(), firstPaint);
    }
    return pictureOk ? 0 : 1;
}
