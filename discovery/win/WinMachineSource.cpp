// The machine's devices on Windows: the user's network ports, then WMI,
// unless PELVAR_COM_PORTS names the ports (a testing aid: then those); an
// FTDI adapter's latency timer beside its port.
#include "discovery/DeviceSource.h"

#include <cstdlib>

#include "discovery/win/FtdiFactsSource.h"
#include "discovery/win/ListedPortSource.h"
#include "discovery/win/NetworkFolderSource.h"
#include "discovery/win/WmiDeviceSource.h"

namespace pelvar {

std::unique_ptr<IDeviceSource> MachineDevices()
{
    std::unique_ptr<IDeviceSource> devices;
    if (const char* listed = std::getenv(kListedPortsVariable))
        devices = std::make_unique<ListedPortSource>(listed);
    else
        devices = std::make_unique<WmiDeviceSource>();
    return std::make_unique<NetworkFolderSource>(std::make_unique<FtdiFactsSource>(std::move(devices)));
}

} // namespace pelvar
