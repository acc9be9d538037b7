#include "platform/posix/PortNames.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelvar {

namespace {

struct FixedFamily {
    const char* prefix; // device node without its index
    int firstPort;      // COM number of index 0
};

// 32 ports each; COM129..COM255 exist only through the port directory.
constexpr FixedFamily kFamilies[] = {
    {"/dev/ttyS", 1},
    {"/dev/ttyUSB", 33},
    {"/dev/ttyACM", 65},
    {"/dev/ttyAMA", 97},
};
constexpr int kFamilySize = 32;

// "COM7" -> 7; 0 for anything else (lower case, leading zeros, out of range).
int ParseEntryName(const char* name)
{
    if (name[0] != 'C' || name[1] != 'O' || name[2] != 'M')
        return 0;
    const char* digits = name + 3;
    if (*digits < '1' || *digits > '9')
        return 0;
    int n = 0;
    for (const char* p = digits; *p; ++p) {
        if (*p < '0' || *p > '9' || p - digits >= 3)
            return 0;
        n = n * 10 + (*p - '0');
    }
    return n <= kMaxPort ? n : 0;
}

std::string EntryTarget(const std::string& entry)
{
    char resolved[PATH_MAX];
    if (realpath(entry.c_str(), resolved))
        return resolved;
    char link[PATH_MAX];
    ssize_t n = readlink(entry.c_str(), link, sizeof link - 1);
    if (n <= 0)
        return {};
    return std::string(link, static_cast<std::size_t>(n));
}

// What stands behind an entry that is not a terminal. Regular files are
// network ports and say for themselves what is wrong with them.
std::string EntryRefusal(const std::string& entry)
{
    struct stat st {};
    if (stat(entry.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return "links to nothing";
        if (errno == ELOOP)
            return "a loop of links";
        return std::strerror(errno);
    }
    if (S_ISCHR(st.st_mode) || S_ISREG(st.st_mode))
        return {};
    if (S_ISFIFO(st.st_mode))
        return "not a terminal: a FIFO";
    if (S_ISDIR(st.st_mode))
        return "not a terminal: a directory";
    if (S_ISSOCK(st.st_mode))
        return "not a terminal: a socket";
    return "not a terminal: a block device";
}

} // namespace

std::string PortDirectoryRefusal(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? std::string() : std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "not a directory";
    if (st.st_uid != geteuid())
        return "owned by another user (uid " + std::to_string(st.st_uid) + ")";
    const bool group = (st.st_mode & S_IWGRP) != 0;
    const bool world = (st.st_mode & S_IWOTH) != 0;
    if (group && world)
        return "group-writable and world-writable";
    if (group)
        return "group-writable";
    if (world)
        return "world-writable";
    return {};
}

bool IsPrivateDirectory(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && PortDirectoryRefusal(path).empty();
}

std::string PortDirectoryNotice(const PortDirectory& dir)
{
    if (dir.refusal.empty())
        return {};
    return "port directory " + dir.path + " ignored: " + dir.refusal;
}

PortDirectory CurrentPortDirectory()
{
    PortDirectory dir{};
    if (const char* env = std::getenv("PELVAR_PORTS_DIR")) {
        dir.path = env;
        dir.exclusive = true;
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        dir.path = std::string(runtime) + "/pelvar/ports";
    } else {
        // No session runtime directory (a service, a root shell): a private one in /tmp.
        dir.path = "/tmp/pelvar-" + std::to_string(geteuid()) + "/ports";
    }
    dir.refusal = PortDirectoryRefusal(dir.path);
    dir.trusted = dir.refusal.empty() && IsPrivateDirectory(dir.path);
    // Otherwise its ports are just absent, and nothing would say why.
    static std::atomic<bool> s_noticed{false};
    if (!dir.refusal.empty() && !s_noticed.exchange(true))
        std::fprintf(stderr, "pelvar: %s\n", PortDirectoryNotice(dir).c_str());
    return dir;
}

std::string FixedPortPath(int port)
{
    for (const FixedFamily& f : kFamilies) {
        if (port >= f.firstPort && port < f.firstPort + kFamilySize)
            return f.prefix + std::to_string(port - f.firstPort);
    }
    return {};
}

int FixedPortNumber(const std::string& devicePath)
{
    for (const FixedFamily& f : kFamilies) {
        std::string prefix = f.prefix;
        if (devicePath.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string index = devicePath.substr(prefix.size());
        if (index.empty() || index.size() > 2 || (index.size() == 2 && index[0] == '0'))
            return 0;
        if (!std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return 0;
        int i = std::stoi(index);
        return i < kFamilySize ? f.firstPort + i : 0;
    }
    return 0;
}

std::string ResolvePortPath(int port, const PortDirectory& dir)
{
    if (port < kMinPort || port > kMaxPort)
        return {};
    if (dir.trusted) {
        std::string entry = dir.path + "/COM" + std::to_string(port);
        struct stat st {};
        if (lstat(entry.c_str(), &st) == 0)
            return entry;
    }
    if (dir.exclusive)
        return {};
    return FixedPortPath(port);
}

std::string ResolvePortPath(int port) { return ResolvePortPath(port, CurrentPortDirectory()); }

std::vector<PortDirectoryEntry> ListPortDirectory(const PortDirectory& dir)
{
    std::vector<PortDirectoryEntry> entries;
    if (!dir.trusted)
        return entries;
    DIR* d = opendir(dir.path.c_str());
    if (!d)
        return entries;
    while (struct dirent* e = readdir(d)) {
        int port = ParseEntryName(e->d_name);
        if (port == 0)
            continue;
        std::string entry = dir.path + "/" + e->d_name;
        entries.push_back({port, entry, EntryTarget(entry), EntryRefusal(entry)});
    }
    closedir(d);
    std::sort(entries.begin(), entries.end(),
              [](const PortDirectoryEntry& a, const PortDirectoryEntry& b) { return a.port < b.port; });
    return entries;
}

} // namespace pelvar
