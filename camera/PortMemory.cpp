#include "camera/PortMemory.h"

#include <algorithm>

#include "discovery/PortEntry.h"

namespace pelvar {

namespace {

int EntryPort(const PortListing& listing)
{
    int port = 0;
    return ReadPortEntry(listing.text, &port) ? port : 0;
}

} // namespace

int FindRemembered(const std::vector<PortListing>& list, const PortMemory& memory)
{
    if (memory.port == 0 && memory.serial.empty())
        return -1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const bool same =
            memory.serial.empty() ? EntryPort(list[i]) == memory.port : list[i].device.serial == memory.serial;
        if (same)
            return static_cast<int>(i);
    }
    return -1;
}

bool IsRememberedAdapter(const DeviceNotice& notice, const PortMemory& memory)
{
    if (!notice.serial.empty() && !memory.serial.empty())
        return notice.serial == memory.serial;
    return notice.port != 0 && notice.port == memory.port;
}

std::vector<PortListing> OrderForConnect(std::vector<PortListing> list, const PortMemory& memory)
{
    const int first = FindRemembered(list, memory);
    if (first > 0)
        std::rotate(list.begin(), list.begin() + first, list.begin() + first + 1);
    return list;
}

PortMemory MemoryFor(const std::vector<PortListing>& list, int port)
{
    PortMemory memory;
    memory.port = port;
    for (const PortListing& listing : list) {
        if (EntryPort(listing) == port) {
            memory.serial = listing.device.serial;
            break;
        }
    }
    return memory;
}

} // namespace pelvar
