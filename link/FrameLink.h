// The link of one connection: frames with XOR checksum, RTS direction
// control on the half-duplex line, reply recognition, acknowledged
// transactions with retries. The frame and the verdict on a reply are in
// ReplyJudge.h.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "link/ComPort.h"
#include "link/LinkTap.h"
#include "link/ReplyJudge.h"
#include "link/ResultCodes.h"

namespace pelvar {

constexpr std::uint32_t kTransactAttempts = 6;
constexpr std::uint32_t kReceiveWindowMs = 500;

// Milliseconds RTS stays raised after writing a frame of `frameLength` bytes.
constexpr std::uint32_t HoldTimeMs(std::uint32_t frameLength, std::uint32_t baud)
{
    return ((frameLength * 5500u + baud) * 2u) / baud;
}

// The part of the hold beyond the frame's own time on the wire: how long RTS
// stays up after the last bit. RS-485 mode gives it to the driver.
constexpr std::uint32_t kRtsHoldAfterFrameMs = HoldTimeMs(0, 115200);

class CFrameLink {
public:
    CFrameLink(std::int32_t portNumber, std::int32_t baud, IPlatform& platform = DefaultPlatform());
    // A port as named: a number as above, a device path or a network address.
    CFrameLink(const PortRef& port, std::int32_t baud, IPlatform& platform = DefaultPlatform());
    ~CFrameLink();
    CFrameLink(const CFrameLink&) = delete;
    CFrameLink& operator=(const CFrameLink&) = delete;

    std::int32_t Open();
    void Close();
    std::int32_t SendFrame(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length);
    std::int32_t ReceiveFrame(std::uint8_t* frame, std::uint32_t room, std::uint32_t* frameLength);
    std::int32_t Transact(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length);

    bool IsOpen() const { return m_bOpen; }
    CComPort* Port() const { return m_pPort.get(); }
    // COMn's n; 0 for a port named otherwise.
    std::int32_t PortNumber() const { return m_nPort; }
    // Attempts that Transact repeated since the link was made: a measure of the line.
    std::uint32_t Retries() const { return m_nRetries; }
    // Bytes the last receive read, frame or not: bytes without a frame mean
    // the line carries something else (a wrong bit rate, wiring, another
    // protocol), not silence.
    std::uint32_t LastReceiveBytes() const { return m_nReceived; }
    // How much later than wanted RTS fell after the last frame sent, in
    // milliseconds: the host's scheduling, which a late reply or a reply
    // meeting a driven line may come from. 0 in RS-485 mode, where the
    // driver lowers it.
    std::uint32_t LastRtsLateMs() const { return m_rtsLateMs; }
    // Who sees the traffic; none by default. The tap must outlive the link.
    void SetTap(ILinkTap* tap) { m_pTap = tap; }
    // Once the flag is set, a transaction makes no further attempt: a
    // closing window does not wait out six attempts to a silent board.
    void SetCancelFlag(const std::atomic<bool>* cancel) { m_pCancel = cancel; }
    ILinkTap* Tap() const { return m_pTap; }
    // How long a reply is waited for; the board's own window unless a slow
    // path to it (a distant server) needs more.
    void SetReceiveWindow(std::uint32_t ms) { m_receiveWindowMs = ms; }
    // Before Open: the driver's RS-485 mode drives RTS (the open fails with
    // PORT_ERR_RS485 where the driver has none); the link leaves RTS alone.
    void SetRs485(bool on) { m_bRs485 = on; }
    bool Rs485() const { return m_bRs485; }

private:
    std::int32_t SendDriverDirected(const std::uint8_t* tx, std::uint32_t frameLength);
    std::int32_t PollOnce(std::uint8_t* frame, std::uint32_t room, std::uint32_t* frameLength, std::int32_t* pending);

    std::unique_ptr<CComPort> m_pPort;
    std::int32_t m_nPort = 0;
    PortRef m_ref;
    std::array<std::uint8_t, kMaxPayload + 5> m_pTxBuf{};
    bool m_bOpen = false;
    std::int32_t m_nBaud = 0;
    // One poll reads at most the largest room plus the frame's five bytes.
    std::array<std::uint8_t, kMaxRoom + 5> m_rxBuf{};
    std::FILE* m_pLog = nullptr;
    std::uint32_t m_nRetries = 0;
    std::uint32_t m_nReceived = 0;
    std::uint32_t m_rtsLateMs = 0;
    ILinkTap* m_pTap = nullptr;
    std::uint32_t m_receiveWindowMs = kReceiveWindowMs;
    const std::atomic<bool>* m_pCancel = nullptr;
    bool m_bRs485 = false;
};

} // namespace pelvar
