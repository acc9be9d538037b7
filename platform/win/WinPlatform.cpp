#include "platform/win/WinPlatform.h"

#include <cstring>

#include "platform/PortRef.h"
#include "platform/win/FtdiRegistry.h"
#include "platform/net/NetworkPlatform.h"

namespace pelvar {

namespace {

HANDLE ToHandle(PortHandle h) { return reinterpret_cast<HANDLE>(h); }

} // namespace

IPlatform& DefaultPlatform()
{
    // Network ports beside the local ones, on the same clock.
    static WinPlatform platform;
    static NetworkPlatform withNetwork(platform);
    return withNetwork;
}

std::unique_ptr<IPlatform> NewPlatform() { return WithNetworkPorts(std::make_unique<WinPlatform>()); }

std::wstring DevicePath(int port) { return L"\\\\.\\COM" + std::to_wstring(port); }

std::uint32_t DcbFlagWord(const DCB& dcb)
{
    // The bit-fields follow BaudRate as one DWORD.
    std::uint32_t word = 0;
    std::memcpy(&word, reinterpret_cast<const unsigned char*>(&dcb.BaudRate) + sizeof dcb.BaudRate, sizeof word);
    return word;
}

void SetBoardLineFlags(DCB& dcb)
{
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
}

bool IsMissingModemLines(DWORD err)
{
    // Quirk: a port without modem-control lines answers EscapeCommFunction
    // with ERROR_NOT_SUPPORTED; wine does so for every port backed by a
    // pseudo-terminal. As with a Linux pseudo-terminal, RTS is then a no-op.
    return err == ERROR_NOT_SUPPORTED;
}

bool WinPlatform::Fail() { return Fail(GetLastError()); }

bool WinPlatform::Fail(DWORD err)
{
    m_lastError = err;
    return false;
}

PortHandle WinPlatform::OpenRef(const PortRef& ref)
{
    if (ref.IsNumber())
        return OpenPort(ref.number);
    Fail(ERROR_FILE_NOT_FOUND);
    return kNoHandle;
}

PortHandle WinPlatform::OpenPort(int port)
{
    if (port < kMinPort || port > kMaxPort) {
        Fail(ERROR_FILE_NOT_FOUND);
        return kNoHandle;
    }
    // Synchronous I/O, no sharing: one program holds the port at a time.
    HANDLE h =
        CreateFileW(DevicePath(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        Fail();
        return kNoHandle;
    }
    m_ports[reinterpret_cast<PortHandle>(h)] = port;
    return reinterpret_cast<PortHandle>(h);
}

bool WinPlatform::ApplyLineSettings(PortHandle h, const LineSettings& s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(ToHandle(h), &dcb))
        return Fail();
    dcb.BaudRate = static_cast<DWORD>(s.baud);
    dcb.ByteSize = static_cast<BYTE>(s.byteSize);
    dcb.Parity = static_cast<BYTE>(s.parity);
    dcb.StopBits = static_cast<BYTE>(s.stopBits);
    const DWORD dtr = dcb.fDtrControl;
    const DWORD rts = dcb.fRtsControl;
    SetBoardLineFlags(dcb);
    if (s.listenOnly) {
        dcb.fDtrControl = dtr;
        dcb.fRtsControl = rts;
    }
    if (!SetCommState(ToHandle(h), &dcb))
        return Fail();
    return true;
}

bool WinPlatform::SetTimeouts(PortHandle h, const Timeouts& t)
{
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = t.readInterval;
    ct.ReadTotalTimeoutMultiplier = t.readMultiplier;
    ct.ReadTotalTimeoutConstant = t.readConstant;
    ct.WriteTotalTimeoutMultiplier = t.writeMultiplier;
    ct.WriteTotalTimeoutConstant = t.writeConstant;
    if (!SetCommTimeouts(ToHandle(h), &ct))
        return Fail();
    return true;
}

bool WinPlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    DWORD n = 0;
    if (!ReadFile(ToHandle(h), buf, len, &n, nullptr))
        return Fail();
    *got = n;
    return true;
}

bool WinPlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    DWORD n = 0;
    if (!WriteFile(ToHandle(h), buf, len, &n, nullptr))
        return Fail();
    // The write time-out ends a write early with success and a short count.
    if (n != len)
        return Fail(ERROR_TIMEOUT);
    return true;
}

bool WinPlatform::SetRts(PortHandle h, bool raised)
{
    if (EscapeCommFunction(ToHandle(h), raised ? SETRTS : CLRRTS))
        return true;
    const DWORD err = GetLastError();
    if (IsMissingModemLines(err))
        return true;
    return Fail(err);
}

bool WinPlatform::DrainOutput(PortHandle h)
{
    // WriteFile returns once the driver has the bytes; a USB adapter may
    // still hold them. FlushFileBuffers waits until the driver has sent
    // them, so RTS falls after the later of the hold time and the drain.
    if (!FlushFileBuffers(ToHandle(h)))
        return Fail();
    return true;
}

bool WinPlatform::PurgeInput(PortHandle h)
{
    if (!PurgeComm(ToHandle(h), PURGE_RXCLEAR))
        return Fail();
    return true;
}

bool WinPlatform::ClosePort(PortHandle h)
{
    m_ports.erase(h);
    if (!CloseHandle(ToHandle(h)))
        return Fail();
    return true;
}

bool WinPlatform::SetLowLatency(PortHandle /*h*/, bool on)
{
    // Nothing was changed, so nothing needs putting back.
    return on ? Fail(ERROR_NOT_SUPPORTED) : true;
}

bool WinPlatform::SetRs485(PortHandle /*h*/, const Rs485Settings& /*s*/) { return Fail(ERROR_NOT_SUPPORTED); }

AdapterFacts WinPlatform::Adapter(PortHandle h)
{
    const auto it = m_ports.find(h);
    if (it == m_ports.end())
        return {};
    AdapterFacts facts = ReadFtdiAdapterFacts(it->second);
    // The request on open was refused: the system has no call for it.
    if (!facts.driver.empty())
        facts.lowLatencyError = ERROR_NOT_SUPPORTED;
    return facts;
}

std::uint32_t WinPlatform::TickCount()
{
    // GetTickCount advances in steps of 10 to 16 ms, so a 500 ms read could
    // measure 484 ms and cost a whole second poll of a receive window. The
    // performance counter gives the same wrapping millisecond count, exactly.
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<std::uint32_t>(now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency);
}

void WinPlatform::Sleep(std::uint32_t ms) { ::Sleep(ms); }

std::string WinPlatform::PortPath(int) const
{
    // "COMn" already names the device; a path would add nothing.
    return {};
}

} // namespace pelvar
