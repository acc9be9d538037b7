// The platform with network ports beside the local ones: a network address,
// or a port number whose entry among the network ports holds one, is opened
// over TCP; every other port, and the clock, are the local platform's.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/ForwardingPlatform.h"
#include "platform/net/Rfc2217Port.h"

namespace pelvar {

// Where the user keeps network ports: the entry COMn and the text it holds.
struct NetworkPortEntry {
    std::string where; // the entry's path, for messages
    std::string text;  // its first line
    std::string error; // why the line is refused (too long, a NUL), else empty
};

// The longest line an entry may hold: a longer one is refused, never cut.
constexpr std::size_t kPortEntryLineLimit = 511;

// The entry's line from its raw bytes: up to the first CR or LF, trailing
// blanks dropped. False with one line in *error when it is too long or
// holds a NUL.
bool PortEntryLine(const std::string& bytes, std::string* line, std::string* error);

// An entry that names a device with options instead of linking to it:
// "/dev/ttyUSB3?rs485" (the driver's RS-485 mode drives RTS).
struct DeviceEntry {
    std::string path;
    bool rs485 = false;
};

// False for a line that names no device (a network URL) with *error empty,
// or with one line in *error for a device line with an unknown option.
bool ParseDeviceEntry(const std::string& line, DeviceEntry* device, std::string* error);

// The device entry of port n in the port directory, if it is one.
bool FindDeviceEntry(int port, DeviceEntry* device);

// Windows: the registry key (under HKEY_CURRENT_USER) that holds them.
constexpr const char* kNetworkPortsKey = "Software\\Pelvar\\Network Ports";

// The entry of port n among the user's network ports; false when there is none.
bool FindNetworkPortEntry(int port, NetworkPortEntry* entry);

// The first line of a small file: a network port's entry. False when it
// cannot be read; true with entry->error set when its line is refused.
bool ReadPortEntryLine(const std::string& path, NetworkPortEntry* entry);

// The line settings asked for when a network port connects: the board's.
constexpr LineSettings kNetOpenSettings{115200, 8, 0, 0};

class NetworkPlatform : public ForwardingPlatform {
public:
    using ConnectionFactory = std::function<std::unique_ptr<INetConnection>()>;

    explicit NetworkPlatform(IPlatform& local, ConnectionFactory connect = MakeTcpConnection);
    ~NetworkPlatform() override;

    PortHandle OpenPort(int port) override;
    PortHandle OpenRef(const PortRef& ref) override;
    bool ApplyLineSettings(PortHandle h, const LineSettings& s) override;
    bool SetTimeouts(PortHandle h, const Timeouts& t) override;
    bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override;
    bool Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len) override;
    bool SetRts(PortHandle h, bool raised) override;
    bool DrainOutput(PortHandle h) override;
    bool PurgeInput(PortHandle h) override;
    bool ClosePort(PortHandle h) override;
    bool SetLowLatency(PortHandle h, bool on) override;
    bool SetRs485(PortHandle h, const Rs485Settings& s) override;
    AdapterFacts Adapter(PortHandle h) override;
    bool PortGone(PortHandle h) override;
    int LastError() const override;
    std::string PortPath(int port) const override;

private:
    PortHandle OpenNetwork(const NetworkAddress& address);
    PortHandle OpenedLocally(PortHandle h);
    // A call on handle h: to the network port it opened, else to the local
    // platform. The failure's error is kept for LastError either way.
    template <class OnNetwork, class OnLocal>
    bool Call(PortHandle h, OnNetwork onNetwork, OnLocal onLocal);

    ConnectionFactory m_connect;
    std::map<PortHandle, std::unique_ptr<Rfc2217Port>> m_ports;
    PortHandle m_nextHandle;
    int m_lastError = 0;
};

// A platform of its own for one user of several at once (a board of the
// Python module, a thread of pelvarctl --port all): `local` with the
// network ports beside it, both owned.
std::unique_ptr<IPlatform> WithNetworkPorts(std::unique_ptr<IPlatform> local);

} // namespace pelvar
