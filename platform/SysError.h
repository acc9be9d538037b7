// errno sorted into the few kinds a user can act on.
#pragma once

#include <string>

namespace pelvar {

enum class SysErrorKind {
    None,
    Permission,  // EACCES, EPERM: not in the device's group
    Busy,        // EBUSY, EWOULDBLOCK on the lock: held by another program
    NotFound,    // ENOENT, ENODEV, ENXIO, EIO: absent, unplugged or gone
    Unsupported, // ENOTTY, EINVAL: not a serial device, setting refused
    Refused,     // ECONNREFUSED: nothing serves a network port there
    UnknownHost, // a network port's host name that does not resolve
    Dropped,     // ECONNRESET: a network port's connection was lost
    NotRfc2217,  // a network port's server that refused COM-PORT-OPTION
    Tls,         // a TLS port refused: a certificate, a key, the handshake
    Other,
};

// A network port's host that does not resolve: errno has no code for it.
constexpr int kErrorUnknownHost = -0x4E48;
// A network port's server that refused to control a line: no system has a
// code for it, on either side.
constexpr int kErrorNotRfc2217 = -0x4E52;

// A TLS port that is refused, and why: no system has codes for these either.
// Their words are in TlsErrorWords; the classifiers of every system call
// them SysErrorKind::Tls.
constexpr int kErrorTlsClientCertUnavailable = -0x5400; // cert=, key= where this build cannot use them
constexpr int kErrorNotTls = -0x5401;                   // the server answered with something else
constexpr int kErrorTlsHandshake = -0x5402;             // the handshake failed otherwise
constexpr int kErrorTlsUnknownIssuer = -0x5403;         // no trust anchor signed the server's chain
constexpr int kErrorTlsNameMismatch = -0x5404;          // the certificate is for another host
constexpr int kErrorTlsExpired = -0x5405;               // the certificate is past its end date
constexpr int kErrorTlsPinMismatch = -0x5406;           // not the certificate of fingerprint=
constexpr int kErrorTlsBadCertificate = -0x5407;        // any other verification failure
constexpr int kErrorTlsNoClientCert = -0x5408;          // the server asked for one, none was given
constexpr int kErrorTlsClientCertRefused = -0x5409;     // the server refused ours
constexpr int kErrorTlsKeyReadable = -0x540A;           // key= readable by group or others
constexpr int kErrorTlsCaFile = -0x540B;                // ca= cannot be loaded
constexpr int kErrorTlsCertFile = -0x540C;              // cert= or key= cannot be loaded, or do not match

// The words of a TLS refusal without the port's details; nullptr for any
// other code.
const char* TlsErrorWords(int err);

// The device or the connection has gone for good: unplugged, hung up, dropped.
bool IsGoneError(int err);

SysErrorKind ClassifyErrno(int err);

// "permission denied", "busy: held by another program", ... plus strerror.
std::string DescribeErrno(int err);

// The same wording for a kind and the system's own text of the error.
std::string DescribeSysError(SysErrorKind kind, const std::string& reason);

// Who holds a busy port ("process 1234 (minicom)"), from its lock file or
// the system; empty when nothing tells.
std::string PortHolderText(const std::string& devicePath);

// Whether the device is an active system console: never opened, so never
// tried by a search across every port.
bool IsSystemConsole(const std::string& devicePath);

// Group that owns a device node ("dialout"), empty if unknown.
std::string DeviceGroup(const std::string& path);

} // namespace pelvar
