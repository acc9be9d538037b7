#include "platform/posix/AdapterFacts.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace pelvar {

namespace {

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The device's own name: a port directory's link or a by-id name leads to it.
std::string TtyName(const std::string& devicePath)
{
    char resolved[PATH_MAX];
    if (realpath(devicePath.c_str(), resolved))
        return BaseName(resolved);
    return BaseName(devicePath);
}

// The last part of a link's target: the driver's name.
std::string LinkName(const std::string& link)
{
    char target[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    return BaseName(std::string(target, static_cast<std::size_t>(n)));
}

} // namespace

AdapterFacts ReadAdapterFacts(const std::string& devicePath, const std::string& root)
{
    AdapterFacts facts;
    const std::string tty = TtyName(devicePath);
    if (tty.empty())
        return facts;
    facts.driver = LinkName(root + "/class/tty/" + tty + "/device/driver");
    // Only USB serial adapters have the file; the advice names it as the
    // running system has it, whatever tree was read.
    std::ifstream timer(root + "/bus/usb-serial/devices/" + tty + "/latency_timer");
    int ms = -1;
    if (timer >> ms && ms >= 0) {
        facts.latencyTimerMs = ms;
        facts.latencyTimerFile = std::string(kSysfsRoot) + "/bus/usb-serial/devices/" + tty + "/latency_timer";
    }
    return facts;
}

} // namespace pelvar
