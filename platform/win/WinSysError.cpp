// The Windows side of platform/SysError.h: the codes are GetLastError values.
#include "platform/SysError.h"

#include <windows.h>

namespace pelvar {

namespace {

// The system's own text for a code, without its trailing period and line break.
std::string SystemText(DWORD err)
{
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string s = n > 0 && text ? std::string(text, n) : std::string();
    LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.' || s.back() == ' '))
        s.pop_back();
    return s;
}

} // namespace

SysErrorKind ClassifyErrno(int err)
{
    switch (static_cast<DWORD>(err)) {
    case 0: return SysErrorKind::None;
    // A COM port is opened without sharing: access denied means that another
    // program holds it, not a missing right.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return SysErrorKind::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    // What a pulled USB adapter's driver answers a write or a read with.
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED: return SysErrorKind::NotFound;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED: return SysErrorKind::Unsupported;
    case WSAECONNREFUSED: return SysErrorKind::Refused;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA: return SysErrorKind::UnknownHost;
    case WSAECONNRESET:
    case WSAECONNABORTED: return SysErrorKind::Dropped;
    case static_cast<DWORD>(kErrorNotRfc2217): return SysErrorKind::NotRfc2217;
    default: return TlsErrorWords(err) ? SysErrorKind::Tls : SysErrorKind::Other;
    }
}

std::string DescribeErrno(int err)
{
    if (const char* tls = TlsErrorWords(err))
        return DescribeSysError(SysErrorKind::Tls, tls);
    std::string text = SystemText(static_cast<DWORD>(err));
    std::string reason = (text.empty() ? "" : text + ", ") + "error " + std::to_string(static_cast<DWORD>(err));
    return DescribeSysError(ClassifyErrno(err), reason);
}

// A COM port is never the system console on Windows.
bool IsSystemConsole(const std::string&) { return false; }

std::string PortHolderText(const std::string&)
{
    // Windows tells nobody which process holds a COM port.
    return {};
}

std::string DeviceGroup(const std::string&)
{
    // Windows has no device groups; access to a port is not granted by one.
    return {};
}

} // namespace pelvar
