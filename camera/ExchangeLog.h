// What each exchange with the board meant: the command, its payload decoded
// ("brightness 200", "reg 0x0010 = 0xbeef", "status 0x11: active, ARVEN-L"),
// the result, the attempts, the time it took and the frames on the line.
// The panel's traffic pane, its saved log and pelvarctl --trace=decoded all
// print these records with the one formatter below, so they read alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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
    // Bytes read just before this block that the record does not keep.
    std::uint64_t notKeptBefore = 0;
};

// What one exchange keeps of the bytes it read: the first and the last, each
// block as it came, and a count of the rest. A flooding line costs no more
// than a quiet one. The tail holds the largest block a read returns, so the
// block that carried the reply is always kept whole.
constexpr std::uint32_t kExchangeHeadBytes = 256;
constexpr std::uint32_t kExchangeTailBytes = 512;

// A log of exchanges (the panel's traffic pane, the Python module's log)
// keeps the newest within both limits.
constexpr std::size_t kExchangeLogRows = 10000;
constexpr std::size_t kExchangeLogBytes = 8u << 20;

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
// "[31488 bytes not kept]": what a record counts instead of the bytes.
std::string NotKeptText(std::uint64_t bytes);
// "> 02 02 00 00 03  < 02 03 00 11 12 03"; bytes not kept show where they
// were: "< ff ff  [31488 bytes not kept]  < ff ff 02 03 00 11 12 03".
std::string FramesText(const ExchangeRecord& record);
// Needed more than one attempt, or failed.
bool ExchangeStandsOut(const ExchangeRecord& record);
// One line, no newline:
// "    512 ms  brightness    brightness 200   LINK_OK   1 attempt    12 ms  > 02 06 ...  < 02 06 ..."
std::string ExchangeLine(const ExchangeRecord& record);

// What a record holds in memory, as a log counts it against its byte limit.
std::size_t ExchangeBytes(const ExchangeRecord& record);

// The newest records within a row limit and a byte limit, the oldest dropped
// first; a batch larger than the limits keeps its own newest records (and
// always its newest one).
class ExchangeHistory {
public:
    explicit ExchangeHistory(std::size_t rowLimit = kExchangeLogRows, std::size_t byteLimit = kExchangeLogBytes)
        : m_rowLimit(rowLimit), m_byteLimit(byteLimit)
    {}

    // How many of `batch`'s newest records adding it keeps.
    std::size_t KeptOf(const std::vector<ExchangeRecord>& batch) const;
    // How many of the oldest records adding `batch` drops.
    std::size_t DroppedBy(const std::vector<ExchangeRecord>& batch) const;
    void DropOldest(std::size_t n);
    void Append(std::vector<ExchangeRecord> batch);
    void Add(const ExchangeRecord& record);

    std::size_t RowLimit() const { return m_rowLimit; }
    std::size_t Bytes() const { return m_bytes; }
    const std::deque<ExchangeRecord>& Records() const { return m_rows; }

private:
    std::size_t KeptBytes(const std::vector<ExchangeRecord>& batch, std::size_t kept) const;

    std::size_t m_rowLimit;
    std::size_t m_byteLimit;
    std::size_t m_bytes = 0;
    std::deque<ExchangeRecord> m_rows;
};

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
    std::uint32_t m_headBytes = 0; // read bytes kept at the start
    std::size_t m_tailFrom = 0;    // the frame where the tail's reads begin
    std::uint32_t m_tailBytes = 0;
    ExchangeRecord m_current;
    RegisterLatch m_latch;

    void KeepTail();
};

} // namespace pelvar
