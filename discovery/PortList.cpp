#include "discovery/PortList.h"

#include "discovery/PortWalk.h"
#include "platform/Platform.h"
#include "platform/SysError.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace pelvar {

void SortedPortList::AddString(const std::string& text) { InsertInListOrder(m_entries, text, std::identity{}); }

void FillPortList(IPortList& list, IDeviceSource& source, std::FILE* out)
{
    list.Clear();
    WalkPortDevices(source, out, [&list](const DeviceInfo& device) { list.AddString(*device.name); });
}

void FillPortList(IPortList& list)
{
    std::unique_ptr<IDeviceSource> source = MachineDevices();
    FillPortList(list, *source, stdout);
}

std::vector<PortRef> PortsToTry(const PortRef& port)
{
    if (port.kind != PortRef::Kind::None)
        return {port};
    std::vector<PortRef> ports;
    std::unique_ptr<IDeviceSource> source = MachineDevices();
    for (const PortListing& listing : ListPortDevices(*source, stdout, nullptr)) {
        int n = 0;
        if (ReadPortEntry(listing.text, &n) && !IsSystemConsole(listing.device.devicePath))
            ports.push_back(PortRef::Com(n));
    }
    return ports;
}

std::vector<PortRef> AllPortsToTry()
{
    std::vector<PortRef> ports = PortsToTry(PortRef{});
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [](const PortRef& p) { return p.number < kMinPort || p.number > kMaxPort; }),
                ports.end());
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

} // namespace pelvar
