#include "discovery/PortEntry.h"

#include <windows.h>

namespace pelvar {

namespace {

// The text up to its first NUL, as the control is handed it.
std::wstring Utf16(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

} // namespace

// A sorted combo box (CBS_SORT) places its strings with CompareStringW in
// the user's locale, ignoring case; Connect probes in the order it shows,
// so "Périphérique" comes before "Port" here too, not after as bytes would.
bool PortTextLess(const std::string& a, const std::string& b)
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, Utf16(a).c_str(), -1, Utf16(b).c_str(), -1)
           == CSTR_LESS_THAN;
}

} // namespace pelvar
