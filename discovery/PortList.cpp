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

std::vector<int> PortsToTry(int port)
{
    if (port > 0)
        return {port};
    std::vector<int> ports;
    std::unique_ptr<IDeviceSource> source = MachineDevices();
    for (const PortListing& listing : ListPortDevices(*source, stdout, nullptr)) {
        int n = 0;
        if (ReadPortEntry(listing.text, &n) && !IsSystemConsole(listing.device.devicePath))
            ports.push_back(n);
    }
    return ports;
}

std::vector<int> AllPortsToTry()
{
    std::vector<int> ports = PortsToTry(0);
    ports.erase(std::remove_if(ports.begin(), ports.end(), [](int n) { return n < kMinPort || n > kMaxPort; }),
                ports.end());
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

} // namespace pelvar
