// A bare Win32 dialog with the panel's 42 controls and nothing behind them,
// the yardstick for pelvar.exe's start-up (startup-wine.sh): it closes
// itself once its first paint has reached the screen.
#include <windows.h>
#include <commctrl.h>

#include "winui/DialogTemplate.h"
#include "winui/StartupMark.h"

namespace {

constexpr UINT kPainted = WM_APP + 1;

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM, LPARAM)
{
    static bool painted = false;
    switch (msg) {
    case WM_INITDIALOG: return TRUE;
    case WM_PAINT:
        if (!painted) {
            painted = true;
            PostMessageW(hwnd, kPainted, 0, 0);
        }
        return FALSE;
    case kPainted:
        RedrawWindow(hwnd, nullptr, nullptr, RDW_ALLCHILDREN | RDW_UPDATENOW);
        pelvar::PrintStartupMark("painted");
        EndDialog(hwnd, IDOK);
        return TRUE;
    default: return FALSE;
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    const pelvar::DialogTemplateBuilder dialog = pelvar::BuildPanelTemplate();
    DialogBoxIndirectParamW(instance, static_cast<LPCDLGTEMPLATEW>(dialog.Data()), nullptr, DialogProc, 0);
    return 0;
}
