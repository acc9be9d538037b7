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
    case SysErrorKind::Other: break;
    }
    return reason;
}

} // namespace pelvar
