#include "platform/SysError.h"

#include "platform/posix/UucpLock.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>

namespace pelvar {

SysErrorKind ClassifyErrno(int err)
{
    switch (err) {
    case 0: return SysErrorKind::None;
    case EACCES:
    case EPERM: return SysErrorKind::Permission;
    case EBUSY:
    case EWOULDBLOCK: return SysErrorKind::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO: return SysErrorKind::NotFound;
    case ENOTTY:
    case EINVAL:
    case ENOTSUP:
    case ELOOP: return SysErrorKind::Unsupported;
    case ECONNREFUSED: return SysErrorKind::Refused;
    case kErrorUnknownHost: return SysErrorKind::UnknownHost;
    case kErrorNotRfc2217: return SysErrorKind::NotRfc2217;
    case ECONNRESET:
    case EPIPE: return SysErrorKind::Dropped;
    default: return TlsErrorWords(err) ? SysErrorKind::Tls : SysErrorKind::Other;
    }
}

std::string DescribeErrno(int err)
{
    const char* tls = TlsErrorWords(err);
    const char* reason = err == kErrorUnknownHost ? "the name does not resolve" : tls ? tls : std::strerror(err);
    return DescribeSysError(ClassifyErrno(err), reason);
}

std::string PortHolderText(const std::string& devicePath) { return DescribePortHolder(devicePath); }

bool IsSystemConsole(const std::string& devicePath)
{
    return !devicePath.empty() && IsActiveConsole(CanonicalDevicePath(devicePath));
}

std::string DeviceGroup(const std::string& path)
{
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return {};
    struct group* gr = getgrgid(st.st_gid);
    if (!gr)
        return std::to_string(st.st_gid);
    return gr->gr_name;
}

} // namespace pelvar
