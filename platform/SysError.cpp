#include "platform/SysError.h"

namespace pelvar {

std::string DescribeSysError(SysErrorKind kind, const std::string& reason)
{
    switch (kind) {
    case SysErrorKind::None: return "no error";
    case SysErrorKind::Permission: return "permission denied (" + reason + ")";
    case SysErrorKind::Busy: return "busy: held by another program (" + reason + ")";
    case SysErrorKind::NotFound: return "absent (" + reason + ")";
    case SysErrorKind::Unsupported: return "not a usable serial device (" + reason + ")";
    case SysErrorKind::Refused: return "connection refused (" + reason + ")";
    case SysErrorKind::UnknownHost: return "unknown host (" + reason + ")";
    case SysErrorKind::Dropped: return "the connection was lost (" + reason + ")";
    case SysErrorKind::NotRfc2217: return "this server does not speak RFC 2217";
    case SysErrorKind::Other: break;
    }
    return reason;
}

bool IsGoneError(int err)
{
    const SysErrorKind kind = ClassifyErrno(err);
    return kind == SysErrorKind::NotFound || kind == SysErrorKind::Dropped;
}

} // namespace pelvar
