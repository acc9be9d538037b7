// A simulated platform: a virtual clock (TickCount and Sleep advance it, no
// real waiting) and, behind each port number, a device on the far end of the
// line whose bytes arrive at given virtual times. Every call holds one lock:
// the camera worker's thread and a test's thread use it at the same time.
// Far-end devices are called with the lock held.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace pelvar {

class SimLine;

// The far end of a simulated line (a board, or a test's script).
class ISimDevice {
public:
    virtual ~ISimDevice() = default;
    // The host wrote `n` bytes at line.Now().
    virtual void OnHostBytes(SimLine& line, const std::uint8_t* data, std::size_t n) = 0;
};

// What the far end may do to the line.
class SimLine {
public:
    virtual ~SimLine() = default;
    virtual std::uint32_t Now() const = 0;
    // Bytes that reach the host `delayMs` after now, all at once.
    virtual void Send(std::uint32_t delayMs, const std::vector<std::uint8_t>& bytes) = 0;
    // The cable is pulled: reads and writes fail with EIO from now on.
    virtual void HangUp() = 0;
};

// One write by the host, as the far end saw it.
struct SimWrite {
    std::uint32_t time;
    std::vector<std::uint8_t> bytes;
    bool rtsRaised; // RTS state while the bytes went out
};

// A USB serial adapter in front of a simulated port: it holds received bytes
// until its latency timer ticks.
struct SimAdapter {
    std::string driver = "ftdi_sio";
    std::uint32_t latencyTimerMs = 16; // the timer while low latency is not in effect
    std::string latencyTimerFile = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer";
    // An FTDI adapter on Windows: its driver's registry key instead of the file.
    std::string latencyTimerKey;
    int lowLatencyRefusal = 0; // errno of a driver that refuses low latency; 0 grants it (timer 1 ms)
    int rs485Refusal = 0;      // errno of a driver without RS-485 mode; 0 has it
};

struct SimPortState;

class SimPlatform : public IPlatform {
public:
    SimPlatform();
    ~SimPlatform() override;

    // Port n exists; `device` may be null (a silent line). Not owned.
    void AddPort(int port, ISimDevice* device = nullptr);
    void RemovePort(int port);
    // Fault injection: the next operations of this kind fail with `err`.
    void FailOpen(int port, int err);
    void FailSettings(int port, bool fail);
    void FailRead(int port, bool fail);
    void FailWrite(int port, bool fail);
    void FailRts(int port, bool fail);
    // The adapter's latency: a drain returns `ms` after the last write.
    void SetDrainDelay(int port, std::uint32_t ms);
    // The host's scheduling: lowering RTS returns `ms` after the call.
    void SetRtsRelease(int port, std::uint32_t ms);
    // An adapter in front of the port. Without one, the port refuses low
    // latency and RS-485 mode as a pseudo-terminal does (ENOTTY).
    void SetAdapter(int port, const SimAdapter& adapter);
    // Bytes that reach the host on `port` at absolute virtual time `at`.
    void Deliver(int port, std::uint32_t at, const std::vector<std::uint8_t>& bytes);

    // Observation.
    std::vector<SimWrite> Writes(int port) const;
    std::vector<std::uint8_t> WrittenBytes(int port) const;
    void ClearWrites(int port);
    bool IsOpen(int port) const;
    int OpenCount() const;                   // ports open right now
    int OpenCalls(int port) const;           // OpenPort calls that reached the port
    std::uint32_t ReadCalls(int port) const; // platform reads made
    std::vector<std::uint32_t> ReadDurations(int port) const;
    bool Rts(int port) const;
    int RtsChanges(int port) const;
    std::size_t PendingBytes(int port) const;
    LineSettings Settings(int port) const;
    Timeouts AppliedTimeouts(int port) const;
    bool LowLatency(int port) const;           // in effect now
    int LowLatencyRequests(int port) const;    // requests to turn it on, granted or not
    bool Rs485(int port) const;                // the driver drives RTS
    Rs485Settings Rs485Applied(int port) const; // as last set
    std::uint32_t Now() const;
    void SetNow(std::uint32_t t);
    void Advance(std::uint32_t ms);

    // IPlatform
    PortHandle OpenPort(int port) override;
    // Simulated ports have numbers only.
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
    int LastError() const override;
    std::string PortPath(int port) const override;

protected:
    // Held by every call; a subclass holds it across calls that must not be
    // split.
    std::recursive_mutex& Mutex() const { return m_mutex; }

private:
    template <typename T>
    void Set(int port, T SimPortState::*field, T value);
    template <typename T>
    T Observe(int port, T SimPortState::*field) const;
    SimPortState* Port(int port) const;
    SimPortState* ByHandle(PortHandle h);
    bool Fail(int err);

    mutable std::recursive_mutex m_mutex;
    std::map<int, std::unique_ptr<SimPortState>> m_ports;
    std::uint32_t m_now = 0;
    int m_lastError = 0;
};

} // namespace pelvar
