#include "link/ReplyJudge.h"

#include "link/ResultCodes.h"

namespace pelvar {

std::int32_t XorChecksum(const std::uint8_t* bytes, std::uint32_t count, std::uint8_t* out)
{
    if (!bytes || count == 0 || !out)
        return LINK_ERR_BAD_ARG;
    std::uint8_t x = 0;
    for (std::uint32_t i = 0; i < count; ++i)
        x ^= bytes[i];
    *out = x;
    return LINK_OK;
}

std::int32_t JudgeReply(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t room, ReplyKind kind)
{
    if (!bytes || count < 3 || bytes[0] != STX)
        return LINK_ERR_NO_REPLY;
    const std::uint32_t len = bytes[1];
    if (count < len + 3 || bytes[len + 2] != ETX)
        return LINK_ERR_NO_REPLY;
    if (len >= 2 && len - 2 > room)
        return LINK_ERR_NO_REPLY;
    std::uint8_t sum = 0;
    if (XorChecksum(bytes, len + 1, &sum) != LINK_OK || sum != bytes[len + 1])
        return LINK_ERR_CHECKSUM;
    if (len < 2)
        return LINK_ERR_REPLY_TOO_LONG;
    // With an empty payload the checksum stands where ACK would: such a reply
    // acknowledges only when its checksum is 06.
    if (kind == ReplyKind::Acknowledge && bytes[3] != ACK)
        return LINK_ERR_NAK;
    return LINK_OK;
}

} // namespace pelvar
