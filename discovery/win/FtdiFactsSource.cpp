#include "discovery/win/FtdiFactsSource.h"

#include "discovery/PortEntry.h"

namespace pelvar {

FtdiFactsSource::FtdiFactsSource(std::unique_ptr<IDeviceSource> devices, HKEY root, std::wstring busKey)
    : m_pDevices(std::move(devices)), m_root(root), m_busKey(std::move(busKey))
{}

SourceResult FtdiFactsSource::Next(DeviceInfo& device)
{
    SourceResult result = m_pDevices->Next(device);
    if (result.status != SourceStatus::Ok)
        return result;
    // WMI gives only the name: its "(COMn)" says which port.
    int port = device.port;
    if (port == 0 && device.name && !ReadPortEntry(*device.name, &port))
        port = 0;
    if (port > 0) {
        const AdapterFacts facts = ReadFtdiAdapterFacts(port, m_root, m_busKey);
        if (!facts.driver.empty()) {
            device.driver = facts.driver;
            device.latencyTimerMs = facts.latencyTimerMs;
        }
    }
    return result;
}

} // namespace pelvar
