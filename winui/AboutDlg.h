// The about box: template built from the shared description, the program's
// icon, closed by OK, Enter or Escape.
#pragma once

#include <windows.h>

namespace pelvar {

class CAboutDlg {
public:
    explicit CAboutDlg(HINSTANCE instance) : m_hInstance(instance) {}
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HINSTANCE m_hInstance;
};

} // namespace pelvar
