// The Win32 serial platform: the line flags it writes, the error kinds, and,
// when the runner maps a silent board's pseudo-terminal as a COM port
// (PELVAR_TEST_SILENT_COM), the system's read time-outs and the RTS quirk.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/ComPort.h"
#include "link/FrameLink.h"
#include "link/ResultCodes.h"
#include "platform/SysError.h"
#include "platform/TracePlatform.h"
#include "platform/win/WinPlatform.h"
#include "tests/win/FileOutput.h"

namespace pelvar {
namespace {

void SetFlagWord(DCB& dcb, std::uint32_t word)
{
    std::memcpy(reinterpret_cast<unsigned char*>(&dcb.BaudRate) + sizeof dcb.BaudRate, &word, sizeof word);
}

TEST(WinLineFlags, ClearFlowControlAndKeepTheReservedBits)
{
    for (std::uint32_t before : {0x00000000u, 0xFFFFFFFFu, 0x12345678u, 0x00006F6Eu}) {
        DCB dcb{};
        SetFlagWord(dcb, before);
        SetBoardLineFlags(dcb);
        EXPECT_EQ(DcbFlagWord(dcb), (before & 0xFFFF9091u) | 0x1091u) << std::hex << before;
    }
}

TEST(WinDevicePath, HasTheDevicePrefixForEveryPortNumber)
{
    EXPECT_EQ(DevicePath(1), L"\\\\.\\COM1");
    EXPECT_EQ(DevicePath(12), L"\\\\.\\COM12");
    EXPECT_EQ(DevicePath(255), L"\\\\.\\COM255");
}

struct ErrorRow {
    DWORD code;
    SysErrorKind kind;
    const char* start; // how the message begins
};

TEST(WinSysError, SortsSystemCodesIntoTheLinuxKinds)
{
    const ErrorRow rows[] = {
        {0, SysErrorKind::None, "no error"},
        {ERROR_ACCESS_DENIED, SysErrorKind::Busy, "busy: held by another program ("},
        {ERROR_SHARING_VIOLATION, SysErrorKind::Busy, "busy: held by another program ("},
        {ERROR_FILE_NOT_FOUND, SysErrorKind::NotFound, "absent ("},
        {ERROR_PATH_NOT_FOUND, SysErrorKind::NotFound, "absent ("},
        // A pulled USB adapter's answers: gone, as EIO is on Linux.
        {ERROR_GEN_FAILURE, SysErrorKind::NotFound, "absent ("},
        {ERROR_BAD_COMMAND, SysErrorKind::NotFound, "absent ("},
        {ERROR_OPERATION_ABORTED, SysErrorKind::NotFound, "absent ("},
        {ERROR_DEVICE_NOT_CONNECTED, SysErrorKind::NotFound, "absent ("},
        // EIO's, ENXIO's and ENODEV's numbers: no kind of gone.
        {ERROR_INVALID_HANDLE, SysErrorKind::Other, ""},
        {ERROR_WRITE_PROTECT, SysErrorKind::Other, ""},
        {ERROR_INVALID_PARAMETER, SysErrorKind::Unsupported, "not a usable serial device ("},
        {ERROR_NOT_ENOUGH_MEMORY, SysErrorKind::Other, ""},
    };
    for (const ErrorRow& r : rows) {
        const int code = static_cast<int>(r.code);
        EXPECT_EQ(ClassifyErrno(code), r.kind) << r.code;
        const std::string text = DescribeErrno(code);
        EXPECT_EQ(text.rfind(r.start, 0), 0u) << text;
        // The system's code stays in the message.
        if (r.code != 0) {
            EXPECT_NE(text.find("error " + std::to_string(r.code)), std::string::npos) << text;
        }
    }
    EXPECT_EQ(DeviceGroup("COM1"), "");
}

TEST(WinRtsQuirk, OnlyAPortWithoutModemLinesIsExcused)
{
    EXPECT_TRUE(IsMissingModemLines(ERROR_NOT_SUPPORTED));
    for (DWORD other : {DWORD(ERROR_INVALID_HANDLE), DWORD(ERROR_ACCESS_DENIED), DWORD(ERROR_INVALID_FUNCTION),
                        DWORD(ERROR_GEN_FAILURE)})
        EXPECT_FALSE(IsMissingModemLines(other)) << other;
}

TEST(WinPlatformPorts, AnAbsentPortIsReportedAbsent)
{
    // No COM port 254 exists in the test prefix.
    WinPlatform win;
    CComPort port(win);
    port.m_nPort = 254;
    port.m_nByteSize = 8;
    EXPECT_EQ(port.Open(), PORT_ERR_CONFIG);
    EXPECT_EQ(port.m_bOpen, 0);
    EXPECT_EQ(ClassifyErrno(port.LastError()), SysErrorKind::NotFound) << port.LastError();
}

TEST(WinPlatformPorts, FailedCallsKeepTheirSystemCode)
{
    WinPlatform win;
    std::uint8_t b = 0;
    std::uint32_t got = 0;
    EXPECT_FALSE(win.Read(kNoHandle, &b, 1, &got));
    EXPECT_EQ(win.LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(win.SetRts(kNoHandle, true));
    EXPECT_EQ(win.LastError(), ERROR_INVALID_HANDLE);
    // The drain asks the driver: it is no no-op.
    EXPECT_FALSE(win.DrainOutput(kNoHandle));
    EXPECT_EQ(win.LastError(), ERROR_INVALID_HANDLE);
}

// A simulated board's port that the runner names in `variable`.
class SimulatorPort : public ::testing::Test {
protected:
    void Open(const char* variable)
    {
        const char* com = std::getenv(variable);
        if (!com)
            GTEST_SKIP() << "needs " << variable << " (scripts/run-windows-tests.sh sets it)";
        port.m_nPort = std::atoi(com);
        port.m_nByteSize = 8;
        ASSERT_EQ(port.Open(), LINK_OK) << port.LastError();
    }

    WinPlatform win;
    CComPort port{win};
};

// A board that never answers.
class SilentPort : public SimulatorPort {
protected:
    void SetUp() override { Open("PELVAR_TEST_SILENT_COM"); }
};

// A board that takes nothing: the runner stops its simulator, so the line
// fills and a write ends at its time-out with part of the bytes written.
class StuckPort : public SimulatorPort {
protected:
    void SetUp() override { Open("PELVAR_TEST_STUCK_COM"); }
};

TEST_F(StuckPort, AWriteCutShortByItsTimeOutIsAFailure)
{
    ASSERT_TRUE(win.SetTimeouts(port.m_hCom, {50, 50, 50, 0, 200}));
    const std::vector<std::uint8_t> block(1 << 20, 0x55);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(win.Write(port.m_hCom, block.data(), static_cast<std::uint32_t>(block.size())));
    EXPECT_EQ(win.LastError(), ERROR_TIMEOUT);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 5000.0) << "the write time-out is 200 ms";
}

TEST_F(SilentPort, ReadTimeOutsFollowTheSystemRule)
{
    // 50 ms per byte asked plus 50 ms: 100, 250 and 550 ms.
    struct Row {
        std::uint32_t asked;
        double ms;
    };
    for (Row r : {Row{1, 100}, Row{4, 250}, Row{10, 550}}) {
        std::uint8_t buf[16];
        std::uint32_t got = 99;
        auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(win.Read(port.m_hCom, buf, r.asked, &got));
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(got, 0u);
        EXPECT_NEAR(ms, r.ms, 30) << r.asked << " bytes";
    }
}

TEST_F(SilentPort, RtsIsANoOpAndPurgeAndDrainWork)
{
    // wine answers EscapeCommFunction on a pseudo-terminal with ERROR_NOT_SUPPORTED.
    EXPECT_TRUE(port.SetRts(true));
    const std::uint8_t frame[] = {0x02, 0x03, 0x00, 0x11, 0x10, 0x03};
    std::uint32_t written = 0;
    EXPECT_EQ(port.Write(frame, sizeof frame, &written), LINK_OK);
    EXPECT_TRUE(port.DrainOutput()) << port.LastError();
    EXPECT_TRUE(port.SetRts(false));
    EXPECT_TRUE(port.PurgeInput());
}

TEST_F(SilentPort, ATransactionSendsSixTimesInAboutThreeSeconds)
{
    port.Close();
    test::FileOutput trace;
    TracePlatform traced(win, trace.File());
    CFrameLink link(port.m_nPort, 115200, traced);
    ASSERT_EQ(link.Open(), LINK_OK);
    const std::uint8_t payload[] = {0x80, 0x00, 0x00, 0x00};
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Transact(0x95, payload, sizeof payload), LINK_ERR_NO_REPLY);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    // Six times (10 ms pause, 2 ms hold, a 500 ms window ending with a 250 ms read).
    EXPECT_NEAR(ms, 3072, 150);
    const std::string lines = trace.Text();
    std::size_t sends = 0;
    for (std::size_t at = lines.find(" > 02 06 95 80 00 00 00 11 03\n"); at != std::string::npos;
         at = lines.find(" > 02 06 95 80 00 00 00 11 03\n", at + 1))
        ++sends;
    EXPECT_EQ(sends, 6u) << lines;
    EXPECT_EQ(lines.find(" < "), std::string::npos) << lines;
    link.Close();
}

} // namespace
} // namespace pelvar
