// The ways a port can be named besides its number: a network port
// "rfc2217://HOST:PORT", "rfc2217+tls://HOST:PORT" or "socket://HOST:PORT"
// (HOST a name, an IPv4 address or [IPv6]) and, where the system has them,
// a device path.
// PortRef.h carries them to the open.
#pragma once

#include <cstdint>
#include <string>

namespace pelvar {

constexpr const char* kRfc2217Scheme = "rfc2217://";
// RFC 2217 inside TLS: the server's certificate is always verified.
constexpr const char* kRfc2217TlsScheme = "rfc2217+tls://";
// A server that passes the bytes through as they are and drives the line's
// direction itself (ser2net's plain tcp accepter, a device server in RS-485
// mode): no telnet, no escaping, RTS not controlled from here.
constexpr const char* kSocketScheme = "socket://";

// The parts of a network port's URL. Quirks of servers are switched on by
// options after a '?', separated by '&'.
struct NetworkAddress {
    std::string host; // without the brackets of an IPv6 address
    std::uint16_t port = 0;
    bool ignoreSetControl = false; // ign_set_control: never send SET-CONTROL (RTS)
    bool ignorePurge = false;      // ign_purge: never send PURGE-DATA
    bool raw = false;              // socket://
    bool tls = false;              // rfc2217+tls://
    // TLS only: trust anchors (empty: the system's), the server's pinned
    // SHA-256 fingerprint (64 lower-case hex digits), a client certificate.
    std::string caFile{};
    std::string fingerprint{};
    std::string certFile{};
    std::string keyFile{};
};

bool LooksLikeNetworkPort(const std::string& text);

// False with one line in *error that names what is wrong.
bool ParseNetworkAddress(const std::string& text, NetworkAddress* address, std::string* error);

// Whether this system names ports by device path ("/dev/ttyUSB0", "/dev/serial/by-id/...").
bool IsDevicePathName(const std::string& text);

} // namespace pelvar
