#include "platform/net/TelnetSession.h"

namespace pelvar {

using namespace telnet;

namespace {

void AppendCommand(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>* out)
{
    out->push_back(IAC);
    out->push_back(verb);
    out->push_back(option);
}

} // namespace

TelnetSession::TelnetSession()
    : m_options{
        {BINARY, true, OptionState::Inactive},
        {BINARY, false, OptionState::Inactive},
        {SGA, true, OptionState::Inactive},
        {SGA, false, OptionState::Inactive},
        {COM_PORT_OPTION, true, OptionState::Inactive},
    }
{}

void TelnetSession::AppendOpeningRequests(std::vector<std::uint8_t>* out)
{
    for (Option& o : m_options) {
        AppendCommand(o.local ? WILL : DO, o.code, out);
        o.state = OptionState::Requested;
    }
}

TelnetSession::Option* TelnetSession::Find(std::uint8_t code, bool local)
{
    for (Option& o : m_options) {
        if (o.code == code && o.local == local)
            return &o;
    }
    return nullptr;
}

const TelnetSession::Option* TelnetSession::Find(std::uint8_t code, bool local) const
{
    return const_cast<TelnetSession*>(this)->Find(code, local);
}

OptionState TelnetSession::LocalState(std::uint8_t option) const
{
    const Option* o = Find(option, true);
    return o ? o->state : OptionState::Inactive;
}

OptionState TelnetSession::RemoteState(std::uint8_t option) const
{
    const Option* o = Find(option, false);
    return o ? o->state : OptionState::Inactive;
}

std::uint32_t TelnetSession::Answers(std::uint8_t command) const
{
    return command <= kLastCommand ? m_answers[command] : 0;
}

std::uint8_t TelnetSession::LastAnswerByte(std::uint8_t command) const
{
    return command <= kLastCommand ? m_answerBytes[command] : 0;
}

// DO and DONT speak of our options, WILL and WONT of the server's. An answer
// to a request of ours is not answered again, so that the two sides never
// loop; an unasked change of an agreed option is confirmed once.
void TelnetSession::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>* answers)
{
    const bool local = verb == DO || verb == DONT;
    const bool yes = verb == DO || verb == WILL;
    const std::uint8_t sendYes = local ? WILL : DO;
    const std::uint8_t sendNo = local ? WONT : DONT;
    Option* o = Find(option, local);
    if (!o) {
        // Options we do not know are refused, and only when offered.
        if (yes)
            AppendCommand(sendNo, option, answers);
        return;
    }
    if (yes) {
        switch (o->state) {
        case OptionState::Requested: o->state = OptionState::Active; break;
        case OptionState::Active: break;
        case OptionState::Inactive:
            o->state = OptionState::Active;
            AppendCommand(sendYes, option, answers);
            break;
        case OptionState::ReallyInactive: AppendCommand(sendNo, option, answers); break;
        }
    } else {
        switch (o->state) {
        case OptionState::Requested: o->state = OptionState::Inactive; break;
        case OptionState::Active:
            o->state = OptionState::Inactive;
            AppendCommand(sendNo, option, answers);
            break;
        case OptionState::Inactive:
        case OptionState::ReallyInactive: break;
        }
    }
}

void TelnetSession::EndSubnegotiation()
{
    // Only the server's answers and notifications of COM-PORT-OPTION matter.
    if (m_subLength < 2 || m_sub[0] != COM_PORT_OPTION || m_sub[1] < SERVER_OFFSET)
        return;
    const std::uint8_t command = static_cast<std::uint8_t>(m_sub[1] - SERVER_OFFSET);
    if (command > kLastCommand)
        return;
    ++m_answers[command];
    const std::uint8_t value = m_subLength > 2 ? m_sub[2] : 0;
    m_answerBytes[command] = value;
    if (command == NOTIFY_LINESTATE)
        m_lineState = value;
    else if (command == NOTIFY_MODEMSTATE)
        m_modemState = value;
}

void TelnetSession::Feed(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>* data,
                         std::vector<std::uint8_t>* answers)
{
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = in[i];
        switch (m_parse) {
        case Parse::Data:
            if (b == IAC)
                m_parse = Parse::Iac;
            else
                data->push_back(b);
            break;
        case Parse::Iac:
            if (b == IAC) {
                data->push_back(IAC);
                m_parse = Parse::Data;
            } else if (b == DO || b == DONT || b == WILL || b == WONT) {
                m_verb = b;
                m_parse = Parse::Negotiate;
            } else if (b == SB) {
                m_subLength = 0;
                m_parse = Parse::Sub;
            } else {
                // NOP, GA, DM, BRK, a stray SE: nothing for a COM port client.
                m_parse = Parse::Data;
            }
            break;
        case Parse::Negotiate:
            Negotiate(m_verb, b, answers);
            m_parse = Parse::Data;
            break;
        case Parse::Sub:
            if (b == IAC) {
                m_parse = Parse::SubIac;
            } else if (m_subLength < m_sub.size()) {
                m_sub[m_subLength++] = b;
            }
            break;
        case Parse::SubIac:
            if (b == IAC) {
                if (m_subLength < m_sub.size())
                    m_sub[m_subLength++] = IAC;
                m_parse = Parse::Sub;
            } else if (b == SE) {
                EndSubnegotiation();
                m_parse = Parse::Data;
            } else {
                // A broken subnegotiation: drop it and read the byte as the
                // command that an IAC outside one would start.
                m_subLength = 0;
                m_parse = Parse::Iac;
                --i;
            }
            break;
        }
    }
}

void TelnetSession::AppendEscaped(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>* out)
{
    for (std::size_t i = 0; i < n; ++i) {
        out->push_back(in[i]);
        if (in[i] == IAC)
            out->push_back(IAC);
    }
}

void TelnetSession::AppendComPort(std::uint8_t command, const std::uint8_t* value, std::size_t n,
                                  std::vector<std::uint8_t>* out)
{
    out->push_back(IAC);
    out->push_back(SB);
    out->push_back(COM_PORT_OPTION);
    out->push_back(command);
    AppendEscaped(value, n, out);
    out->push_back(IAC);
    out->push_back(SE);
}

} // namespace pelvar
