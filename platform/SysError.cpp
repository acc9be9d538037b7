#include "platform/SysError.h"

namespace pelvar {

std::string DescribeSysError(SysErrorKind kind, const std::string& reason)
{
    switch (kind) {
    case SysErrorKind::None: return "no error";
    case SysErrorKind::Permission: return "permission denied (" + reason + ")";
    case SysErrorKind::Busy: return "busy: held by another program (" + reason + ")";
    case SysErrorKind::NotFound: return "absent (" + reason + ")";
    case SysErrorKind::Unsupported: return "not a usable serial device (" + reason + ")";
    case SysErrorKind::Refused: return "connection refused (" + reason + ")";
    case SysErrorKind::UnknownHost: return "unknown host (" + reason + ")";
    case SysErrorKind::Dropped: return "the connection was lost (" + reason + ")";
    case SysErrorKind::NotRfc2217: return "this server does not speak RFC 2217";
    case SysErrorKind::Tls: return reason;
    case SysErrorKind::Other: break;
    }
    return reason;
}

const char* TlsErrorWords(int err)
{
    switch (err) {
    case kErrorTlsClientCertUnavailable:
        return "client certificates (cert=, key=) are not available in the Windows build yet";
    case kErrorNotTls: return "the server does not speak TLS";
    case kErrorTlsHandshake: return "the TLS handshake failed";
    case kErrorTlsUnknownIssuer:
        return "the server's certificate is from an unknown issuer (name its CA with ca=FILE or pin it with "
               "fingerprint=sha256:...)";
    case kErrorTlsNameMismatch: return "the server's certificate is for another name";
    case kErrorTlsExpired: return "the server's certificate has expired";
    case kErrorTlsPinMismatch: return "the server's certificate does not match fingerprint=";
    case kErrorTlsBadCertificate: return "the server's certificate failed verification";
    case kErrorTlsNoClientCert: return "the server asked for a client certificate and none was given (cert=, key=)";
    case kErrorTlsClientCertRefused: return "the server refused the client certificate";
    case kErrorTlsKeyReadable: return "the key file is readable by others";
    case kErrorTlsCaFile: return "the ca= file cannot be loaded";
    case kErrorTlsCertFile: return "the client certificate cannot be loaded from cert= and key=";
    default: return nullptr;
    }
}

bool IsGoneError(int err)
{
    const SysErrorKind kind = ClassifyErrno(err);
    return kind == SysErrorKind::NotFound || kind == SysErrorKind::Dropped;
}

} // namespace pelvar
