// Frames written out by an independent builder, for tests that need more
// than the literal byte strings they spell out.
#pragma once

#include <cstdint>
#include <vector>

namespace pelvar::test {

using Bytes = std::vector<std::uint8_t>;

inline std::vector<std::uint8_t> MakeFrame(std::uint8_t cmd, const std::vector<std::uint8_t>& payload = {})
{
    std::vector<std::uint8_t> f = {0x02, static_cast<std::uint8_t>(payload.size() + 2), cmd};
    f.insert(f.end(), payload.begin(), payload.end());
    std::uint8_t sum = 0;
    for (std::uint8_t b : f)
        sum ^= b;
    f.push_back(sum);
    f.push_back(0x03);
    return f;
}

} // namespace pelvar::test
