// pelvarctl --port all and --port LIST against eight simulated boards on
// pseudo-terminals: every board answers in port order, a silent one fails
// alone and sets the exit status; one capture holds every board's frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/PtyBoard.h"
#include "tests/e2e/Process.h"

namespace pelvar::e2e {
namespace {

constexpr int kFirstPort = 40;
constexpr int kBoards = 8;
constexpr int kSilentPort = 44;

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::string Hex(const std::uint8_t* bytes, std::size_t n)
{
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, i ? " %02X" : "%02X", bytes[i]);
        text += two;
    }
    return text;
}

// A pcapng file as Wireshark reads it: its interfaces' names (if_name) and,
// per interface, its packets as "> 02 02 00 00 03" (outbound) or "< ..." (inbound).
struct Pcapng {
    std::vector<std::string> interfaces;
    std::vector<std::vector<std::string>> packets;
};

Pcapng ReadPcapng(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    Pcapng file;
    for (std::size_t at = 0; at + 12 <= b.size();) {
        const std::uint32_t type = Le32(b, at);
        const std::uint32_t length = Le32(b, at + 4);
        if (length < 12 || at + length > b.size()) {
            ADD_FAILURE() << "block at " << at << " runs past the end";
            break;
        }
        const std::size_t body = at + 8;
        if (type == 1) { // Interface Description Block: options after 8 bytes
            std::string name;
            for (std::size_t o = body + 8; o + 4 <= at + length - 4;) {
                const std::uint16_t code = Le16(b, o);
                const std::uint16_t size = Le16(b, o + 2);
                if (code == 0)
                    break;
                if (code == 2)
                    name.assign(reinterpret_cast<const char*>(&b[o + 4]), size);
                o += 4 + (size + 3u) / 4 * 4;
            }
            file.interfaces.push_back(name);
            file.packets.emplace_back();
        } else if (type == 6) { // Enhanced Packet Block
            const std::uint32_t id = Le32(b, body);
            const std::uint32_t captured = Le32(b, body + 12);
            const std::size_t options = body + 20 + (captured + 3u) / 4 * 4;
            // epb_flags (2): 1 inbound, 2 outbound.
            const bool outbound = Le16(b, options) == 2 && Le32(b, options + 4) == 2;
            if (id >= file.packets.size()) {
                ADD_FAILURE() << "packet on interface " << id << ", which no block described before it";
                break;
            }
            file.packets[id].push_back((outbound ? "> " : "< ") + Hex(&b[body + 20], captured));
        }
        at += length;
    }
    return file;
}

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

TEST_F(ManyBoards, OneCaptureHoldsEachBoardUnderItsOwnInterface)
{
    // Each board acknowledges with a payload of its own length, so that its
    // reply tells which board answered.
    for (int port = 41; port <= 43; ++port) {
        PtyBoard& board = *m_boards[static_cast<std::size_t>(port - kFirstPort)];
        SimBoardOptions o = board.BoardOptions();
        o.ackBytes = static_cast<std::uint32_t>(port - 40);
        board.SetBoardOptions(o);
    }
    PortsDir files;
    const std::string path = files.Path() + "/boards.pcapng";
    const RunResult r = Ctl({"--port", "43,41,42", "--capture", path, "set", "brightness", "200"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "COM41: result: LINK_OK (0)\nCOM42: result: LINK_OK (0)\nCOM43: result: LINK_OK (0)\n");
    const Pcapng file = ReadPcapng(path);
    EXPECT_EQ(file.interfaces, (std::vector<std::string>{"COM41", "COM42", "COM43"}));
    ASSERT_EQ(file.packets.size(), 3u);
    const std::vector<std::string> head{"> 02 02 00 00 03", "< 02 03 00 00 01 03", "> 02 06 91 C8 00 00 00 5D 03"};
    const char* acks[] = {"< 02 03 91 06 96 03", "< 02 04 91 06 00 91 03", "< 02 05 91 06 00 00 90 03"};
    for (std::size_t i = 0; i < 3; ++i) {
        std::vector<std::string> expected = head;
        expected.push_back(acks[i]);
        EXPECT_EQ(file.packets[i], expected) << file.interfaces[i];
    }
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
    for (const auto& [list, entry] : {std::pair{"41,x", "x"}, {"41,256", "256"}, {"41,,42", ""}}) {
        const RunResult r = Ctl({"--port", list, "connect"});
        EXPECT_EQ(r.status, 2) << list;
        EXPECT_EQ(r.out, "") << list;
        EXPECT_EQ(r.err, std::string("pelvarctl: --port: '") + entry
                             + "' is not a port number from 1 to 255, COMn, a device path or rfc2217://HOST:PORT\n")
            << list;
    }
    const RunResult hue = Ctl({"--port", "41,42", "set", "hue", "1"});
    EXPECT_EQ(hue.status, 2);
    EXPECT_EQ(hue.err, "pelvarctl: set: unknown adjustment 'hue' (brightness, contrast, red, green, blue)\n");
    const RunResult stdinScript = Ctl({"--port", "all", "run", "-"});
    EXPECT_EQ(stdinScript.status, 2);
    EXPECT_EQ(stdinScript.err, "pelvarctl: run -: standard input can feed one board only; give the script as a file\n");
    // Listeners would each write the capture: one listening port only.
    PortsDir files;
    const std::string capture = files.Path() + "/listen.pcapng";
    const RunResult monitor = Ctl({"--port", "41,42", "--capture", capture, "monitor"});
    EXPECT_EQ(monitor.status, 2);
    EXPECT_EQ(monitor.err, "pelvarctl: monitor: --port N names the listening port\n");
    EXPECT_FALSE(std::filesystem::exists(capture));
    for (const auto& board : m_boards)
        EXPECT_EQ(board->Snapshot().FramesReceived(), 0u) << board->Port();
}

} // namespace
} // namespace pelvar::e2e
