// Reaching a modal window that a message opens: a thread timer, which the
// modal loop dispatches, finds the new dialog of this thread, hands it to
// the test and closes it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace pelvar::test {

struct SeenWindow {
    std::wstring caption;
    std::vector<std::wstring> texts; // its child windows' texts, in order
    HWND owner = nullptr;
    bool hasIcon = false;
    HICON icon = nullptr; // the picture's icon
};

// Runs `trigger` (which opens a modal dialog and returns when it closes).
// Each dialog of class #32770 other than `except` that appears meanwhile is
// recorded and closed with IDOK. Gives up after `limitMs`.
std::vector<SeenWindow> WatchModal(HWND except, const std::function<void()>& trigger, UINT limitMs = 5000);

std::wstring TextOf(HWND hwnd);

} // namespace pelvar::test
