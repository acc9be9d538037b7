// errno sorted into the few kinds a user can act on.
#pragma once

#include <string>

namespace pelvar {

enum class SysErrorKind {
    None,
    Permission,  // EACCES, EPERM: not in the device's group
    Busy,        // EBUSY, EWOULDBLOCK on the lock: held by another program
    NotFound,    // ENOENT, ENODEV, ENXIO, EIO: absent, unplugged or gone
    Unsupported, // ENOTTY, EINVAL: not a serial device, setting refused
    Refused,     // ECONNREFUSED: nothing serves a network port there
    UnknownHost, // a network port's host name that does not resolve
    Dropped,     // ECONNRESET: a network port's connection was lost
    NotRfc2217,  // a network port's server that refused COM-PORT-OPTION
    Other,
};

// A network port's host that does not resolve: errno has no code for it.
constexpr int kErrorUnknownHost = -0x4E48;
// A network port's server that refused to control a line: no system has a
// code for it, on either side.
constexpr int kErrorNotRfc2217 = -0x4E52;

// The device or the connection has gone for good: unplugged, hung up, dropped.
bool IsGoneError(int err);

SysErrorKind ClassifyErrno(int err);

// "permission denied", "busy: held by another program", ... plus strerror.
std::string DescribeErrno(int err);

// The same wording for a kind and the system's own text of the error.
std::string DescribeSysError(SysErrorKind kind, const std::string& reason);

// Who holds a busy port ("process 1234 (minicom)"), from its lock file or
// the system; empty when nothing tells.
std::string PortHolderText(const std::string& devicePath);

// Whether the device is an active system console: never opened, so never
// tried by a search across every port.
bool IsSystemConsole(const std::string& devicePath);

// Group that owns a device node ("dialout"), empty if unknown.
std::string DeviceGroup(const std::string& path);

} // namespace pelvar
