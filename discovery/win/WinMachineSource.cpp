// The machine's devices on Windows: WMI, unless PELVAR_COM_PORTS names the
// ports (a testing aid: then those alone).
#include "discovery/DeviceSource.h"

#include <cstdlib>

#include "discovery/win/ListedPortSource.h"
#include "discovery/win/WmiDeviceSource.h"

namespace pelvar {

std::unique_ptr<IDeviceSource> MachineDevices()
{
    if (const char* listed = std::getenv(kListedPortsVariable))
        return std::make_unique<ListedPortSource>(listed);
    return std::make_unique<WmiDeviceSource>();
}

} // namespace pelvar
