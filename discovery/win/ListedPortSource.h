// Testing aid: ports named in PELVAR_COM_PORTS ("COM200 COM201", separated by
// spaces, commas or semicolons) stand for the machine's devices, as the port
// directory does on Linux. Each is listed as "Communications Port (COMn)".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "discovery/DeviceSource.h"

namespace pelvar {

constexpr const char* kListedPortsVariable = "PELVAR_COM_PORTS";

// Port numbers of the names in `text`, in their order; names other than
// COM1..COM255 are passed over.
std::vector<int> ParseListedPorts(const std::string& text);

class ListedPortSource : public IDeviceSource {
public:
    explicit ListedPortSource(std::string text);

    SourceResult Begin() override;
    SourceResult Next(DeviceInfo& device) override;

private:
    std::string m_text;
    std::vector<int> m_ports;
    std::size_t m_nNext = 0;
};

} // namespace pelvar
