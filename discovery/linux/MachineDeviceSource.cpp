#include "discovery/linux/MachineDeviceSource.h"

#include "discovery/linux/UdevDeviceSource.h"

#include <algorithm>

namespace pelvar {

std::unique_ptr<IDeviceSource> MachineDevices() { return std::make_unique<MachineDeviceSource>(); }

MachineDeviceSource::MachineDeviceSource() : MachineDeviceSource(std::make_unique<UdevDeviceSource>()) {}

MachineDeviceSource::MachineDeviceSource(std::unique_ptr<IDeviceSource> devices) : m_pDevices(std::move(devices)) {}

SourceResult MachineDeviceSource::Begin()
{
    PortDirectory dir = CurrentPortDirectory();
    m_bExclusive = dir.exclusive;
    m_directory.emplace(std::move(dir));
    SourceResult begun = m_directory->Begin();
    m_shadowedPorts = m_directory->Ports();
    m_bInDirectory = true;
    m_bDevicesBegun = false;
    return begun;
}

SourceResult MachineDeviceSource::Next(DeviceInfo& device)
{
    // The directory first, so that its entries stay listed when the device walk fails.
    if (m_bInDirectory) {
        SourceResult step = m_directory->Next(device);
        if (step.status != SourceStatus::End)
            return step;
        m_bInDirectory = false;
    }
    if (m_bExclusive)
        return SourceResult::End();
    return NextDevice(device);
}

SourceResult MachineDeviceSource::NextDevice(DeviceInfo& device)
{
    if (!m_bDevicesBegun) {
        m_bDevicesBegun = true;
        SourceResult begun = m_pDevices->Begin();
        if (begun.status == SourceStatus::Unavailable) {
            m_bExclusive = true; // nothing more to walk
            return SourceResult::End();
        }
        if (begun.status != SourceStatus::Ok)
            return begun;
    }
    for (;;) {
        SourceResult step = m_pDevices->Next(device);
        if (step.status != SourceStatus::Ok || !IsShadowed(device.port))
            return step;
    }
}

bool MachineDeviceSource::IsShadowed(int port) const
{
    return port != 0 && std::find(m_shadowedPorts.begin(), m_shadowedPorts.end(), port) != m_shadowedPorts.end();
}

} // namespace pelvar
