// Network ports on Windows: the values COMn of the user's registry key
// HKEY_CURRENT_USER\Software\Pelvar\Network Ports, each a string
// rfc2217://HOST:PORT. (Files cannot serve here as on Linux: COM1 to COM9
// are reserved names in every Windows folder.)
#include "platform/PortName.h"
#include "platform/net/NetworkPlatform.h"

#include <algorithm>
#include <windows.h>

namespace pelvar {

bool FindNetworkPortEntry(int port, NetworkPortEntry* entry)
{
    if (port < kMinPort || port > kMaxPort)
        return false;
    const std::string name = "COM" + std::to_string(port);
    // Room for one byte past the longest line, so that a longer one is told
    // apart and refused rather than cut.
    char text[kPortEntryLineLimit + 3] = {};
    DWORD size = sizeof text;
    const LSTATUS status =
        RegGetValueA(HKEY_CURRENT_USER, kNetworkPortsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, text, &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        return false;
    entry->where = std::string("HKEY_CURRENT_USER\\") + kNetworkPortsKey + "\\" + name;
    entry->text.clear();
    if (status == ERROR_MORE_DATA)
        entry->error = "its line is longer than " + std::to_string(kPortEntryLineLimit) + " characters";
    else
        // All the bytes, not up to the first NUL: a NUL inside is refused, not cut at.
        PortEntryLine(std::string(text, size > 0 ? std::min<std::size_t>(size - 1, sizeof text - 1) : 0), &entry->text,
                      &entry->error);
    return true;
}

// Windows names its ports COMn only.
bool IsDevicePathName(const std::string&) { return false; }

} // namespace pelvar
