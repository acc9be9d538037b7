// A platform that hands every call to another one: the base of decorators
// (the trace, test doubles) that change only the calls they override.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace pelvar {

class ForwardingPlatform : public IPlatform {
public:
    explicit ForwardingPlatform(IPlatform& inner) : m_inner(inner) {}

    PortHandle OpenPort(int port) override { return m_inner.OpenPort(port); }
    PortHandle OpenRef(const PortRef& ref) override { return m_inner.OpenRef(ref); }
    bool ApplyLineSettings(PortHandle h, const LineSettings& s) override { return m_inner.ApplyLineSettings(h, s); }
    bool SetTimeouts(PortHandle h, const Timeouts& t) override { return m_inner.SetTimeouts(h, t); }
    bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override
    {
        return m_inner.Read(h, buf, len, got);
    }
    bool Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len) override { return m_inner.Write(h, buf, len); }
    bool SetRts(PortHandle h, bool raised) override { return m_inner.SetRts(h, raised); }
    bool DrainOutput(PortHandle h) override { return m_inner.DrainOutput(h); }
    bool PurgeInput(PortHandle h) override { return m_inner.PurgeInput(h); }
    bool ClosePort(PortHandle h) override { return m_inner.ClosePort(h); }
    bool SetLowLatency(PortHandle h, bool on) override { return m_inner.SetLowLatency(h, on); }
    bool SetRs485(PortHandle h, const Rs485Settings& s) override { return m_inner.SetRs485(h, s); }
    AdapterFacts Adapter(PortHandle h) override { return m_inner.Adapter(h); }
    bool PortGone(PortHandle h) override { return m_inner.PortGone(h); }
    std::uint32_t TickCount() override { return m_inner.TickCount(); }
    void Sleep(std::uint32_t ms) override { m_inner.Sleep(ms); }
    int LastError() const override { return m_inner.LastError(); }
    std::string PortPath(int port) const override { return m_inner.PortPath(port); }

protected:
    IPlatform& Inner() const { return m_inner; }

private:
    IPlatform& m_inner;
};

} // namespace pelvar
