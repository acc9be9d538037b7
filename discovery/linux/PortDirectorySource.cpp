#include "discovery/linux/PortDirectorySource.h"

#include <utility>

namespace pelvar {

std::string PortDirectoryEntryName(const PortDirectoryEntry& entry)
{
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
    device.port = entry.port;
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
