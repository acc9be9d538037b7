#include "discovery/PortList.h"

#include "discovery/PortWalk.h"

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
    SortedPortList list;
    FillPortList(list);
    std::vector<PortRef> ports;
    for (const std::string& entry : list.Entries()) {
        int n = 0;
        if (ReadPortEntry(entry, &n))
            ports.push_back(PortRef::Com(n));
    }
    return ports;
}

} // namespace pelvar
