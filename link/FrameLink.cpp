#include "link/FrameLink.h"

#include <cstring>

#include "platform/DebugLogFile.h"

namespace pelvar {

namespace {

constexpr std::uint32_t kAttemptPauseMs = 10;
constexpr const char* kLogFileName = "Corvel.debug";

} // namespace

CFrameLink::CFrameLink(std::int32_t portNumber, std::int32_t baud, IPlatform& platform)
    : m_pPort(std::make_unique<CComPort>(platform)), m_nPort(portNumber), m_ref(PortRef::Com(portNumber)), m_nBaud(baud)
{
    // Created empty at every connect attempt and never written; the link
    // works the same without it.
    m_pLog = CreateEmptyLogFile(kLogFileName);
}

CFrameLink::CFrameLink(const PortRef& port, std::int32_t baud, IPlatform& platform)
    : CFrameLink(port.IsNumber() ? port.number : 0, baud, platform)
{
    m_ref = port;
}

CFrameLink::~CFrameLink()
{
    m_pPort.reset();
    if (m_pLog)
        std::fclose(m_pLog);
}

std::int32_t CFrameLink::Open()
{
    m_pPort->m_nPort = m_nPort;
    m_pPort->m_ref = m_ref;
    m_pPort->m_nBaud = m_nBaud;
    m_pPort->m_nByteSize = 8;
    m_pPort->m_nParity = 0;
    m_pPort->m_nStopBits = 0;
    m_pPort->m_bOpen = 0;
    m_pPort->m_bRs485 = m_bRs485;
    m_pPort->m_rs485 = {0, kRtsHoldAfterFrameMs};
    std::int32_t result = m_pPort->Open();
    if (result == LINK_OK)
        m_bOpen = true;
    return result;
}

void CFrameLink::Close()
{
    if (m_bOpen && m_pPort->Close())
        m_bOpen = false;
}

std::int32_t CFrameLink::SendFrame(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length)
{
    // A frame never holds more than 252 payload bytes; refuse rather than
    // overrun the transmit buffer or read through a null payload.
    if (length > kMaxPayload || (length > 0 && !payload))
        return LINK_ERR_BAD_ARG;
    std::uint8_t* tx = m_pTxBuf.data();
    tx[0] = STX;
    tx[1] = static_cast<std::uint8_t>(2 + length);
    tx[2] = cmd;
    if (length > 0)
        std::memcpy(tx + 3, payload, length);
    std::uint8_t sum = 0;
    if (XorChecksum(tx, length + 3, &sum) != LINK_OK)
        return LINK_ERR_BAD_ARG;
    tx[length + 3] = sum;
    tx[length + 4] = ETX;

    if (!m_bOpen)
        return LINK_ERR_NOT_OPEN;

    const std::uint32_t frameLength = length + 5;
    const std::uint32_t hold = HoldTimeMs(frameLength, static_cast<std::uint32_t>(m_nBaud));

    // A reply that came after its exchange gave up must not be taken as the
    // answer to this one.
    m_pPort->PurgeInput();
    m_rtsLateMs = 0;
    if (m_bRs485)
        return SendDriverDirected(tx, frameLength);
    if (!m_pPort->SetRts(true))
        return LINK_ERR_SEND;
    std::uint32_t written = 0;
    if (m_pPort->Write(tx, frameLength, &written) != LINK_OK || written != frameLength) {
        // Release the half-duplex bus, or the board can never answer.
        m_pPort->SetRts(false);
        return LINK_ERR_SEND;
    }
    if (m_pTap)
        m_pTap->FrameSent(tx, frameLength);
    // The hold time runs from the write's return, which only queued the
    // bytes; on a USB adapter they may still be on their way. RTS falls at
    // the later of the hold time and the drain. A failed drain leaves the
    // verdict to the RTS call.
    IPlatform& platform = m_pPort->Platform();
    platform.Sleep(hold);
    m_pPort->DrainOutput();
    // The hold has run before the drain: RTS is due to fall as the drain
    // returns, and whatever its lowering takes beyond that is late.
    const std::uint32_t drained = platform.TickCount();
    if (!m_pPort->SetRts(false))
        return LINK_ERR_SEND;
    m_rtsLateMs = platform.TickCount() - drained;
    return LINK_OK;
}

// RS-485 mode: the driver raises RTS for the bytes and holds it after them,
// so the frame is written and drained, and nothing waits here.
std::int32_t CFrameLink::SendDriverDirected(const std::uint8_t* tx, std::uint32_t frameLength)
{
    std::uint32_t written = 0;
    if (m_pPort->Write(tx, frameLength, &written) != LINK_OK || written != frameLength)
        return LINK_ERR_SEND;
    if (m_pTap)
        m_pTap->FrameSent(tx, frameLength);
    m_pPort->DrainOutput();
    return LINK_OK;
}

// One read of up to room + 5 bytes; a frame counts only if it starts with the
// first byte read. Returns LINK_OK with the frame delivered, else leaves the
// reason in *pending.
std::int32_t CFrameLink::PollOnce(std::uint8_t* frame, std::uint32_t room, std::uint32_t* frameLength,
                                  std::int32_t* pending)
{
    std::uint8_t* rx = m_rxBuf.data();
    const std::uint32_t want = room + 5;
    std::memset(rx, 0, want);

    std::uint32_t got = 0;
    m_pPort->ReadTimed(rx, want, &got);
    m_nReceived += got;
    if (m_pTap && got > 0)
        m_pTap->BytesRead(rx, got);
    const std::int32_t verdict = JudgeReply(rx, got, room, ReplyKind::Data);
    if (verdict != LINK_ERR_NO_REPLY)
        *pending = verdict;
    if (verdict != LINK_OK)
        return verdict;
    const std::uint32_t length = rx[1] + 3u;
    std::memcpy(frame, rx, length);
    *frameLength = length;
    return LINK_OK;
}

std::int32_t CFrameLink::ReceiveFrame(std::uint8_t* frame, std::uint32_t room, std::uint32_t* frameLength)
{
    if (!frame || !frameLength || room > kMaxRoom)
        return LINK_ERR_BAD_ARG;
    *frameLength = 0;
    m_nReceived = 0;
    std::int32_t pending = LINK_ERR_NO_REPLY;
    IPlatform& platform = m_pPort->Platform();
    const std::uint32_t start = platform.TickCount();
    if (room == 0) {
        // Nothing can be read: wait out the window instead of spinning.
        platform.Sleep(m_receiveWindowMs);
        return pending;
    }
    while (platform.TickCount() - start < m_receiveWindowMs) {
        if (PollOnce(frame, room, frameLength, &pending) == LINK_OK)
            return LINK_OK;
        // One poll is 100 ms at most: a cancel (a closing window, Ctrl-C)
        // ends the wait within that, not at the window's end.
        if (m_pCancel && m_pCancel->load())
            break;
    }
    return pending;
}

std::int32_t CFrameLink::Transact(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length)
{
    std::int32_t result = LINK_ERR_NOT_OPEN;
    IPlatform& platform = m_pPort->Platform();
    for (std::uint32_t attempt = 0; attempt < kTransactAttempts; ++attempt) {
        if (attempt > 0 && m_pCancel && m_pCancel->load())
            break;
        if (attempt > 0)
            ++m_nRetries;
        platform.Sleep(kAttemptPauseMs);
        result = SendFrame(cmd, payload, length);
        if (result == LINK_OK) {
            std::uint8_t reply[kFrameBufferSize];
            std::uint32_t replyLength = 0;
            result = ReceiveFrame(reply, kTransactRoom, &replyLength);
            if (result == LINK_OK)
                result = JudgeReply(reply, replyLength, kTransactRoom, ReplyKind::Acknowledge);
        }
        if (result == LINK_OK)
            break;
    }
    return result;
}

} // namespace pelvar
