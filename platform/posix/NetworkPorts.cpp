// Network ports on Linux: a regular file COMn in the port directory holding
// one line rfc2217://HOST:PORT. The directory's trust rule holds, and the
// file too must be the user's and writable by no one else.
#include "platform/PortName.h"
#include "platform/net/NetworkPlatform.h"
#include "platform/posix/PortNames.h"

#include <sys/stat.h>
#include <unistd.h>

namespace pelvar {

bool FindNetworkPortEntry(int port, NetworkPortEntry* entry)
{
    if (port < kMinPort || port > kMaxPort)
        return false;
    const PortDirectory dir = CurrentPortDirectory();
    if (!dir.trusted)
        return false;
    const std::string path = dir.path + "/COM" + std::to_string(port);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return false;
    return ReadPortEntryLine(path, entry);
}

bool IsDevicePathName(const std::string& text) { return !text.empty() && text[0] == '/'; }

} // namespace pelvar
