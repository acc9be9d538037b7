// The ways a port can be named besides its number: a network port
// "rfc2217://HOST:PORT" (HOST a name, an IPv4 address or [IPv6]) and, where
// the system has them, a device path. A name given for one run gets a
// port number of its own, so that everything above the seam keeps
// counting in COMn.
#pragma once

#include <cstdint>
#include <string>

namespace pelvar {

constexpr const char* kRfc2217Scheme = "rfc2217://";

// The parts of a network port's URL. Quirks of servers are switched on by
// options after a '?', separated by '&'.
struct NetworkAddress {
    std::string host; // without the brackets of an IPv6 address
    std::uint16_t port = 0;
    bool ignoreSetControl = false; // ign_set_control: never send SET-CONTROL (RTS)
    bool ignorePurge = false;      // ign_purge: never send PURGE-DATA
};

bool LooksLikeNetworkPort(const std::string& text);

// False with one line in *error that names what is wrong.
bool ParseNetworkAddress(const std::string& text, NetworkAddress* address, std::string* error);

// Whether this system names ports by device path ("/dev/ttyUSB0", "/dev/serial/by-id/...").
bool IsDevicePathName(const std::string& text);
// Whether port n stands for something already (a device, a directory entry).
bool PortNumberTaken(int port);

// A name given for this run (a URL or a device path) as port n: the highest
// number from 255 down that `taken` does not claim. The same name gives the
// same number. 0 when every number is taken.
int NamePort(const std::string& name, bool (*taken)(int port));
// The name given to port n, empty when none.
std::string NamedPort(int port);
// Forgets every name (tests).
void ForgetNamedPorts();

// A port named by URL or device path, for --port and the Python module: the
// number the run finds it under. False with one line in *error for a
// malformed name; false with *error empty when `text` is no name at all (a
// number, or a typo of one).
bool ParsePortName(const std::string& text, int* port, std::string* error);

} // namespace pelvar
