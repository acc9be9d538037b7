// Bytes as the traces of both ends of the line print them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelvar {

// "02 06 91 C8" (upper-case hex, one blank between bytes).
std::string HexBytes(const std::uint8_t* bytes, std::size_t n);
inline std::string HexBytes(const std::vector<std::uint8_t>& bytes) { return HexBytes(bytes.data(), bytes.size()); }

} // namespace pelvar
