// Wraps a platform and writes every block sent and every block read to a
// stream: "12.345 > 02 06 91 C8 00 00 00 5D 03".
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/Platform.h"

namespace pelvar {

class TracePlatform : public IPlatform {
public:
    TracePlatform(IPlatform& inner, std::FILE* out);

    PortHandle OpenPort(int port) override { return m_inner.OpenPort(port); }
    bool ApplyLineSettings(PortHandle h, const LineSettings& s) override { return m_inner.ApplyLineSettings(h, s); }
    bool SetTimeouts(PortHandle h, const Timeouts& t) override { return m_inner.SetTimeouts(h, t); }
    bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override;
    bool Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len) override;
    bool SetRts(PortHandle h, bool raised) override { return m_inner.SetRts(h, raised); }
    bool DrainOutput(PortHandle h) override { return m_inner.DrainOutput(h); }
    bool PurgeInput(PortHandle h) override { return m_inner.PurgeInput(h); }
    bool ClosePort(PortHandle h) override { return m_inner.ClosePort(h); }
    bool PortGone(PortHandle h) override { return m_inner.PortGone(h); }
    std::uint32_t TickCount() override { return m_inner.TickCount(); }
    void Sleep(std::uint32_t ms) override { m_inner.Sleep(ms); }
    int LastError() const override { return m_inner.LastError(); }
    std::string PortPath(int port) const override { return m_inner.PortPath(port); }

private:
    void Line(char direction, const std::uint8_t* bytes, std::uint32_t n);

    IPlatform& m_inner;
    std::FILE* m_out;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace pelvar
