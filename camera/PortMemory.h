// The port on which the board answered last time, so Connect tries it
// first. A USB adapter is known by its serial number, which survives being
// plugged into another socket and given another COM number.
#pragma once

#include <string>
#include <vector>

#include "discovery/DeviceWatch.h"
#include "discovery/PortWalk.h"

namespace pelvar {

struct PortMemory {
    int port = 0;       // 0: nothing remembered
    std::string serial; // the adapter's USB serial number; empty when it has none
};

// Where the memory is kept between runs (the user's settings).
class IPortMemoryStore {
public:
    virtual ~IPortMemoryStore() = default;
    virtual PortMemory Load() = 0;
    virtual void Save(const PortMemory& memory) = 0;
};

// The index of the listing that is the remembered adapter: by serial number
// when one was remembered, else by port number; -1 when it is not listed.
int FindRemembered(const std::vector<PortListing>& list, const PortMemory& memory);

// The list in the order Connect tries it: the remembered adapter first, the
// others in the list's order.
std::vector<PortListing> OrderForConnect(std::vector<PortListing> list, const PortMemory& memory);

// Whether a device notification is about the remembered adapter: by serial
// number when both have one, else by port number; a notice that names
// neither is about no adapter in particular.
bool IsRememberedAdapter(const DeviceNotice& notice, const PortMemory& memory);

// What to remember of the listing for `port`.
PortMemory MemoryFor(const std::vector<PortListing>& list, int port);

} // namespace pelvar
