// Ports of other programs are left alone: lock files, the system console,
// and who holds a busy port. Real pseudo-terminals, a private lock directory.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "link/ComPort.h"
#include "link/ResultCodes.h"
#include "platform/posix/PosixPlatform.h"
#include "platform/posix/UucpLock.h"
#include "tests/support/Pty.h"
#include "tests/support/TestEnvironment.h"
#include "tools/pelvarctl/CtlRunner.h"

namespace pelvar {
namespace {

constexpr int kPort = 202;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string PidText(pid_t pid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

TEST(UucpLockName, DeviceBelowDevWithSlashesAsUnderscores)
{
    EXPECT_EQ(LockFileName("/dev/pts/3"), "LCK..pts_3");
    EXPECT_EQ(LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(LockFileName("/dev/serial/by-id/usb-x"), "LCK..serial_by-id_usb-x");
    EXPECT_EQ(LockFileName("/tmp/ttyFake"), "LCK..ttyFake");
}

TEST(UucpLockPid, AsciiBinaryAndUnusableContents)
{
    test::TempDir dir;
    const std::string path = dir.Path() + "/LCK..x";
    const struct {
        std::string contents;
        pid_t pid;
    } rows[] = {
        {"      1234\n", 1234}, {"42", 42}, {std::string("\x02\x01\x00\x00", 4), 258},
        {"minicom\n", 0},       {"", 0},    {"  -7\n", 0},
    };
    for (const auto& row : rows) {
        WriteFile(path, row.contents);
        EXPECT_EQ(ReadLockPid(path), row.pid) << row.contents;
    }
    EXPECT_EQ(ReadLockPid(dir.Path() + "/missing"), 0);
}

// Who the lock file names, and who takes the lock.
enum class Holder { None, DeadProcess, Unparsable, LiveProcess, OtherUsersLiveProcess, Ourselves };
enum class After { Ours, Untouched, NoFile };

struct AcquireRow {
    const char* name;
    Holder holder;
    bool asOtherUser; // taken by a process of another user (nobody)
    bool dirWritable; // by the process that takes the lock
    int error;
    bool taken;
    After after;
};

// A process that lives until the row ends.
struct SleepingChild {
    SleepingChild()
    {
        pid = fork();
        if (pid == 0) {
            pause();
            _exit(0);
        }
    }
    ~SleepingChild()
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid_t pid;
};

constexpr uid_t kNobody = 65534;

// AcquirePortLock run by the user nobody, in a child: its result and its pid.
// The root test process is then a live process nobody may not signal.
PortLockResult AcquireAsNobody(const std::string& lockDir, const std::string& device, pid_t* taker)
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    *taker = fork();
    if (*taker == 0) {
        close(out[0]);
        int reply[2] = {-1, 0};
        if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) {
            const PortLockResult r = AcquirePortLock(lockDir, device);
            reply[0] = r.error;
            reply[1] = r.lockPath.empty() ? 0 : 1;
        }
        (void)!write(out[1], reply, sizeof reply);
        _exit(0);
    }
    close(out[1]);
    int reply[2] = {-2, 0};
    (void)!read(out[0], reply, sizeof reply);
    close(out[0]);
    waitpid(*taker, nullptr, 0);
    PortLockResult r;
    r.error = reply[0];
    if (reply[1])
        r.lockPath = lockDir + "/" + LockFileName(device);
    return r;
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void PrintTo(const AcquireRow& row, std::ostream* os) { *os << row.name; }

class UucpLockAcquire : public ::testing::TestWithParam<AcquireRow> {};

TEST_P(UucpLockAcquire, StaleAndUnparsableLocksAreTakenLiveOnesAndOursLeftAlone)
{
    const AcquireRow& row = GetParam();
    if (row.asOtherUser && geteuid() != 0)
        GTEST_SKIP() << "needs root to take the lock as another user; CI runs as root";
    test::TempDir tmp;
    const std::string lockDir = tmp.MakeDir("lock");
    const std::string lockFile = lockDir + "/LCK..pts_99";
    // Root writes into any directory: rows with an unwritable one run as nobody.
    ASSERT_EQ(chmod(tmp.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(lockDir.c_str(), row.dirWritable && row.asOtherUser ? 0777 : 0755), 0);

    std::optional<SleepingChild> live;
    switch (row.holder) {
    case Holder::None: break;
    case Holder::DeadProcess: {
        const pid_t dead = fork();
        if (dead == 0)
            _exit(0);
        waitpid(dead, nullptr, 0);
        WriteFile(lockFile, PidText(dead));
        break;
    }
    case Holder::Unparsable: WriteFile(lockFile, "minicom\n"); break;
    case Holder::LiveProcess:
        live.emplace();
        WriteFile(lockFile, PidText(live->pid));
        break;
    case Holder::OtherUsersLiveProcess: WriteFile(lockFile, PidText(getpid())); break; // root, to nobody
    case Holder::Ourselves: WriteFile(lockFile, PidText(getpid())); break;
    }
    const std::string before = ReadFile(lockFile);

    pid_t taker = getpid();
    const PortLockResult r =
        row.asOtherUser ? AcquireAsNobody(lockDir, "/dev/pts/99", &taker) : AcquirePortLock(lockDir, "/dev/pts/99");
    EXPECT_EQ(r.error, row.error);
    EXPECT_EQ(r.lockPath, row.taken ? lockFile : std::string());
    switch (row.after) {
    case After::Ours: EXPECT_EQ(ReadFile(lockFile), PidText(taker)); break;
    case After::Untouched: EXPECT_EQ(ReadFile(lockFile), before); break;
    case After::NoFile: EXPECT_NE(access(lockFile.c_str(), F_OK), 0); break;
    }
    // Nothing else is left behind: no temporary lock of ours.
    const std::vector<std::string> expected =
        row.after == After::NoFile ? std::vector<std::string>{} : std::vector<std::string>{"LCK..pts_99"};
    EXPECT_EQ(DirEntries(lockDir), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UucpLockAcquire,
    ::testing::Values(AcquireRow{"noLock", Holder::None, false, true, 0, true, After::Ours},
                      AcquireRow{"deadProcess", Holder::DeadProcess, false, true, 0, true, After::Ours},
                      AcquireRow{"unparsableContent", Holder::Unparsable, false, true, 0, true, After::Ours},
                      AcquireRow{"liveProcess", Holder::LiveProcess, false, true, EBUSY, false, After::Untouched},
                      // kill() says EPERM: the process lives, it is only not ours to signal.
                      AcquireRow{"otherUsersLiveProcess", Holder::OtherUsersLiveProcess, true, true, EBUSY, false,
                                 After::Untouched},
                      AcquireRow{"ourOwnPid", Holder::Ourselves, false, true, 0, false, After::Untouched},
                      AcquireRow{"takenByAnotherUser", Holder::None, true, true, 0, true, After::Ours},
                      AcquireRow{"unwritableDirectory", Holder::None, true, false, 0, false, After::NoFile},
                      AcquireRow{"unwritableDirectoryLiveLock", Holder::OtherUsersLiveProcess, true, false, EBUSY,
                                 false, After::Untouched}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UucpLockRelease, RemovesOnlyALockThatIsStillOurs)
{
    test::TempDir tmp;
    const std::string lockDir = tmp.MakeDir("lock");
    PortLockResult r = AcquirePortLock(lockDir, "/dev/pts/99");
    ASSERT_EQ(r.lockPath, lockDir + "/LCK..pts_99");
    ReleasePortLock(r.lockPath);
    EXPECT_TRUE(DirEntries(lockDir).empty());

    // Taken over meanwhile (ours was judged stale elsewhere): the new owner's stays.
    r = AcquirePortLock(lockDir, "/dev/pts/99");
    SleepingChild other;
    WriteFile(r.lockPath, PidText(other.pid));
    ReleasePortLock(r.lockPath);
    EXPECT_EQ(ReadFile(r.lockPath), PidText(other.pid));
}

TEST(SystemConsole, EveryListedConsoleAndTheForegroundTerminalOfTty0)
{
    EXPECT_EQ(ParseConsoleList(" tty0\tttyS0\n"), (std::vector<std::string>{"tty0", "ttyS0"}));
    test::TempDir sys;
    WriteFile(sys.MakeDir("console") + "/active", "tty0 ttyS1\n");
    WriteFile(sys.MakeDir("tty0") + "/active", "tty2\n");
    EXPECT_TRUE(IsActiveConsole("/dev/ttyS1", sys.Path()));
    EXPECT_TRUE(IsActiveConsole("/dev/tty2", sys.Path()));
    EXPECT_FALSE(IsActiveConsole("/dev/ttyS0", sys.Path()));
    EXPECT_FALSE(IsActiveConsole("/dev/pts/3", sys.Path()));
    EXPECT_FALSE(IsActiveConsole("/dev/ttyS1", sys.Path() + "/none"));
}

// A pseudo-terminal attached as COM202, and another program that holds it.
class PortLock : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string ports = tmp.MakeDir("ports");
        ASSERT_EQ(symlink(slaveName, (ports + "/COM" + std::to_string(kPort)).c_str()), 0);
        env.emplace("PELVAR_PORTS_DIR", ports);
        lockDir = tmp.MakeDir("lock");
        lockFile = lockDir + "/" + LockFileName(slaveName);
        posix.SetLockDirectory(lockDir);
        port.m_nPort = kPort;
        port.m_nByteSize = 8;
    }

    void TearDown() override
    {
        if (holder > 0) {
            kill(holder, SIGKILL);
            waitpid(holder, nullptr, 0);
        }
    }

    // Another program named `name`, with the terminal open (it inherits it).
    void StartHolder(const char* name)
    {
        holder = fork();
        if (holder == 0) {
            prctl(PR_SET_NAME, name);
            pause();
            _exit(0);
        }
        ASSERT_GT(holder, 0);
        const std::string comm = "/proc/" + std::to_string(holder) + "/comm";
        for (int i = 0; i < 200 && ReadFile(comm) != std::string(name) + "\n"; ++i)
            usleep(5000);
        ASSERT_EQ(ReadFile(comm), std::string(name) + "\n");
    }

    static pid_t DeadPid()
    {
        pid_t pid = fork();
        if (pid == 0)
            _exit(0);
        waitpid(pid, nullptr, 0);
        return pid;
    }

    bool MasterHasInput() const
    {
        pollfd p{master, POLLIN, 0};
        return poll(&p, 1, 50) > 0;
    }

    test::TempDir tmp;
    std::optional<test::ScopedEnv> env;
    std::string lockDir;
    std::string lockFile;
    test::PseudoTerminal pty;
    const int master = pty.Master();
    const int slave = pty.Slave();
    const char* slaveName = pty.SlavePath().c_str();
    pid_t holder = 0;
    PosixPlatform posix;
    CComPort port{posix};
};

TEST_F(PortLock, LockOfALiveProcessKeepsThePortClosedUntouched)
{
    StartHolder("minicom");
    WriteFile(lockFile, PidText(holder));
    // The holder's own settings: raw at 9600, and 11 bytes it has not read yet.
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    cfmakeraw(&before);
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    ASSERT_EQ(write(master, "hello there", 11), 11);

    EXPECT_EQ(port.Open(), PORT_ERR_CONFIG);
    EXPECT_EQ(port.m_bOpen, 0);
    EXPECT_EQ(port.LastError(), EBUSY);

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B9600) << "the line settings were changed";
    EXPECT_FALSE(MasterHasInput()) << "something was written";
    int queued = 0;
    ASSERT_EQ(ioctl(slave, FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 11) << "the holder's input was purged";
    EXPECT_EQ(ReadFile(lockFile), PidText(holder));
    EXPECT_EQ(DescribePortHolder(slaveName, lockDir), "process " + std::to_string(holder) + " (minicom)");
}

TEST_F(PortLock, LockOfALiveProcessCountsAlsoWhereWeCannotWriteOurs)
{
    StartHolder("picocom");
    WriteFile(lockFile, PidText(holder));
    // Our temporary lock cannot be created (a directory stands at its name).
    ASSERT_EQ(mkdir((lockDir + "/LTMP." + std::to_string(getpid())).c_str(), 0700), 0);
    EXPECT_EQ(port.Open(), PORT_ERR_CONFIG);
    EXPECT_EQ(port.LastError(), EBUSY);
    EXPECT_FALSE(MasterHasInput());
}

TEST_F(PortLock, StaleLockIsClearedAndOursIsRemovedAtClose)
{
    WriteFile(lockFile, PidText(DeadPid()));
    ASSERT_EQ(port.Open(), LINK_OK);
    EXPECT_EQ(ReadFile(lockFile), PidText(getpid()));
    struct stat st {};
    ASSERT_EQ(stat(lockFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_TRUE(port.Close());
    EXPECT_NE(access(lockFile.c_str(), F_OK), 0);
    // A second open takes it again: nothing was left behind.
    ASSERT_EQ(port.Open(), LINK_OK);
    EXPECT_TRUE(port.Close());
    EXPECT_NE(access(lockFile.c_str(), F_OK), 0);
}

TEST_F(PortLock, FailedOpenRemovesTheLockItTook)
{
    int other = open(slaveName, O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(port.Open(), PORT_ERR_CONFIG);
    EXPECT_EQ(port.LastError(), EBUSY);
    EXPECT_NE(access(lockFile.c_str(), F_OK), 0);
    close(other);
}

TEST_F(PortLock, PelvarctlNamesTheProcessThatHoldsTheDevice)
{
    StartHolder("gpsd");
    WriteFile(lockFile, PidText(holder));
    std::FILE* out = std::tmpfile();
    char* errBuf = nullptr;
    std::size_t errLen = 0;
    std::FILE* err = open_memstream(&errBuf, &errLen);
    EXPECT_EQ(RunPelvarctl({"--port", std::to_string(kPort), "query", "status"}, out, err, posix), 1);
    std::fclose(out);
    std::fclose(err);
    const std::string text(errBuf, errLen);
    std::free(errBuf);
    // The lock is in a private directory here, so the system is what tells.
    EXPECT_NE(text.find("busy: held by process " + std::to_string(holder) + " (gpsd)"), std::string::npos) << text;
    EXPECT_FALSE(MasterHasInput());
}

} // namespace
} // namespace pelvar
