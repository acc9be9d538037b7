// The frame on the line and the host's verdict on a reply. Everything that
// judges a reply (the link, the line monitor, and through the generated
// protocol numbers the sigrok decoder and the Wireshark dissector) follows
// this one rule.
//
//   STX LEN CMD payload[LEN-2] checksum ETX     checksum = XOR of STX..payload
#pragma once

#include <cstdint>

namespace pelvar {

constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
constexpr std::uint8_t ACK = 0x06;

constexpr std::uint32_t kMaxPayload = 252; // LEN at most 254 when sending
constexpr std::uint32_t kMaxRoom = 253;    // a larger room serves nothing
constexpr std::uint32_t kFrameBufferSize = 260;
// The payload room the host makes for an acknowledge.
constexpr std::uint32_t kTransactRoom = 4;

std::int32_t XorChecksum(const std::uint8_t* bytes, std::uint32_t count, std::uint8_t* out);

// Whether the reply answers an acknowledged transaction (its first payload
// byte must be ACK) or a data query (its payload is the value).
enum class ReplyKind { Acknowledge, Data };

// The host's verdict on `count` bytes read as a reply with payload room
// `room`, the frame starting at the first byte:
//   LINK_ERR_NO_REPLY        no whole frame: no STX first, fewer bytes than
//                            LEN says, wrong end byte, or a payload longer
//                            than the room (the host reads room + 5 bytes, so
//                            such a reply never completes, whatever its checksum)
//   LINK_ERR_CHECKSUM        the checksum does not match
//   LINK_ERR_REPLY_TOO_LONG  LEN below 2 (the payload length wraps)
//   LINK_ERR_NAK             an acknowledge whose first payload byte is not ACK
//   LINK_OK                  the frame is the first LEN + 3 bytes
std::int32_t JudgeReply(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t room, ReplyKind kind);

} // namespace pelvar
