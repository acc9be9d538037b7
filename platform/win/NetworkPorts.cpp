// Network ports on Windows: a file COMn in %APPDATA%\Pelvar\ports holding
// one line rfc2217://HOST:PORT, the user's own folder as the port directory
// is on Linux.
#include "platform/PortName.h"
#include "platform/net/NetworkPlatform.h"

#include <cstdlib>
#include <windows.h>

namespace pelvar {

namespace {

std::string NetworkPortsFolder()
{
    const char* appData = std::getenv("APPDATA");
    if (!appData || !*appData)
        return {};
    return std::string(appData) + "\\Pelvar\\ports";
}

} // namespace

bool FindNetworkPortEntry(int port, NetworkPortEntry* entry)
{
    if (port < kMinPort || port > kMaxPort)
        return false;
    const std::string folder = NetworkPortsFolder();
    if (folder.empty())
        return false;
    const std::string path = folder + "\\COM" + std::to_string(port);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    entry->where = path;
    return ReadPortEntryLine(path, &entry->text);
}

// Windows names its ports COMn only.
bool IsDevicePathName(const std::string&) { return false; }

bool PortNumberTaken(int port)
{
    NetworkPortEntry entry;
    return FindNetworkPortEntry(port, &entry);
}

} // namespace pelvar
