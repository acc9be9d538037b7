// The real platform: serial devices through termios, time from CLOCK_MONOTONIC.
#pragma once

#include <map>
#include <string>
#include <sys/stat.h>
#include <linux/serial.h>
#include <termios.h>

#include "platform/Platform.h"
#include "platform/posix/AdapterFacts.h"
#include "platform/posix/Termios2.h"
#include "platform/posix/UucpLock.h"

namespace pelvar {

// The c_cflag bits of the character format in `s`: CSIZE, PARENB and PARODD
// (parity 0 none, 1 odd, 2 even), CSTOPB (stop bits 2). A pseudo-terminal
// keeps neither CSIZE nor PARENB as set, so they are tested here.
tcflag_t CharacterFormatFlags(const LineSettings& s);

class PosixPlatform : public IPlatform {
public:
    PosixPlatform() = default;
    ~PosixPlatform() override;

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
    std::uint32_t TickCount() override;
    void Sleep(std::uint32_t ms) override;
    int LastError() const override { return m_lastError; }
    std::string PortPath(int port) const override;

    // Opens a device by path with the same checks as OpenPort.
    PortHandle OpenPath(const std::string& path);
    // Where lock files are looked for and written (tests use a private one).
    void SetLockDirectory(const std::string& dir) { m_lockDir = dir; }
    // Where the adapter's facts are read (tests use a tree of their own).
    void SetSysfsRoot(const std::string& root) { m_sysfsRoot = root; }

private:
    struct Device {
        SavedTermios saved;
        Timeouts timeouts;
        bool isPty = false;
        std::string lockPath; // our lock file, removed at close
        std::string path;     // as opened, for the adapter's facts
        // The driver's serial flags before the low-latency request, put
        // back at close.
        int savedSerialFlags = 0;
        bool lowLatencySet = false;
        int lowLatencyError = 0;
        bool rs485Set = false;
        serial_rs485 savedRs485{}; // the driver's RS-485 setting before ours, put back at close
    };

    Device* Find(PortHandle h);
    PortHandle OpenChecked(const std::string& path, const struct stat& before);
    bool Fail(int err);
    bool SetModemLine(Device& dev, int fd, int line, bool raised);
    void RestoreLatency(Device& dev, int fd);

    std::map<PortHandle, Device> m_devices;
    int m_lastError = 0;
    std::string m_lockDir = kUucpLockDir;
    std::string m_sysfsRoot = kSysfsRoot;
};

} // namespace pelvar
