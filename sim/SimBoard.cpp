#include "sim/SimBoard.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "camera/Commands.h"
#include "link/FrameLink.h"

namespace pelvar {

namespace {

constexpr std::array<std::uint8_t, 11> kFunctionCommands = {
    CMD_FUNC_16,     CMD_SCALE,      CMD_FUNC_18,  CMD_FUNC_19,    CMD_EDGE,        CMD_GAMMA,
    CMD_ARROW_RIGHT, CMD_ARROW_LEFT, CMD_ARROW_UP, CMD_ARROW_DOWN, CMD_TEST_PATTERN};

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count)
{
    std::uint8_t sum = 0;
    XorChecksum(bytes, static_cast<std::uint32_t>(count), &sum);
    return sum;
}

std::string Hex8(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", v & 0xFFu);
    return buf;
}

std::string Hex16(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", v & 0xFFFFu);
    return buf;
}

} // namespace

bool ParseSensorKind(const std::string& text, SensorKind* out)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "l") {
        *out = SensorKind::L;
        return true;
    }
    if (lower == "s") {
        *out = SensorKind::S;
        return true;
    }
    if (lower == "none") {
        *out = SensorKind::None;
        return true;
    }
    return false;
}

const char* SensorKindName(SensorKind kind)
{
    switch (kind) {
    case SensorKind::L: return "L";
    case SensorKind::S: return "S";
    case SensorKind::None: return "none";
    }
    return "none";
}

SimBoard::SimBoard(const SimBoardOptions& options) : m_options(options), m_registers(kRegisterCount, 0)
{
    m_options.ackBytes = std::clamp<std::uint32_t>(m_options.ackBytes, 1, 4);
}

void SimBoard::SetOptions(const SimBoardOptions& options)
{
    m_options = options;
    m_options.ackBytes = std::clamp<std::uint32_t>(m_options.ackBytes, 1, 4);
}

std::vector<SimBoardExchange> SimBoard::Feed(const std::uint8_t* data, std::size_t n, std::uint32_t nowMs)
{
    std::vector<SimBoardExchange> out;
    if (m_hungUp || data == nullptr || n == 0)
        return out;
    if (!m_pending.empty() && nowMs - m_lastByteMs > kFrameGapMs) {
        m_discarded += m_pending.size();
        m_pending.clear();
    }
    m_lastByteMs = nowMs;
    m_pending.insert(m_pending.end(), data, data + n);
    Extract(&out);
    return out;
}

// Takes every complete frame off the front of m_pending. A start that does
// not lead to a well-delimited frame costs one byte, then the search goes on.
void SimBoard::Extract(std::vector<SimBoardExchange>* out)
{
    while (!m_hungUp) {
        const auto stx = std::find(m_pending.begin(), m_pending.end(), STX);
        m_discarded += static_cast<std::size_t>(stx - m_pending.begin());
        m_pending.erase(m_pending.begin(), stx);
        if (m_pending.size() < 2)
            return;
        const std::size_t len = m_pending[1];
        const std::size_t total = len + 3;
        if (len < 2) {
            m_pending.erase(m_pending.begin());
            ++m_discarded;
            continue;
        }
        if (m_pending.size() < total)
            return;
        if (m_pending[total - 1] != ETX) {
            m_pending.erase(m_pending.begin());
            ++m_discarded;
            continue;
        }
        std::vector<std::uint8_t> frame(m_pending.begin(), m_pending.begin() + total);
        m_pending.erase(m_pending.begin(), m_pending.begin() + total);
        out->push_back(HandleFrame(std::move(frame)));
    }
    m_pending.clear();
}

SimBoardExchange SimBoard::HandleFrame(std::vector<std::uint8_t> frame)
{
    SimBoardExchange ex;
    ex.received = std::move(frame);
    const std::vector<std::uint8_t>& f = ex.received;
    const std::size_t len = f[1];
    if (Checksum(f.data(), len + 1) != f[len + 1]) {
        ++m_badFrames;
        return ex;
    }
    ex.checksumOk = true;
    ++m_frames;
    const bool hangUp = m_options.hangupAfter != 0 && m_frames == m_options.hangupAfter;
    if (hangUp) {
        m_hungUp = true;
        ex.hangUp = true;
    }
    if (m_options.silent)
        return ex;
    const std::uint8_t cmd = f[2];
    const std::vector<std::uint8_t> payload = Execute(cmd, f.data() + 3, len - 2);
    if (m_options.dropEvery != 0 && m_frames % m_options.dropEvery == 0)
        return ex;
    if (m_options.garbage)
        ex.reply.push_back(kStrayByte);
    const std::vector<std::uint8_t> reply = BuildReply(cmd, payload);
    ex.reply.insert(ex.reply.end(), reply.begin(), reply.end());
    ex.delayMs = m_options.delayMs;
    ++m_replies;
    return ex;
}

std::vector<std::uint8_t> SimBoard::Execute(std::uint8_t cmd, const std::uint8_t* payload, std::size_t length)
{
    // The two queries answer with data; their payload carries nothing.
    if (cmd == CMD_STATUS) {
        ++m_commandCounts[cmd];
        return {m_status};
    }
    if (cmd == CMD_REG_READ) {
        ++m_commandCounts[cmd];
        const std::uint16_t v = m_registers[m_latched];
        return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)};
    }
    const CommandInfo* info = FindCommand(cmd);
    if (m_options.nak || info == nullptr || info->exchange != Exchange::Transaction || length != info->payloadSize)
        return Acknowledge(kNak);
    ++m_commandCounts[cmd];
    switch (cmd) {
    case CMD_INIT: m_status = static_cast<std::uint8_t>(STATUS_ACTIVE | SensorBit()); break;
    case CMD_RELEASE: m_status = static_cast<std::uint8_t>(m_status & ~STATUS_ACTIVE); break;
    case CMD_REG_ADDRESS: m_latched = DecodeWord(payload); break;
    case CMD_REG_WRITE:
        m_registers[m_latched] = DecodeWord(payload);
        m_written[m_latched] = DecodeWord(payload);
        break;
    default:
        // Adjustments take their value; function commands are only counted.
        if (std::int32_t* value = m_adjust.For(cmd))
            *value = DecodeAdjustment(payload);
        break;
    }
    return Acknowledge(ACK);
}

std::vector<std::uint8_t> SimBoard::Acknowledge(std::uint8_t first) const
{
    std::vector<std::uint8_t> payload(m_options.ackBytes, 0);
    payload[0] = first;
    return payload;
}

std::vector<std::uint8_t> SimBoard::BuildReply(std::uint8_t cmd, const std::vector<std::uint8_t>& payload) const
{
    std::vector<std::uint8_t> frame;
    frame.reserve(payload.size() + 5);
    frame.push_back(STX);
    frame.push_back(static_cast<std::uint8_t>(payload.size() + 2));
    frame.push_back(cmd);
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::uint8_t sum = Checksum(frame.data(), frame.size());
    if (m_options.corrupt)
        sum = static_cast<std::uint8_t>(~sum);
    frame.push_back(sum);
    frame.push_back(ETX);
    return frame;
}

std::uint8_t SimBoard::SensorBit() const
{
    switch (m_options.sensor) {
    case SensorKind::L: return STATUS_SENSOR_L;
    case SensorKind::S: return STATUS_SENSOR_S;
    case SensorKind::None: return 0;
    }
    return 0;
}

std::string BoardStateText(const SimBoard& board)
{
    const std::uint8_t status = board.Status();
    std::string text = "status " + Hex8(status) + " (";
    text += (status & STATUS_ACTIVE) ? "active" : "inactive";
    if (status & STATUS_SENSOR_L)
        text += ", sensor L";
    else if (status & STATUS_SENSOR_S)
        text += ", sensor S";
    text += ")\n";
    const Adjustments& a = board.Adjust();
    text += "brightness " + std::to_string(a.brightness) + "\n";
    text += "contrast " + std::to_string(a.contrast) + "\n";
    text += "red " + std::to_string(a.red) + "\n";
    text += "green " + std::to_string(a.green) + "\n";
    text += "blue " + std::to_string(a.blue) + "\n";
    text += "init " + std::to_string(board.CommandCount(CMD_INIT)) + ", release "
            + std::to_string(board.CommandCount(CMD_RELEASE)) + "\n";
    text += "functions:";
    for (std::size_t i = 0; i < kFunctionCommands.size(); ++i) {
        const std::uint8_t cmd = kFunctionCommands[i];
        text += (i == 0 ? " " : ", ") + CommandName(cmd) + " " + std::to_string(board.CommandCount(cmd));
    }
    text += "\nregisters written:";
    if (board.WrittenRegisters().empty())
        text += " none";
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict, a false
    // positive) on the chained operator+ form.
    for (const auto& [address, value] : board.WrittenRegisters()) {
        text += ' ';
        text += Hex16(address);
        text += '=';
        text += Hex16(value);
    }
    text += "\nlatched address " + Hex16(board.LatchedAddress()) + "\n";
    text += "frames " + std::to_string(board.FramesReceived()) + ", bad checksum " + std::to_string(board.BadFrames())
            + ", replies " + std::to_string(board.RepliesSent()) + (board.HungUp() ? ", hung up" : "") + "\n";
    return text;
}

void SimBoardDevice::OnHostBytes(SimLine& line, const std::uint8_t* data, std::size_t n)
{
    for (const SimBoardExchange& ex : m_board.Feed(data, n, line.Now())) {
        if (!ex.reply.empty())
            line.Send(ex.delayMs, ex.reply);
        if (ex.hangUp)
            line.HangUp();
    }
}

} // namespace pelvar
