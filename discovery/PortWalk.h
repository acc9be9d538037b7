// Walking a device source for the port list: what FillPortList does, and
// what pelvarctl and the tests use on their own.
#pragma once

#include "discovery/DeviceSource.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace pelvar {

// Walks `source` and hands every device whose name belongs in the port list
// to `add`, in the order of the walk. A failure is printed to `out` as
// "Error ocured: <reason>" (no line break) and ends the walk; devices handed
// over before it stay handed over. False when the walk failed.
bool WalkPortDevices(IDeviceSource& source, std::FILE* out, const std::function<void(const DeviceInfo&)>& add);

struct PortListing {
    std::string text;  // the list entry
    DeviceInfo device; // where it came from
};

// The port list with the devices behind its entries, in the list's order.
// `*failed` (when given) tells whether the walk broke off.
std::vector<PortListing> ListPortDevices(IDeviceSource& source, std::FILE* out, bool* failed = nullptr);

} // namespace pelvar
