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
    Other,
};

SysErrorKind ClassifyErrno(int err);

// "permission denied", "busy: held by another program", ... plus strerror.
std::string DescribeErrno(int err);

// The same wording for a kind and the system's own text of the error.
std::string DescribeSysError(SysErrorKind kind, const std::string& reason);

// Who holds a busy port ("process 1234 (minicom)"), from its lock file or
// the system; empty when nothing tells.
std::string PortHolderText(const std::string& devicePath);

// Group that owns a device node ("dialout"), empty if unknown.
std::string DeviceGroup(const std::string& path);

} // namespace pelvar
