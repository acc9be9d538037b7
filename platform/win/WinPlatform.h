// The real platform on Windows: serial devices through the Win32 comm API,
// time from GetTickCount. The system applies the read time-outs itself.
#pragma once

#include <windows.h>

#include <map>

#include "platform/Platform.h"

namespace pelvar {

class WinPlatform : public IPlatform {
public:
    PortHandle OpenPort(int port) override;
    // Windows names its ports COMn only.
    PortHandle OpenRef(const PortRef& ref) override;
    bool ApplyLineSettings(PortHandle h, const LineSettings& s) override;
    bool SetTimeouts(PortHandle h, const Timeouts& t) override;
    bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override;
    bool Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len) override;
    bool SetRts(PortHandle h, bool raised) override;
    bool DrainOutput(PortHandle h) override;
    bool PurgeInput(PortHandle h) override;
    bool ClosePort(PortHandle h) override;
    // Windows offers neither through the comm API: both are refused with
    // ERROR_NOT_SUPPORTED and the port works as before.
    bool SetLowLatency(PortHandle h, bool on) override;
    bool SetRs485(PortHandle h, const Rs485Settings& s) override;
    // An FTDI adapter's latency timer, from its driver's registry keys.
    AdapterFacts Adapter(PortHandle h) override;
    std::uint32_t TickCount() override;
    void Sleep(std::uint32_t ms) override;
    int LastError() const override { return static_cast<int>(m_lastError); }
    std::string PortPath(int port) const override;

private:
    bool Fail();
    bool Fail(DWORD err);

    DWORD m_lastError = 0;
    std::map<PortHandle, int> m_ports; // the COM number of each open port
};

// "\\.\COM7": the device path of COMn (the prefix works for every n, not only 1..9).
std::wstring DevicePath(int port);

// The board's line flags on a DCB read from the device: binary, no parity
// check, no flow control, DTR and RTS asserted; fDummy2 as the device gave it.
void SetBoardLineFlags(DCB& dcb);

// The DCB's flag bits as one word, as the device driver sees them.
std::uint32_t DcbFlagWord(const DCB& dcb);

// Whether an EscapeCommFunction failure means the port has no modem-control
// lines, so that RTS direction control is a no-op there.
bool IsMissingModemLines(DWORD err);

} // namespace pelvar
