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

} // namespace pelvar
