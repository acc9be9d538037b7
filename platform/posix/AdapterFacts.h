// What sysfs shows of the adapter behind a tty device: its driver, and a USB
// serial adapter's latency timer (the time it holds received bytes before
// passing them to the host).
#pragma once

#include <string>

#include "platform/Platform.h"

namespace pelvar {

constexpr const char* kSysfsRoot = "/sys";

// The facts of the tty at `devicePath` ("/dev/ttyUSB0", or a link to it) as
// the sysfs tree at `root` shows them; empty where it shows nothing.
AdapterFacts ReadAdapterFacts(const std::string& devicePath, const std::string& root = kSysfsRoot);

} // namespace pelvar
