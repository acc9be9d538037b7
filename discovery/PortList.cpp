#include "discovery/PortList.h"

#include "discovery/PortWalk.h"

#include <algorithm>
#include <memory>

namespace pelvar {

void SortedPortList::AddString(const std::string& text)
{
    // After any equal entries, so that equal texts keep the order they came in.
    auto at = std::upper_bound(m_entries.begin(), m_entries.end(), text, PortTextLess);
    m_entries.insert(at, text);
}

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
