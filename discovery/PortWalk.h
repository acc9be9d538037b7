// The pieces of FillPortList that pelvarctl and the tests use on their own.
#pragma once

#include "discovery/DeviceSource.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace pelvar {

// The port test looks at no more than this many bytes of a list text.
constexpr std::size_t kPortCopyLimit = 258;

// The 8-bit copy of a list text: its first kPortCopyLimit bytes at most, cut
// only between UTF-8 characters (a text stops at its first NUL). Empty when
// the bytes before the cut are not valid UTF-8.
std::string EightBitCopy(const std::string& text);

// True when the 8-bit copy holds "(COM": the text belongs in the port list.
bool HasPortMark(const std::string& text);

// The list's order: whole text, ASCII letters without regard to case.
bool PortTextLess(const std::string& a, const std::string& b);

// Walks `source` and hands every device whose name belongs in the port list
// to `add`, in the order of the walk. A failure is printed to `out` as
// "Error ocured: <reason>" (no line break) and ends the walk; devices handed
// over before it stay handed over. False when the walk failed.
bool WalkPortDevices(IDeviceSource& source, std::FILE* out,
                     const std::function<void(const DeviceInfo&)>& add);

struct PortListing {
    std::string text;   // the list entry
    DeviceInfo device;  // where it came from
};

// The port list with the devices behind its entries, in the list's order.
// `*failed` (when given) tells whether the walk broke off.
std::vector<PortListing> ListPortDevices(IDeviceSource& source, std::FILE* out, bool* failed = nullptr);

} // namespace pelvar
