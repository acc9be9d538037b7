#include "platform/TracePlatform.h"

#include <string>

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

TracePlatform::TracePlatform(IPlatform& inner, std::FILE* out)
    : m_inner(inner), m_out(out), m_start(std::chrono::steady_clock::now())
{
}

void TracePlatform::Line(char direction, const std::uint8_t* bytes, std::uint32_t n)
{
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_start);
    double ms = static_cast<double>(us.count()) / 1000.0;
    std::fprintf(m_out, "%.3f %c %s\n", ms, direction, HexBytes(bytes, n).c_str());
    std::fflush(m_out);
}

bool TracePlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    bool ok = m_inner.Read(h, buf, len, got);
    if (ok && *got > 0)
        Line('<', buf, *got);
    return ok;
}

bool TracePlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    bool ok = m_inner.Write(h, buf, len);
    if (ok)
        Line('>', buf, len);
    return ok;
}

} // namespace pelvar
