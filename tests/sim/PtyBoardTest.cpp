// The board on a real pseudo-terminal, reached as the host reaches it:
// through the COMn link in the port directory. Real time, so with tolerances.
#include <gtest/gtest.h>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "sim/PtyBoard.h"
#include "tests/support/Frames.h"
#include "tests/support/Pty.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/Timing.h"

namespace pelvar {
namespace {

using test::Bytes;
using test::Clock;

const Bytes kStatus = {0x02, 0x02, 0x00, 0x00, 0x03};
const Bytes kStatusZeroReply = {0x02, 0x03, 0x00, 0x00, 0x01, 0x03};

std::string ReadLink(const std::string& path)
{
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

class PtyBoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pelvar-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr); // mode 0700
        m_root = pattern;
        m_ports = m_root + "/ports"; // the board creates it
        m_env.emplace("PELVAR_PORTS_DIR", m_ports);
    }
    void TearDown() override
    {
        m_env.reset();
        ::rmdir(m_ports.c_str());
        ::rmdir(m_root.c_str());
    }

    // Opens the link as a host does, raw.
    static int OpenHost(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return fd;
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
        return fd;
    }

    // Reads until `want` bytes or `timeoutMs` have passed.
    static Bytes ReadReply(int fd, std::size_t want, int timeoutMs)
    {
        Bytes got;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN))
                break;
            std::uint8_t buf[64];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    std::string m_root;
    std::string m_ports;
    std::optional<test::ScopedEnv> m_env;
};

TEST_F(PtyBoardTest, AnswersThroughThePortLinkAndCleansUp)
{
    PtyBoardOptions options;
    options.port = 201;
    PtyBoard board(options);
    std::mutex mutex;
    std::vector<BoardTraceEvent> trace;
    board.SetTrace([&](const BoardTraceEvent& e) {
        std::lock_guard<std::mutex> lock(mutex);
        trace.push_back(e);
    });
    ASSERT_EQ(board.Start(), 0) << board.ErrorText();

    const std::string link = m_ports + "/COM201";
    EXPECT_EQ(board.LinkPath(), link);
    struct stat st {};
    ASSERT_EQ(::stat(m_ports.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(board.SlavePath(), target);

    // Twice, closing in between: a host's close must not hang the line up.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const int fd = OpenHost(link);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, kStatus.data(), kStatus.size()), ssize_t(kStatus.size()));
        EXPECT_EQ(ReadReply(fd, kStatusZeroReply.size(), 2000), kStatusZeroReply);
        ::close(fd);
    }
    EXPECT_FALSE(board.HungUp());

    board.Stop();
    EXPECT_FALSE(board.Running());
    struct stat lst {};
    EXPECT_NE(::lstat(link.c_str(), &lst), 0); // the link is gone
    EXPECT_EQ(board.Snapshot().FramesReceived(), 2u);

    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0].kind, BoardTraceKind::Received);
    EXPECT_EQ(trace[0].bytes, kStatus);
    EXPECT_EQ(trace[1].kind, BoardTraceKind::Sent);
    EXPECT_EQ(trace[1].bytes, kStatusZeroReply);
    EXPECT_NE(FormatTraceEvent(trace[0]).find("<- 02 02 00 00 03  status"), std::string::npos);
}

TEST_F(PtyBoardTest, DelayHoldsTheReply)
{
    PtyBoardOptions options;
    options.board.delayMs = 150;
    PtyBoard board(options);
    ASSERT_EQ(board.Start(), 0) << board.ErrorText();
    const int fd = OpenHost(board.LinkPath());
    ASSERT_GE(fd, 0);
    const auto sent = Clock::now();
    ASSERT_EQ(::write(fd, kStatus.data(), kStatus.size()), ssize_t(kStatus.size()));
    // Nothing in the first 100 ms, the reply well within a second.
    EXPECT_TRUE(ReadReply(fd, 1, 100).empty());
    EXPECT_EQ(ReadReply(fd, kStatusZeroReply.size(), 1000), kStatusZeroReply);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    EXPECT_GE(took.count(), 140);
    ::close(fd);
    board.Stop();
}

TEST_F(PtyBoardTest, HangUpEndsTheLineAsAnUnpluggedAdapter)
{
    PtyBoardOptions options;
    options.board.hangupAfter = 1;
    PtyBoard board(options);
    ASSERT_EQ(board.Start(), 0) << board.ErrorText();
    const std::string link = board.LinkPath();
    const int fd = OpenHost(link);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, kStatus.data(), kStatus.size()), ssize_t(kStatus.size()));
    // Whether the last reply survives the hang-up is the kernel's affair;
    // the line must end either way, well within a second.
    ReadReply(fd, kStatusZeroReply.size(), 1000);
    pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    EXPECT_TRUE(board.HungUp());
    ::close(fd);
    EXPECT_LT(OpenHost(link), 0); // nothing behind the port any more
    board.Stop();
}

TEST_F(PtyBoardTest, RefusesAPortALiveBoardHoldsAndNamesIt)
{
    PtyBoard first(PtyBoardOptions{});
    ASSERT_EQ(first.Open(), 0) << first.ErrorText();
    PtyBoard second(PtyBoardOptions{});
    EXPECT_EQ(second.Open(), -EEXIST);
    EXPECT_EQ(second.ErrorText(), "COM200 is held by the simulated board of process " + std::to_string(::getpid())
                                      + " (sim_tests) (link " + m_ports + "/COM200)");
    EXPECT_EQ(ReadLink(m_ports + "/COM200"), first.SlavePath());
    first.Stop();
    EXPECT_EQ(second.Open(), 0) << second.ErrorText();
    second.Stop();
}

// What a board killed outright leaves in the directory, and whether the next
// board on its number takes the name over.
struct LeftoverRow {
    const char* name;
    bool targetExists; // the link reaches a terminal that lives on (its number reused)
    bool ownerRecord;  // the dead board's unlocked record names that terminal
    bool replaced;
    const char* refusal; // after "COM200 is taken: <link> names <target>"

    friend void PrintTo(const LeftoverRow& row, std::ostream* os) { *os << row.name; }
};

class PtyBoardLeftovers : public PtyBoardTest, public ::testing::WithParamInterface<LeftoverRow> {};

TEST_P(PtyBoardLeftovers, StaleLinkIsReplacedAndAForeignOneKept)
{
    test::PseudoTerminal other;
    const std::string target = GetParam().targetExists ? other.SlavePath() : "/dev/pts/pelvar-gone";
    ASSERT_EQ(::mkdir(m_ports.c_str(), 0700), 0);
    const std::string link = m_ports + "/COM200";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    if (GetParam().ownerRecord) {
        std::ofstream(m_ports + "/.COM200.owner") << "999999 " << target << "\n";
    }

    PtyBoard board(PtyBoardOptions{});
    const int rc = board.Open();
    if (GetParam().replaced) {
        ASSERT_EQ(rc, 0) << board.ErrorText();
        EXPECT_EQ(ReadLink(link), board.SlavePath());
        board.Stop();
        EXPECT_EQ(ReadLink(link), "");
    } else {
        EXPECT_EQ(rc, -EEXIST);
        EXPECT_EQ(board.ErrorText(), "COM200 is taken: " + link + " names " + target + GetParam().refusal);
        EXPECT_EQ(ReadLink(link), target);
        ::unlink(link.c_str());
    }
    ::unlink((m_ports + "/.COM200.owner").c_str());
}

INSTANTIATE_TEST_SUITE_P(Rows, PtyBoardLeftovers,
                         ::testing::Values(LeftoverRow{"LinkToNothing", false, false, true, ""},
                                           LeftoverRow{"DeadBoardsLinkToAReusedTerminal", true, true, true, ""},
                                           LeftoverRow{"HandMadeLinkToALiveTerminal", true, false, false,
                                                       ", not made by a simulated board"}),
                         [](const ::testing::TestParamInfo<LeftoverRow>& info) {
                             return std::string(info.param.name);
                         });

// A dead board's link under another number that reaches the terminal a new
// board is given would be a second name for it: it goes. The system hands
// out the lowest free terminal number, so a number just freed is usually
// the next one given; when something else took it first, try again.
TEST_F(PtyBoardTest, StaleLinkUnderAnotherNumberToTheNewTerminalGoes)
{
    const std::string other = m_ports + "/COM201";
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::string freed;
        {
            PtyBoard gone(PtyBoardOptions{});
            ASSERT_EQ(gone.Open(), 0) << gone.ErrorText();
            freed = gone.SlavePath();
        }
        ASSERT_EQ(::symlink(freed.c_str(), other.c_str()), 0);
        PtyBoard board(PtyBoardOptions{});
        ASSERT_EQ(board.Open(), 0) << board.ErrorText();
        if (board.SlavePath() != freed) {
            ::unlink(other.c_str());
            continue;
        }
        EXPECT_EQ(ReadLink(other), "") << "two names reach one board";
        EXPECT_EQ(ReadLink(m_ports + "/COM200"), freed);
        return;
    }
    GTEST_SKIP() << "the freed terminal number was never given again";
}

} // namespace
} // namespace pelvar
