#include "platform/net/NetworkPlatform.h"

#include <fstream>

namespace pelvar {

namespace {

// Handles of network ports lie far below every file descriptor, Windows
// handle and pseudo-handle, so the two kinds never meet.
constexpr PortHandle kFirstNetHandle = -0x10000000;

} // namespace

bool ReadPortEntryLine(const std::string& path, std::string* line)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    // An entry holds one short line; anything longer is not a URL anyway.
    char text[512] = {};
    in.read(text, sizeof text - 1);
    std::string s(text, static_cast<std::size_t>(in.gcount()));
    s = s.substr(0, s.find_first_of("\r\n"));
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    *line = s;
    return true;
}

NetworkPlatform::NetworkPlatform(IPlatform& local, ConnectionFactory connect)
    : ForwardingPlatform(local), m_connect(std::move(connect)), m_nextHandle(kFirstNetHandle)
{}

NetworkPlatform::~NetworkPlatform() = default;

std::string NetworkPlatform::NetworkPortText(int port, std::string* where)
{
    const std::string named = NamedPort(port);
    if (LooksLikeNetworkPort(named)) {
        if (where)
            *where = named;
        return named;
    }
    if (!named.empty())
        return {};
    NetworkPortEntry entry;
    if (!FindNetworkPortEntry(port, &entry))
        return {};
    if (where)
        *where = entry.where;
    // An entry that holds no URL is still a network port, a broken one.
    return entry.text.empty() ? std::string(" ") : entry.text;
}

Rfc2217Port* NetworkPlatform::Find(PortHandle h)
{
    auto it = m_ports.find(h);
    return it == m_ports.end() ? nullptr : it->second.get();
}

bool NetworkPlatform::Result(Rfc2217Port& port, bool ok)
{
    m_lastWasNetwork = true;
    if (!ok)
        m_lastError = port.Error();
    return ok;
}

int NetworkPlatform::LastError() const { return m_lastWasNetwork ? m_lastError : Inner().LastError(); }

PortHandle NetworkPlatform::OpenPort(int port)
{
    const std::string text = NetworkPortText(port);
    if (text.empty()) {
        m_lastWasNetwork = false;
        return Inner().OpenPort(port);
    }
    m_lastWasNetwork = true;
    NetworkAddress address;
    std::string error;
    if (!ParseNetworkAddress(text, &address, &error)) {
        // A malformed entry is not opened; PortPath says what is wrong with it.
        m_lastError = NetErrorBadAddress();
        return kNoHandle;
    }
    auto net = std::make_unique<Rfc2217Port>(Inner(), m_connect());
    if (!net->Open(address, kNetOpenSettings)) {
        m_lastError = net->Error();
        return kNoHandle;
    }
    const PortHandle h = m_nextHandle--;
    m_ports[h] = std::move(net);
    return h;
}

bool NetworkPlatform::ApplyLineSettings(PortHandle h, const LineSettings& s)
{
    Rfc2217Port* p = Find(h);
    return p ? Result(*p, p->ApplyLineSettings(s)) : (m_lastWasNetwork = false, Inner().ApplyLineSettings(h, s));
}

bool NetworkPlatform::SetTimeouts(PortHandle h, const Timeouts& t)
{
    Rfc2217Port* p = Find(h);
    if (!p) {
        m_lastWasNetwork = false;
        return Inner().SetTimeouts(h, t);
    }
    p->SetTimeouts(t);
    return true;
}

bool NetworkPlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    Rfc2217Port* p = Find(h);
    return p ? Result(*p, p->Read(buf, len, got)) : (m_lastWasNetwork = false, Inner().Read(h, buf, len, got));
}

bool NetworkPlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    Rfc2217Port* p = Find(h);
    return p ? Result(*p, p->Write(buf, len)) : (m_lastWasNetwork = false, Inner().Write(h, buf, len));
}

bool NetworkPlatform::SetRts(PortHandle h, bool raised)
{
    Rfc2217Port* p = Find(h);
    return p ? Result(*p, p->SetRts(raised)) : (m_lastWasNetwork = false, Inner().SetRts(h, raised));
}

bool NetworkPlatform::DrainOutput(PortHandle h)
{
    // The server drains its own port; nothing here tells when.
    if (Find(h))
        return true;
    m_lastWasNetwork = false;
    return Inner().DrainOutput(h);
}

bool NetworkPlatform::PurgeInput(PortHandle h)
{
    Rfc2217Port* p = Find(h);
    return p ? Result(*p, p->PurgeInput()) : (m_lastWasNetwork = false, Inner().PurgeInput(h));
}

bool NetworkPlatform::ClosePort(PortHandle h)
{
    auto it = m_ports.find(h);
    if (it == m_ports.end()) {
        m_lastWasNetwork = false;
        return Inner().ClosePort(h);
    }
    m_ports.erase(it);
    return true;
}

bool NetworkPlatform::PortGone(PortHandle h)
{
    Rfc2217Port* p = Find(h);
    return p ? p->Gone() : Inner().PortGone(h);
}

std::string NetworkPlatform::PortPath(int port) const
{
    std::string where;
    const std::string text = NetworkPortText(port, &where);
    if (text.empty())
        return Inner().PortPath(port);
    NetworkAddress address;
    std::string error;
    if (!ParseNetworkAddress(text, &address, &error))
        return where + ": " + error;
    return text;
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
