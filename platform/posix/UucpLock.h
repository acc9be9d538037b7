// The UUCP lock-file convention that Linux serial programs (minicom, picocom,
// gpsd, ModemManager, getty wrappers) share: /run/lock/LCK..NAME for the
// device /dev/NAME, holding the owner's pid as ten characters and a newline.
// flock and TIOCEXCL stop only programs that use them too; the lock file is
// what the others look at.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace pelvar {

constexpr const char* kUucpLockDir = "/run/lock";

// "LCK..pts_3" for /dev/pts/3: the path below /dev with '/' written as '_'.
// A device outside /dev is named by its last component.
std::string LockFileName(const std::string& devicePath);

// The pid a lock file names: ASCII (blanks, digits) or the old 4-byte binary
// form; 0 when the file is missing or says nothing usable.
pid_t ReadLockPid(const std::string& lockPath);

// Whether `pid` is a running process (one we may not signal counts too).
bool ProcessAlive(pid_t pid);

struct PortLockResult {
    int error = 0;        // 0, or EBUSY when another live process holds it
    std::string lockPath; // the lock file we created; empty when none
};

// Takes the lock of the device at `devicePath` (already resolved to /dev/...)
// in `lockDir`. A lock file of a dead process is stale and removed. When the
// directory cannot take our lock file (absent, read-only) the port is used
// without one, but another process's lock still makes it busy; a lock
// naming this process is left to its owner.
PortLockResult AcquirePortLock(const std::string& lockDir, const std::string& devicePath);

// Removes a lock file that this process created.
void ReleasePortLock(const std::string& lockPath);

// Device names of the active system consoles, as the kernel lists them
// ("tty0 ttyS0"): tty0 stands for the foreground virtual terminal too.
std::vector<std::string> ParseConsoleList(const std::string& text);

// Whether `devicePath` (resolved) is an active system console, read from
// `sysTtyDir` (normally /sys/class/tty).
bool IsActiveConsole(const std::string& devicePath, const std::string& sysTtyDir = "/sys/class/tty");

// "process 1234 (minicom)": a pid and, when the system tells, its program.
std::string DescribeProcess(pid_t pid);

// Who holds a busy port, for messages: "process 1234 (minicom)" from its lock
// file, else from the processes that have the device open, "the system
// console", or empty when nothing tells.
std::string DescribePortHolder(const std::string& devicePath, const std::string& lockDir = kUucpLockDir);

// The resolved device path of a port path (links followed); the path itself
// when it cannot be resolved.
std::string CanonicalDevicePath(const std::string& path);

} // namespace pelvar
