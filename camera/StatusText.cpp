#include "camera/StatusText.h"

#include "camera/FailureText.h"

namespace pelvar {

namespace {

std::string ComName(int port) { return "COM" + std::to_string(port); }

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

// "COM4: busy: held by process 12 (minicom)", in the describer's words.
std::string OpenFailureText(const CandidateReport& c, IPlatform& platform)
{
    return c.port.Text() + ": " + OpenFailureWords(c.sysError, PortPathOf(platform, c.port));
}

} // namespace

std::string FailureWords(std::int32_t result)
{
    switch (result) {
    case LINK_OK: return "ok";
    case LINK_ERR_NO_REPLY:
    case PORT_ERR_READ_TIMEOUT: return "no reply";
    case LINK_ERR_NAK: return "refused by the board";
    case LINK_ERR_CHECKSUM: return "garbled reply";
    case LINK_ERR_REPLY_TOO_LONG: return "reply too long";
    case LINK_ERR_SEND:
    case PORT_ERR_WRITE: return "could not send";
    case LINK_ERR_NOT_OPEN: return "not connected";
    default: return ResultName(result);
    }
}

std::string OperationText(const std::string& what, std::int32_t result)
{
    return what + ": " + (result == LINK_OK ? std::string("sent") : FailureWords(result));
}

std::string ConnectedText(int port, const std::string& sensor)
{
    return "Connected on " + ComName(port) + ": " + sensor;
}

std::string NoBoardText(const std::vector<CandidateReport>& tried, IPlatform& platform)
{
    if (tried.empty())
        return "No serial port found";
    std::vector<std::string> silent;
    std::vector<std::string> refused;
    for (const CandidateReport& c : tried) {
        if (c.openResult == LINK_OK)
            silent.push_back(c.port.Text());
        else
            refused.push_back(OpenFailureText(c, platform));
    }
    std::string text;
    if (!silent.empty())
        text = "No board answered (tried " + Joined(silent) + ")";
    for (const std::string& r : refused)
        text += (text.empty() ? "" : "; ") + r;
    return text;
}

std::string ReconnectedText(int port, const std::vector<std::string>& unsent, std::int32_t failure)
{
    const std::string back = "Board back on " + ComName(port) + ": reconnected";
    if (unsent.empty())
        return back + ", adjustments sent";
    return back + "; " + Joined(unsent) + " not sent: " + FailureWords(failure);
}

} // namespace pelvar
