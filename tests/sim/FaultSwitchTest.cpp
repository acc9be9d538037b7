// Faults switched while the board runs (the demo's menu): the next frame
// meets the new fault, the board's state stays; on the pseudo-terminal board
// the switch is taken from another thread while its own serves the line.
#include <gtest/gtest.h>

#include "camera/Commands.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/PtyBoard.h"
#include "tests/support/Frames.h"
#include "tests/support/TestEnvironment.h"

namespace pelvar {
namespace {

using test::Bytes;

std::vector<SimBoardExchange> Send(SimBoard& board, std::uint8_t cmd, const Bytes& payload)
{
    const Bytes frame = test::MakeFrame(cmd, payload);
    return board.Feed(frame.data(), frame.size());
}

TEST(FaultSwitch, TheNextFrameMeetsTheNewFaultAndTheStateStays)
{
    struct Row {
        const char* name;
        void (*apply)(SimBoardOptions&);
        bool replies;
        std::uint8_t firstPayloadByte; // of the reply, when it is a clean frame
        std::uint32_t delayMs;
    };
    const Row rows[] = {
        {"nak", [](SimBoardOptions& o) { o.nak = true; }, true, kNak, 0},
        {"silent", [](SimBoardOptions& o) { o.silent = true; }, false, 0, 0},
        {"slow", [](SimBoardOptions& o) { o.delayMs = 300; }, true, ACK, 300},
        {"dropEvery1", [](SimBoardOptions& o) { o.dropEvery = 1; }, false, 0, 0},
    };
    for (const Row& row : rows) {
        SimBoard board;
        ASSERT_EQ(Send(board, CMD_BRIGHTNESS, {200, 0, 0, 0}).at(0).reply.at(3), ACK) << row.name;
        SimBoardOptions o = board.Options();
        row.apply(o);
        board.SetOptions(o);
        const SimBoardExchange ex = Send(board, CMD_EDGE, {}).at(0);
        EXPECT_EQ(!ex.reply.empty(), row.replies) << row.name;
        if (row.replies) {
            EXPECT_EQ(ex.reply.at(3), row.firstPayloadByte) << row.name;
            EXPECT_EQ(ex.delayMs, row.delayMs) << row.name;
        }
        EXPECT_EQ(board.Adjust().brightness, 200) << row.name;
        // Switched off again, it answers as before.
        board.SetOptions(SimBoardOptions{});
        EXPECT_EQ(Send(board, CMD_GAMMA, {}).at(0).reply.at(3), ACK) << row.name;
    }
}

TEST(FaultSwitch, ThePseudoTerminalBoardTakesItWhileServing)
{
    test::TempDir dir;
    test::ScopedEnv env("PELVAR_PORTS_DIR", dir.Path());
    PtyBoardOptions options;
    options.port = 230;
    options.portsDir = dir.Path();
    PtyBoard board(options);
    ASSERT_EQ(board.Start(), 0) << board.ErrorText();

    PosixPlatform posix;
    CFrameLink link(230, 115200, posix);
    ASSERT_EQ(link.Open(), LINK_OK);
    EXPECT_EQ(link.Transact(CMD_EDGE, nullptr, 0), LINK_OK);

    SimBoardOptions nak = board.BoardOptions();
    nak.nak = true;
    board.SetBoardOptions(nak);
    EXPECT_TRUE(board.BoardOptions().nak);
    EXPECT_EQ(link.Transact(CMD_EDGE, nullptr, 0), LINK_ERR_NAK);

    board.SetBoardOptions(SimBoardOptions{});
    EXPECT_EQ(link.Transact(CMD_EDGE, nullptr, 0), LINK_OK);
    link.Close();
    board.Stop();
    // Edge acted on the two acknowledged frames only.
    EXPECT_EQ(board.Snapshot().CommandCount(CMD_EDGE), 2u);
}

} // namespace
} // namespace pelvar
