// The exchange log on the simulated clock: what each exchange meant, its
// attempts, its time and its frames, taken from a real link to the
// simulated board; and that listening changes nothing on the wire.
#include <gtest/gtest.h>

#include "camera/BoardConnection.h"
#include "camera/CameraController.h"
#include "camera/ControlIds.h"
#include "camera/ExchangeLog.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"

namespace pelvar {
namespace {

using test::FakeView;
using Bytes = std::vector<std::uint8_t>;

class ExchangeLogTest : public ::testing::Test {
protected:
    void Start(const SimBoardOptions& options = {})
    {
        board = std::make_unique<SimBoardDevice>(options);
        sim.AddPort(5, board.get());
        view.ports.push_back("Board (COM5)");
        cam.SetLinkTap(&log);
        std::uint8_t status = 0;
        ASSERT_TRUE(cam.DetectBoard(&status));
        records.clear();
        log.MarkOrigin();
    }

    SimPlatform sim;
    FakeView view;
    CameraController cam{view, sim};
    std::unique_ptr<SimBoardDevice> board;
    std::vector<ExchangeRecord> records;
    ExchangeLog log{sim, [this](const ExchangeRecord& r) { records.push_back(r); }};
};

TEST_F(ExchangeLogTest, EachOperationIsDecodedFromItsPayloadAndReply)
{
    Start();
    cam.StartBoard(0); // init, status poll, blue gain for ARVEN-L
    cam.OnHScroll(IDC_BRIGHTNESS, 200);
    view.texts[IDC_REG_ADDRESS] = "0x0010";
    view.texts[IDC_REG_CONTENT] = "0xbeef";
    cam.OnRegisterWrite();
    cam.OnRegisterRead();
    cam.OnFunctionButton(IDC_EDGE);

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"init", "init"},
        {"status", "status 0x11: active, ARVEN-L"},
        {"gain_blue", "blue 128"},
        {"brightness", "brightness 200"},
        {"reg_address", "reg address 0x0010"},
        {"reg_write", "reg 0x0010 = 0xbeef"},
        {"reg_address", "reg address 0x0010"},
        {"reg_read", "reg 0x0010 reads 0xbeef"},
        {"edge", "edge"},
    };
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(CommandName(records[i].cmd), expected[i].first) << i;
        EXPECT_EQ(ExchangeMeaning(records[i]), expected[i].second) << i;
        EXPECT_EQ(records[i].result, LINK_OK) << i;
        EXPECT_EQ(records[i].attempts, 1u) << i;
        EXPECT_FALSE(ExchangeStandsOut(records[i])) << i;
    }
}

// Meanings that depend on the status bits and on what the board latched.
TEST(ExchangeMeaningTest, StatusBitsAndRegisterContext)
{
    struct Case {
        std::uint8_t cmd;
        Bytes payload;
        bool query;
        std::int32_t result;
        std::uint32_t value;
        bool latched;
        const char* meaning;
    };
    const Case cases[] = {
        {CMD_STATUS, {}, true, LINK_OK, 0x00, false, "status 0x00: not started"},
        {CMD_STATUS, {}, true, LINK_OK, 0x21, false, "status 0x21: active, ARVEN-S"},
        {CMD_STATUS, {}, true, LINK_OK, 0x10, false, "status 0x10: inactive, ARVEN-L"},
        {CMD_STATUS, {}, true, LINK_OK, 0x01, false, "status 0x01: active"},
        {CMD_STATUS, {}, true, LINK_ERR_NO_REPLY, 0, false, "status"},
        {CMD_REG_WRITE, {0xef, 0xbe}, false, LINK_OK, 0, false, "reg ? = 0xbeef"},
        {CMD_REG_READ, {}, true, LINK_ERR_NO_REPLY, 0, true, "reg 0x0010 read"},
        {CMD_GAIN_RED, {0x8c, 0, 0, 0}, false, LINK_OK, 0, false, "red 140"},
        {CMD_TEST_PATTERN, {}, false, LINK_OK, 0, false, "test_pattern"},
        {0x3f, {0x01, 0x02}, false, LINK_ERR_NAK, 0, false, "0x3f 01 02"},
    };
    for (const Case& c : cases) {
        ExchangeRecord r;
        r.cmd = c.cmd;
        r.payload = c.payload;
        r.query = c.query;
        r.result = c.result;
        r.value = c.value;
        r.addressKnown = c.latched;
        r.address = 0x0010;
        EXPECT_EQ(ExchangeMeaning(r), c.meaning);
    }
}

TEST_F(ExchangeLogTest, RetriesAreCountedAndTheirFramesKept)
{
    SimBoardOptions drop;
    drop.dropEvery = 2; // the probe was frame 1: the next reply is lost
    Start(drop);
    cam.OnFunctionButton(IDC_EDGE);
    ASSERT_EQ(records.size(), 1u);
    const ExchangeRecord& r = records[0];
    EXPECT_EQ(r.result, LINK_OK);
    EXPECT_EQ(r.attempts, 2u);
    EXPECT_TRUE(ExchangeStandsOut(r));
    // Two frames out, one reply in; the first attempt waited out its window.
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_TRUE(r.frames[0].sent);
    EXPECT_TRUE(r.frames[1].sent);
    EXPECT_FALSE(r.frames[2].sent);
    EXPECT_EQ(r.frames[0].bytes, (Bytes{0x02, 0x02, 0x1A, 0x1A, 0x03}));
    EXPECT_GE(r.durationMs, 500u);
}

TEST_F(ExchangeLogTest, TimesCountFromTheOriginOnTheSimulatedClock)
{
    Start();
    sim.Advance(1000);
    cam.OnFunctionButton(IDC_EDGE);
    cam.OnFunctionButton(IDC_GAMMA);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].atMs, 1000u);
    // Each exchange's time is its own: the second starts where the first ended.
    EXPECT_EQ(records[1].atMs, records[0].atMs + records[0].durationMs);
    EXPECT_GT(records[0].durationMs, 0u);
}

TEST_F(ExchangeLogTest, ARefusedAddressLeavesTheRegisterUnknown)
{
    Start();
    view.texts[IDC_REG_ADDRESS] = "0x0010";
    view.texts[IDC_REG_CONTENT] = "0x0001";
    cam.OnRegisterWrite();
    SimBoardOptions silent;
    silent.silent = true; // nothing answers from here on
    board->Board().SetOptions(silent);
    view.texts[IDC_REG_ADDRESS] = "0x0020";
    cam.OnRegisterWrite();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].cmd, CMD_REG_ADDRESS);
    EXPECT_NE(records[2].result, LINK_OK);
    EXPECT_EQ(records[2].attempts, 6u);

    // A write now would be shown as to an unknown register, not to 0x0010.
    log.ExchangeBegun(CMD_REG_WRITE, Bytes{1, 0}.data(), 2, false);
    log.ExchangeEnded(LINK_OK, 1, 0);
    EXPECT_EQ(ExchangeMeaning(records.back()), "reg ? = 0x0001");
}

TEST_F(ExchangeLogTest, ANewConnectionLeavesTheRegisterUnknown)
{
    Start();
    view.texts[IDC_REG_ADDRESS] = "0x0010";
    view.texts[IDC_REG_CONTENT] = "0x0001";
    cam.OnRegisterWrite();
    ASSERT_EQ(ExchangeMeaning(records.back()), "reg 0x0010 = 0x0001");
    log.MarkOrigin(); // the board may have been restarted meanwhile
    log.ExchangeBegun(CMD_REG_WRITE, Bytes{2, 0}.data(), 2, false);
    log.ExchangeEnded(LINK_OK, 1, 0);
    EXPECT_EQ(ExchangeMeaning(records.back()), "reg ? = 0x0002");
}

TEST(ExchangeLineTest, OneLineWithEveryColumnAndTheFrames)
{
    ExchangeRecord r;
    r.atMs = 512;
    r.cmd = CMD_BRIGHTNESS;
    r.payload = {0xc8, 0, 0, 0};
    r.attempts = 2;
    r.durationMs = 522;
    r.frames = {{true, {0x02, 0x06, 0x91, 0xC8, 0, 0, 0, 0x5D, 0x03}}, {false, {0x02, 0x03}}};
    EXPECT_EQ(ExchangeLine(r), "    512 ms  brightness    brightness 200                  LINK_OK                  "
                               "2 attempts    522 ms  > 02 06 91 C8 00 00 00 5D 03  < 02 03");
}

TEST(ExchangeLineTest, BytesNotKeptAreCountedWhereTheyWere)
{
    ExchangeRecord r;
    r.cmd = CMD_STATUS;
    r.query = true;
    r.result = LINK_ERR_NO_REPLY;
    r.frames = {{true, {0x02, 0x02, 0x00, 0x00, 0x03}}, {false, {0xFF, 0xFF}}, {false, {0xFF, 0x02}, 0, 31488}};
    const std::string line = ExchangeLine(r);
    EXPECT_EQ(line.substr(line.find("  > ")), "  > 02 02 00 00 03  < FF FF  [31488 bytes not kept]  < FF 02");
}

// A line that floods the host with noise (a hostile server, a wrong bit
// rate): the board's reply comes after 400 ms of it.
class FloodingBoard : public ISimDevice {
public:
    FloodingBoard() : m_board(Delayed()) {}
    void OnHostBytes(SimLine& line, const std::uint8_t* data, std::size_t n) override
    {
        for (std::uint32_t ms = 0; ms < 400; ++ms)
            line.Send(ms, std::vector<std::uint8_t>(60, 0xFF));
        m_board.OnHostBytes(line, data, n);
    }

private:
    static SimBoardOptions Delayed()
    {
        SimBoardOptions o;
        o.delayMs = 450;
        return o;
    }
    SimBoardDevice m_board;
};

TEST(ExchangeLogFloodTest, OneExchangeKeepsTheFirstAndLastBytesAndCountsTheRest)
{
    SimPlatform sim;
    FloodingBoard flood;
    sim.AddPort(5, &flood);
    std::vector<ExchangeRecord> records;
    ExchangeLog log(sim, [&](const ExchangeRecord& r) { records.push_back(r); });
    BoardConnection board(sim);
    board.SetTap(&log);
    ASSERT_EQ(board.Attach(5), LINK_OK);
    const QueryResult q = board.QueryStatus();
    EXPECT_EQ(q.result, LINK_OK) << "the reply after the noise is still taken";
    ASSERT_EQ(records.size(), 1u);
    const ExchangeRecord& r = records[0];
    std::size_t kept = 0;
    std::uint64_t notKept = 0;
    for (std::size_t i = 1; i < r.frames.size(); ++i) {
        EXPECT_FALSE(r.frames[i].sent);
        kept += r.frames[i].bytes.size();
        notKept += r.frames[i].notKeptBefore;
    }
    // 24,000 bytes of noise and the 6 of the reply: 256 + 512 kept.
    EXPECT_EQ(kept, 768u);
    EXPECT_EQ(notKept, 23238u);
    EXPECT_EQ(r.frames.back().bytes, (Bytes{0x02, 0x03, 0x00, 0x00, 0x01, 0x03}));
    EXPECT_NE(ExchangeLine(r).find("  [23238 bytes not kept]  < FF FF"), std::string::npos) << ExchangeLine(r);
}

// Listening must not change what goes over the line.
TEST(ExchangeLogWireTest, TheTapLeavesTheWireTrafficAsItWas)
{
    auto session = [](bool tapped) {
        SimPlatform sim;
        SimBoardDevice board;
        sim.AddPort(5, &board);
        FakeView view;
        view.ports.push_back("Board (COM5)");
        CameraController cam(view, sim);
        ExchangeLog log(sim, [](const ExchangeRecord&) {});
        if (tapped)
            cam.SetLinkTap(&log);
        cam.OnConnect();
        cam.OnHScroll(IDC_BRIGHTNESS, 7);
        cam.OnRegisterRead();
        cam.OnDisconnect();
        std::vector<SimWrite> writes = sim.Writes(5);
        return std::make_pair(writes.size(), sim.WrittenBytes(5));
    };
    const auto plain = session(false);
    const auto tapped = session(true);
    EXPECT_GT(plain.first, 5u);
    EXPECT_EQ(plain, tapped);
}

} // namespace
} // namespace pelvar
