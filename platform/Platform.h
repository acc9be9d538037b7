// The operating-system seam of the serial link: one small table of operations
// that the real POSIX implementation and the simulated one both provide.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pelvar {

struct PortRef;

// COMn: the port numbers a port can have.
constexpr int kMinPort = 1;
constexpr int kMaxPort = 255;

using PortHandle = std::intptr_t;
constexpr PortHandle kNoHandle = -1;

// Character format of the line, in the classic codes: parity 0 none, 1 odd,
// 2 even; stop bits 0 one, 1 one and a half, 2 two.
struct LineSettings {
    std::int32_t baud = 0;
    std::int32_t byteSize = 0;
    std::int32_t parity = 0;
    std::int32_t stopBits = 0;
    // A listener on someone else's line: the modem lines stay as the open
    // left them, so RTS is never driven from here.
    bool listenOnly = false;
};

// Read and write time-outs in milliseconds. A read of k bytes ends when all k
// have arrived, when more than `readInterval` passes between two bytes once
// one has arrived, or when readMultiplier * k + readConstant has passed.
struct Timeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstant = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstant = 0;
};

// Kernel RS-485 direction control: the driver raises RTS for each
// transmission and lowers it the given delays around it, so the host leaves
// RTS alone.
struct Rs485Settings {
    std::uint32_t delayBeforeSendMs = 0;
    std::uint32_t delayAfterSendMs = 0;
};

// What the system shows of the adapter behind a port; what it does not show
// stays empty.
struct AdapterFacts {
    std::string driver;           // "ftdi_sio"
    int latencyTimerMs = -1;      // a USB adapter's latency timer; -1 unknown
    std::string latencyTimerFile; // where it is set by hand, for advice
    std::string latencyTimerKey;  // the registry key holding it (Windows), for advice
    // Why the driver refused low-latency operation on open (an errno); 0 when
    // it was granted or never asked.
    int lowLatencyError = 0;
};

class IPlatform {
public:
    virtual ~IPlatform() = default;

    // Serial device by port number (COMn). Every call returns false (or
    // kNoHandle) on failure and leaves the errno of the failure in LastError().
    virtual PortHandle OpenPort(int port) = 0;
    // The port a reference names: a number as OpenPort opens it, a device
    // path or a network address where this platform reaches them (else
    // kNoHandle). The handle belongs to this platform.
    virtual PortHandle OpenRef(const PortRef& ref) = 0;
    virtual bool ApplyLineSettings(PortHandle h, const LineSettings& s) = 0;
    virtual bool SetTimeouts(PortHandle h, const Timeouts& t) = 0;
    // Blocks under the time-outs; success with *got possibly 0.
    virtual bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) = 0;
    // Writes all `len` bytes or fails.
    virtual bool Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len) = 0;
    virtual bool SetRts(PortHandle h, bool raised) = 0;
    // Waits until the bytes written have left the transmitter (tcdrain):
    // write() returns as soon as they are queued.
    virtual bool DrainOutput(PortHandle h) = 0;
    // Discards bytes received but not yet read.
    virtual bool PurgeInput(PortHandle h) = 0;
    virtual bool ClosePort(PortHandle h) = 0;
    // On: asks the driver to hand on received bytes at once (a USB adapter's
    // latency timer at its least). Off: puts back what the driver had before.
    // A port without the setting refuses (ENOTTY); it works as before.
    virtual bool SetLowLatency(PortHandle h, bool on) = 0;
    // Hands RTS to the driver's RS-485 mode; false with the errno where the
    // driver has no such mode.
    virtual bool SetRs485(PortHandle h, const Rs485Settings& s) = 0;
    // The adapter behind an open port, as far as the system shows it.
    virtual AdapterFacts Adapter(PortHandle h) = 0;
    // True when the device behind an open port has gone (unplugged, or the
    // far end of a pseudo-terminal closed). Never blocks.
    virtual bool PortGone(PortHandle /*h*/) { return false; }

    // Milliseconds since an arbitrary origin; wraps at 2^32.
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;

    // errno of the last failed call, whichever port it was for; 0 if none
    // has failed yet.
    virtual int LastError() const = 0;
    // Where port n lives, for messages ("/dev/ttyUSB0"); empty when unknown.
    virtual std::string PortPath(int port) const = 0;
};

// The process's real platform (POSIX termios).
IPlatform& DefaultPlatform();
// Another real platform, for a thread that drives a board of its own: one
// platform keeps one table of open ports and must not be shared by threads.
std::unique_ptr<IPlatform> NewPlatform();

} // namespace pelvar
