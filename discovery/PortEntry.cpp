#include "discovery/PortEntry.h"

#include "platform/Platform.h"
#include "platform/PortRef.h"
#include "platform/TextScan.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <set>

namespace pelvar {

namespace {

constexpr char kPortMark[] = "(COM";
constexpr std::size_t kPortMarkLength = sizeof kPortMark - 1;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the UTF-8 character at text[i]; 0 when the bytes there are not
// one (bad lead byte, missing continuation, overlong form, surrogate, > U+10FFFF).
std::size_t CharacterLength(const std::string& text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned int min = 0;
    unsigned int code = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, code = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, code = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if (!IsContinuation(c))
            return 0;
        code = (code << 6) | (c & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Reads a number as "%d" does, from text[i] on. A value beyond int is held at
// INT_MAX or INT_MIN rather than wrapped, so that it cannot turn into a small
// port number.
bool ReadDecimal(const std::string& text, std::size_t i, int* value)
{
    while (i < text.size() && IsScanfSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
        return false;
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min<long long>(magnitude * 10 + (text[i] - '0'), 1LL + INT_MAX);
    if (negative)
        *value = magnitude > INT_MAX ? INT_MIN : static_cast<int>(-magnitude);
    else
        *value = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
    return true;
}

// The text as a C string would hold it.
std::string UpToNul(const std::string& text) { return text.substr(0, std::strlen(text.c_str())); }

} // namespace

std::string EightBitCopy(const std::string& text)
{
    const std::string whole = UpToNul(text);
    std::size_t end = 0;
    while (end < whole.size()) {
        std::size_t length = CharacterLength(whole, end);
        if (length == 0)
            return {};
        if (end + length > kPortCopyLimit)
            break;
        end += length;
    }
    return whole.substr(0, end);
}

bool HasPortMark(const std::string& text) { return EightBitCopy(text).find(kPortMark) != std::string::npos; }

bool ReadPortEntry(const std::string& text, int* port)
{
    const std::size_t mark = EightBitCopy(text).find(kPortMark);
    if (mark == std::string::npos)
        return false;
    // The number is read from the whole text: a copy cut inside the digits
    // would name a different port.
    int value = 0;
    if (!ReadDecimal(UpToNul(text), mark + kPortMarkLength, &value))
        return false;
    if (port)
        *port = value;
    return true;
}

bool ParseComPortName(const std::string& text, int* port)
{
    PortRef ref;
    std::string error;
    if (!ParsePortRef(text, &ref, &error) || !ref.IsNumber())
        return false;
    *port = ref.number;
    return true;
}

std::string PortEntryFor(int port) { return "Port COM" + std::to_string(port) + " (COM" + std::to_string(port) + ")"; }

bool ParsePortReference(const std::string& text, PortRef* ref, std::string* error)
{
    return ParsePortRef(text, ref, error);
}

bool ParsePortList(const std::string& text, std::vector<PortRef>* ports, std::string* error)
{
    std::set<PortRef> seen;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        PortRef port;
        if (!ParsePortRef(item, &port, error))
            return false;
        seen.insert(port);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    ports->assign(seen.begin(), seen.end());
    return true;
}

} // namespace pelvar
