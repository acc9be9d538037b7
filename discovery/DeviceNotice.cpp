#include "discovery/DeviceWatch.h"

#include <cctype>
#include <vector>

namespace pelvar {

namespace {

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool EqualsNoCase(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

} // namespace

DeviceNotice NoticeFromDeviceName(const std::string& name)
{
    DeviceNotice notice;
    if (name.size() > 3 && EqualsNoCase(name.substr(0, 3), "COM")) {
        int port = 0;
        for (std::size_t i = 3; i < name.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(name[i])) || port > 9999)
                return notice;
            port = port * 10 + (name[i] - '0');
        }
        notice.port = port;
        return notice;
    }
    // \\?\USB#VID_0403&PID_6001#A1B2C3#{guid}: bus, hardware id, instance, interface class.
    const std::vector<std::string> parts = Split(name, '#');
    if (parts.size() >= 4 && EqualsNoCase(parts[0], "\\\\?\\USB") && !parts[2].empty()
        && parts[2].find('&') == std::string::npos)
        notice.serial = parts[2];
    return notice;
}

} // namespace pelvar
