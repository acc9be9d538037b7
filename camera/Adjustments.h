// The five image adjustments: what the panel's sliders hold and what the
// board keeps. Each is sent as the 4-byte payload of its command.
#pragma once

#include <cstdint>

namespace pelvar {

struct Adjustments {
    std::int32_t brightness = 128;
    std::int32_t contrast = 128;
    std::int32_t red = 128;
    std::int32_t green = 128;
    std::int32_t blue = 128;

    // The value that `cmd` sets; nullptr for a command that sets none.
    std::int32_t* For(std::uint8_t cmd);
    const std::int32_t* For(std::uint8_t cmd) const;
};

} // namespace pelvar
