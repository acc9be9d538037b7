// pelvarctl --trace=decoded on the simulated clock: the exchange lines that
// the panel's saved log holds, beside or instead of the byte trace.
#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "camera/Commands.h"
#include "sim/SimBoard.h"
#include "tests/support/CtlCapture.h"
#include "tools/pelvarctl/CtlParse.h"

namespace pelvar {
namespace {

using test::CtlCapture;
using test::RunCtlCaptured;

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Line prefix up to the duration: the columns that do not depend on timing.
std::string Columns(const std::string& line) { return line.substr(12, 80); }

class DecodedTrace : public ::testing::Test {
protected:
    void SetUp() override { sim.AddPort(5, &board); }
    CtlCapture Run(const std::vector<std::string>& args) { return RunCtlCaptured(args, sim); }

    SimPlatform sim;
    SimBoardDevice board;
};

TEST(DecodedTraceOption, FormsAndRefusals)
{
    struct Row {
        std::vector<std::string> args;
        bool ok, bytes, decoded;
    };
    const Row rows[] = {
        {{"--trace", "connect"}, true, true, false},
        {{"--trace=bytes", "connect"}, true, true, false},
        {{"--trace=decoded", "connect"}, true, false, true},
        {{"--trace=both", "connect"}, true, true, true},
        {{"connect"}, true, false, false},
        {{"--trace=frames", "connect"}, false, false, false},
        {{"--trace=", "connect"}, false, false, false},
    };
    for (const Row& row : rows) {
        ParsedCommandLine p = ParseCommandLine(row.args);
        ASSERT_EQ(p.ok, row.ok) << row.args[0];
        if (!row.ok) {
            EXPECT_NE(p.error.find("--trace"), std::string::npos) << p.error;
            continue;
        }
        EXPECT_EQ(p.options.trace, row.bytes) << row.args[0];
        EXPECT_EQ(p.options.traceDecoded, row.decoded) << row.args[0];
    }
}

TEST_F(DecodedTrace, OneLinePerExchangeWithItsMeaningAndFrames)
{
    CtlCapture r = Run({"--port", "5", "--trace=decoded", "reg", "write", "0x10", "beef"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = LinesOf(r.err);
    ASSERT_EQ(lines.size(), 3u) << r.err;
    EXPECT_EQ(Columns(lines[0]).substr(0, 46), "status        status 0x00: not started        ");
    EXPECT_EQ(Columns(lines[1]).substr(0, 46), "reg_address   reg address 0x0010              ");
    EXPECT_EQ(Columns(lines[2]).substr(0, 46), "reg_write     reg 0x0010 = 0xbeef             ");
    EXPECT_NE(lines[1].find("LINK_OK"), std::string::npos);
    EXPECT_NE(lines[1].find("1 attempt"), std::string::npos);
    EXPECT_NE(lines[1].find("> 02 04 A5 10 00 B3 03  < 02 06 A5 06"), std::string::npos);
    for (const std::string& line : lines)
        EXPECT_EQ(line.find('.'), std::string::npos) << "a byte-trace line: " << line;
}

TEST_F(DecodedTrace, BothFormsTogetherAndInsideJson)
{
    CtlCapture both = Run({"--port", "5", "--trace=both", "press", "edge"});
    ASSERT_EQ(both.status, 0) << both.err;
    // Status probe and edge: two byte lines each, then one decoded line each.
    EXPECT_EQ(LinesOf(both.err).size(), 6u) << both.err;

    CtlCapture json = Run({"--port", "5", "--json", "--trace=decoded", "press", "edge"});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["frames"].size(), 2u);
    EXPECT_NE(j["frames"][1].get<std::string>().find("edge          edge"), std::string::npos);
}

TEST_F(DecodedTrace, RetriesAndFailuresShowInTheLine)
{
    SimBoardOptions nak;
    nak.nak = true;
    board.Board().SetOptions(nak);
    CtlCapture r = Run({"--port", "5", "--trace=decoded", "press", "edge"});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> lines = LinesOf(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_NE(lines[1].find("LINK_ERR_NAK"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("6 attempts"), std::string::npos) << lines[1];
}

} // namespace
} // namespace pelvar
