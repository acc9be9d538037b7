// The machine's own device source, whichever the system offers.
#pragma once

#include <memory>

#include "discovery/DeviceSource.h"

namespace pelvar {

std::unique_ptr<IDeviceSource> NewMachineDeviceSource();

} // namespace pelvar
