// The machine's ports: the port directory's entries, then the devices (udev)
// whose port numbers the directory does not take over. With the directory
// exclusive (PELVAR_PORTS_DIR set) the directory alone.
#pragma once

#include "discovery/DeviceSource.h"
#include "discovery/linux/PortDirectorySource.h"

#include <memory>
#include <optional>
#include <vector>

namespace pelvar {

class MachineDeviceSource : public IDeviceSource {
public:
    MachineDeviceSource(); // the devices come from udev
    explicit MachineDeviceSource(std::unique_ptr<IDeviceSource> devices);

    SourceResult Begin() override;
    SourceResult Next(DeviceInfo& device) override;

private:
    SourceResult NextDevice(DeviceInfo& device);
    bool IsShadowed(int port) const;

    std::unique_ptr<IDeviceSource> m_pDevices;
    std::optional<PortDirectorySource> m_directory;
    std::vector<int> m_shadowedPorts;
    bool m_bExclusive = false;
    bool m_bInDirectory = false;
    bool m_bDevicesBegun = false;
};

} // namespace pelvar
