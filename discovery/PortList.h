// The machine's serial ports as a list of readable names, each ending in
// "(COMn)", sorted by whole text without regard to case.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "discovery/PortEntry.h"

namespace pelvar {

// A list that keeps its entries sorted (as a sorted combo box does).
class IPortList {
public:
    virtual ~IPortList() = default;
    virtual void Clear() = 0;
    virtual void AddString(const std::string& text) = 0;
};

class SortedPortList : public IPortList {
public:
    void Clear() override { m_entries.clear(); }
    void AddString(const std::string& text) override;
    const std::vector<std::string>& Entries() const { return m_entries; }

private:
    std::vector<std::string> m_entries;
};

class IDeviceSource;

// Empties `list` and fills it from `source`; a failure of the walk prints
// "Error ocured: <reason>" to `out` and keeps what was found before it.
void FillPortList(IPortList& list, IDeviceSource& source, std::FILE* out = stdout);

// From the machine's own devices (MachineDevices()).
void FillPortList(IPortList& list);

// The ports a search tries: the port alone when one is named, else the
// machine's listed ports in list order, less those never opened (the system
// console).
std::vector<PortRef> PortsToTry(const PortRef& port);

// The same ports in ascending order, for "every port" (--port all).
std::vector<PortRef> AllPortsToTry();

} // namespace pelvar
