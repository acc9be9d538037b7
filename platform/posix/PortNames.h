// COMn on Linux: which device node a port number stands for.
//
// An entry named COMn in the port directory (a link or a device node) makes
// COMn that entry's target. The directory is $PELVAR_PORTS_DIR when set (and
// then it is the only source of ports), else $XDG_RUNTIME_DIR/pelvar/ports.
// Otherwise the fixed rule maps COM1..COM128 to ttyS, ttyUSB, ttyACM, ttyAMA.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace pelvar {

struct PortDirectory {
    std::string path;    // empty: no directory in use
    bool exclusive;      // PELVAR_PORTS_DIR set: the fixed rule is off
    bool trusted;        // owned by this user, writable by no one else
    std::string refusal; // why a directory that is there is not trusted; empty otherwise
};

// A directory owned by this user that no one else can write into: the only
// kind whose links to devices are followed.
bool IsPrivateDirectory(const std::string& path);

// Why `path` is not such a directory ("group-writable", "owned by another
// user", ...); empty when it is one or when there is nothing at `path`.
std::string PortDirectoryRefusal(const std::string& path);

// "port directory /x ignored: group-writable", or empty when the directory
// is trusted or absent. Printed once a run on stderr by CurrentPortDirectory,
// so every front end says it; kept here for those that show it elsewhere too.
std::string PortDirectoryNotice(const PortDirectory& dir);

// The directory as the environment names it, with its trust checked.
PortDirectory CurrentPortDirectory();

// Device path of COMn under the fixed rule alone; empty above COM128.
std::string FixedPortPath(int port);

// Port number of a device node under the fixed rule ("/dev/ttyUSB2" -> 35); 0 if none.
int FixedPortNumber(const std::string& devicePath);

// Path to open for COMn: a directory entry, else the fixed rule (unless the
// directory is exclusive). Empty when the port does not exist.
std::string ResolvePortPath(int port, const PortDirectory& dir);
std::string ResolvePortPath(int port);

struct PortDirectoryEntry {
    int port;            // n of COMn
    std::string entry;   // path of the entry in the directory
    std::string target;  // what it resolves to (the link's target), may be empty
    std::string refusal; // why opening it is refused without trying ("links to nothing"); empty if not
};

// Entries COM1..COM255 of a trusted directory, ascending by port.
std::vector<PortDirectoryEntry> ListPortDirectory(const PortDirectory& dir);

} // namespace pelvar
