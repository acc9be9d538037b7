// A picture of a window as the screen shows it (frame and title bar
// included), written as a 24-bit BMP file.
#pragma once

#include <windows.h>

#include <string>

namespace pelvar {

bool SaveWindowPicture(HWND hwnd, const std::wstring& path);

} // namespace pelvar
