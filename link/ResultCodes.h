// Result codes of the serial link: 0 is success, failures are negative.
#pragma once

#include <cstdint>

namespace pelvar {

constexpr std::int32_t LINK_OK = 0;
constexpr std::int32_t PORT_ERR_BAD_ARG = -1001;
constexpr std::int32_t PORT_ERR_CONFIG = -1003;
constexpr std::int32_t PORT_ERR_WRITE = -1004;
constexpr std::int32_t PORT_ERR_READ_TIMEOUT = -1006;
// The driver refused RS-485 mode; the port is closed again, unused.
constexpr std::int32_t PORT_ERR_RS485 = -1010;
constexpr std::int32_t LINK_ERR_NOT_OPEN = -2000;
constexpr std::int32_t LINK_ERR_SEND = -2001;
constexpr std::int32_t LINK_ERR_NO_REPLY = -2002;
constexpr std::int32_t LINK_ERR_CHECKSUM = -2003;
constexpr std::int32_t LINK_ERR_REPLY_TOO_LONG = -2004;
constexpr std::int32_t LINK_ERR_BAD_ARG = -2005;
constexpr std::int32_t LINK_ERR_NAK = -2009;

// "LINK_OK", "LINK_ERR_NO_REPLY", ...; "UNKNOWN" for any other value.
const char* ResultName(std::int32_t code);

} // namespace pelvar
