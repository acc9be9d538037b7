#include "camera/FailureText.h"

#include "link/ResultCodes.h"
#include "platform/PortName.h"
#include "platform/SysError.h"

namespace pelvar {

std::string PortPathOf(IPlatform& platform, const PortRef& port)
{
    return port.IsNumber() ? platform.PortPath(port.number) : port.name;
}

std::string PortLabel(IPlatform& platform, const PortRef& port)
{
    if (!port.IsNumber())
        return port.name;
    const std::string path = platform.PortPath(port.number);
    if (path.find("://") != std::string::npos)
        return path;
    return port.Text() + (path.empty() ? "" : " (" + path + ")");
}

FailureFacts OpenFailure(IPlatform& platform, const PortRef& port, std::int32_t result, int sysError)
{
    FailureFacts f;
    f.port = PortLabel(platform, port);
    f.path = PortPathOf(platform, port);
    f.operation = "cannot open";
    f.result = result;
    f.sysError = sysError;
    return f;
}

std::string OpenFailureWords(int sysError, const std::string& path)
{
    if (sysError == 0)
        return "the line settings were refused";
    const bool network = path.find("://") != std::string::npos;
    switch (ClassifyErrno(sysError)) {
    case SysErrorKind::Busy: {
        if (network)
            return "busy: the server serves another client";
        const std::string holder = PortHolderText(path);
        if (!holder.empty())
            return "busy: held by " + holder;
        break;
    }
    case SysErrorKind::Permission: {
        std::string group = DeviceGroup(path);
        if (group.empty())
            group = "dialout";
        return DescribeErrno(sysError) + "; join the group '" + group + "' (sudo usermod -aG " + group
               + " $USER) and log in again";
    }
    case SysErrorKind::NotRfc2217: {
        if (!network)
            break;
        // Host and port are written the same way in either form of URL.
        const std::string address = path.substr(path.find("://") + 3);
        return "this server does not speak RFC 2217; if it drives the line itself, name it socket://"
               + address.substr(0, address.find('?'));
    }
    case SysErrorKind::Tls: {
        // The refusals about a file or the host name say which, from the URL.
        NetworkAddress a;
        std::string error;
        if (!network || !ParseNetworkAddress(path, &a, &error))
            break;
        if (sysError == kErrorTlsNameMismatch)
            return "the server's certificate is not for " + a.host;
        if (sysError == kErrorTlsKeyReadable)
            return "key file " + a.keyFile + " is readable by others";
        if (sysError == kErrorTlsCaFile)
            return "the ca= file " + a.caFile + " cannot be loaded";
        if (sysError == kErrorTlsCertFile)
            return "the client certificate cannot be loaded from " + a.certFile + " and " + a.keyFile;
        break;
    }
    default: break;
    }
    return DescribeErrno(sysError);
}

std::string ResultWords(std::int32_t result, int sysError)
{
    switch (result) {
    case LINK_ERR_NO_REPLY:
    case PORT_ERR_READ_TIMEOUT: return "no reply from the board";
    case LINK_ERR_NAK: return "refused by the board (NAK)";
    case LINK_ERR_CHECKSUM: return "garbled reply (bad checksum)";
    case LINK_ERR_REPLY_TOO_LONG: return "reply longer than the protocol allows";
    case LINK_ERR_NOT_OPEN: return "not connected";
    case LINK_ERR_SEND:
    case PORT_ERR_WRITE:
        if (IsGoneError(sysError))
            return GoneWords(sysError);
        return sysError != 0 ? "could not send: " + DescribeErrno(sysError) : "could not send";
    default: return "failed";
    }
}

std::string GoneWords(int sysError)
{
    if (sysError == 0)
        return "the device has gone";
    if (ClassifyErrno(sysError) == SysErrorKind::Dropped)
        return DescribeErrno(sysError);
    return "the device has gone: " + DescribeErrno(sysError);
}

std::string DescribeFailure(const FailureFacts& f)
{
    std::string text = f.port.empty() ? "" : f.port + ": ";
    if (!f.operation.empty())
        text += f.operation + ": ";
    if (f.notStarted)
        return text + "the board did not start (its status stayed 0)";
    if (f.result == PORT_ERR_RS485) {
        const std::string why = ClassifyErrno(f.sysError) == SysErrorKind::Unsupported
                                    ? std::string("the driver has no RS-485 mode")
                                    : "RS-485 mode refused: " + DescribeErrno(f.sysError);
        return text + why + "; the port was not used (leave RS-485 mode off and Pelvar drives RTS itself)";
    }
    if (f.operation == "cannot open")
        return text + OpenFailureWords(f.sysError, f.path);
    return text + ResultWords(f.result, f.sysError) + " (" + ResultName(f.result) + ")";
}

} // namespace pelvar
