#include "discovery/win/ListedPortSource.h"

#include "platform/Platform.h"

namespace pelvar {

namespace {

bool IsSeparator(char c) { return c == ' ' || c == ',' || c == ';' || c == '\t'; }

// "COM7" -> 7; 0 for anything else (lower case, leading zeros, out of range).
int ParseName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0')
        return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n <= kMaxPort ? n : 0;
}

} // namespace

std::vector<int> ParseListedPorts(const std::string& text)
{
    std::vector<int> ports;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i]))
            ++i;
        std::size_t end = i;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        if (int port = ParseName(text.substr(i, end - i)); port != 0)
            ports.push_back(port);
        i = end;
    }
    return ports;
}

ListedPortSource::ListedPortSource(std::string text) : m_text(std::move(text)) {}

SourceResult ListedPortSource::Begin()
{
    m_ports = ParseListedPorts(m_text);
    m_nNext = 0;
    return SourceResult::Ok();
}

SourceResult ListedPortSource::Next(DeviceInfo& device)
{
    if (m_nNext >= m_ports.size())
        return SourceResult::End();
    const int port = m_ports[m_nNext++];
    const std::string com = "COM" + std::to_string(port);
    device = DeviceInfo{};
    device.name = "Communications Port (" + com + ")";
    device.devicePath = "\\\\.\\" + com;
    device.port = port;
    return SourceResult::Ok();
}

} // namespace pelvar
