// The board reached through plain values: open and start it on a port, read
// and write registers, set adjustments, press buttons, query its status,
// release it. The panel's handlers read their controls, call these and write
// their controls back; pelvarctl, the Python module and the diagnosis call
// these alone. A call made without a link returns LINK_ERR_NOT_OPEN, never
// the result of an earlier call.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "camera/Commands.h"
#include "link/FrameLink.h"

namespace pelvar {

// How each port that a detection tried fared, for messages.
struct CandidateReport {
    PortRef port;
    std::int32_t openResult = LINK_OK; // PORT_ERR_CONFIG when it could not be opened
    int sysError = 0;                  // the system's error of the failed open, 0 if none
    std::int32_t probeResult = LINK_ERR_NO_REPLY;
    std::uint32_t probeBytes = 0; // what the failed probe read without a frame
};

// How long the start-up's status poll waits for a nonzero status.
constexpr std::uint32_t kStartLimitMs = 10000;

enum class Sensor { None, ArvenL, ArvenS };

// "ARVEN-L", "ARVEN-S"; "init error" for a status that names no sensor.
const char* SensorText(Sensor sensor);
Sensor SensorOf(std::uint8_t status);

struct StartOutcome {
    std::int32_t result = LINK_OK; // the last status query's result
    std::uint8_t status = 0;       // the polled status, nonzero when the board started
    Sensor sensor = Sensor::None;
    bool timedOut = false; // the status stayed 0 (or unanswered) for the whole limit
    int lostError = 0;     // the system's error when the device went away meanwhile
    bool cancelled = false;
    // The board runs; it may still name no sensor.
    bool Started() const { return status != 0; }
};

// A register read: the value only when result is LINK_OK.
struct RegisterRead {
    std::int32_t result = LINK_ERR_NOT_OPEN;
    std::uint16_t value = 0;
    bool Ok() const { return result == LINK_OK; }
};

struct ReleaseOutcome {
    std::int32_t statusResult = LINK_ERR_NOT_OPEN; // the status query before the release
    std::int32_t releaseResult = LINK_OK;          // CMD_RELEASE's, when it was sent
    bool released = false;                         // CMD_RELEASE was sent (the board was active)
};

class BoardConnection {
public:
    explicit BoardConnection(IPlatform& platform, std::int32_t baud = 115200);
    ~BoardConnection();
    BoardConnection(const BoardConnection&) = delete;
    BoardConnection& operator=(const BoardConnection&) = delete;

    // Every link made from now on reports its traffic to `tap` (or to none).
    void SetTap(ILinkTap* tap) { m_pTap = tap; }
    // When set, long work (the detection, the start-up poll) stops as soon as it reads true.
    void SetCancelFlag(const std::atomic<bool>* cancel) { m_pCancel = cancel; }

    // The line speed of every link made from now on.
    void SetBaud(std::int32_t baud) { m_nBaud = baud; }
    // How long every link made from now on waits for a reply (kReceiveWindowMs by default).
    void SetReceiveWindow(std::uint32_t ms) { m_receiveWindowMs = ms; }
    // Every link made from now on hands RTS to the driver's RS-485 mode; a
    // port whose driver has none is not opened (PORT_ERR_RS485).
    void SetRs485(bool on) { m_bRs485 = on; }

    // Opens the port as the link, sending nothing. The attempt is added to Candidates().
    std::int32_t Attach(const PortRef& port);
    std::int32_t Attach(int port) { return Attach(PortRef::Com(port)); }
    // Tries `ports` in order until one answers the status query; that link is
    // kept, *status its status byte. Candidates() tells how each port fared.
    bool Detect(const std::vector<PortRef>& ports, std::uint8_t* status);
    bool Detect(const std::vector<int>& ports, std::uint8_t* status);
    // CMD_INIT when the probe read 0, then the status poll bounded by
    // `limitMs`, then the sensor: ARVEN-L gets blue gain 128. The link is
    // closed when the board did not start or the device went away.
    StartOutcome Start(std::uint8_t probeStatus, std::uint32_t limitMs, bool sendInit = true);

    RegisterRead ReadRegister(std::uint16_t address);
    std::int32_t WriteRegister(std::uint16_t address, std::uint16_t value);
    std::int32_t SetAdjustment(std::uint8_t cmd, std::int32_t value);
    std::int32_t Press(std::uint8_t cmd);
    QueryResult QueryStatus();
    // The raw exchanges: one frame and one reply, or the acknowledged transaction.
    QueryResult Query(std::uint8_t cmd, std::uint32_t room);
    std::int32_t Transact(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length);

    // The status query, then CMD_RELEASE when the board is active; the port
    // stays open for Close().
    ReleaseOutcome Release();
    // Closes the port, sending nothing.
    void Close();

    bool IsOpen() const { return m_pLink != nullptr; }
    // The device behind the link has gone (unplugged, hung up).
    bool LineGone() const;
    // The port of the current link, or of the last one attempted.
    const PortRef& Port() const { return m_port; }
    // Its number; 0 for a port named by device path or network address.
    int PortNumber() const { return m_port.IsNumber() ? m_port.number : 0; }
    const std::vector<CandidateReport>& Candidates() const { return m_candidates; }
    void ClearCandidates() { m_candidates.clear(); }
    CFrameLink* Link() const { return m_pLink.get(); }
    // The adapter behind the open link's port; empty without one.
    AdapterFacts Adapter() const;
    // The system's error of the link's last failed port call; 0 without a link.
    int LastError() const;
    // Transactions repeated since the link was opened.
    std::uint32_t Retries() const { return m_pLink ? m_pLink->Retries() : 0; }
    // How late RTS fell after the link's last frame, in ms; 0 without a link.
    std::uint32_t RtsLateMs() const { return m_pLink ? m_pLink->LastRtsLateMs() : 0; }
    // Bytes the link's last receive read; 0 without a link.
    std::uint32_t LastReceiveBytes() const { return m_pLink ? m_pLink->LastReceiveBytes() : 0; }
    IPlatform& Platform() const { return m_platform; }

private:
    bool Cancelled() const { return m_pCancel && m_pCancel->load(); }
    bool PollSendFailed(std::int32_t result, StartOutcome* outcome);

    IPlatform& m_platform;
    std::int32_t m_nBaud;
    PortRef m_port;
    std::unique_ptr<CFrameLink> m_pLink;
    std::vector<CandidateReport> m_candidates;
    const std::atomic<bool>* m_pCancel = nullptr;
    bool m_bRs485 = false;
    std::uint32_t m_receiveWindowMs = kReceiveWindowMs;
    ILinkTap* m_pTap = nullptr;
};

} // namespace pelvar
