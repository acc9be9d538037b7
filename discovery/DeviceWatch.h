// Arrivals of serial devices as events: the worker is woken when an adapter
// or a port directory entry appears, instead of looking again at intervals.
// What the notification says of the adapter, when it says anything, is
// kept in a DeviceNotice.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace pelvar {

enum class DeviceChange { Arrived, Removed };

struct DeviceNotice {
    int port = 0;       // n of COMn; 0 when the notice does not say
    std::string serial; // the adapter's USB serial number; empty when unknown
};

// The notice for a device name as Windows reports it: "COM5" (a port), or a
// device interface path "\\?\USB#VID_0403&PID_6001#A1B2C3#{86e0d1e0-...}",
// whose instance id carries the serial number (unless the system made the
// id up, as it does for adapters without one: then it holds '&').
DeviceNotice NoticeFromDeviceName(const std::string& name);

class DeviceWatch {
public:
    virtual ~DeviceWatch() = default;
};

// Calls `arrived` (on a thread of its own) whenever a serial device or a
// port directory entry appears, until destroyed. Null where the system has
// no such notification for a process (on Windows the window receives them).
std::unique_ptr<DeviceWatch> WatchMachineDevices(std::function<void()> arrived);

} // namespace pelvar
