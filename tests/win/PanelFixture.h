// What the Win32 panel's tests share: the tests' own registry key for the
// remembered port, and running the window's messages until a condition holds.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "winui/RegistryPortMemory.h"

namespace pelvar::test {

// The tests' own place for the remembered port, not the program's.
constexpr const wchar_t* kTestKey = L"Software\\Zandrel\\PelvarPanelTest";

inline std::unique_ptr<IPortMemoryStore> TestMemory()
{
    RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey);
    return std::make_unique<CRegistryPortMemory>(kTestKey);
}

// The window's messages, as its message loop would run them, until `done`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limitMs)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

} // namespace pelvar::test
