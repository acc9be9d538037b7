#include "camera/Commands.h"

#include <cstdio>

namespace pelvar {

namespace {

constexpr std::array<CommandInfo, 22> kCommands = {{
    {CMD_STATUS, "status", 0, Exchange::Query},
    {CMD_FUNC_16, "func_16", 0, Exchange::Transaction},
    {CMD_SCALE, "scale", 0, Exchange::Transaction},
    {CMD_FUNC_18, "func_18", 0, Exchange::Transaction},
    {CMD_FUNC_19, "func_19", 0, Exchange::Transaction},
    {CMD_EDGE, "edge", 0, Exchange::Transaction},
    {CMD_GAMMA, "gamma", 0, Exchange::Transaction},
    {CMD_ARROW_RIGHT, "arrow_right", 0, Exchange::Transaction},
    {CMD_ARROW_LEFT, "arrow_left", 0, Exchange::Transaction},
    {CMD_ARROW_UP, "arrow_up", 0, Exchange::Transaction},
    {CMD_ARROW_DOWN, "arrow_down", 0, Exchange::Transaction},
    {CMD_REG_READ, "reg_read", 0, Exchange::Query},
    {CMD_INIT, "init", 0, Exchange::Transaction},
    {CMD_BRIGHTNESS, "brightness", 4, Exchange::Transaction},
    {CMD_CONTRAST, "contrast", 4, Exchange::Transaction},
    {CMD_GAIN_RED, "gain_red", 4, Exchange::Transaction},
    {CMD_GAIN_GREEN, "gain_green", 4, Exchange::Transaction},
    {CMD_GAIN_BLUE, "gain_blue", 4, Exchange::Transaction},
    {CMD_REG_WRITE, "reg_write", 2, Exchange::Transaction},
    {CMD_REG_ADDRESS, "reg_address", 2, Exchange::Transaction},
    {CMD_TEST_PATTERN, "test_pattern", 0, Exchange::Transaction},
    {CMD_RELEASE, "release", 0, Exchange::Transaction},
}};

} // namespace

const std::array<CommandInfo, 22>& AllCommands() { return kCommands; }

const CommandInfo* FindCommand(std::uint8_t code)
{
    for (const CommandInfo& c : kCommands) {
        if (c.code == code)
            return &c;
    }
    return nullptr;
}

const CommandInfo* FindCommand(const std::string& name)
{
    for (const CommandInfo& c : kCommands) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

std::array<std::uint8_t, 4> EncodeAdjustment(std::int32_t value)
{
    auto u = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u >> 16),
            static_cast<std::uint8_t>(u >> 24)};
}

std::array<std::uint8_t, 2> EncodeWord(std::uint16_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
}

std::int32_t DecodeAdjustment(const std::uint8_t* p)
{
    const std::uint32_t v =
        std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    return static_cast<std::int32_t>(v);
}

std::uint16_t DecodeWord(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::string CommandName(std::uint8_t cmd)
{
    if (const CommandInfo* info = FindCommand(cmd))
        return info->name;
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", cmd);
    return text;
}

std::int32_t RunTransaction(CFrameLink& link, std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length)
{
    ILinkTap* tap = link.Tap();
    const std::uint32_t retriesBefore = link.Retries();
    if (tap)
        tap->ExchangeBegun(cmd, length ? payload : nullptr, length, false);
    const std::int32_t result = link.Transact(cmd, length ? payload : nullptr, length);
    if (tap)
        tap->ExchangeEnded(result, link.Retries() - retriesBefore + 1, 0);
    return result;
}

namespace {

void SendAndReceive(CFrameLink& link, std::uint8_t cmd, std::uint32_t room, QueryResult* q)
{
    q->result = link.SendFrame(cmd, nullptr, 0);
    if (q->result != LINK_OK)
        return;
    q->result = link.ReceiveFrame(q->frame, room, &q->frameLength);
    if (q->result != LINK_OK)
        return;
    // Payload length from LEN; ReceiveFrame guarantees it is within the room.
    const std::uint32_t payloadLength = q->frame[1] - 2u;
    for (std::uint32_t i = 0; i < payloadLength && i < 4; ++i)
        q->value |= static_cast<std::uint32_t>(q->frame[3 + i]) << (8 * i);
}

} // namespace

QueryResult RunQuery(CFrameLink& link, std::uint8_t cmd, std::uint32_t room)
{
    QueryResult q;
    ILinkTap* tap = link.Tap();
    if (tap)
        tap->ExchangeBegun(cmd, nullptr, 0, true);
    SendAndReceive(link, cmd, room, &q);
    if (tap)
        tap->ExchangeEnded(q.result, 1, q.value);
    return q;
}

QueryResult QueryStatus(CFrameLink& link) { return RunQuery(link, CMD_STATUS, kStatusRoom); }
QueryResult QueryRegister(CFrameLink& link) { return RunQuery(link, CMD_REG_READ, kRegReadRoom); }

const char* SensorName(std::uint8_t status)
{
    if (status & STATUS_SENSOR_L)
        return "ARVEN-L";
    if (status & STATUS_SENSOR_S)
        return "ARVEN-S";
    return "init error";
}

} // namespace pelvar
