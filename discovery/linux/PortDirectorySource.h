// The entries COMn of the port directory as devices, named after their target.
#pragma once

#include "discovery/DeviceSource.h"
#include "platform/posix/PortNames.h"

#include <cstddef>
#include <vector>

namespace pelvar {

// "Pseudo terminal /dev/pts/3 (COM201)", "Serial device /dev/ttyUSB0 (COM200)".
std::string PortDirectoryEntryName(const PortDirectoryEntry& entry);

class PortDirectorySource : public IDeviceSource {
public:
    explicit PortDirectorySource(PortDirectory dir);

    SourceResult Begin() override;
    SourceResult Next(DeviceInfo& device) override;

    // Port numbers the directory takes, from the last Begin.
    std::vector<int> Ports() const;

private:
    PortDirectory m_dir;
    std::vector<PortDirectoryEntry> m_entries;
    std::size_t m_nNext = 0;
};

} // namespace pelvar
