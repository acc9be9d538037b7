// Sees a link's traffic without taking part in it: each frame that went out,
// each block read back, and where each exchange (one transaction with its
// attempts, or one query) begins and ends. An exchange log listens here.
#pragma once

#include <cstdint>

namespace pelvar {

class ILinkTap {
public:
    virtual ~ILinkTap() = default;

    virtual void ExchangeBegun(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length, bool query) = 0;
    virtual void FrameSent(const std::uint8_t* bytes, std::uint32_t n) = 0;
    virtual void BytesRead(const std::uint8_t* bytes, std::uint32_t n) = 0;
    // `value`: a query's answer (0 for a transaction).
    virtual void ExchangeEnded(std::int32_t result, std::uint32_t attempts, std::uint32_t value) = 0;
};

} // namespace pelvar
