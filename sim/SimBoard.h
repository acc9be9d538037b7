// A simulated camera board: what the board does with the bytes the host
// sends, independent of how they travel. Frames are reassembled from any
// split of the byte stream; each command frame gets at most one reply frame.
// Fault options make it misbehave in the ways a real line or board can.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "camera/Adjustments.h"
#include "camera/Commands.h"
#include "platform/SimPlatform.h"

namespace pelvar {

enum class SensorKind { L, S, None };

constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kStrayByte = 0x00;
constexpr std::uint32_t kRegisterCount = 0x10000;
// A partial frame is dropped when its next byte comes this much later, as a
// board's receiver does; otherwise one stray STX would swallow every frame after it.
constexpr std::uint32_t kFrameGapMs = 200;

struct SimBoardOptions {
    SensorKind sensor = SensorKind::L;
    std::uint32_t ackBytes = 4;    // payload bytes of an acknowledge, 1..4
    bool silent = false;           // never answers and changes nothing, as a board that is off
    bool nak = false;              // refuses every transaction command (first payload byte 0x15)
    std::uint32_t delayMs = 0;     // wait before each reply
    std::uint32_t dropEvery = 0;   // no reply to every Nth frame (the command still acts); 0 never
    bool garbage = false;          // a stray 0x00 before each reply
    bool corrupt = false;          // replies carry a wrong checksum
    std::uint32_t hangupAfter = 0; // hang up after answering the Nth frame; 0 never
};

// Parses "L", "S", "none" (any case); false for anything else.
bool ParseSensorKind(const std::string& text, SensorKind* out);
const char* SensorKindName(SensorKind kind);

// One complete frame the board took in, and what it does about it.
struct SimBoardExchange {
    std::vector<std::uint8_t> received; // the frame, STX through ETX
    bool checksumOk = false;            // false: ignored, no reply
    std::vector<std::uint8_t> reply;    // bytes to send back (stray byte included); empty: none
    std::uint32_t delayMs = 0;          // how long after the frame the reply goes out
    bool hangUp = false;                // the board hangs up once the reply is out
};

class SimBoard {
public:
    explicit SimBoard(const SimBoardOptions& options = {});

    // Bytes from the host that arrived at `nowMs`. Returns one exchange for
    // each complete frame they finish, in order. After a hang-up nothing.
    std::vector<SimBoardExchange> Feed(const std::uint8_t* data, std::size_t n, std::uint32_t nowMs = 0);

    const SimBoardOptions& Options() const { return m_options; }
    // New options from the next frame on (faults switched while it runs);
    // the board's state stays.
    void SetOptions(const SimBoardOptions& options);
    std::uint8_t Status() const { return m_status; }
    const Adjustments& Adjust() const { return m_adjust; }
    // How often a command acted (function presses, adjustments, ...).
    std::uint32_t CommandCount(std::uint8_t cmd) const { return m_commandCounts[cmd]; }
    std::uint16_t Register(std::uint16_t address) const { return m_registers[address]; }
    std::uint16_t LatchedAddress() const { return m_latched; }
    // Every register that CMD_REG_WRITE stored into, with its content now.
    const std::map<std::uint16_t, std::uint16_t>& WrittenRegisters() const { return m_written; }
    std::uint32_t FramesReceived() const { return m_frames; } // with a good checksum
    std::uint32_t BadFrames() const { return m_badFrames; }
    std::uint32_t RepliesSent() const { return m_replies; }
    std::size_t DiscardedBytes() const { return m_discarded; }
    bool HungUp() const { return m_hungUp; }

private:
    void Extract(std::vector<SimBoardExchange>* out);
    SimBoardExchange HandleFrame(std::vector<std::uint8_t> frame);
    // Acts on a good frame; returns the reply payload.
    std::vector<std::uint8_t> Execute(std::uint8_t cmd, const std::uint8_t* payload, std::size_t length);
    std::vector<std::uint8_t> Acknowledge(std::uint8_t first) const;
    std::vector<std::uint8_t> BuildReply(std::uint8_t cmd, const std::vector<std::uint8_t>& payload) const;
    std::uint8_t SensorBit() const;

    SimBoardOptions m_options;
    std::vector<std::uint8_t> m_pending; // bytes of a frame not yet complete
    std::uint32_t m_lastByteMs = 0;
    std::uint8_t m_status = 0;
    Adjustments m_adjust;
    std::array<std::uint32_t, 256> m_commandCounts = {};
    std::vector<std::uint16_t> m_registers;
    std::map<std::uint16_t, std::uint16_t> m_written;
    std::uint16_t m_latched = 0;
    std::uint32_t m_frames = 0;
    std::uint32_t m_badFrames = 0;
    std::uint32_t m_replies = 0;
    std::size_t m_discarded = 0;
    bool m_hungUp = false;
};

// The board state as text, one item a line: status, adjustments, function
// presses, registers written, frame counts.
std::string BoardStateText(const SimBoard& board);

// The board on a simulated line in virtual time.
class SimBoardDevice : public ISimDevice {
public:
    explicit SimBoardDevice(const SimBoardOptions& options = {}) : m_board(options) {}
    void OnHostBytes(SimLine& line, const std::uint8_t* data, std::size_t n) override;
    SimBoard& Board() { return m_board; }
    const SimBoard& Board() const { return m_board; }

private:
    SimBoard m_board;
};

} // namespace pelvar
