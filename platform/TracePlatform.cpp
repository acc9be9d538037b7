#include "platform/TracePlatform.h"

#include "platform/HexBytes.h"

#include <string>

namespace pelvar {

TracePlatform::TracePlatform(IPlatform& inner, std::FILE* out)
    : ForwardingPlatform(inner), m_out(out), m_start(std::chrono::steady_clock::now())
{}

void TracePlatform::Line(char direction, const std::uint8_t* bytes, std::uint32_t n)
{
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_start);
    double ms = static_cast<double>(us.count()) / 1000.0;
    std::fprintf(m_out, "%.3f %c %s\n", ms, direction, HexBytes(bytes, n).c_str());
    std::fflush(m_out);
}

bool TracePlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    bool ok = Inner().Read(h, buf, len, got);
    if (ok && *got > 0)
        Line('<', buf, *got);
    return ok;
}

bool TracePlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    bool ok = Inner().Write(h, buf, len);
    if (ok)
        Line('>', buf, len);
    return ok;
}

} // namespace pelvar
