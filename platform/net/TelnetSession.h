// The telnet side of an RFC 2217 connection, apart from the port: the
// option negotiation (RFC 854/855), the byte stream with its IAC escapes and
// the COM-PORT-OPTION subnegotiations. It does no I/O: bytes from the server
// go in, data bytes and the answers owed to the server come out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelvar {

namespace telnet {
constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;

constexpr std::uint8_t BINARY = 0;
constexpr std::uint8_t SGA = 3;
constexpr std::uint8_t COM_PORT_OPTION = 44;

// COM-PORT-OPTION commands from the client; the server answers with the
// same command plus 100.
constexpr std::uint8_t SET_BAUDRATE = 1;
constexpr std::uint8_t SET_DATASIZE = 2;
constexpr std::uint8_t SET_PARITY = 3;
constexpr std::uint8_t SET_STOPSIZE = 4;
constexpr std::uint8_t SET_CONTROL = 5;
constexpr std::uint8_t NOTIFY_LINESTATE = 6;
constexpr std::uint8_t NOTIFY_MODEMSTATE = 7;
constexpr std::uint8_t PURGE_DATA = 12;
constexpr std::uint8_t SERVER_OFFSET = 100;
constexpr std::uint8_t kLastCommand = 12;

constexpr std::uint8_t SETPARITY_NONE = 1;
constexpr std::uint8_t SETPARITY_ODD = 2;
constexpr std::uint8_t SETPARITY_EVEN = 3;
constexpr std::uint8_t STOPSIZE_ONE = 1;
constexpr std::uint8_t STOPSIZE_TWO = 2;
constexpr std::uint8_t STOPSIZE_ONE_HALF = 3;
constexpr std::uint8_t CONTROL_RTS_ON = 11;
constexpr std::uint8_t CONTROL_RTS_OFF = 12;
constexpr std::uint8_t PURGE_RECEIVE = 1;
} // namespace telnet

// One option that this side asks for. A local option is ours (WILL, answered
// by DO or DONT), a remote one the server's (DO, answered by WILL or WONT).
enum class OptionState {
    Inactive,       // not asked for, or refused
    Requested,      // asked for, no answer yet
    Active,         // agreed
    ReallyInactive, // never to be agreed
};

class TelnetSession {
public:
    TelnetSession();

    // WILL and DO for the options a COM port client needs; marks them asked for.
    void AppendOpeningRequests(std::vector<std::uint8_t>* out);

    // Bytes from the server: data bytes are appended to `data`, the answers
    // owed to the server to `answers`. Any input is accepted; a command cut
    // off between two calls continues with the next.
    void Feed(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>* data,
              std::vector<std::uint8_t>* answers);

    OptionState LocalState(std::uint8_t option) const;
    OptionState RemoteState(std::uint8_t option) const;
    // How often the server answered COM-PORT-OPTION command `command` (1..12).
    std::uint32_t Answers(std::uint8_t command) const;
    // The value of the server's last answer to `command` (its first byte).
    std::uint8_t LastAnswerByte(std::uint8_t command) const;
    std::uint8_t ModemState() const { return m_modemState; }
    std::uint8_t LineState() const { return m_lineState; }

    // Data bytes with every 0xFF doubled.
    static void AppendEscaped(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>* out);
    // IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
    static void AppendComPort(std::uint8_t command, const std::uint8_t* value, std::size_t n,
                              std::vector<std::uint8_t>* out);

private:
    struct Option {
        std::uint8_t code;
        bool local;
        OptionState state;
    };
    enum class Parse { Data, Iac, Negotiate, Sub, SubIac };

    Option* Find(std::uint8_t code, bool local);
    const Option* Find(std::uint8_t code, bool local) const;
    void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>* answers);
    void EndSubnegotiation();

    std::vector<Option> m_options;
    Parse m_parse = Parse::Data;
    std::uint8_t m_verb = 0;
    // The start of a subnegotiation: option, command and value. Longer ones
    // are read to their end but not kept.
    std::array<std::uint8_t, 16> m_sub{};
    std::size_t m_subLength = 0;
    std::array<std::uint32_t, telnet::kLastCommand + 1> m_answers{};
    std::array<std::uint8_t, telnet::kLastCommand + 1> m_answerBytes{};
    std::uint8_t m_modemState = 0;
    std::uint8_t m_lineState = 0;
};

} // namespace pelvar
