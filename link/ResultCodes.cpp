#include "link/ResultCodes.h"

namespace pelvar {

const char* ResultName(std::int32_t code)
{
    switch (code) {
    case LINK_OK: return "LINK_OK";
    case PORT_ERR_BAD_ARG: return "PORT_ERR_BAD_ARG";
    case PORT_ERR_CONFIG: return "PORT_ERR_CONFIG";
    case PORT_ERR_WRITE: return "PORT_ERR_WRITE";
    case PORT_ERR_READ_TIMEOUT: return "PORT_ERR_READ_TIMEOUT";
    case PORT_ERR_RS485: return "PORT_ERR_RS485";
    case LINK_ERR_NOT_OPEN: return "LINK_ERR_NOT_OPEN";
    case LINK_ERR_SEND: return "LINK_ERR_SEND";
    case LINK_ERR_NO_REPLY: return "LINK_ERR_NO_REPLY";
    case LINK_ERR_CHECKSUM: return "LINK_ERR_CHECKSUM";
    case LINK_ERR_REPLY_TOO_LONG: return "LINK_ERR_REPLY_TOO_LONG";
    case LINK_ERR_BAD_ARG: return "LINK_ERR_BAD_ARG";
    case LINK_ERR_NAK: return "LINK_ERR_NAK";
    default: return "UNKNOWN";
    }
}

} // namespace pelvar
