// Where the port list comes from: a walk over the machine's devices, one
// device at a time, that may end early with a failure.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace pelvar {

struct DeviceInfo {
    std::optional<std::string> name; // display name (UTF-8); none: the device has no name
    std::string devicePath;          // "/dev/ttyUSB0", or the target of a port directory entry
    int port = 0;                    // n of COMn when the source knows it, else 0
    // USB devices only, empty otherwise.
    std::string vendorId;  // "0403"
    std::string productId; // "6001"
    std::string serial;
    // The adapter's driver ("ftdi_sio") and a USB adapter's latency timer in
    // ms (-1 unknown), where the system shows them.
    std::string driver;
    int latencyTimerMs = -1;
    // Why opening it would be refused without trying (a port directory entry
    // that links to nothing, a FIFO); empty when it can be tried.
    std::string refusal;
};

enum class SourceStatus {
    Ok,          // Begin: ready; Next: a device was delivered
    End,         // Next: no more devices
    Unavailable, // Begin: no device service at all; an empty list, nothing reported
    Failed,      // the walk broke off; `error` says why
};

struct SourceResult {
    SourceStatus status = SourceStatus::Ok;
    std::string error; // the system's text for the failure

    static SourceResult Ok() { return {}; }
    static SourceResult End() { return {SourceStatus::End, {}}; }
    static SourceResult Unavailable() { return {SourceStatus::Unavailable, {}}; }
    static SourceResult Failed(std::string why) { return {SourceStatus::Failed, std::move(why)}; }
};

class IDeviceSource {
public:
    virtual ~IDeviceSource() = default;
    // Starts a new walk: Ok, Unavailable or Failed.
    virtual SourceResult Begin() = 0;
    // Next device into `device`: Ok, End or Failed. Only called after Begin gave Ok.
    virtual SourceResult Next(DeviceInfo& device) = 0;
};

// The machine's own devices, as this operating system lists them.
std::unique_ptr<IDeviceSource> MachineDevices();

} // namespace pelvar
