#include "app/win/PelvarApp.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>

namespace pelvar {

bool CPelvarApp::InitInstance(CPelvarDlg::PortListFiller fillPorts, IPlatform& platform,
                              std::function<void(HWND)> firstPaint, std::vector<FaultSwitch> faults)
{
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    CPelvarDlg dlg(m_hInstance, std::move(fillPorts), platform);
    if (firstPaint)
        dlg.OnFirstPaint(std::move(firstPaint));
    dlg.SetFaultSwitches(std::move(faults));
    dlg.DoModal();
    return false;
}

bool ExitAfterShowRequested()
{
    const char* value = std::getenv("PELVAR_EXIT_AFTER_SHOW");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace pelvar
