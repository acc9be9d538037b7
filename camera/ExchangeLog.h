// What each exchange with the board meant: the command, its payload decoded
// ("brightness 200", "reg 0x0010 = 0xbeef", "status 0x11: active, ARVEN-L"),
// the result, the attempts, the time it took and the frames on the line.
// The panel's traffic pane, its saved log and pelvarctl --trace=decoded all
// print these records with the one formatter below, so they read alike.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/LinkTap.h"
#include "platform/Platform.h"

namespace pelvar {

struct ExchangeFrame {
    bool sent = true; // false: a block read back
    std::vector<std::uint8_t> bytes;
    std::uint32_t atMs = 0; // since the log's origin, as the record's
};

struct ExchangeRecord {
    std::uint32_t atMs = 0; // since the log's origin (Connect)
    std::uint8_t cmd = 0;
    std::vector<std::uint8_t> payload;
    bool query = false;
    std::int32_t result = 0;
    std::uint32_t attempts = 1;
    std::uint32_t durationMs = 0;
    std::uint32_t value = 0;   // a query's answer
    bool addressKnown = false; // reg_write, reg_read: the register latched before
    std::uint16_t address = 0;
    std::vector<ExchangeFrame> frames;
};

// "brightness 200", "reg address 0x0010", "reg 0x0010 = 0xbeef",
// "reg 0x0010 reads 0xbeef", "status 0x11: active, ARVEN-L", "edge".
std::string ExchangeMeaning(const ExchangeRecord& record);
// "1 attempt", "6 attempts".
std::string AttemptsText(std::uint32_t attempts);
// "> 02 02 00 00 03  < 02 03 00 11 12 03".
std::string FramesText(const ExchangeRecord& record);
// Needed more than one attempt, or failed.
bool ExchangeStandsOut(const ExchangeRecord& record);
// One line, no newline:
// "    512 ms  brightness    brightness 200   LINK_OK   1 attempt    12 ms  > 02 06 ...  < 02 06 ..."
std::string ExchangeLine(const ExchangeRecord& record);

// The register the board latched last, as the exchanges set it: a
// reg_write or reg_read names it, a finished reg_address teaches it.
class RegisterLatch {
public:
    void Fill(ExchangeRecord* record) const;
    void Learn(const ExchangeRecord& finished);
    void Forget() { m_known = false; }

private:
    bool m_known = false;
    std::uint16_t m_address = 0;
};

// Listens on a link and hands each finished exchange to `sink`, on the
// link's own thread.
class ExchangeLog : public ILinkTap {
public:
    using Sink = std::function<void(const ExchangeRecord&)>;

    ExchangeLog(IPlatform& clock, Sink sink);

    // Times count from here (Connect).
    void MarkOrigin();

    void ExchangeBegun(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length, bool query) override;
    void FrameSent(const std::uint8_t* bytes, std::uint32_t n) override;
    void BytesRead(const std::uint8_t* bytes, std::uint32_t n) override;
    void ExchangeEnded(std::int32_t result, std::uint32_t attempts, std::uint32_t value) override;

private:
    IPlatform& m_clock;
    Sink m_sink;
    std::uint32_t m_origin = 0;
    std::uint32_t m_begun = 0;
    bool m_open = false;
    ExchangeRecord m_current;
    RegisterLatch m_latch;
};

} // namespace pelvar
