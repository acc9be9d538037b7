#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

#include "camera/Commands.h"
#include "platform/SysError.h"
#include "sim/SimBoard.h"
#include "tools/pelvarctl/CtlParse.h"
#include "tools/pelvarctl/CtlRunner.h"
#include "tests/support/CtlCapture.h"
#include "tests/support/Frames.h"

namespace pelvar {
namespace {

using test::Bytes;

struct ParseRow {
    const char* name;
    std::vector<std::string> args;
    bool ok;
    Verb verb;
    int port;
};

class CommandLine : public ::testing::TestWithParam<ParseRow> {};

TEST_P(CommandLine, ParsesOrRefusesWithOneLine)
{
    const ParseRow& row = GetParam();
    ParsedCommandLine p = ParseCommandLine(row.args);
    EXPECT_EQ(p.ok, row.ok) << p.error;
    if (!row.ok) {
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
        return;
    }
    EXPECT_EQ(p.command.verb, row.verb);
    EXPECT_EQ(p.options.port.IsNumber() ? p.options.port.number : 0, row.port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLine,
    ::testing::Values(
        ParseRow{"transactByName", {"--port", "7", "transact", "brightness", "c8000000"}, true, Verb::Transact, 7},
        ParseRow{
            "transactHexCode", {"--port", "255", "transact", "0x91", "c8", "00 00", "00"}, true, Verb::Transact, 255},
        ParseRow{"transactDecimal", {"--port", "1", "transact", "145"}, true, Verb::Transact, 1},
        ParseRow{"queryStatus", {"--port", "3", "query", "status"}, true, Verb::QueryStatus, 3},
        ParseRow{"queryRegRead", {"query", "regread"}, true, Verb::QueryRegRead, 0},
        ParseRow{"portWithEquals", {"--port=7", "--trace", "connect"}, true, Verb::Connect, 7},
        ParseRow{"optionsAfterVerbBelongToIt", {"ports", "--port", "7"}, false, Verb::Help, 0},
        ParseRow{"setBlue", {"set", "blue", "255"}, true, Verb::Set, 0},
        ParseRow{"pressTestPattern", {"press", "test-pattern"}, true, Verb::Press, 0},
        ParseRow{"regWrite", {"reg", "write", "0x10", "ff"}, true, Verb::RegWrite, 0},
        ParseRow{"regRead", {"--trace", "reg", "read", "10"}, true, Verb::RegRead, 0},
        ParseRow{"runStdin", {"run", "-"}, true, Verb::Run, 0}, ParseRow{"help", {"--help"}, true, Verb::Help, 0},
        ParseRow{"portsVerboseAfter", {"ports", "--verbose"}, true, Verb::Ports, 0},
        ParseRow{"portsExtra", {"ports", "now"}, false, Verb::Help, 0},
        ParseRow{"port0", {"--port", "0", "connect"}, false, Verb::Help, 0},
        ParseRow{"port256", {"--port", "256", "connect"}, false, Verb::Help, 0},
        ParseRow{"portComName", {"--port", "COM3", "connect"}, true, Verb::Connect, 3},
        ParseRow{"portNotAName", {"--port", "CON3", "connect"}, false, Verb::Help, 0},
        // The board answers a query with data, never ACK.
        ParseRow{"transactAQuery", {"--port", "1", "transact", "status"}, false, Verb::Help, 0},
        ParseRow{"portMissing", {"--port"}, false, Verb::Help, 0},
        ParseRow{"nonHexPayload", {"--port", "1", "transact", "brightness", "zz"}, false, Verb::Help, 0},
        ParseRow{"oddPayload", {"--port", "1", "transact", "brightness", "c80"}, false, Verb::Help, 0},
        ParseRow{"payloadTooLong", {"--port", "1", "transact", "init", std::string(506, 'a')}, false, Verb::Help, 0},
        ParseRow{"unknownCommand", {"--port", "1", "transact", "zoom"}, false, Verb::Help, 0},
        ParseRow{"codeTooBig", {"--port", "1", "transact", "0x100"}, false, Verb::Help, 0},
        ParseRow{"missingCommand", {"--port", "1", "transact"}, false, Verb::Help, 0},
        ParseRow{"missingVerb", {"--trace"}, false, Verb::Help, 0},
        ParseRow{"unknownVerb", {"explode"}, false, Verb::Help, 0},
        ParseRow{"setTooBig", {"set", "red", "256"}, false, Verb::Help, 0},
        ParseRow{"setNegative", {"set", "red", "-1"}, false, Verb::Help, 0},
        ParseRow{"setUnknown", {"set", "hue", "3"}, false, Verb::Help, 0},
        ParseRow{"pressUnknown", {"press", "zoom"}, false, Verb::Help, 0},
        ParseRow{"regMissingValue", {"reg", "write", "10"}, false, Verb::Help, 0},
        ParseRow{"queryUnknown", {"query", "temperature"}, false, Verb::Help, 0},
        ParseRow{"unknownOption", {"--fast", "connect"}, false, Verb::Help, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, PayloadKeepsFrameOrder)
{
    ParsedCommandLine p = ParseCommandLine({"--port", "2", "transact", "0x95", "80 00", "0000"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.command.cmd, 0x95);
    EXPECT_EQ(p.command.payload, (std::vector<std::uint8_t>{0x80, 0, 0, 0}));
    ParsedCommandLine named = ParseCommandLine({"--port", "2", "transact", "reg_address", "3412"});
    ASSERT_TRUE(named.ok);
    EXPECT_EQ(named.command.cmd, 0xA5);
}

TEST(ScriptLine, SkipsCommentsAndRefusesVerbsThatNeedTheirOwnConnection)
{
    EXPECT_TRUE(ParseScriptLine("   ").skip);
    EXPECT_TRUE(ParseScriptLine("# set red 3").skip);
    ParsedScriptLine set = ParseScriptLine("  set red 3 ");
    ASSERT_TRUE(set.ok);
    EXPECT_EQ(set.command.verb, Verb::Set);
    EXPECT_EQ(set.command.value, 3);
    EXPECT_FALSE(ParseScriptLine("run other.txt").ok);
    EXPECT_FALSE(ParseScriptLine("connect").ok);
    EXPECT_FALSE(ParseScriptLine("set red").ok);
}

// Runs pelvarctl in-process on a simulated board at COM5.
class PelvarctlRun : public ::testing::Test {
protected:
    void SetUp() override { sim.AddPort(5, &board); }

    int Run(std::vector<std::string> args)
    {
        char* outBuf = nullptr;
        char* errBuf = nullptr;
        std::size_t outLen = 0, errLen = 0;
        std::FILE* o = open_memstream(&outBuf, &outLen);
        std::FILE* e = open_memstream(&errBuf, &errLen);
        int status = RunPelvarctl(args, o, e, sim);
        std::fclose(o);
        std::fclose(e);
        out.assign(outBuf, outLen);
        err.assign(errBuf, errLen);
        std::free(outBuf);
        std::free(errBuf);
        return status;
    }

    SimPlatform sim;
    SimBoardDevice board;
    std::string out;
    std::string err;
};

TEST_F(PelvarctlRun, QueryStatusPrintsResultFrameAndStatus)
{
    EXPECT_EQ(Run({"--port", "5", "query", "status"}), 0);
    EXPECT_EQ(out, "result: LINK_OK (0)\nframe: 02 03 00 00 01 03\nstatus: 0x00\n");
}

// No reply, no value: "status: 0x00" would read as a board that said 0.
TEST_F(PelvarctlRun, QueriesWithoutAReplyPrintNoValue)
{
    SimBoardOptions silent;
    silent.silent = true;
    SimBoardDevice quiet(silent);
    SimPlatform p;
    p.AddPort(5, &quiet);
    for (const char* which : {"status", "regread"}) {
        const test::CtlCapture text = test::RunCtlCaptured({"--port", "5", "query", which}, p);
        EXPECT_EQ(text.status, 1) << which;
        EXPECT_EQ(text.out, "result: LINK_ERR_NO_REPLY (-2002)\n") << which;
        const test::CtlCapture json = test::RunCtlCaptured({"--json", "--port", "5", "query", which}, p);
        EXPECT_EQ(json.out.find("\"status\""), std::string::npos) << json.out;
        EXPECT_EQ(json.out.find("\"value\""), std::string::npos) << json.out;
    }
}

TEST_F(PelvarctlRun, ConnectStartsTheBoardAndNamesTheSensor)
{
    EXPECT_EQ(Run({"--port", "5", "connect"}), 0);
    EXPECT_EQ(out, "result: LINK_OK (0)\nport: 5\nsensor: ARVEN-L\n");
    EXPECT_EQ(board.Board().Status(), STATUS_ACTIVE | STATUS_SENSOR_L);
    EXPECT_FALSE(sim.IsOpen(5)) << "the port is released when pelvarctl ends";
}

TEST_F(PelvarctlRun, CaptureFileThatCannotBeWrittenStopsBeforeTheLine)
{
    EXPECT_EQ(Run({"--port", "5", "--capture", "/nonexistent-dir/s.pcapng", "set", "brightness", "200"}), 2);
    EXPECT_EQ(err.rfind("pelvarctl: --capture: cannot write '/nonexistent-dir/s.pcapng': ", 0), 0u) << err;
    // A device that takes nothing: the file opens, its first block fails.
    EXPECT_EQ(Run({"--port", "5", "--capture", "/dev/full", "set", "brightness", "200"}), 2);
    EXPECT_EQ(err, "pelvarctl: --capture: cannot write '/dev/full': " + DescribeErrno(ENOSPC) + "\n");
    EXPECT_EQ(board.Board().FramesReceived(), 0u);
}

TEST_F(PelvarctlRun, ConnectThatNamesNoSensorExitsOne)
{
    struct Row {
        const char* name;
        SimBoardOptions options;
        bool timesOut;
    };
    SimBoardOptions none;
    none.sensor = SensorKind::None;
    SimBoardOptions nak;
    nak.nak = true; // init refused: the status stays 0 until the 10 s bound
    for (const Row& r : {Row{"noSensorBit", none, false}, Row{"startTimesOut", nak, true}}) {
        SimBoardDevice device(r.options);
        SimPlatform p;
        p.AddPort(5, &device);
        char* buf = nullptr;
        std::size_t len = 0;
        std::FILE* o = open_memstream(&buf, &len);
        std::FILE* e = std::tmpfile();
        EXPECT_EQ(RunPelvarctl({"--port", "5", "connect"}, o, e, p), 1) << r.name;
        std::fclose(o);
        std::fclose(e);
        EXPECT_NE(std::string(buf, len).find("port: 5\nsensor: init error\n"), std::string::npos) << r.name;
        std::free(buf);
        EXPECT_EQ(p.Now() >= 10000, r.timesOut) << r.name;
        EXPECT_FALSE(p.IsOpen(5)) << r.name;
    }
}

TEST_F(PelvarctlRun, VerbsDriveTheBoard)
{
    ASSERT_EQ(Run({"--port", "5", "connect"}), 0);
    EXPECT_EQ(Run({"--port", "5", "set", "brightness", "200"}), 0);
    EXPECT_EQ(out, "result: LINK_OK (0)\n");
    EXPECT_EQ(board.Board().Adjust().brightness, 200);
    EXPECT_EQ(Run({"--port", "5", "press", "edge"}), 0);
    EXPECT_EQ(board.Board().CommandCount(CMD_EDGE), 1u);
    EXPECT_EQ(Run({"--port", "5", "reg", "write", "0x10", "beef"}), 0);
    EXPECT_EQ(board.Board().Register(0x10), 0xBEEF);
    EXPECT_EQ(Run({"--port", "5", "reg", "read", "10"}), 0);
    EXPECT_EQ(out, "result: LINK_OK (0)\nvalue: 0xbeef\n");
    EXPECT_EQ(Run({"--port", "5", "transact", "gamma"}), 0);
    EXPECT_EQ(board.Board().CommandCount(CMD_GAMMA), 1u);
    EXPECT_EQ(Run({"--port", "5", "disconnect"}), 0);
    EXPECT_EQ(board.Board().Status() & STATUS_ACTIVE, 0);
}

TEST_F(PelvarctlRun, UsageErrorsSendNothing)
{
    EXPECT_EQ(Run({"--port", "5", "transact", "brightness", "xyz"}), 2);
    EXPECT_EQ(Run({"--port", "256", "connect"}), 2);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(err.find("pelvarctl: --port"), std::string::npos);
    EXPECT_EQ(sim.OpenCalls(5), 0);
}

TEST_F(PelvarctlRun, SilentBoardExitsOneWithTheReason)
{
    SimPlatform quiet;
    quiet.AddPort(6);
    char* outBuf = nullptr;
    std::size_t outLen = 0;
    std::FILE* o = open_memstream(&outBuf, &outLen);
    std::FILE* e = std::tmpfile();
    EXPECT_EQ(RunPelvarctl({"--port", "6", "press", "edge"}, o, e, quiet), 1);
    std::fclose(o);
    std::fclose(e);
    EXPECT_EQ(std::string(outBuf, outLen), "result: LINK_ERR_NO_REPLY (-2002)\n");
    std::free(outBuf);
    EXPECT_FALSE(quiet.IsOpen(6));
}

TEST_F(PelvarctlRun, PermissionDeniedNamesTheProblem)
{
    sim.FailOpen(5, EACCES);
    EXPECT_EQ(Run({"--port", "5", "connect"}), 1);
    EXPECT_NE(err.find("permission denied"), std::string::npos) << err;
    EXPECT_NE(err.find("log in again"), std::string::npos) << err;
}

TEST_F(PelvarctlRun, DisconnectWithoutReplyGoesToStandardError)
{
    SimBoardOptions options;
    options.dropEvery = 2; // the probe is answered, the disconnect's query is not
    SimBoardDevice flaky(options);
    SimPlatform p;
    p.AddPort(5, &flaky);
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* o = std::tmpfile();
    std::FILE* e = open_memstream(&buf, &len);
    EXPECT_EQ(RunPelvarctl({"--port", "5", "disconnect"}, o, e, p), 1);
    std::fclose(o);
    std::fclose(e);
    EXPECT_EQ(std::string(buf, len), "No reply from camera.\n");
    std::free(buf);
}

TEST_F(PelvarctlRun, ConnectEndsAtOnceWhenTheDeviceGoesAfterTheProbe)
{
    SimBoardOptions options;
    options.hangupAfter = 1; // the probe is answered, then the line is gone
    SimBoardDevice leaving(options);
    SimPlatform p;
    p.AddPort(5, &leaving);
    char* outBuf = nullptr;
    char* errBuf = nullptr;
    std::size_t outLen = 0, errLen = 0;
    std::FILE* o = open_memstream(&outBuf, &outLen);
    std::FILE* e = open_memstream(&errBuf, &errLen);
    EXPECT_EQ(RunPelvarctl({"--port", "5", "connect"}, o, e, p), 1);
    std::fclose(o);
    std::fclose(e);
    EXPECT_EQ(std::string(outBuf, outLen), "result: LINK_ERR_SEND (-2001)\n");
    EXPECT_EQ(std::string(errBuf, errLen),
              "pelvarctl: COM5 (sim:COM5): the device has gone: absent (Input/output error) (LINK_ERR_SEND)\n");
    std::free(outBuf);
    std::free(errBuf);
    EXPECT_LT(p.Now(), 2000u) << "not the 10 s bound";
    EXPECT_FALSE(p.IsOpen(5));
}

// With --port the raw verbs put exactly their own exchange on the line.
const Bytes kBrightnessC8 = {0x02, 0x06, 0x91, 0xC8, 0x00, 0x00, 0x00, 0x5D, 0x03};

struct RawRow {
    const char* name;
    std::vector<std::string> verb;
    Bytes frame;
};

class PelvarctlRawVerb : public PelvarctlRun, public ::testing::WithParamInterface<RawRow> {};

TEST_P(PelvarctlRawVerb, SendsOnlyItsOwnFrame)
{
    const RawRow& row = GetParam();
    std::vector<std::string> args = {"--port", "5"};
    args.insert(args.end(), row.verb.begin(), row.verb.end());
    EXPECT_EQ(Run(args), 0) << err;
    EXPECT_EQ(sim.WrittenBytes(5), row.frame);
    EXPECT_FALSE(sim.IsOpen(5));
}

INSTANTIATE_TEST_SUITE_P(Table, PelvarctlRawVerb,
                         ::testing::Values(RawRow{"queryStatus", {"query", "status"}, {0x02, 0x02, 0x00, 0x00, 0x03}},
                                           RawRow{"queryRegRead", {"query", "regread"}, {0x02, 0x02, 0x24, 0x24, 0x03}},
                                           RawRow{"transact", {"transact", "0x91", "c8000000"}, kBrightnessC8}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every name of `set` and `press` after the probe of the detection: exactly
// one frame, written here from the protocol. A name that is not known is
// refused before any port is opened.
struct NameRow {
    const char* name;
    std::vector<std::string> verb;
    int status;
    Bytes frame; // empty: nothing may be sent
};

class PelvarctlName : public PelvarctlRun, public ::testing::WithParamInterface<NameRow> {};

TEST_P(PelvarctlName, SendsTheFrameOfThatName)
{
    const NameRow& row = GetParam();
    std::vector<std::string> args = {"--port", "5"};
    args.insert(args.end(), row.verb.begin(), row.verb.end());
    EXPECT_EQ(Run(args), row.status) << err;
    std::vector<Bytes> writes;
    for (const SimWrite& w : sim.Writes(5))
        writes.push_back(w.bytes);
    std::vector<Bytes> expected;
    if (!row.frame.empty())
        expected = {{0x02, 0x02, 0x00, 0x00, 0x03}, row.frame};
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(sim.OpenCalls(5), row.frame.empty() ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PelvarctlName,
    ::testing::Values(
        NameRow{"brightness", {"set", "brightness", "1"}, 0, {0x02, 0x06, 0x91, 0x01, 0, 0, 0, 0x94, 0x03}},
        NameRow{"contrast", {"set", "contrast", "127"}, 0, {0x02, 0x06, 0x92, 0x7F, 0, 0, 0, 0xE9, 0x03}},
        NameRow{"red", {"set", "red", "255"}, 0, {0x02, 0x06, 0x93, 0xFF, 0, 0, 0, 0x68, 0x03}},
        NameRow{"green", {"set", "green", "0"}, 0, {0x02, 0x06, 0x94, 0x00, 0, 0, 0, 0x90, 0x03}},
        NameRow{"blue", {"set", "blue", "16"}, 0, {0x02, 0x06, 0x95, 0x10, 0, 0, 0, 0x81, 0x03}},
        NameRow{"edge", {"press", "edge"}, 0, {0x02, 0x02, 0x1A, 0x1A, 0x03}},
        NameRow{"scale", {"press", "scale"}, 0, {0x02, 0x02, 0x17, 0x17, 0x03}},
        NameRow{"gamma", {"press", "gamma"}, 0, {0x02, 0x02, 0x1B, 0x1B, 0x03}},
        NameRow{"testPattern", {"press", "test-pattern"}, 0, {0x02, 0x02, 0xA6, 0xA6, 0x03}},
        NameRow{"left", {"press", "left"}, 0, {0x02, 0x02, 0x21, 0x21, 0x03}},
        NameRow{"right", {"press", "right"}, 0, {0x02, 0x02, 0x20, 0x20, 0x03}},
        NameRow{"up", {"press", "up"}, 0, {0x02, 0x02, 0x22, 0x22, 0x03}},
        NameRow{"down", {"press", "down"}, 0, {0x02, 0x02, 0x23, 0x23, 0x03}},
        NameRow{"init", {"press", "init"}, 0, {0x02, 0x02, 0x70, 0x70, 0x03}},
        NameRow{"release", {"press", "release"}, 0, {0x02, 0x02, 0xF0, 0xF0, 0x03}},
        NameRow{"func16", {"press", "func16"}, 0, {0x02, 0x02, 0x16, 0x16, 0x03}},
        NameRow{"func18", {"press", "func18"}, 0, {0x02, 0x02, 0x18, 0x18, 0x03}},
        NameRow{"func19", {"press", "func19"}, 0, {0x02, 0x02, 0x19, 0x19, 0x03}},
        NameRow{"unknownSlider", {"set", "hue", "3"}, 2, {}},
        NameRow{"prefixOfASlider", {"set", "bright", "3"}, 2, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PelvarctlRun, RawTransactToASilentBoardRunsAllSixAttempts)
{
    SimPlatform quiet;
    quiet.AddPort(6);
    std::FILE* o = std::tmpfile();
    std::FILE* e = std::tmpfile();
    EXPECT_EQ(RunPelvarctl({"--port", "6", "transact", "0x91", "c8000000"}, o, e, quiet), 1);
    std::fclose(o);
    std::fclose(e);
    ASSERT_EQ(quiet.Writes(6).size(), 6u) << "no status probe before the transaction";
    for (const SimWrite& w : quiet.Writes(6))
        EXPECT_EQ(w.bytes, kBrightnessC8);
    EXPECT_EQ(quiet.Now(), 6u * (10 + 2 + 500));
}

TEST_F(PelvarctlRun, RawVerbOnAPortThatCannotBeOpenedNamesTheReason)
{
    sim.FailOpen(5, EACCES);
    EXPECT_EQ(Run({"--port", "5", "query", "status"}), 1);
    EXPECT_EQ(out, "result: PORT_ERR_CONFIG (-1003)\n");
    EXPECT_NE(err.find("permission denied"), std::string::npos) << err;
    EXPECT_TRUE(sim.WrittenBytes(5).empty());
}

} // namespace
} // namespace pelvar
