// pelvarctl --port all and --port LIST against eight simulated boards on
// pseudo-terminals: every board answers in port order, a silent one fails
// alone and sets the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

#include "sim/PtyBoard.h"
#include "tests/e2e/Process.h"

namespace pelvar::e2e {
namespace {

constexpr int kFirstPort = 40;
constexpr int kBoards = 8;
constexpr int kSilentPort = 44;

class ManyBoards : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < kBoards; ++i) {
            PtyBoardOptions o;
            o.port = kFirstPort + i;
            o.portsDir = m_dir.Path();
            o.board.silent = o.port == kSilentPort;
            m_boards.push_back(std::make_unique<PtyBoard>(o));
            m_boards.back()->SetTrace([this](const BoardTraceEvent& e) {
                std::lock_guard<std::mutex> lock(m_eventsMutex);
                (e.kind == BoardTraceKind::Received ? m_received : m_sent).push_back(Clock::now());
            });
            ASSERT_EQ(m_boards.back()->Start(), 0) << m_boards.back()->ErrorText();
        }
    }

    RunResult Ctl(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{PELVARCTL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, {m_dir.Env()}, {}, 60000);
    }

    using Clock = std::chrono::steady_clock;
    PortsDir m_dir;
    // Before the boards, so that they end before their trace's target does.
    std::mutex m_eventsMutex;
    std::vector<Clock::time_point> m_received; // when each board took a frame in
    std::vector<Clock::time_point> m_sent;     // when each board answered
    std::vector<std::unique_ptr<PtyBoard>> m_boards;
};

TEST_F(ManyBoards, AllRunsTheVerbOnEveryBoardAndTheSilentOneFailsAlone)
{
    const RunResult r = Ctl({"--port", "all", "reg", "write", "0x0010", "beef"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    std::string expected;
    for (int port = kFirstPort; port < kFirstPort + kBoards; ++port) {
        const std::string com = "COM" + std::to_string(port) + ": ";
        expected += com + (port == kSilentPort ? "result: LINK_ERR_NO_REPLY (-2002)\n" : "result: LINK_OK (0)\n");
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "COM44: pelvarctl: COM44 (" + m_dir.Path() + "/COM44): no reply from the board (LINK_ERR_NO_REPLY)\n");
    for (const auto& board : m_boards)
        EXPECT_EQ(board->Snapshot().Register(0x0010), board->Port() == kSilentPort ? 0 : 0xBEEF) << board->Port();
}

TEST_F(ManyBoards, ListGivesOneJsonObjectPerBoardInPortOrder)
{
    const RunResult r = Ctl({"--json", "--port", "47,41,COM43", "query", "status"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"port\":41,\"verb\":\"query status\",\"result\":\"LINK_OK\",\"code\":0,"
                     "\"frame\":\"02 03 00 00 01 03\",\"status\":0,\"frames\":[],\"exit\":0}\n"
                     "{\"port\":43,\"verb\":\"query status\",\"result\":\"LINK_OK\",\"code\":0,"
                     "\"frame\":\"02 03 00 00 01 03\",\"status\":0,\"frames\":[],\"exit\":0}\n"
                     "{\"port\":47,\"verb\":\"query status\",\"result\":\"LINK_OK\",\"code\":0,"
                     "\"frame\":\"02 03 00 00 01 03\",\"status\":0,\"frames\":[],\"exit\":0}\n");
}

TEST_F(ManyBoards, TheBoardsRunAtOnce)
{
    // Every board holds its reply back for 300 ms: one after another, a board
    // would see its frame only after the one before it had answered.
    for (const auto& board : m_boards) {
        SimBoardOptions o = board->BoardOptions();
        o.silent = false;
        o.delayMs = 300;
        board->SetBoardOptions(o);
    }
    const RunResult r = Ctl({"--port", "all", "query", "status"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::lock_guard<std::mutex> lock(m_eventsMutex);
    ASSERT_EQ(m_received.size(), static_cast<std::size_t>(kBoards));
    ASSERT_EQ(m_sent.size(), static_cast<std::size_t>(kBoards));
    const auto firstReply = *std::min_element(m_sent.begin(), m_sent.end());
    for (const auto& received : m_received)
        EXPECT_LT(received, firstReply) << "a board got its frame only after another had answered";
}

TEST_F(ManyBoards, BadListsAreRefusedBeforeAnythingIsSent)
{
    for (const char* list : {"41,x", "41,256", "41,,42"}) {
        const RunResult r = Ctl({"--port", list, "connect"});
        EXPECT_EQ(r.status, 2) << list;
        EXPECT_EQ(r.out, "") << list;
    }
    EXPECT_EQ(Ctl({"--port", "41,42", "set", "hue", "1"}).status, 2);
    EXPECT_EQ(Ctl({"--port", "all", "run", "-"}).status, 2);
    for (const auto& board : m_boards)
        EXPECT_EQ(board->Snapshot().FramesReceived(), 0u) << board->Port();
}

} // namespace
} // namespace pelvar::e2e
