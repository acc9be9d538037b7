// The machine's devices with what the FTDI driver's registry keys show of
// each COM port's adapter: its driver and latency timer.
#pragma once

#include <memory>
#include <string>

#include "discovery/DeviceSource.h"
#include "platform/win/FtdiRegistry.h"

namespace pelvar {

class FtdiFactsSource : public IDeviceSource {
public:
    // The keys are read under `busKey` of `root`.
    explicit FtdiFactsSource(std::unique_ptr<IDeviceSource> devices, HKEY root = HKEY_LOCAL_MACHINE,
                             std::wstring busKey = kFtdiBusKey);

    SourceResult Begin() override { return m_pDevices->Begin(); }
    SourceResult Next(DeviceInfo& device) override;

private:
    std::unique_ptr<IDeviceSource> m_pDevices;
    HKEY m_root;
    std::wstring m_busKey;
};

} // namespace pelvar
