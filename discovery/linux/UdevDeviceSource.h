// The machine's serial devices as udev knows them (the "tty" subsystem).
// Listing reads only the device database and sysfs; no device is opened.
#pragma once

#include "discovery/DeviceSource.h"

#include <memory>
#include <string>

struct udev;
struct udev_enumerate;
struct udev_list_entry;

namespace pelvar {

// What udev tells about one tty, as far as naming it goes.
struct TtyFacts {
    std::string devnode;           // "/dev/ttyUSB0"
    std::string sysname;           // "ttyUSB0"
    std::string modelFromDatabase; // ID_MODEL_FROM_DATABASE
    std::string model;             // ID_MODEL ("CP2102_USB_to_UART_Bridge")
    std::string usbProduct;        // product string of the USB device
};

// "<description> (COMn)"; empty when the port-name rule gives the node no number.
std::string TtyDisplayName(const TtyFacts& facts);

class UdevDeviceSource : public IDeviceSource {
public:
    UdevDeviceSource();
    ~UdevDeviceSource() override;
    UdevDeviceSource(const UdevDeviceSource&) = delete;
    UdevDeviceSource& operator=(const UdevDeviceSource&) = delete;

    SourceResult Begin() override;
    SourceResult Next(DeviceInfo& device) override;

private:
    struct UdevRelease {
        void operator()(udev* u) const;
    };
    struct EnumerateRelease {
        void operator()(udev_enumerate* e) const;
    };

    std::unique_ptr<udev, UdevRelease> m_pUdev;
    std::unique_ptr<udev_enumerate, EnumerateRelease> m_pEnumerate;
    udev_list_entry* m_pEntry = nullptr; // next entry of the walk; owned by m_pEnumerate
};

} // namespace pelvar
