#include "camera/Adjustments.h"

#include "camera/Commands.h"

namespace pelvar {

std::int32_t* Adjustments::For(std::uint8_t cmd)
{
    return const_cast<std::int32_t*>(static_cast<const Adjustments*>(this)->For(cmd));
}

const std::int32_t* Adjustments::For(std::uint8_t cmd) const
{
    switch (cmd) {
    case CMD_BRIGHTNESS: return &brightness;
    case CMD_CONTRAST: return &contrast;
    case CMD_GAIN_RED: return &red;
    case CMD_GAIN_GREEN: return &green;
    case CMD_GAIN_BLUE: return &blue;
    default: return nullptr;
    }
}

} // namespace pelvar
