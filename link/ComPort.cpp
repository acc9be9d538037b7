#include "link/ComPort.h"

#include "link/ResultCodes.h"

namespace pelvar {

namespace {

constexpr std::uint32_t kTimeoutMs = 50;
constexpr std::uint32_t kReadLimitMs = 100;

bool SettingsValid(const CComPort& p)
{
    if (!p.m_ref.IsNamed() && (p.m_nPort < 1 || p.m_nPort > 255))
        return false;
    if (p.m_nBaud < 2)
        return false;
    if (p.m_nByteSize < 5 || p.m_nByteSize > 9)
        return false;
    // Unsigned, so negative codes fail too.
    return static_cast<std::uint32_t>(p.m_nParity) <= 2 && static_cast<std::uint32_t>(p.m_nStopBits) <= 2;
}

} // namespace

CComPort::CComPort(IPlatform& platform) : m_platform(platform) {}

CComPort::~CComPort()
{
    if (m_bOpen == 1)
        Close();
}

void CComPort::NoteFailure() { m_nLastError = m_platform.LastError(); }

std::int32_t CComPort::Open()
{
    if (!SettingsValid(*this))
        return PORT_ERR_CONFIG;

    std::int32_t result = PORT_ERR_CONFIG;
    m_hCom = m_ref.IsNamed() ? m_platform.OpenRef(m_ref) : m_platform.OpenPort(m_nPort);
    if (m_hCom == kNoHandle) {
        NoteFailure();
        return PORT_ERR_CONFIG;
    }

    m_dcb.baud = m_nBaud;
    m_dcb.byteSize = m_nByteSize;
    m_dcb.parity = m_nParity;
    m_dcb.stopBits = m_nStopBits;
    if (m_platform.ApplyLineSettings(m_hCom, m_dcb))
        result = LINK_OK;
    else
        NoteFailure();

    m_timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs};
    m_platform.SetTimeouts(m_hCom, m_timeouts);

    // A USB adapter holds received bytes for its latency timer (16 ms by
    // default) unless told otherwise. A driver that cannot is used as it is.
    m_platform.SetLowLatency(m_hCom, true);

    // A port asked for in RS-485 mode is used in that mode or not at all.
    if (result == LINK_OK && m_bRs485 && !m_platform.SetRs485(m_hCom, m_rs485)) {
        NoteFailure();
        m_platform.SetLowLatency(m_hCom, false);
        m_platform.ClosePort(m_hCom);
        m_hCom = kNoHandle;
        return PORT_ERR_RS485;
    }

    // Open even when the settings failed: the handle is held until Close.
    m_bOpen = 1;
    return result;
}

std::int32_t CComPort::ReadTimed(std::uint8_t* buffer, std::uint32_t length, std::uint32_t* received)
{
    if (!buffer || length == 0 || !received)
        return PORT_ERR_BAD_ARG;

    const std::uint32_t start = m_platform.TickCount();
    std::uint32_t total = 0;
    std::int32_t result = PORT_ERR_BAD_ARG;
    for (;;) {
        std::uint32_t got = 0;
        if (m_platform.Read(m_hCom, buffer + total, length - total, &got)) {
            total += got;
            result = LINK_OK;
        } else {
            NoteFailure();
        }
        // Unsigned difference: a wrap of the tick count is harmless.
        if (m_platform.TickCount() - start > kReadLimitMs) {
            *received = total;
            return PORT_ERR_READ_TIMEOUT;
        }
        if (total >= length)
            break;
    }
    *received = total;
    return result;
}

std::int32_t CComPort::Write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* written)
{
    if (!buffer || count == 0)
        return PORT_ERR_WRITE;
    if (!m_platform.Write(m_hCom, buffer, count)) {
        NoteFailure();
        return PORT_ERR_WRITE;
    }
    if (written)
        *written = count;
    return LINK_OK;
}

bool CComPort::SetRts(bool raised)
{
    if (m_platform.SetRts(m_hCom, raised))
        return true;
    NoteFailure();
    return false;
}

bool CComPort::DrainOutput()
{
    if (m_platform.DrainOutput(m_hCom))
        return true;
    NoteFailure();
    return false;
}

bool CComPort::PurgeInput()
{
    if (m_platform.PurgeInput(m_hCom))
        return true;
    NoteFailure();
    return false;
}

bool CComPort::Close()
{
    // The driver keeps the flag past the close: the next program finds the
    // adapter as it was.
    m_platform.SetLowLatency(m_hCom, false);
    if (!m_platform.ClosePort(m_hCom)) {
        NoteFailure();
        return false;
    }
    m_hCom = kNoHandle;
    m_bOpen = 0;
    return true;
}

} // namespace pelvar
