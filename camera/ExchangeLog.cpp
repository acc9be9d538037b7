#include "camera/ExchangeLog.h"

#include <algorithm>
#include <cstdio>

#include "camera/Commands.h"
#include "camera/ControlTable.h"
#include "link/ResultCodes.h"
#include "platform/HexBytes.h"

namespace pelvar {

namespace {

std::string Hex16(std::uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", v & 0xFFFFu);
    return text;
}

std::string Hex8(std::uint32_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", v & 0xFFu);
    return text;
}

bool IsOk(const ExchangeRecord& r) { return r.result == LINK_OK; }

std::string Register(const ExchangeRecord& r) { return r.addressKnown ? Hex16(r.address) : std::string("?"); }

std::string StatusMeaning(const ExchangeRecord& r)
{
    if (!IsOk(r))
        return "status";
    const auto status = static_cast<std::uint8_t>(r.value);
    std::string text = "status " + Hex8(status) + ": ";
    if (status == 0)
        return text + "not started";
    text += (status & STATUS_ACTIVE) ? "active" : "inactive";
    if (status & (STATUS_SENSOR_L | STATUS_SENSOR_S))
        text += std::string(", ") + SensorName(status);
    return text;
}

std::string RegisterMeaning(const ExchangeRecord& r)
{
    const bool full = r.payload.size() == 2;
    switch (r.cmd) {
    case CMD_REG_ADDRESS: return full ? "reg address " + Hex16(DecodeWord(r.payload.data())) : "reg address";
    case CMD_REG_WRITE: return full ? "reg " + Register(r) + " = " + Hex16(DecodeWord(r.payload.data())) : "reg write";
    default: return IsOk(r) ? "reg " + Register(r) + " reads " + Hex16(r.value) : "reg " + Register(r) + " read";
    }
}

} // namespace

std::string ExchangeMeaning(const ExchangeRecord& r)
{
    if (r.cmd == CMD_STATUS && r.query)
        return StatusMeaning(r);
    if (r.cmd == CMD_REG_ADDRESS || r.cmd == CMD_REG_WRITE || (r.cmd == CMD_REG_READ && r.query))
        return RegisterMeaning(r);
    const ControlBinding* slider = FindSliderForCommand(r.cmd);
    if (slider && r.payload.size() == 4)
        return std::string(slider->name) + " " + std::to_string(DecodeAdjustment(r.payload.data()));
    std::string text = CommandName(r.cmd);
    if (!r.payload.empty())
        text += " " + HexBytes(r.payload);
    return text;
}

std::string AttemptsText(std::uint32_t attempts)
{
    return std::to_string(attempts) + (attempts == 1 ? " attempt" : " attempts");
}

std::string NotKeptText(std::uint64_t bytes) { return "[" + std::to_string(bytes) + " bytes not kept]"; }

std::string FramesText(const ExchangeRecord& r)
{
    std::string text;
    for (const ExchangeFrame& f : r.frames) {
        if (f.notKeptBefore > 0)
            text += (text.empty() ? "" : "  ") + NotKeptText(f.notKeptBefore);
        if (!text.empty())
            text += "  ";
        text += (f.sent ? "> " : "< ") + HexBytes(f.bytes);
    }
    return text;
}

bool ExchangeStandsOut(const ExchangeRecord& r) { return r.attempts > 1 || !IsOk(r); }

std::string ExchangeLine(const ExchangeRecord& r)
{
    char head[160];
    std::snprintf(head, sizeof head, "%7u ms  %-12s  %-30s  %-23s  %-10s  %5u ms", r.atMs, CommandName(r.cmd).c_str(),
                  ExchangeMeaning(r).c_str(), ResultName(r.result), AttemptsText(r.attempts).c_str(), r.durationMs);
    const std::string frames = FramesText(r);
    return frames.empty() ? std::string(head) : std::string(head) + "  " + frames;
}

std::size_t ExchangeBytes(const ExchangeRecord& r)
{
    std::size_t n = sizeof r + r.payload.size();
    for (const ExchangeFrame& f : r.frames)
        n += sizeof f + f.bytes.size();
    return n;
}

std::size_t ExchangeHistory::KeptOf(const std::vector<ExchangeRecord>& batch) const
{
    std::size_t kept = 0;
    std::size_t bytes = 0;
    for (auto r = batch.rbegin(); r != batch.rend() && kept < m_rowLimit; ++r) {
        bytes += ExchangeBytes(*r);
        if (kept > 0 && bytes > m_byteLimit)
            break;
        ++kept;
    }
    return kept;
}

std::size_t ExchangeHistory::KeptBytes(const std::vector<ExchangeRecord>& batch, std::size_t kept) const
{
    std::size_t bytes = 0;
    for (std::size_t i = batch.size() - kept; i < batch.size(); ++i)
        bytes += ExchangeBytes(batch[i]);
    return bytes;
}

std::size_t ExchangeHistory::DroppedBy(const std::vector<ExchangeRecord>& batch) const
{
    const std::size_t kept = KeptOf(batch);
    const std::size_t incoming = KeptBytes(batch, kept);
    std::size_t rows = m_rows.size();
    std::size_t bytes = m_bytes;
    std::size_t dropped = 0;
    while (dropped < m_rows.size() && (rows + kept > m_rowLimit || bytes + incoming > m_byteLimit)) {
        bytes -= ExchangeBytes(m_rows[dropped]);
        --rows;
        ++dropped;
    }
    return dropped;
}

void ExchangeHistory::DropOldest(std::size_t n)
{
    n = std::min(n, m_rows.size());
    for (std::size_t i = 0; i < n; ++i)
        m_bytes -= ExchangeBytes(m_rows[i]);
    m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(n));
}

void ExchangeHistory::Append(std::vector<ExchangeRecord> batch)
{
    const std::size_t kept = KeptOf(batch);
    DropOldest(DroppedBy(batch));
    for (std::size_t i = batch.size() - kept; i < batch.size(); ++i) {
        m_bytes += ExchangeBytes(batch[i]);
        m_rows.push_back(std::move(batch[i]));
    }
}

void ExchangeHistory::Add(const ExchangeRecord& record) { Append({record}); }

void RegisterLatch::Fill(ExchangeRecord* record) const
{
    record->addressKnown = m_known;
    record->address = m_address;
}

void RegisterLatch::Learn(const ExchangeRecord& r)
{
    if (r.cmd == CMD_REG_ADDRESS && r.payload.size() == 2) {
        // A refused or lost latch leaves the board's register unknown.
        m_known = r.result == LINK_OK;
        m_address = DecodeWord(r.payload.data());
    }
}

ExchangeLog::ExchangeLog(IPlatform& clock, Sink sink) : m_clock(clock), m_sink(std::move(sink))
{
    m_origin = m_clock.TickCount();
}

void ExchangeLog::MarkOrigin()
{
    m_origin = m_clock.TickCount();
    // A new connection: the board's latched register is not known.
    m_latch.Forget();
}

void ExchangeLog::ExchangeBegun(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length, bool query)
{
    m_current = ExchangeRecord{};
    m_begun = m_clock.TickCount();
    m_current.atMs = m_begun - m_origin;
    m_current.cmd = cmd;
    m_current.query = query;
    if (payload && length)
        m_current.payload.assign(payload, payload + length);
    m_latch.Fill(&m_current);
    m_open = true;
    m_headBytes = 0;
    m_tailFrom = 0;
    m_tailBytes = 0;
}

void ExchangeLog::FrameSent(const std::uint8_t* bytes, std::uint32_t n)
{
    if (m_open)
        m_current.frames.push_back({true, std::vector<std::uint8_t>(bytes, bytes + n), m_clock.TickCount() - m_origin});
}

void ExchangeLog::BytesRead(const std::uint8_t* bytes, std::uint32_t n)
{
    if (!m_open || n == 0)
        return;
    const std::uint32_t at = m_clock.TickCount() - m_origin;
    if (m_headBytes < kExchangeHeadBytes) {
        const std::uint32_t take = std::min(n, kExchangeHeadBytes - m_headBytes);
        m_current.frames.push_back({false, std::vector<std::uint8_t>(bytes, bytes + take), at});
        m_headBytes += take;
        m_tailFrom = m_current.frames.size();
        bytes += take;
        n -= take;
        if (n == 0)
            return;
    }
    m_current.frames.push_back({false, std::vector<std::uint8_t>(bytes, bytes + n), at});
    m_tailBytes += n;
    KeepTail();
}

// Drops the oldest bytes of the tail over its limit, counting them at the
// block that follows them.
void ExchangeLog::KeepTail()
{
    std::vector<ExchangeFrame>& frames = m_current.frames;
    std::size_t i = m_tailFrom;
    while (m_tailBytes > kExchangeTailBytes) {
        while (frames[i].sent)
            ++i;
        ExchangeFrame& oldest = frames[i];
        const std::uint32_t over = m_tailBytes - kExchangeTailBytes;
        if (oldest.bytes.size() <= over && i + 1 < frames.size()) {
            const auto size = static_cast<std::uint32_t>(oldest.bytes.size());
            frames[i + 1].notKeptBefore += oldest.notKeptBefore + size;
            m_tailBytes -= size;
            frames.erase(frames.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        const std::uint32_t cut = std::min<std::uint32_t>(over, static_cast<std::uint32_t>(oldest.bytes.size()));
        oldest.bytes.erase(oldest.bytes.begin(), oldest.bytes.begin() + cut);
        oldest.notKeptBefore += cut;
        m_tailBytes -= cut;
    }
}

void ExchangeLog::ExchangeEnded(std::int32_t result, std::uint32_t attempts, std::uint32_t value)
{
    if (!m_open)
        return;
    m_open = false;
    m_current.result = result;
    m_current.attempts = attempts;
    m_current.value = value;
    m_current.durationMs = m_clock.TickCount() - m_begun;
    m_latch.Learn(m_current);
    if (m_sink)
        m_sink(m_current);
}

} // namespace pelvar
