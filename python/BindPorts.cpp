// Port references and the machine's listed ports.
#include <cstdio>
#include <memory>

#include "discovery/DeviceSource.h"
#include "discovery/PortEntry.h"
#include "discovery/PortList.h"
#include "discovery/PortWalk.h"
#include "platform/PortName.h"
#include "python/Binding.h"

namespace pelvar::binding {

namespace {

struct PortInfo {
    std::string entry;
    int port = 0;
    std::string device;
    std::optional<std::string> vendorId;
    std::optional<std::string> productId;
    std::optional<std::string> serial;
};

std::optional<std::string> Known(const std::string& s) { return s.empty() ? std::nullopt : std::optional(s); }

std::vector<PortInfo> Ports()
{
    std::vector<PortListing> listing;
    {
        py::gil_scoped_release release;
        std::unique_ptr<IDeviceSource> source = MachineDevices();
        listing = ListPortDevices(*source, stderr);
    }
    std::vector<PortInfo> ports;
    for (const PortListing& l : listing) {
        PortInfo p{l.text,
                   0,
                   l.device.devicePath,
                   Known(l.device.vendorId),
                   Known(l.device.productId),
                   Known(l.device.serial)};
        ReadPortEntry(l.text, &p.port);
        ports.push_back(p);
    }
    return ports;
}

} // namespace

std::uint32_t InRange(Int v, const char* what, long long min, long long max)
{
    if (v.value < min || v.value > max)
        ValueError(std::string(what) + " " + std::to_string(v.value) + " is not within " + std::to_string(min) + ".."
                   + std::to_string(max));
    return static_cast<std::uint32_t>(v.value);
}

// Every string goes through the core's port-name parser, so that a form it
// learns (a device path, a network port) works here too.
pelvar::PortRef PortOf(const PortRef& port)
{
    if (const Int* n = std::get_if<Int>(&port)) {
        if (n->value < kMinPort || n->value > kMaxPort)
            ValueError("port " + std::to_string(n->value) + " is not within 1..255");
        return pelvar::PortRef::Com(static_cast<int>(n->value));
    }
    pelvar::PortRef ref;
    if (std::string why; !ParsePortReference(std::get<Text>(port).value, &ref, &why))
        ValueError("port " + why);
    return ref;
}

pelvar::PortRef PortOf(const std::optional<PortRef>& port) { return port ? PortOf(*port) : pelvar::PortRef{}; }

std::variant<int, std::string> PortValue(const pelvar::PortRef& port)
{
    if (port.IsNumber())
        return port.number;
    return port.name;
}

py::object KnownPort(const pelvar::PortRef& port)
{
    return port.kind == pelvar::PortRef::Kind::None ? py::object(py::none()) : py::cast(PortValue(port));
}

void BindPorts(py::module_& m)
{
    py::class_<PortInfo>(m, "PortInfo", "One listed serial port.")
        .def_readonly("entry", &PortInfo::entry, "The port list's text, as Connect reads it.")
        .def_readonly("port", &PortInfo::port, "n of COMn.")
        .def_readonly("device", &PortInfo::device, "The device node, '/dev/ttyUSB0'.")
        .def_readonly("vendor_id", &PortInfo::vendorId, "USB vendor id ('0403'), None when not USB.")
        .def_readonly("product_id", &PortInfo::productId, "USB product id, None when not USB.")
        .def_readonly("serial", &PortInfo::serial, "USB serial number, None when unknown.")
        .def("__repr__",
             [](const PortInfo& p) { return "<PortInfo COM" + std::to_string(p.port) + " " + p.device + ">"; });

    m.def("ports", &Ports, "The listed serial ports, in the order connect() tries them.");
    m.def(
        "port_list",
        [](const Text& text) {
            std::vector<pelvar::PortRef> ports;
            // "all" as pelvarctl --port all takes it: the ports that can be tried.
            if (text.value == "all")
                ports = AllPortsToTry();
            else if (std::string error; !ParsePortList(text.value, &ports, &error))
                ValueError(error);
            std::vector<std::variant<int, std::string>> values;
            for (const pelvar::PortRef& port : ports)
                values.push_back(PortValue(port));
            return values;
        },
        py::arg("text"),
        "The ports of a list as pelvarctl --port takes it (\"7,8,9\", COMn, device paths, rfc2217:// URLs, "
        "or all: every port that can be tried): numbers ascending as ints, then the names as given; ValueError "
        "for a bad element.");
}

} // namespace pelvar::binding
