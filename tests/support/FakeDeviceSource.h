// A device source that plays back a fixed walk, for tests and benchmarks.
#pragma once

#include "discovery/DeviceSource.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelvar::test {

class FakeDeviceSource : public IDeviceSource {
public:
    FakeDeviceSource() = default;
    explicit FakeDeviceSource(std::vector<DeviceInfo> devices) : devices(std::move(devices)) {}

    SourceResult Begin() override
    {
        ++beginCount;
        m_nNext = 0;
        return beginResult;
    }

    SourceResult Next(DeviceInfo& device) override
    {
        ++nextCount;
        if (failAt && m_nNext == *failAt)
            return SourceResult::Failed(failText);
        if (m_nNext >= devices.size())
            return SourceResult::End();
        device = devices[m_nNext++];
        return SourceResult::Ok();
    }

    std::vector<DeviceInfo> devices;
    SourceResult beginResult = SourceResult::Ok();
    std::optional<std::size_t> failAt; // Next fails instead of delivering this index
    std::string failText;
    int beginCount = 0;
    int nextCount = 0;

private:
    std::size_t m_nNext = 0;
};

inline DeviceInfo NamedDevice(std::optional<std::string> name, int port = 0)
{
    DeviceInfo device;
    device.name = std::move(name);
    device.port = port;
    return device;
}

} // namespace pelvar::test
