// The network ports the user keeps in the registry (the value COMn of
// HKEY_CURRENT_USER\Software\Pelvar\Network Ports holding
// rfc2217://HOST:PORT), listed ahead of the machine's own devices.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "discovery/DeviceSource.h"

namespace pelvar {

class NetworkFolderSource : public IDeviceSource {
public:
    // The folder's entries first, then every device of `devices`.
    explicit NetworkFolderSource(std::unique_ptr<IDeviceSource> devices);

    SourceResult Begin() override;
    SourceResult Next(DeviceInfo& device) override;

private:
    std::unique_ptr<IDeviceSource> m_pDevices;
    std::vector<DeviceInfo> m_entries;
    std::size_t m_nNext = 0;
    bool m_bDevicesBegun = false;
    bool m_bDevicesDone = false;
};

} // namespace pelvar
