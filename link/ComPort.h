// One serial device, opened by port number (or by the name it was given)
// with the board's fixed line flags and 50 ms time-outs.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "platform/PortRef.h"

namespace pelvar {

class CComPort {
public:
    explicit CComPort(IPlatform& platform = DefaultPlatform());
    virtual ~CComPort();
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    std::int32_t Open();
    std::int32_t ReadTimed(std::uint8_t* buffer, std::uint32_t length, std::uint32_t* received);
    std::int32_t Write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* written);
    bool SetRts(bool raised);
    bool DrainOutput();
    bool PurgeInput();
    bool Close();

    // errno of the last failed platform call, for messages.
    int LastError() const { return m_nLastError; }
    IPlatform& Platform() const { return m_platform; }

    std::int32_t m_bOpen = 0;
    std::int32_t m_nPort = 1;
    // A port named by device path or network address: opened as named,
    // m_nPort unused. A number keeps m_nPort.
    PortRef m_ref;
    std::int32_t m_nBaud = 115200;
    std::int32_t m_nByteSize = 0;
    std::int32_t m_nParity = 0;
    std::int32_t m_nStopBits = 0;
    // Direction control by the driver (RS-485 mode) with these delays
    // instead of RTS from here; off unless set before Open.
    bool m_bRs485 = false;
    Rs485Settings m_rs485{};
    PortHandle m_hCom = kNoHandle;
    LineSettings m_dcb{};
    Timeouts m_timeouts{};

private:
    void NoteFailure();

    IPlatform& m_platform;
    int m_nLastError = 0;
};

} // namespace pelvar
