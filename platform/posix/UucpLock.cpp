#include "platform/posix/UucpLock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelvar {

namespace {

constexpr const char* kDevPrefix = "/dev/";

std::string ReadSmallFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    char buf[128];
    ssize_t k = read(fd, buf, sizeof buf);
    close(fd);
    return k > 0 ? std::string(buf, static_cast<std::size_t>(k)) : std::string();
}

// The device name below /dev ("pts/3"), or the last component elsewhere.
std::string DeviceName(const std::string& devicePath)
{
    const std::size_t prefix = std::strlen(kDevPrefix);
    if (devicePath.compare(0, prefix, kDevPrefix) == 0)
        return devicePath.substr(prefix);
    const std::size_t slash = devicePath.rfind('/');
    return slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
}

pid_t ParseAsciiPid(const std::string& text)
{
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos || text[i] < '0' || text[i] > '9')
        return 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str() + i, &end, 10);
    return v > 0 && v <= INT_MAX ? static_cast<pid_t>(v) : 0;
}

// Writes our pid in a private file next to the lock, to be linked into
// place: the lock appears whole or not at all.
std::string WriteTempLock(const std::string& lockDir)
{
    std::string tmp = lockDir + "/LTMP." + std::to_string(getpid());
    unlink(tmp.c_str());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return {};
    char text[16];
    int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
    bool ok = write(fd, text, static_cast<std::size_t>(n)) == n;
    fchmod(fd, 0644); // readable by every program that checks it, whatever the umask
    if (close(fd) != 0 || !ok) {
        unlink(tmp.c_str());
        return {};
    }
    return tmp;
}

std::string ProcessName(pid_t pid)
{
    std::string comm = ReadSmallFile("/proc/" + std::to_string(pid) + "/comm");
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0'))
        comm.pop_back();
    return comm;
}

bool FdIsDevice(const std::string& fdPath, dev_t rdev)
{
    struct stat st {};
    return stat(fdPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev;
}

bool ProcessHasDeviceOpen(const std::string& pidDir, dev_t rdev)
{
    DIR* fds = opendir((pidDir + "/fd").c_str());
    if (!fds)
        return false;
    bool found = false;
    while (struct dirent* e = readdir(fds)) {
        if (e->d_name[0] != '.' && FdIsDevice(pidDir + "/fd/" + e->d_name, rdev)) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

// Another process with the device open, from /proc (only the processes we
// may look into); 0 when none is found.
pid_t FindOpener(const std::string& devicePath)
{
    struct stat dev {};
    if (stat(devicePath.c_str(), &dev) != 0 || !S_ISCHR(dev.st_mode))
        return 0;
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    pid_t found = 0;
    while (struct dirent* e = readdir(proc)) {
        pid_t pid = ParseAsciiPid(e->d_name);
        if (pid > 0 && pid != getpid() && ProcessHasDeviceOpen(std::string("/proc/") + e->d_name, dev.st_rdev)) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

bool HeldByOther(const std::string& lockPath)
{
    const pid_t pid = ReadLockPid(lockPath);
    return pid != getpid() && ProcessAlive(pid);
}

} // namespace

std::string DescribeProcess(pid_t pid)
{
    std::string text = "process " + std::to_string(pid);
    std::string name = ProcessName(pid);
    return name.empty() ? text : text + " (" + name + ")";
}

std::string LockFileName(const std::string& devicePath)
{
    std::string name = DeviceName(devicePath);
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    return "LCK.." + name;
}

pid_t ReadLockPid(const std::string& lockPath)
{
    std::string text = ReadSmallFile(lockPath);
    if (pid_t pid = ParseAsciiPid(text))
        return pid;
    if (text.size() == sizeof(int)) {
        int binary = 0;
        std::memcpy(&binary, text.data(), sizeof binary);
        return binary > 0 ? static_cast<pid_t>(binary) : 0;
    }
    return 0;
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

PortLockResult AcquirePortLock(const std::string& lockDir, const std::string& devicePath)
{
    PortLockResult r;
    const std::string lockPath = lockDir + "/" + LockFileName(devicePath);
    const std::string tmp = WriteTempLock(lockDir);
    if (tmp.empty()) {
        // No lock of our own here, but the others' locks still count.
        r.error = HeldByOther(lockPath) ? EBUSY : 0;
        return r;
    }
    // Two rounds: a stale lock found in the first is removed before the second.
    for (int round = 0; round < 2; ++round) {
        if (link(tmp.c_str(), lockPath.c_str()) == 0) {
            r.lockPath = lockPath;
            break;
        }
        if (errno != EEXIST || ReadLockPid(lockPath) == getpid())
            break;
        if (HeldByOther(lockPath)) {
            r.error = EBUSY;
            break;
        }
        unlink(lockPath.c_str());
    }
    unlink(tmp.c_str());
    return r;
}

void ReleasePortLock(const std::string& lockPath)
{
    if (!lockPath.empty() && ReadLockPid(lockPath) == getpid())
        unlink(lockPath.c_str());
}

std::vector<std::string> ParseConsoleList(const std::string& text)
{
    std::vector<std::string> names;
    std::size_t i = 0;
    while ((i = text.find_first_not_of(" \t\n", i)) != std::string::npos) {
        std::size_t end = text.find_first_of(" \t\n", i);
        names.push_back(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
        i = end;
    }
    return names;
}

bool IsActiveConsole(const std::string& devicePath, const std::string& sysTtyDir)
{
    const std::string name = DeviceName(devicePath);
    std::vector<std::string> consoles = ParseConsoleList(ReadSmallFile(sysTtyDir + "/console/active"));
    if (std::find(consoles.begin(), consoles.end(), "tty0") != consoles.end()) {
        for (const std::string& vt : ParseConsoleList(ReadSmallFile(sysTtyDir + "/tty0/active")))
            consoles.push_back(vt);
    }
    return std::find(consoles.begin(), consoles.end(), name) != consoles.end();
}

std::string DescribePortHolder(const std::string& devicePath, const std::string& lockDir)
{
    const std::string device = CanonicalDevicePath(devicePath);
    if (IsActiveConsole(device))
        return "the system console";
    const std::string lockPath = lockDir + "/" + LockFileName(device);
    if (HeldByOther(lockPath))
        return DescribeProcess(ReadLockPid(lockPath));
    if (pid_t opener = FindOpener(device))
        return DescribeProcess(opener);
    return {};
}

std::string CanonicalDevicePath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

} // namespace pelvar
