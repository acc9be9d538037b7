#include "discovery/win/NetworkFolderSource.h"

#include "platform/net/NetworkPlatform.h"

namespace pelvar {

NetworkFolderSource::NetworkFolderSource(std::unique_ptr<IDeviceSource> devices) : m_pDevices(std::move(devices)) {}

SourceResult NetworkFolderSource::Begin()
{
    m_entries.clear();
    m_nNext = 0;
    m_bDevicesBegun = false;
    m_bDevicesDone = false;
    for (int port = kMinPort; port <= kMaxPort; ++port) {
        NetworkPortEntry entry;
        if (!FindNetworkPortEntry(port, &entry))
            continue;
        DeviceInfo device;
        const std::string shown = entry.error.empty() ? entry.text : "refused: " + entry.error;
        device.name = "Network port " + shown + " (COM" + std::to_string(port) + ")";
        device.devicePath = entry.text;
        device.port = port;
        m_entries.push_back(device);
    }
    return SourceResult::Ok();
}

SourceResult NetworkFolderSource::Next(DeviceInfo& device)
{
    // The folder first, so that its entries stay listed when the device walk fails.
    if (m_nNext < m_entries.size()) {
        device = m_entries[m_nNext++];
        return SourceResult::Ok();
    }
    if (m_bDevicesDone)
        return SourceResult::End();
    if (!m_bDevicesBegun) {
        m_bDevicesBegun = true;
        SourceResult begun = m_pDevices->Begin();
        if (begun.status == SourceStatus::Unavailable) {
            m_bDevicesDone = true;
            return SourceResult::End();
        }
        if (begun.status != SourceStatus::Ok)
            return begun;
    }
    return m_pDevices->Next(device);
}

} // namespace pelvar
