#include "platform/PortRef.h"

#include "platform/Platform.h"

namespace pelvar {

namespace {

// A name shown in a message: a NUL as \0, so that the line shows what was given.
std::string Shown(const std::string& text)
{
    std::string shown;
    for (char c : text)
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    return shown;
}

// "7" or "COM7", 1..255; 0 for anything else.
int ComNumber(const std::string& text)
{
    const std::string digits = text.rfind("COM", 0) == 0 ? text.substr(3) : text;
    if (digits.empty() || digits.size() > 3)
        return 0;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value >= kMinPort && value <= kMaxPort ? value : 0;
}

} // namespace

PortRef PortRef::Com(int port)
{
    PortRef ref;
    ref.kind = Kind::Number;
    ref.number = port;
    return ref;
}

std::string PortRef::Text() const { return kind == Kind::Number ? "COM" + std::to_string(number) : name; }

bool ParsePortRef(const std::string& text, PortRef* ref, std::string* error)
{
    if (text.find('\0') != std::string::npos) {
        *error = "'" + Shown(text) + "' is not a port name: it holds a NUL byte";
        return false;
    }
    if (const int n = ComNumber(text); n != 0) {
        *ref = PortRef::Com(n);
        return true;
    }
    PortRef r;
    r.name = text;
    if (LooksLikeNetworkPort(text)) {
        if (!ParseNetworkAddress(text, &r.address, error))
            return false;
        r.kind = PortRef::Kind::Network;
    } else if (IsDevicePathName(text)) {
        r.kind = PortRef::Kind::Device;
    } else {
        *error = "'" + text + "' is not a port number from 1 to 255, COMn, a device path or rfc2217://HOST:PORT";
        return false;
    }
    *ref = std::move(r);
    return true;
}

} // namespace pelvar
