// Network ports on Windows: the values COMn of the user's registry key
// HKEY_CURRENT_USER\Software\Pelvar\Network Ports, each a string
// rfc2217://HOST:PORT. (Files cannot serve here as on Linux: COM1 to COM9
// are reserved names in every Windows folder.)
#include "platform/PortName.h"
#include "platform/net/NetworkPlatform.h"

#include <windows.h>

namespace pelvar {

bool FindNetworkPortEntry(int port, NetworkPortEntry* entry)
{
    if (port < kMinPort || port > kMaxPort)
        return false;
    const std::string name = "COM" + std::to_string(port);
    char text[512] = {};
    DWORD size = sizeof text;
    if (RegGetValueA(HKEY_CURRENT_USER, kNetworkPortsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, text, &size)
        != ERROR_SUCCESS)
        return false;
    std::string s(text);
    s = s.substr(0, s.find_first_of("\r\n"));
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    entry->where = std::string("HKEY_CURRENT_USER\\") + kNetworkPortsKey + "\\" + name;
    entry->text = s;
    return true;
}

// Windows names its ports COMn only.
bool IsDevicePathName(const std::string&) { return false; }

bool PortNumberTaken(int port)
{
    NetworkPortEntry entry;
    return FindNetworkPortEntry(port, &entry);
}

} // namespace pelvar
