// A bitmap the window drew, as the bytes of a PNG file, through GDI+'s
// encoder (the system's own: nothing to ship beside the program).
#pragma once

#include <windows.h>

#include <string>

namespace pelvar {

// Empty when GDI+ cannot encode it.
std::string EncodePng(HBITMAP bitmap);

} // namespace pelvar
