// Wraps a platform and writes every block sent and every block read to a
// stream: "12.345 > 02 06 91 C8 00 00 00 5D 03".
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/ForwardingPlatform.h"

namespace pelvar {

class TracePlatform : public ForwardingPlatform {
public:
    TracePlatform(IPlatform& inner, std::FILE* out);

    bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override;
    bool Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len) override;

private:
    void Line(char direction, const std::uint8_t* bytes, std::uint32_t n);

    std::FILE* m_out;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace pelvar
