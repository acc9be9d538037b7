// The application object on Windows: prepares the common controls, runs the
// control panel as a modal dialog and lets the process end when it closes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "winui/PelvarDlg.h"

namespace pelvar {

class CPelvarApp {
public:
    explicit CPelvarApp(HINSTANCE instance) : m_hInstance(instance) {}

    // Runs the panel until it is closed; always false: there is no main
    // loop of the application's own after it. Without a platform, the
    // machine's ports; `firstPaint` (optional) runs after the first paint.
    // `faults`: the demo board's switches for the window menu.
    bool InitInstance(CPelvarDlg::PortListFiller fillPorts, IPlatform& platform,
                      std::function<void(HWND)> firstPaint = {}, std::vector<FaultSwitch> faults = {});

private:
    HINSTANCE m_hInstance;
};

// PELVAR_EXIT_AFTER_SHOW=1: the panel closes after its first paint (the
// start-up benchmark).
bool ExitAfterShowRequested();

} // namespace pelvar
