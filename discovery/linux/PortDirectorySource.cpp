#include "discovery/linux/PortDirectorySource.h"

#include <utility>

#include "platform/PortName.h"
#include "platform/net/NetworkPlatform.h"

namespace pelvar {

std::string PortDirectoryEntryName(const PortDirectoryEntry& entry)
{
    // A file naming a device (with options) is named as a link to it would be.
    NetworkPortEntry line;
    const bool file = FindNetworkPortEntry(entry.port, &line);
    if (file && !IsDevicePathName(line.text)) {
        const std::string shown = line.error.empty() ? line.text : "refused: " + line.error;
        return "Network port " + shown + " (COM" + std::to_string(entry.port) + ")";
    }
    DeviceEntry device;
    std::string error;
    const std::string shown = file && ParseDeviceEntry(line.text, &device, &error) ? device.path
                              : file                                               ? line.text
                              : entry.target.empty() ? entry.entry // a broken link has no target
                                                     : entry.target;
    const char* kind = shown.rfind("/dev/pts/", 0) == 0 ? "Pseudo terminal " : "Serial device ";
    return kind + shown + " (COM" + std::to_string(entry.port) + ")";
}

PortDirectorySource::PortDirectorySource(PortDirectory dir) : m_dir(std::move(dir)) {}

SourceResult PortDirectorySource::Begin()
{
    m_entries = ListPortDirectory(m_dir);
    m_nNext = 0;
    return SourceResult::Ok();
}

SourceResult PortDirectorySource::Next(DeviceInfo& device)
{
    if (m_nNext >= m_entries.size())
        return SourceResult::End();
    const PortDirectoryEntry& entry = m_entries[m_nNext++];
    device = DeviceInfo{};
    device.name = PortDirectoryEntryName(entry);
    device.devicePath = entry.target.empty() ? entry.entry : entry.target;
    if (DeviceEntry named; FindDeviceEntry(entry.port, &named))
        device.devicePath = named.path;
    else if (NetworkPortEntry network; FindNetworkPortEntry(entry.port, &network))
        device.devicePath = network.text;
    device.port = entry.port;
    device.refusal = entry.refusal;
    // A device entry with an option it does not know is never opened.
    NetworkPortEntry line;
    std::string error;
    DeviceEntry named;
    if (FindNetworkPortEntry(entry.port, &line) && !ParseDeviceEntry(line.text, &named, &error) && !error.empty())
        device.refusal = error;
    return SourceResult::Ok();
}

std::vector<int> PortDirectorySource::Ports() const
{
    std::vector<int> ports;
    for (const PortDirectoryEntry& entry : m_entries)
        ports.push_back(entry.port);
    return ports;
}

} // namespace pelvar
