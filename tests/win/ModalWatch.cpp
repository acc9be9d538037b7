#include "tests/win/ModalWatch.h"

namespace pelvar::test {

namespace {

struct Watch {
    HWND except = nullptr;
    DWORD deadline = 0;
    std::vector<SeenWindow>* seen = nullptr;
    std::vector<HWND> closing; // already recorded, its close on the way
};
Watch g_watch;

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto* window = reinterpret_cast<SeenWindow*>(param);
    window->texts.push_back(TextOf(child));
    // A message box's icon is a static picture (SS_ICON).
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        window->hasIcon = true;
        window->icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    }
    return TRUE;
}

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM)
{
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (hwnd == g_watch.except || std::wstring(cls) != L"#32770" || !IsWindowVisible(hwnd))
        return TRUE;
    for (HWND closing : g_watch.closing) {
        if (closing == hwnd)
            return TRUE;
    }
    g_watch.closing.push_back(hwnd);
    SeenWindow window;
    window.caption = TextOf(hwnd);
    window.owner = GetWindow(hwnd, GW_OWNER);
    EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&window));
    g_watch.seen->push_back(window);
    PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
    return FALSE;
}

void CALLBACK Poll(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (GetTickCount() > g_watch.deadline) {
        KillTimer(nullptr, timer);
        return;
    }
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, 0);
}

} // namespace

std::wstring TextOf(HWND hwnd)
{
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

std::vector<SeenWindow> WatchModal(HWND except, const std::function<void()>& trigger, UINT limitMs)
{
    std::vector<SeenWindow> seen;
    g_watch = {except, GetTickCount() + limitMs, &seen, {}};
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, Poll);
    trigger();
    KillTimer(nullptr, timer);
    return seen;
}

} // namespace pelvar::test
