#include "platform/HexBytes.h"

namespace pelvar {

std::string HexBytes(const std::uint8_t* bytes, std::size_t n)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        if (i)
            s += ' ';
        s += kDigits[bytes[i] >> 4];
        s += kDigits[bytes[i] & 0x0F];
    }
    return s;
}

} // namespace pelvar
