#include "discovery/linux/PortDirectorySource.h"

#include <utility>

#include "platform/net/NetworkPlatform.h"

namespace pelvar {

std::string PortDirectoryEntryName(const PortDirectoryEntry& entry)
{
    NetworkPortEntry network;
    if (FindNetworkPortEntry(entry.port, &network)) {
        const std::string shown = network.error.empty() ? network.text : "refused: " + network.error;
        return "Network port " + shown + " (COM" + std::to_string(entry.port) + ")";
    }
    // A broken link has no target; the entry itself is then the best name.
    const std::string& shown = entry.target.empty() ? entry.entry : entry.target;
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
    if (NetworkPortEntry network; FindNetworkPortEntry(entry.port, &network))
        device.devicePath = network.text;
    device.port = entry.port;
    device.refusal = entry.refusal;
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
