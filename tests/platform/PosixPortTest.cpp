// The real POSIX path end to end: a pseudo-terminal attached as a port
// through the port directory, a board stand-in on its master side.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "camera/BoardConnection.h"
#include "camera/Commands.h"
#include "discovery/linux/PortDirectorySource.h"
#include "link/FrameLink.h"
#include "platform/posix/AdapterFacts.h"
#include "platform/posix/PosixPlatform.h"
#include "tests/support/ScriptedDevice.h"
#include "tests/support/Pty.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/Timing.h"
#include "tests/platform/Termios2Speed.h"

namespace pelvar {
namespace {

using test::Bytes;
using test::Clock;
using test::MsSince;

constexpr int kPort = 201;

class PtyPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = tmp.MakeDir("ports");
        ASSERT_EQ(symlink(slaveName, (dir + "/COM" + std::to_string(kPort)).c_str()), 0);
        env.emplace("PELVAR_PORTS_DIR", dir);
    }

    void TearDown() override
    {
        if (board.joinable())
            board.join();
    }

    // Reads from the master until `n` bytes or 1 s.
    Bytes ReadMaster(std::size_t n)
    {
        Bytes got;
        auto start = Clock::now();
        while (got.size() < n && MsSince(start) < 1000) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                std::uint8_t buf[64];
                ssize_t k = read(master, buf, sizeof buf);
                if (k > 0)
                    got.insert(got.end(), buf, buf + k);
            }
        }
        return got;
    }

    // The stand-in board: waits for one frame of `frameLength` bytes, then answers.
    void AnswerOnce(std::size_t frameLength, Bytes reply, int delayMs = 0)
    {
        board = std::thread([this, frameLength, reply, delayMs] {
            received = ReadMaster(frameLength);
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            if (!reply.empty())
                (void)!write(master, reply.data(), reply.size());
        });
    }

    test::TempDir tmp;
    std::string dir;
    std::optional<test::ScopedEnv> env;
    test::PseudoTerminal pty;
    const int master = pty.Master();
    const int slave = pty.Slave();
    const char* slaveName = pty.SlavePath().c_str();
    std::thread board;
    Bytes received;
    PosixPlatform posix;
};

TEST_F(PtyPort, FramesGoOutByteExactAndTheReplyIsRecognised)
{
    CFrameLink link(kPort, 115200, posix);
    ASSERT_EQ(link.Open(), LINK_OK);
    AnswerOnce(9, {0x02, 0x06, 0x91, 0x06, 0, 0, 0, 0x93, 0x03});
    EXPECT_EQ(link.Transact(CMD_BRIGHTNESS, EncodeAdjustment(200).data(), 4), LINK_OK);
    board.join();
    EXPECT_EQ(received, Bytes({0x02, 0x06, 0x91, 0xC8, 0, 0, 0, 0x5D, 0x03}));
    EXPECT_EQ(link.Retries(), 0u) << "the first acknowledge was taken";
}

TEST_F(PtyPort, ReadTimeoutsHoldOnARealDevice)
{
    CComPort port(posix);
    port.m_nPort = kPort;
    port.m_nByteSize = 8;
    ASSERT_EQ(port.Open(), LINK_OK);

    std::uint8_t buf[9];
    std::uint32_t got = 0;
    // How long each read lasts is pinned on the simulated clock; here the
    // real device ends both reads with the bytes that came, and nothing else.
    EXPECT_EQ(port.ReadTimed(buf, 9, &got), PORT_ERR_READ_TIMEOUT);
    EXPECT_EQ(got, 0u);

    const std::uint8_t six[] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(write(master, six, 6), 6);
    EXPECT_EQ(port.ReadTimed(buf, 9, &got), PORT_ERR_READ_TIMEOUT);
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(Bytes(buf, buf + 6), Bytes(six, six + 6));
    EXPECT_EQ(port.LastError(), 0);
}

TEST_F(PtyPort, OneReadTakesBytesThatArriveWithinTheIntervalOfTheLast)
{
    CComPort port(posix);
    port.m_nPort = kPort;
    port.m_nByteSize = 8;
    ASSERT_EQ(port.Open(), LINK_OK);

    // With a 200 ms interval, four bytes 100 ms apart: 300 ms from first to
    // last, each well within the interval of the one before. Had the
    // interval run from the read's start, the read would end after the
    // second byte. 100 ms of slack either way covers a loaded machine; a
    // writer held back beyond it fails with the gaps it had.
    Timeouts wide;
    wide.readInterval = 200;
    wide.readConstant = 3000;
    ASSERT_TRUE(posix.SetTimeouts(port.m_hCom, wide));
    const Bytes sent = {0x11, 0x22, 0x33, 0x44};
    std::vector<Clock::time_point> writtenAt;
    const Clock::time_point first = Clock::now() + std::chrono::milliseconds(20);
    board = std::thread([this, &sent, &writtenAt, first] {
        for (std::size_t i = 0; i < sent.size(); ++i) {
            std::this_thread::sleep_until(first + std::chrono::milliseconds(100 * i));
            (void)!write(master, &sent[i], 1);
            writtenAt.push_back(Clock::now());
        }
    });
    std::uint8_t buf[9] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    const bool read = posix.Read(port.m_hCom, buf, 9, &got);
    const double ms = MsSince(start);
    board.join();
    std::string gaps;
    for (std::size_t i = 1; i < writtenAt.size(); ++i)
        gaps += " "
                + std::to_string(
                    std::chrono::duration_cast<std::chrono::milliseconds>(writtenAt[i] - writtenAt[i - 1]).count());
    EXPECT_TRUE(read);
    EXPECT_EQ(Bytes(buf, buf + got), sent)
        << "the interval runs from the last byte, not from the read's start; "
        << "gaps between the bytes (ms):" << gaps << "; the read took " << ms << " ms";
}

TEST_F(PtyPort, PurgeDiscardsWhatArrivedBeforeIt)
{
    CComPort port(posix);
    port.m_nPort = kPort;
    port.m_nByteSize = 8;
    ASSERT_EQ(port.Open(), LINK_OK);

    const std::uint8_t stale[] = {0x02, 0x03, 0x00, 0x11, 0x10, 0x03};
    ASSERT_EQ(write(master, stale, sizeof stale), static_cast<ssize_t>(sizeof stale));
    int queued = 0;
    const auto start = Clock::now();
    while (queued < static_cast<int>(sizeof stale) && MsSince(start) < 1000) {
        ASSERT_EQ(ioctl(slave, FIONREAD, &queued), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(queued, static_cast<int>(sizeof stale)) << "the stale bytes wait in the port's input queue";

    EXPECT_TRUE(port.PurgeInput());
    ASSERT_EQ(ioctl(slave, FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 0);
    std::uint8_t buf[9];
    std::uint32_t got = 99;
    EXPECT_TRUE(posix.Read(port.m_hCom, buf, 1, &got));
    EXPECT_EQ(got, 0u) << "nothing is left to read after the purge";
}

struct LineRow {
    const char* name;
    std::int32_t baud, parity, stop;
    bool odd, twoStop;
};

TEST_F(PtyPort, LineSettingsReadBackFromTheTerminal)
{
    // A pseudo-terminal forces CS8 and clears PARENB whatever is asked;
    // CharacterFormat below checks those two. PARODD, CSTOPB and the rates
    // (standard and termios2's) are kept as set.
    const LineRow rows[] = {{"none9600OneStop", 9600, 0, 0, false, false},
                            {"odd115200TwoStop", 115200, 1, 2, true, true},
                            {"even57600OneStop", 57600, 2, 0, false, false},
                            {"oddUnlistedRate", 250000, 1, 0, true, false},
                            {"evenUnlistedRateTwoStop", 31250, 2, 2, false, true}};
    for (const LineRow& r : rows) {
        CComPort port(posix);
        port.m_nPort = kPort;
        port.m_nBaud = r.baud;
        port.m_nByteSize = 8;
        port.m_nParity = r.parity;
        port.m_nStopBits = r.stop;
        ASSERT_EQ(port.Open(), LINK_OK) << r.name;
        termios t{};
        ASSERT_EQ(tcgetattr(slave, &t), 0) << r.name;
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << r.name;
        EXPECT_EQ((t.c_cflag & PARODD) != 0, r.odd) << r.name;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, r.twoStop) << r.name;
        test::LineSpeeds speeds;
        ASSERT_TRUE(test::ReadLineSpeeds(slave, &speeds)) << r.name;
        EXPECT_EQ(speeds.output, static_cast<std::uint32_t>(r.baud)) << r.name;
        EXPECT_EQ(speeds.input, static_cast<std::uint32_t>(r.baud)) << r.name;
        EXPECT_TRUE(port.Close()) << r.name;
    }
}

TEST(CharacterFormat, CodesMapToTheTermiosFlags)
{
    struct Row {
        std::int32_t bits, parity, stop;
        tcflag_t flags;
    };
    const Row rows[] = {
        {8, 0, 0, CS8},          {8, 1, 0, CS8 | PARENB | PARODD}, {8, 2, 0, CS8 | PARENB},
        {8, 0, 2, CS8 | CSTOPB}, {7, 2, 2, CS7 | PARENB | CSTOPB}, {6, 1, 2, CS6 | PARENB | PARODD | CSTOPB},
        {5, 0, 0, CS5}};
    for (const Row& r : rows) {
        LineSettings s;
        s.baud = 115200;
        s.byteSize = r.bits;
        s.parity = r.parity;
        s.stopBits = r.stop;
        EXPECT_EQ(CharacterFormatFlags(s), r.flags) << r.bits << " bits, parity " << r.parity << ", stop " << r.stop;
    }
}

TEST_F(PtyPort, SilentBoardQueryEndsAfterTheWindow)
{
    CFrameLink link(kPort, 115200, posix);
    ASSERT_EQ(link.Open(), LINK_OK);
    QueryResult q = QueryStatus(link);
    EXPECT_EQ(q.result, LINK_ERR_NO_REPLY);
    EXPECT_EQ(ReadMaster(5), Bytes({0x02, 0x02, 0x00, 0x00, 0x03})) << "the query went out";
}

TEST_F(PtyPort, OpenIsExclusiveAndRestoresTheTerminalAtClose)
{
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);
    {
        CComPort first(posix);
        first.m_nPort = kPort;
        first.m_nByteSize = 8;
        ASSERT_EQ(first.Open(), LINK_OK);
        termios raw{};
        ASSERT_EQ(tcgetattr(slave, &raw), 0);
        EXPECT_FALSE(raw.c_lflag & ICANON);
        EXPECT_TRUE(raw.c_cflag & CLOCAL);
        EXPECT_FALSE(raw.c_cflag & CRTSCTS);
        EXPECT_FALSE(raw.c_iflag & IXON);
        // flock keeps out programs that cooperate, TIOCEXCL the rest (root excepted).
        int exclusive = 0;
        ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);

        PosixPlatform other;
        CComPort second(other);
        second.m_nPort = kPort;
        second.m_nByteSize = 8;
        EXPECT_EQ(second.Open(), PORT_ERR_CONFIG);
        EXPECT_EQ(second.m_bOpen, 0);
        EXPECT_EQ(second.LastError(), EBUSY);
    }
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    int exclusive = 1;
    ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "released at close";
}

TEST_F(PtyPort, RefusedSettingsLeaveThePortOpenUntilClosed)
{
    struct Row {
        const char* name;
        std::int32_t baud, bits, stop;
        std::int32_t expected;
    };
    const Row rows[] = {{"nineBits", 115200, 9, 0, PORT_ERR_CONFIG},
                        {"oneAndAHalfStop", 115200, 8, 1, PORT_ERR_CONFIG},
                        {"unlistedRate", 250000, 8, 0, LINK_OK},
                        {"twoStopBits", 9600, 8, 2, LINK_OK}};
    for (const Row& r : rows) {
        CComPort port(posix);
        port.m_nPort = kPort;
        port.m_nBaud = r.baud;
        port.m_nByteSize = r.bits;
        port.m_nStopBits = r.stop;
        EXPECT_EQ(port.Open(), r.expected) << r.name;
        EXPECT_EQ(port.m_bOpen, 1) << r.name;
        EXPECT_TRUE(port.Close()) << r.name;
    }
}

TEST_F(PtyPort, RtsOnAPseudoTerminalSucceedsAndDoesNothing)
{
    CComPort port(posix);
    port.m_nPort = kPort;
    port.m_nByteSize = 8;
    ASSERT_EQ(port.Open(), LINK_OK);
    EXPECT_TRUE(port.SetRts(true));
    EXPECT_TRUE(port.SetRts(false));
}

// A pseudo-terminal has neither setting: low latency is refused silently
// (the exchange above ran with it), RS-485 mode refused and the port let go.
TEST_F(PtyPort, LowLatencyAndRs485AreRefusedByAPseudoTerminal)
{
    CComPort port(posix);
    port.m_nPort = kPort;
    port.m_nByteSize = 8;
    ASSERT_EQ(port.Open(), LINK_OK);
    EXPECT_FALSE(posix.SetLowLatency(port.m_hCom, true));
    EXPECT_EQ(posix.LastError(), ENOTTY);
    EXPECT_EQ(posix.Adapter(port.m_hCom).lowLatencyError, ENOTTY);
    EXPECT_FALSE(posix.SetRs485(port.m_hCom, {0, 2}));
    EXPECT_EQ(posix.LastError(), ENOTTY);
    ASSERT_TRUE(port.Close());

    CFrameLink link(kPort, 115200, posix);
    link.SetRs485(true);
    EXPECT_EQ(link.Open(), PORT_ERR_RS485);
    EXPECT_EQ(link.Port()->LastError(), ENOTTY);
    CFrameLink again(kPort, 115200, posix);
    EXPECT_EQ(again.Open(), LINK_OK) << "the refused open let the port go";
}

struct DeviceEntryRow {
    const char* name;
    const char* options; // after the device's path in the entry's line
    std::int32_t attach;
    int sysError;
    const char* pathSuffix;   // what PortPath says after the device's path ("" the path alone)
    const char* shownOptions; // what the port list shows after the device's path
};

class PtyDeviceEntry : public PtyPort, public ::testing::WithParamInterface<DeviceEntryRow> {};

// A regular file COMn holding the device's path with options: the port is
// that device, opened in the mode the options ask for.
TEST_P(PtyDeviceEntry, AFileEntryNamesTheDeviceAndItsMode)
{
    const DeviceEntryRow& row = GetParam();
    const std::string entry = dir + "/COM202";
    FILE* f = std::fopen(entry.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "%s%s\n", slaveName, row.options);
    std::fclose(f);
    ASSERT_EQ(chmod(entry.c_str(), 0600), 0);

    std::unique_ptr<IPlatform> platform = NewPlatform();
    BoardConnection board(*platform);
    EXPECT_EQ(board.Attach(202), row.attach);
    ASSERT_FALSE(board.Candidates().empty());
    EXPECT_EQ(board.Candidates().back().sysError, row.sysError);
    if (*row.pathSuffix == '\0')
        EXPECT_EQ(platform->PortPath(202), std::string(slaveName));
    else
        EXPECT_EQ(platform->PortPath(202), entry + row.pathSuffix);
    board.Close();
    EXPECT_EQ(PortDirectoryEntryName({202, entry, "", ""}),
              "Pseudo terminal " + std::string(slaveName) + row.shownOptions + " (COM202)");
}

INSTANTIATE_TEST_SUITE_P(Table, PtyDeviceEntry,
                         ::testing::Values(DeviceEntryRow{"plain", "", LINK_OK, 0, "", ""},
                                           // A pseudo-terminal has no RS-485 mode: refused, not used.
                                           DeviceEntryRow{"rs485", "?rs485", PORT_ERR_RS485, ENOTTY, "", ""},
                                           DeviceEntryRow{"unknownOption", "?speed=9", PORT_ERR_CONFIG, EINVAL,
                                                          ": unknown option 'speed=9' (known: rs485)", "?speed=9"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PtyPort, HangUpFailsReadsInsteadOfSpinningForever)
{
    CFrameLink link(kPort, 115200, posix);
    ASSERT_EQ(link.Open(), LINK_OK);
    pty.CloseMaster();
    std::uint8_t buf[kFrameBufferSize];
    std::uint32_t len = 0;
    EXPECT_EQ(link.ReceiveFrame(buf, 4, &len), LINK_ERR_NO_REPLY);
    EXPECT_EQ(link.Port()->LastError(), EIO);
}

// Unplugging is noticed without an exchange: the hang-up shows on the open
// descriptor at once, as when a USB adapter is pulled.
TEST_F(PtyPort, FarEndClosingShowsAsGoneWithoutAnExchange)
{
    CFrameLink link(kPort, 115200, posix);
    ASSERT_EQ(link.Open(), LINK_OK);
    const PortHandle h = link.Port()->m_hCom;
    EXPECT_FALSE(posix.PortGone(h)) << "an idle line is not gone";
    (void)!write(master, "x", 1);
    EXPECT_FALSE(posix.PortGone(h)) << "waiting input is not a hang-up";
    pty.CloseMaster();
    EXPECT_TRUE(posix.PortGone(h));
    link.Close();
    EXPECT_TRUE(posix.PortGone(h)) << "a closed handle is gone";
}

struct NotADeviceRow {
    const char* name;
    int kind; // 0 regular file, 1 FIFO, 2 link loop, 3 dangling
    int expectedErrno;
};

class PortDirectoryHostile : public ::testing::TestWithParam<NotADeviceRow> {};

TEST_P(PortDirectoryHostile, EntriesThatAreNoTerminalAreNeverOpened)
{
    test::TempDir tmp;
    std::string dir = tmp.MakeDir("ports");
    test::ScopedEnv env("PELVAR_PORTS_DIR", dir);
    std::string target = tmp.Path() + "/target";
    std::string entry = dir + "/COM9";
    switch (GetParam().kind) {
    case 0:
        close(open(target.c_str(), O_CREAT | O_WRONLY, 0600));
        ASSERT_EQ(symlink(target.c_str(), entry.c_str()), 0);
        break;
    case 1:
        ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
        ASSERT_EQ(symlink(target.c_str(), entry.c_str()), 0);
        break;
    case 2: ASSERT_EQ(symlink(entry.c_str(), entry.c_str()), 0); break;
    default: ASSERT_EQ(symlink((tmp.Path() + "/absent").c_str(), entry.c_str()), 0); break;
    }
    PosixPlatform posix;
    EXPECT_EQ(posix.OpenPort(9), kNoHandle);
    EXPECT_EQ(posix.LastError(), GetParam().expectedErrno);
    if (GetParam().kind == 1) {
        // Nobody opened the FIFO: a non-blocking writer finds no reader.
        int w = open(target.c_str(), O_WRONLY | O_NONBLOCK);
        EXPECT_EQ(w, -1);
        EXPECT_EQ(errno, ENXIO);
    }
    struct stat st {};
    if (GetParam().kind == 0 && stat(target.c_str(), &st) == 0) {
        EXPECT_EQ(st.st_size, 0) << "never written";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PortDirectoryHostile,
                         ::testing::Values(NotADeviceRow{"regularFile", 0, ENOTTY}, NotADeviceRow{"fifo", 1, ENOTTY},
                                           NotADeviceRow{"linkLoop", 2, ELOOP}, NotADeviceRow{"dangling", 3, ENOENT}),
                         [](const auto& info) { return std::string(info.param.name); });

struct AdapterFactsRow {
    const char* name;
    const char* device;
    const char* driver;
    int latencyTimerMs;
    const char* timerFile;
};

class SysfsAdapterFacts : public ::testing::TestWithParam<AdapterFactsRow> {};

// A tree laid out as sysfs has it: the tty's driver link, and the latency
// timer of USB serial adapters only.
TEST_P(SysfsAdapterFacts, DriverAndLatencyTimerAsSysfsShowsThem)
{
    const AdapterFactsRow& row = GetParam();
    test::TempDir tmp;
    const std::string root = tmp.MakeDir("sys");
    tmp.MakeDir("sys/bus/usb-serial/drivers/ftdi_sio");
    tmp.MakeDir("sys/bus/usb/drivers/cdc_acm");
    tmp.MakeDir("sys/class/tty/ttyUSB0/device");
    tmp.MakeDir("sys/class/tty/ttyACM0/device");
    ASSERT_EQ(
        symlink("../../../../bus/usb-serial/drivers/ftdi_sio", (root + "/class/tty/ttyUSB0/device/driver").c_str()), 0);
    ASSERT_EQ(symlink("../../../../bus/usb/drivers/cdc_acm", (root + "/class/tty/ttyACM0/device/driver").c_str()), 0);
    tmp.MakeDir("sys/bus/usb-serial/devices/ttyUSB0");
    FILE* f = std::fopen((root + "/bus/usb-serial/devices/ttyUSB0/latency_timer").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("16\n", f);
    std::fclose(f);

    const AdapterFacts facts = ReadAdapterFacts(row.device, root);
    EXPECT_EQ(facts.driver, row.driver);
    EXPECT_EQ(facts.latencyTimerMs, row.latencyTimerMs);
    EXPECT_EQ(facts.latencyTimerFile, row.timerFile);
}

INSTANTIATE_TEST_SUITE_P(Table, SysfsAdapterFacts,
                         ::testing::Values(AdapterFactsRow{"ftdi", "/nonexistent/dev/ttyUSB0", "ftdi_sio", 16,
                                                           "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"},
                                           AdapterFactsRow{"cdcAcmHasNoTimer", "/nonexistent/dev/ttyACM0", "cdc_acm",
                                                           -1, ""},
                                           AdapterFactsRow{"unknownDevice", "/nonexistent/dev/ttyS4", "", -1, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PortDirectoryTrust, DirectoryWritableByOthersIsIgnored)
{
    test::TempDir tmp;
    std::string dir = tmp.MakeDir("ports");
    test::PseudoTerminal pty;
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), (dir + "/COM9").c_str()), 0);
    test::ScopedEnv env("PELVAR_PORTS_DIR", dir);
    PosixPlatform posix;
    PortHandle h = posix.OpenPort(9);
    EXPECT_NE(h, kNoHandle);
    posix.ClosePort(h);
    chmod(dir.c_str(), 0777);
    // No port at all: the directory is exclusive, so no falling back to the
    // fixed rule's device (whose absence would give ENOENT just the same).
    EXPECT_EQ(posix.PortPath(9), "") << "not the fixed rule's device";
    EXPECT_EQ(posix.OpenPort(9), kNoHandle);
    EXPECT_EQ(posix.LastError(), ENOENT);
}

} // namespace
} // namespace pelvar
