// The bit rates a terminal holds, as termios2 reads them (any rate, not only
// the B-constants); in a file of its own since <asm/termbits.h> and
// <termios.h> cannot share one.
#pragma once

#include <cstdint>

namespace pelvar::test {

struct LineSpeeds {
    std::uint32_t input = 0;
    std::uint32_t output = 0;
};

// False when the terminal cannot be read.
bool ReadLineSpeeds(int fd, LineSpeeds* speeds);

} // namespace pelvar::test
