#include "winui/AboutDlg.h"

#include "winui/DialogTemplate.h"
#include "winui/ResourceIds.h"

namespace pelvar {

INT_PTR CAboutDlg::DoModal(HWND owner)
{
    const DialogTemplateBuilder dialog = BuildAboutTemplate(IDR_MAINFRAME);
    return DialogBoxIndirectParamW(m_hInstance, static_cast<LPCDLGTEMPLATEW>(dialog.Data()), owner, DialogProc, 0);
}

// The dialog's own OK and Cancel end it; Close in its caption sends Cancel.
INT_PTR CALLBACK CAboutDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (msg) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hwnd, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

} // namespace pelvar
