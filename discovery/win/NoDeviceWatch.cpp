// On Windows a process is told of arriving devices through its window's
// messages: the window forwards them, nothing is watched here.
#include "discovery/DeviceWatch.h"

namespace pelvar {

std::unique_ptr<DeviceWatch> WatchMachineDevices(std::function<void()> /*arrived*/) { return nullptr; }

} // namespace pelvar
