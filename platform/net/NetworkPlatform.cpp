#include "platform/net/NetworkPlatform.h"

#include <cerrno>
#include <fstream>

#include "platform/PortRef.h"

namespace pelvar {

namespace {

PortRef DevicePort(const std::string& path)
{
    PortRef ref;
    ref.kind = PortRef::Kind::Device;
    ref.name = path;
    return ref;
}

// Handles of network ports lie far below every file descriptor, Windows
// handle and pseudo-handle, so the two kinds never meet.
constexpr PortHandle kFirstNetHandle = -0x10000000;

} // namespace

bool PortEntryLine(const std::string& bytes, std::string* line, std::string* error)
{
    std::string s = bytes.substr(0, bytes.find_first_of("\r\n"));
    if (s.size() > kPortEntryLineLimit) {
        *error = "its line is longer than " + std::to_string(kPortEntryLineLimit) + " characters";
        return false;
    }
    if (s.find('\0') != std::string::npos) {
        *error = "its line holds a NUL byte";
        return false;
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    *line = s;
    return true;
}

bool ReadPortEntryLine(const std::string& path, NetworkPortEntry* entry)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    // One byte past the limit and its line end tell a long line from a full one.
    char text[kPortEntryLineLimit + 2] = {};
    in.read(text, sizeof text);
    entry->where = path;
    if (!PortEntryLine(std::string(text, static_cast<std::size_t>(in.gcount())), &entry->text, &entry->error))
        entry->text.clear();
    return true;
}

NetworkPlatform::NetworkPlatform(IPlatform& local, ConnectionFactory connect)
    : ForwardingPlatform(local), m_connect(std::move(connect)), m_nextHandle(kFirstNetHandle)
{}

NetworkPlatform::~NetworkPlatform() = default;

template <class OnNetwork, class OnLocal>
bool NetworkPlatform::Call(PortHandle h, OnNetwork onNetwork, OnLocal onLocal)
{
    if (auto it = m_ports.find(h); it != m_ports.end()) {
        const bool ok = onNetwork(*it->second);
        if (!ok)
            m_lastError = it->second->Error();
        return ok;
    }
    const bool ok = onLocal(Inner());
    if (!ok)
        m_lastError = Inner().LastError();
    return ok;
}

int NetworkPlatform::LastError() const { return m_lastError; }

PortHandle NetworkPlatform::OpenedLocally(PortHandle h)
{
    if (h == kNoHandle)
        m_lastError = Inner().LastError();
    return h;
}

PortHandle NetworkPlatform::OpenNetwork(const NetworkAddress& address)
{
    auto net = std::make_unique<Rfc2217Port>(Inner(), m_connect());
    if (!net->Open(address, kNetOpenSettings)) {
        m_lastError = net->Error();
        return kNoHandle;
    }
    const PortHandle h = m_nextHandle--;
    m_ports[h] = std::move(net);
    return h;
}

bool ParseDeviceEntry(const std::string& line, DeviceEntry* device, std::string* error)
{
    error->clear();
    if (!IsDevicePathName(line) || LooksLikeNetworkPort(line))
        return false;
    const std::size_t q = line.find('?');
    DeviceEntry d;
    d.path = line.substr(0, q);
    for (std::size_t i = q; i != std::string::npos;) {
        const std::size_t end = line.find('&', i + 1);
        const std::string option = line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
        if (option != "rs485") {
            *error = "unknown option '" + option + "' (known: rs485)";
            return false;
        }
        d.rs485 = true;
        i = end;
    }
    *device = std::move(d);
    return true;
}

bool FindDeviceEntry(int port, DeviceEntry* device)
{
    NetworkPortEntry entry;
    std::string error;
    return FindNetworkPortEntry(port, &entry) && entry.error.empty() && ParseDeviceEntry(entry.text, device, &error);
}

PortHandle NetworkPlatform::OpenPort(int port)
{
    NetworkPortEntry entry;
    if (!FindNetworkPortEntry(port, &entry))
        return OpenedLocally(Inner().OpenPort(port));
    NetworkAddress address;
    std::string error;
    DeviceEntry device;
    if (entry.error.empty() && ParseDeviceEntry(entry.text, &device, &error))
        return OpenedLocally(Inner().OpenRef(DevicePort(device.path)));
    if (!entry.error.empty() || !error.empty() || !ParseNetworkAddress(entry.text, &address, &error)) {
        // A broken entry is not opened; PortPath says what is wrong with it.
        m_lastError = NetErrorBadAddress();
        return kNoHandle;
    }
    return OpenNetwork(address);
}

PortHandle NetworkPlatform::OpenRef(const PortRef& ref)
{
    switch (ref.kind) {
    case PortRef::Kind::Number: return OpenPort(ref.number);
    case PortRef::Kind::Network: return OpenNetwork(ref.address);
    default: return OpenedLocally(Inner().OpenRef(ref));
    }
}

bool NetworkPlatform::ApplyLineSettings(PortHandle h, const LineSettings& s)
{
    return Call(
        h, [&](Rfc2217Port& p) { return p.ApplyLineSettings(s); },
        [&](IPlatform& local) { return local.ApplyLineSettings(h, s); });
}

bool NetworkPlatform::SetTimeouts(PortHandle h, const Timeouts& t)
{
    return Call(
        h,
        [&](Rfc2217Port& p) {
            p.SetTimeouts(t);
            return true;
        },
        [&](IPlatform& local) { return local.SetTimeouts(h, t); });
}

bool NetworkPlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    return Call(
        h, [&](Rfc2217Port& p) { return p.Read(buf, len, got); },
        [&](IPlatform& local) { return local.Read(h, buf, len, got); });
}

bool NetworkPlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    return Call(
        h, [&](Rfc2217Port& p) { return p.Write(buf, len); },
        [&](IPlatform& local) { return local.Write(h, buf, len); });
}

bool NetworkPlatform::SetRts(PortHandle h, bool raised)
{
    return Call(
        h, [&](Rfc2217Port& p) { return p.SetRts(raised); }, [&](IPlatform& local) { return local.SetRts(h, raised); });
}

bool NetworkPlatform::DrainOutput(PortHandle h)
{
    // The server drains its own port; nothing here tells when.
    return Call(
        h, [](Rfc2217Port&) { return true; }, [&](IPlatform& local) { return local.DrainOutput(h); });
}

bool NetworkPlatform::PurgeInput(PortHandle h)
{
    return Call(
        h, [](Rfc2217Port& p) { return p.PurgeInput(); }, [&](IPlatform& local) { return local.PurgeInput(h); });
}

bool NetworkPlatform::ClosePort(PortHandle h)
{
    if (m_ports.erase(h) != 0)
        return true;
    return Call(
        h, [](Rfc2217Port&) { return true; }, [&](IPlatform& local) { return local.ClosePort(h); });
}

// A network port's adapter is the server's: its latency and its line's
// direction are set there, not from here.
bool NetworkPlatform::SetLowLatency(PortHandle h, bool on)
{
    if (m_ports.count(h) != 0) {
        // Nothing was asked of a network port, so nothing is put back.
        if (!on)
            return true;
        m_lastError = ENOTTY;
        return false;
    }
    const bool ok = Inner().SetLowLatency(h, on);
    if (!ok)
        m_lastError = Inner().LastError();
    return ok;
}

bool NetworkPlatform::SetRs485(PortHandle h, const Rs485Settings& s)
{
    if (m_ports.count(h) != 0) {
        m_lastError = ENOTTY;
        return false;
    }
    const bool ok = Inner().SetRs485(h, s);
    if (!ok)
        m_lastError = Inner().LastError();
    return ok;
}

AdapterFacts NetworkPlatform::Adapter(PortHandle h)
{
    return m_ports.count(h) != 0 ? AdapterFacts{} : Inner().Adapter(h);
}

bool NetworkPlatform::PortGone(PortHandle h)
{
    auto it = m_ports.find(h);
    return it != m_ports.end() ? it->second->Gone() : Inner().PortGone(h);
}

std::string NetworkPlatform::PortPath(int port) const
{
    NetworkPortEntry entry;
    if (!FindNetworkPortEntry(port, &entry))
        return Inner().PortPath(port);
    if (!entry.error.empty())
        return entry.where + ": " + entry.error;
    NetworkAddress address;
    std::string error;
    DeviceEntry device;
    if (ParseDeviceEntry(entry.text, &device, &error))
        return device.path;
    if (!error.empty())
        return entry.where + ": " + error;
    if (!ParseNetworkAddress(entry.text, &address, &error))
        return entry.where + ": " + error;
    return entry.text;
}

namespace {

// The local platform is a base so that it is built before, and destroyed
// after, the network platform that forwards to it.
struct LocalPlatformHolder {
    std::unique_ptr<IPlatform> local;
};

class OwningNetworkPlatform : private LocalPlatformHolder, public NetworkPlatform {
public:
    explicit OwningNetworkPlatform(std::unique_ptr<IPlatform> own)
        : LocalPlatformHolder{std::move(own)}, NetworkPlatform(*local)
    {}
};

} // namespace

std::unique_ptr<IPlatform> WithNetworkPorts(std::unique_ptr<IPlatform> local)
{
    return std::make_unique<OwningNetworkPlatform>(std::move(local));
}

} // namespace pelvar
