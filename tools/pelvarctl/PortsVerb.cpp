#include "tools/pelvarctl/PortsVerb.h"

#include "discovery/PortWalk.h"
#include "platform/SysError.h"

namespace pelvar {

namespace {

void PrintListing(const PortListing& entry, bool verbose, std::FILE* out)
{
    std::fputs(entry.text.c_str(), out);
    if (verbose) {
        const DeviceInfo& d = entry.device;
        std::fprintf(out, "\t%s", d.devicePath.c_str());
        if (!d.vendorId.empty() || !d.productId.empty())
            std::fprintf(out, "\tusb %s:%s", d.vendorId.c_str(), d.productId.c_str());
        if (!d.serial.empty())
            std::fprintf(out, "\tserial %s", d.serial.c_str());
        if (!d.driver.empty())
            std::fprintf(out, "\tdriver %s", d.driver.c_str());
        if (d.latencyTimerMs >= 0)
            std::fprintf(out, "\tlatency timer %d ms", d.latencyTimerMs);
    }
    // Listed, as the panel lists it, but never opened and not in "all".
    if (IsSystemConsole(entry.device.devicePath))
        std::fprintf(out, "\t%s", kConsoleMark);
    if (!entry.device.refusal.empty())
        std::fprintf(out, "\t%s%s", kRefusedMark, entry.device.refusal.c_str());
    std::fputc('\n', out);
}

} // namespace

int RunPortsVerb(bool verbose, std::FILE* out, IDeviceSource& source)
{
    bool failed = false;
    std::vector<PortListing> listing = ListPortDevices(source, out, &failed);
    if (failed)
        std::fputc('\n', out); // the failure message ends without one
    for (const PortListing& entry : listing)
        PrintListing(entry, verbose, out);
    std::fflush(out);
    return failed ? 1 : 0;
}

int RunPortsVerb(bool verbose, std::FILE* out)
{
    std::unique_ptr<IDeviceSource> source = MachineDevices();
    return RunPortsVerb(verbose, out, *source);
}

} // namespace pelvar
