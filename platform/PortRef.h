// A port as a user names it, parsed once and carried as a value to the
// open: a COM number, a device path, or a network address with its options.
#pragma once

#include <string>

#include "platform/PortName.h"

namespace pelvar {

struct PortRef {
    enum class Kind { None, Number, Device, Network };

    Kind kind = Kind::None;
    int number = 0;         // COMn: n
    std::string name;       // a device's path, a network port's URL as given
    NetworkAddress address; // a network port's parts

    static PortRef Com(int port);

    bool IsNumber() const { return kind == Kind::Number; }
    // Named by device path or network address rather than by number.
    bool IsNamed() const { return kind == Kind::Device || kind == Kind::Network; }
    // "COM7", "/dev/pts/3", "rfc2217://lab:2217".
    std::string Text() const;

    friend bool operator==(const PortRef& a, const PortRef& b)
    {
        return a.kind == b.kind && a.number == b.number && a.name == b.name;
    }
    // Numbers first, ascending; then names.
    friend bool operator<(const PortRef& a, const PortRef& b)
    {
        if (a.kind != b.kind)
            return a.kind < b.kind;
        return a.number != b.number ? a.number < b.number : a.name < b.name;
    }
};

// "7", "COM7" (1 to 255), a device path where the system has them, or
// rfc2217://HOST:PORT[?options]. False with one line in *error; a name is
// never cut, so a NUL in it is refused.
bool ParsePortRef(const std::string& text, PortRef* ref, std::string* error);

} // namespace pelvar
