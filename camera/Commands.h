// The board's command set: codes, payload layouts, the status byte, and the
// two kinds of exchange (acknowledged transaction and data query).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/FrameLink.h"

namespace pelvar {

constexpr std::uint8_t CMD_STATUS = 0x00;
constexpr std::uint8_t CMD_FUNC_16 = 0x16;
constexpr std::uint8_t CMD_SCALE = 0x17;
constexpr std::uint8_t CMD_FUNC_18 = 0x18;
constexpr std::uint8_t CMD_FUNC_19 = 0x19;
constexpr std::uint8_t CMD_EDGE = 0x1A;
constexpr std::uint8_t CMD_GAMMA = 0x1B;
constexpr std::uint8_t CMD_ARROW_RIGHT = 0x20;
constexpr std::uint8_t CMD_ARROW_LEFT = 0x21;
constexpr std::uint8_t CMD_ARROW_UP = 0x22;
constexpr std::uint8_t CMD_ARROW_DOWN = 0x23;
constexpr std::uint8_t CMD_REG_READ = 0x24;
constexpr std::uint8_t CMD_INIT = 0x70;
constexpr std::uint8_t CMD_BRIGHTNESS = 0x91;
constexpr std::uint8_t CMD_CONTRAST = 0x92;
constexpr std::uint8_t CMD_GAIN_RED = 0x93;
constexpr std::uint8_t CMD_GAIN_GREEN = 0x94;
constexpr std::uint8_t CMD_GAIN_BLUE = 0x95;
constexpr std::uint8_t CMD_REG_WRITE = 0xA4;
constexpr std::uint8_t CMD_REG_ADDRESS = 0xA5;
constexpr std::uint8_t CMD_TEST_PATTERN = 0xA6;
constexpr std::uint8_t CMD_RELEASE = 0xF0;

// Bits of the status byte that the host examines.
constexpr std::uint8_t STATUS_ACTIVE = 0x01;
constexpr std::uint8_t STATUS_SENSOR_L = 0x10;
constexpr std::uint8_t STATUS_SENSOR_S = 0x20;

constexpr std::uint32_t kStatusRoom = 1;
constexpr std::uint32_t kRegReadRoom = 2;

enum class Exchange { Transaction, Query };

struct CommandInfo {
    std::uint8_t code;
    const char* name;          // lower case without prefix: "brightness", "reg_address"
    std::uint32_t payloadSize; // 0, 2 or 4
    Exchange exchange;
};

// Every command, ascending by code.
const std::array<CommandInfo, 22>& AllCommands();
const CommandInfo* FindCommand(std::uint8_t code);
const CommandInfo* FindCommand(const std::string& name);

// Payloads, little-endian.
std::array<std::uint8_t, 4> EncodeAdjustment(std::int32_t value);
std::array<std::uint8_t, 2> EncodeWord(std::uint16_t value);
std::int32_t DecodeAdjustment(const std::uint8_t* payload);
std::uint16_t DecodeWord(const std::uint8_t* payload);

// The command's name ("brightness"), or its code as "0x3f" when unknown.
std::string CommandName(std::uint8_t cmd);

// Acknowledged transaction: `cmd` with its payload, up to six attempts.
std::int32_t RunTransaction(CFrameLink& link, std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length);

// Data query: one frame with an empty payload, one reply with room for `room`
// payload bytes, copied low byte first into *value (zero on any failure).
// The reply frame is left in `frame` (kFrameBufferSize bytes) when given.
struct QueryResult {
    std::int32_t result = LINK_ERR_NO_REPLY;
    std::uint32_t value = 0;
    std::uint8_t frame[kFrameBufferSize] = {};
    std::uint32_t frameLength = 0;
};
QueryResult RunQuery(CFrameLink& link, std::uint8_t cmd, std::uint32_t room);

// The status query and the register-content query.
QueryResult QueryStatus(CFrameLink& link);
QueryResult QueryRegister(CFrameLink& link);

// "ARVEN-L", "ARVEN-S" or "init error" for a nonzero status byte.
const char* SensorName(std::uint8_t status);

} // namespace pelvar
