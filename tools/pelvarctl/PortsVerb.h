// `pelvarctl ports [--verbose]`: the port list, one entry a line, in the
// order Connect tries them.
#pragma once

#include <cstdio>

namespace pelvar {

// What `ports` adds to the system console's line.
constexpr const char* kConsoleMark = "system console: never tried";
// Before the reason of an entry that cannot be opened: "refused: links to nothing".
constexpr const char* kRefusedMark = "refused: ";

class IDeviceSource;

// With `verbose`, each line also carries the device path and, for USB
// devices, "usb <vendor>:<product>" and "serial <number>", separated by tabs.
// 0 when the walk went through, 1 when it broke off (the list found before
// the break is still printed).
int RunPortsVerb(bool verbose, std::FILE* out);
int RunPortsVerb(bool verbose, std::FILE* out, IDeviceSource& source);

} // namespace pelvar
