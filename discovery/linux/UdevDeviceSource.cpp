#include "discovery/linux/UdevDeviceSource.h"

#include "platform/posix/AdapterFacts.h"
#include "platform/posix/PortNames.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace pelvar {

namespace {

struct DeviceRelease {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
using DevicePtr = std::unique_ptr<udev_device, DeviceRelease>;

std::string Text(const char* value) { return value ? std::string(value) : std::string(); }

std::string SystemText(int err) { return std::strerror(err); }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string KindDescription(const std::string& sysname)
{
    if (StartsWith(sysname, "ttyUSB") || StartsWith(sysname, "ttyACM"))
        return "USB Serial Device";
    return "Communications Port";
}

std::string Description(const TtyFacts& facts)
{
    if (!facts.modelFromDatabase.empty())
        return facts.modelFromDatabase;
    if (!facts.model.empty()) {
        std::string model = facts.model;
        std::replace(model.begin(), model.end(), '_', ' ');
        return model;
    }
    if (!facts.usbProduct.empty())
        return facts.usbProduct;
    return KindDescription(facts.sysname);
}

// Virtual terminals and pseudo-terminals have no parent device; the 8250
// driver registers placeholders with no UART behind them (type 0, PORT_UNKNOWN).
bool IsRealPort(udev_device* dev)
{
    if (!udev_device_get_parent(dev))
        return false;
    const char* type = udev_device_get_sysattr_value(dev, "type");
    return !(type && std::strcmp(type, "0") == 0);
}

// A property, else the USB device's own sysfs attribute.
std::string UsbValue(udev_device* dev, udev_device* usb, const char* property, const char* attribute)
{
    std::string value = Text(udev_device_get_property_value(dev, property));
    if (value.empty() && usb)
        value = Text(udev_device_get_sysattr_value(usb, attribute));
    return value;
}

// "ttyS*", "ttyUSB*", ...: the node names the port-name rule covers, as
// patterns for the scan. Asking udev for these alone spares it reading every
// virtual console and pseudo-terminal.
std::vector<std::string> NumberedNamePatterns()
{
    std::vector<std::string> patterns;
    for (int port = kMinPort; port <= kMaxPort; ++port) {
        std::string path = FixedPortPath(port);
        std::size_t nameStart = path.rfind('/') + 1;
        std::size_t digits = path.find_last_not_of("0123456789") + 1;
        if (path.empty() || digits <= nameStart)
            continue;
        std::string pattern = path.substr(nameStart, digits - nameStart) + "*";
        if (std::find(patterns.begin(), patterns.end(), pattern) == patterns.end())
            patterns.push_back(pattern);
    }
    return patterns;
}

// Most ttys are virtual consoles and pseudo-terminals that the port-name rule
// does not cover; their node is /dev/<sysname>, so the rule can turn them away
// before udev reads anything about them.
bool MayBeNumbered(const char* syspath)
{
    const char* slash = std::strrchr(syspath, '/');
    const char* sysname = slash ? slash + 1 : syspath;
    return FixedPortNumber(std::string("/dev/") + sysname) != 0;
}

DeviceInfo Describe(udev_device* dev)
{
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    TtyFacts facts;
    facts.devnode = Text(udev_device_get_devnode(dev));
    facts.sysname = Text(udev_device_get_sysname(dev));
    facts.modelFromDatabase = Text(udev_device_get_property_value(dev, "ID_MODEL_FROM_DATABASE"));
    facts.model = Text(udev_device_get_property_value(dev, "ID_MODEL"));
    facts.usbProduct = usb ? Text(udev_device_get_sysattr_value(usb, "product")) : std::string();

    DeviceInfo device;
    device.devicePath = facts.devnode;
    device.port = FixedPortNumber(facts.devnode);
    if (device.port != 0)
        device.name = TtyDisplayName(facts);
    if (usb) {
        device.vendorId = UsbValue(dev, usb, "ID_VENDOR_ID", "idVendor");
        device.productId = UsbValue(dev, usb, "ID_MODEL_ID", "idProduct");
        device.serial = UsbValue(dev, usb, "ID_SERIAL_SHORT", "serial");
    }
    const AdapterFacts adapter = ReadAdapterFacts(facts.devnode);
    device.driver = adapter.driver;
    device.latencyTimerMs = adapter.latencyTimerMs;
    return device;
}

} // namespace

std::string TtyDisplayName(const TtyFacts& facts)
{
    int port = FixedPortNumber(facts.devnode);
    if (port == 0)
        return {};
    return Description(facts) + " (COM" + std::to_string(port) + ")";
}

void UdevDeviceSource::UdevRelease::operator()(udev* u) const { udev_unref(u); }

void UdevDeviceSource::EnumerateRelease::operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }

UdevDeviceSource::UdevDeviceSource() = default;
UdevDeviceSource::~UdevDeviceSource() = default;

SourceResult UdevDeviceSource::Begin()
{
    m_pEntry = nullptr;
    m_pEnumerate.reset();
    if (!m_pUdev)
        m_pUdev.reset(udev_new());
    if (!m_pUdev)
        return SourceResult::Unavailable();

    errno = 0;
    m_pEnumerate.reset(udev_enumerate_new(m_pUdev.get()));
    if (!m_pEnumerate)
        return SourceResult::Failed(SystemText(errno ? errno : ENOMEM));
    if (int r = udev_enumerate_add_match_subsystem(m_pEnumerate.get(), "tty"); r < 0)
        return SourceResult::Failed(SystemText(-r));
    for (const std::string& pattern : NumberedNamePatterns()) {
        if (int r = udev_enumerate_add_match_sysname(m_pEnumerate.get(), pattern.c_str()); r < 0)
            return SourceResult::Failed(SystemText(-r));
    }
    if (int r = udev_enumerate_scan_devices(m_pEnumerate.get()); r < 0)
        return SourceResult::Failed(SystemText(-r));
    m_pEntry = udev_enumerate_get_list_entry(m_pEnumerate.get());
    return SourceResult::Ok();
}

SourceResult UdevDeviceSource::Next(DeviceInfo& device)
{
    while (m_pEntry) {
        const char* syspath = udev_list_entry_get_name(m_pEntry);
        m_pEntry = udev_list_entry_get_next(m_pEntry);
        if (!MayBeNumbered(syspath))
            continue;
        errno = 0;
        DevicePtr dev(udev_device_new_from_syspath(m_pUdev.get(), syspath));
        if (!dev)
            return SourceResult::Failed(SystemText(errno ? errno : ENODEV));
        if (!IsRealPort(dev.get()))
            continue;
        DeviceInfo found = Describe(dev.get());
        if (!found.name)
            continue;
        device = std::move(found);
        return SourceResult::Ok();
    }
    return SourceResult::End();
}

} // namespace pelvar
