// The one describer of failures: what went wrong with a port or a board in
// the words users read, the same in the panel, pelvarctl, the Python module,
// the diagnosis and the monitor.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "platform/PortRef.h"

namespace pelvar {

struct FailureFacts {
    std::string port;      // as PortLabel names it
    std::string path;      // the device, for who holds it and its group; empty for none
    std::string operation; // "set brightness 200"; "cannot open" for an open
    std::int32_t result = 0;
    int sysError = 0;       // the system's error kept with the result
    bool notStarted = false; // the board answered but its status stayed 0
};

// "COM7 (/dev/ttyUSB0)"; a device named by its path, by that path; a
// network port by its URL.
std::string PortLabel(IPlatform& platform, const PortRef& port);
inline std::string PortLabel(IPlatform& platform, int port) { return PortLabel(platform, PortRef::Com(port)); }

// Where the port lives: the device of COMn ("/dev/ttyUSB0"), the path or
// URL it was named by; empty when unknown.
std::string PortPathOf(IPlatform& platform, const PortRef& port);

// The facts of a port that could not be opened.
FailureFacts OpenFailure(IPlatform& platform, const PortRef& port, std::int32_t result, int sysError);

// Why a port could not be opened: "busy: held by process 12 (minicom)",
// "permission denied (...); join the group 'dialout' (sudo usermod -aG
// dialout $USER) and log in again", "connection refused (...)".
std::string OpenFailureWords(int sysError, const std::string& path);

// What a failed exchange means: "no reply from the board", "refused by the
// board (NAK)", "the connection was lost (...)".
std::string ResultWords(std::int32_t result, int sysError);

// A device or connection that has gone: "the device has gone: absent (...)";
// without the system's error (a hang-up seen, no call failed) the plain words.
std::string GoneWords(int sysError);

// The whole sentence: "COM7 (/dev/ttyUSB0): cannot open: busy: held by the
// system console", "rfc2217://lab:3001: set brightness 200: no reply from
// the board (LINK_ERR_NO_REPLY)".
std::string DescribeFailure(const FailureFacts& facts);

} // namespace pelvar
