#include "discovery/PortWalk.h"

#include "discovery/PortEntry.h"

namespace pelvar {

namespace {

bool ReportFailure(std::FILE* out, const std::string& reason)
{
    if (out) {
        std::fprintf(out, "Error ocured: %s", reason.c_str());
        std::fflush(out);
    }
    return false;
}

} // namespace

bool WalkPortDevices(IDeviceSource& source, std::FILE* out, const std::function<void(const DeviceInfo&)>& add)
{
    SourceResult begun = source.Begin();
    if (begun.status == SourceStatus::Unavailable || begun.status == SourceStatus::End)
        return true;
    if (begun.status == SourceStatus::Failed)
        return ReportFailure(out, begun.error);
    for (;;) {
        DeviceInfo device;
        SourceResult step = source.Next(device);
        if (step.status == SourceStatus::End)
            return true;
        if (step.status != SourceStatus::Ok)
            return ReportFailure(out, step.error);
        if (device.name && HasPortMark(*device.name))
            add(device);
    }
}

std::vector<PortListing> ListPortDevices(IDeviceSource& source, std::FILE* out, bool* failed)
{
    std::vector<PortListing> listing;
    bool ok = WalkPortDevices(source, out, [&listing](const DeviceInfo& device) {
        InsertInListOrder(listing, PortListing{*device.name, device}, &PortListing::text);
    });
    if (failed)
        *failed = !ok;
    return listing;
}

} // namespace pelvar
