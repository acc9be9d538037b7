// pelvarctl against pelvar-sim: every verb and every fault the board can
// inject, with the exit status, the result, the time bound and the board's
// state afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include <csignal>
#include <cstdlib>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/PosixPlatform.h"
#include "tests/e2e/Process.h"
#include "tests/support/TestEnvironment.h"

namespace pelvar::e2e {
namespace {

struct CtlRow {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> ctlArgs;
    int status;
    std::string out;        // must appear in standard output
    std::string state;      // must appear in the board's state afterwards
    std::string input = {}; // standard input (run -)
};

constexpr const char* kExampleMap = PELVAR_SOURCE_DIR "/res/registers.example.json";
constexpr const char* kExamplePreset = PELVAR_SOURCE_DIR "/res/preset.example.json";

class CtlAgainstSim : public ::testing::TestWithParam<CtlRow> {};

TEST_P(CtlAgainstSim, ExitStatusResultTimeAndBoardState)
{
    const CtlRow& row = GetParam();
    PortsDir dir;
    ASSERT_FALSE(dir.Path().empty());
    std::vector<std::string> simArgv = {PELVAR_SIM_PATH, "--com", "200", "--state"};
    simArgv.insert(simArgv.end(), row.simArgs.begin(), row.simArgs.end());
    Background sim(simArgv, {dir.Env()});
    const std::string first = sim.FirstLine();
    ASSERT_EQ(first.rfind("COM200 /dev/pts/", 0), 0u) << first;

    std::vector<std::string> ctl = {PELVARCTL_PATH};
    ctl.insert(ctl.end(), row.ctlArgs.begin(), row.ctlArgs.end());
    RunResult r = RunProgram(ctl, {dir.Env()}, row.input);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
    EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out << r.err;

    int simStatus = -1;
    const std::string state = sim.Stop(&simStatus);
    EXPECT_EQ(simStatus, 0);
    EXPECT_NE(state.find(row.state), std::string::npos) << state;
}

// What the board received and the exit status; the time each verb takes is
// measured in bench/ and pinned on the simulated clock (the start-up poll's
// 10 s bound: PelvarctlRun.ConnectThatNamesNoSensorExitsOne).
INSTANTIATE_TEST_SUITE_P(
    Table, CtlAgainstSim,
    ::testing::Values(
        CtlRow{"connect", {}, {"connect"}, 0, "port: 200\nsensor: ARVEN-L\n", "init 1, release 0"},
        CtlRow{"connectSensorS", {"--sensor", "S"}, {"connect"}, 0, "sensor: ARVEN-S", "sensor S"},
        CtlRow{"connectNoSensor",
               {"--sensor", "none"},
               {"--port", "200", "connect"},
               1,
               "sensor: init error",
               "status 0x01"},
        CtlRow{"setBrightness", {}, {"set", "brightness", "200"}, 0, "result: LINK_OK (0)", "brightness 200"},
        CtlRow{"pressEdge", {}, {"press", "edge"}, 0, "result: LINK_OK (0)", "edge 1"},
        CtlRow{"pressArrowLeft", {}, {"press", "left"}, 0, "result: LINK_OK (0)", "arrow_left 1"},
        CtlRow{"regWrite", {}, {"reg", "write", "0x10", "beef"}, 0, "result: LINK_OK (0)", "0x0010=0xbeef"},
        CtlRow{"regReadUnwritten", {}, {"reg", "read", "20"}, 0, "value: 0x0000", "latched address 0x0020"},
        CtlRow{"transactByName",
               {},
               {"--port", "200", "transact", "brightness", "c8 00 00 00"},
               0,
               "LINK_OK",
               "brightness 200"},
        CtlRow{"queryStatus", {}, {"query", "status"}, 0, "frame: 02 03 00 00 01 03\nstatus: 0x00", "frames 2,"},
        CtlRow{"queryRegRead", {}, {"query", "regread"}, 0, "value: 0x0000", "frames 2,"},
        CtlRow{"disconnectInactive", {}, {"disconnect"}, 0, "LINK_OK", "init 0, release 0"},
        CtlRow{"runScript",
               {},
               {"run", "-"},
               0,
               "result: LINK_OK",
               "red 1\ngreen 2",
               "set red 1\n# comment\nset green 2\npress up\n"},
        CtlRow{"runBadLineSendsNothing", {}, {"run", "-"}, 2, "", "frames 0,", "set red 1\nset hue 2\n"},
        CtlRow{"silent", {"--silent"}, {"connect"}, 1, "result: LINK_ERR_NO_REPLY (-2002)", "replies 0"},
        CtlRow{"nakOnTransaction",
               {"--nak"},
               {"set", "contrast", "9"},
               1,
               "result: LINK_ERR_NAK (-2009)",
               "contrast 128"},
        CtlRow{"delayedReplies", {"--delay-ms", "100"}, {"press", "gamma"}, 0, "LINK_OK", "gamma 1"},
        CtlRow{"droppedReplyIsRetried", {"--drop-every", "2"}, {"set", "red", "77"}, 0, "LINK_OK", "red 77"},
        CtlRow{"strayByteBeforeReplies", {"--garbage"}, {"connect"}, 1, "LINK_ERR_NO_REPLY", "frames 1,"},
        CtlRow{"corruptReplies", {"--corrupt"}, {"connect"}, 1, "LINK_ERR_CHECKSUM", "frames 1,"},
        CtlRow{"hangUpAfterProbe", {"--hangup-after", "1"}, {"press", "edge"}, 1, "LINK_ERR_", "hung up"},
        CtlRow{"sixByteAcknowledge",
               {"--ack-bytes", "1"},
               {"--port", "200", "press", "scale"},
               0,
               "LINK_OK",
               "scale 1"},
        // The bring-up verbs: registers by name, dumps, verified writes, watching, scripts that check.
        CtlRow{"dumpRange",
               {},
               {"reg", "dump", "0x10", "0x13"},
               0,
               "0x0010 0x0000\n0x0011 0x0000\n0x0012 0x0000\n0x0013 0x0000\n",
               "latched address 0x0013"},
        CtlRow{"dumpByName",
               {},
               {"--map", kExampleMap, "reg", "dump", "CTRL", "EXPOSURE"},
               0,
               "0x0010 0x0000 EXPOSURE\n0x0012 0x0000 CTRL\n",
               "latched address 0x0012"},
        CtlRow{"writeVerified",
               {},
               {"reg", "write", "0x10", "beef", "--verify"},
               0,
               "verify: read back 0xbeef",
               "0x0010=0xbeef"},
        CtlRow{"writeFieldByName",
               {},
               {"--map", kExampleMap, "reg", "write", "CTRL.GAIN", "3"},
               0,
               "LINK_OK",
               "0x0012=0x0030"},
        CtlRow{"writeRefusedByTheMap",
               {},
               {"--map", kExampleMap, "reg", "write", "CHIP_ID", "1"},
               2,
               "",
               "frames 0,"},
        CtlRow{"watchCount",
               {},
               {"reg", "watch", "10", "--interval", "50", "--count", "4"},
               0,
               // The first read's time is real time: 0 ms, or 1 ms on a slow build.
               " ms 0x0010 0x0000\nresult: LINK_OK (0)\nreads: 4\n",
               "latched address 0x0010"},
        CtlRow{"scriptExpects",
               {},
               {"run", "-"},
               0,
               "result: LINK_OK",
               "0x0010=0xbeef",
               "reg write 10 beef\nsleep 100\nreg expect 10 beef\n"},
        CtlRow{"scriptExpectationFails",
               {},
               {"run", "-"},
               1,
               "expect: wanted 0x0001, read 0x0000",
               "red 128",
               "reg expect 20 1\nset red 1\n"},
        CtlRow{"json",
               {},
               {"--json", "query", "status"},
               0,
               "{\"verb\":\"query status\",\"result\":\"LINK_OK\",\"code\":0,",
               "frames 2,"},
        CtlRow{"jsonConnect",
               {},
               {"--json", "connect"},
               0,
               "{\"verb\":\"connect\",\"result\":\"LINK_OK\",\"code\":0,\"port\":200,\"sensor\":\"ARVEN-L\",",
               "init 1"},
        CtlRow{
            "presetApply", {}, {"preset", "apply", kExamplePreset}, 0, "result: LINK_OK (0)", "brightness 200"},
        // diagnose names each fault's symptom; its scratch test leaves the register as it was.
        CtlRow{"diagnoseSound",
               {},
               {"--map", kExampleMap, "diagnose"},
               0,
               "verdict: ok: board on COM200",
               "0x00fe=0x0000"},
        CtlRow{"diagnoseSilent", {"--silent"}, {"diagnose"}, 1, "verdict: FAIL: no reply", "replies 0"},
        CtlRow{"diagnoseNak",
               {"--nak"},
               {"diagnose"},
               1,
               "verdict: FAIL: the board refuses commands: NAK",
               "init 0"},
        CtlRow{"diagnoseCorrupt", {"--corrupt"}, {"diagnose"}, 1, "verdict: FAIL: checksum errors", "frames 1,"},
        CtlRow{"diagnoseSlow", {"--delay-ms", "100"}, {"diagnose"}, 1, "verdict: FAIL: slow replies", "init 1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CtlAgainstSim, PortThatDoesNotExistIsNamedAbsent)
{
    PortsDir dir;
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", "77", "connect"}, {dir.Env()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelvarctl: COM77: cannot open: absent (No such file or directory)\n");
}

// A port directory others can write to is ignored, and pelvarctl says why,
// once, rather than leaving every port "absent" unexplained.
TEST(CtlAgainstSim, AnIgnoredPortDirectoryIsExplainedOnce)
{
    PortsDir dir;
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::group_write, std::filesystem::perm_options::add);
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", "200", "connect"}, {dir.Env()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelvar: port directory " + dir.Path()
                         + " ignored: group-writable\npelvarctl: COM200: cannot open: absent (No such file or "
                           "directory)\n");
}

TEST(CtlAgainstSim, PortsListsAnEntryThatCannotBeOpenedAsRefused)
{
    PortsDir dir;
    std::filesystem::create_symlink("/nonexistent/pelvar-port", dir.Path() + "/COM9");
    RunResult ports = RunProgram({PELVARCTL_PATH, "ports"}, {dir.Env()});
    EXPECT_EQ(ports.out, "Serial device /nonexistent/pelvar-port (COM9)\trefused: links to nothing\n");
    RunResult json = RunProgram({PELVARCTL_PATH, "--json", "ports"}, {dir.Env()});
    EXPECT_NE(json.out.find("\"refused\":\"links to nothing\""), std::string::npos) << json.out;
}

// The system console is listed, as the panel lists it, but never opened:
// --port all is every board, not a certain failure on the console.
TEST(CtlAgainstSim, TheSystemConsoleIsListedAsSuchAndLeftOutOfAll)
{
    std::ifstream active("/sys/class/tty/console/active");
    std::string consoles;
    std::getline(active, consoles);
    if (consoles.find("ttyS0") == std::string::npos || !std::filesystem::exists("/dev/ttyS0"))
        GTEST_SKIP() << "no serial system console on this machine";
    PortsDir dir;
    std::filesystem::create_symlink("/dev/ttyS0", dir.Path() + "/COM5");
    Background sim({PELVAR_SIM_PATH, "--com", "203"}, {dir.Env()});
    ASSERT_FALSE(sim.FirstLine().empty());
    RunResult ports = RunProgram({PELVARCTL_PATH, "ports"}, {dir.Env()});
    EXPECT_NE(ports.out.find("(COM5)\tsystem console: never tried\n"), std::string::npos) << ports.out;
    RunResult all = RunProgram({PELVARCTL_PATH, "--port", "all", "query", "status"}, {dir.Env()});
    EXPECT_EQ(all.status, 0) << all.out << all.err;
    EXPECT_EQ(all.out.find("COM5:"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("COM203: result: LINK_OK (0)\n"), std::string::npos) << all.out;
}

TEST(CtlAgainstSim, PortHeldByAnotherProgramIsNamedBusy)
{
    PortsDir dir;
    Background sim({PELVAR_SIM_PATH, "--com", "201"}, {dir.Env()});
    ASSERT_FALSE(sim.FirstLine().empty());
    {
        test::ScopedEnv env("PELVAR_PORTS_DIR", dir.Path());
        PosixPlatform holder;
        PortHandle h = holder.OpenPort(201);
        ASSERT_NE(h, kNoHandle);
        RunResult r = RunProgram({PELVARCTL_PATH, "--port", "201", "connect"}, {dir.Env()});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("busy: held by process " + std::to_string(getpid()) + " ("), std::string::npos) << r.err;
        holder.ClosePort(h);
    }
    RunResult again = RunProgram({PELVARCTL_PATH, "--port", "201", "connect"}, {dir.Env()});
    EXPECT_EQ(again.status, 0) << again.err;
}

TEST(CtlAgainstSim, TraceShowsEveryFrameBothWays)
{
    PortsDir dir;
    Background sim({PELVAR_SIM_PATH, "--com", "200"}, {dir.Env()});
    ASSERT_FALSE(sim.FirstLine().empty());
    RunResult r = RunProgram({PELVARCTL_PATH, "--trace", "--port", "200", "set", "brightness", "200"}, {dir.Env()});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(" > 02 02 00 00 03\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" > 02 06 91 C8 00 00 00 5D 03\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" < 02 06 91 06 00 00 00 93 03\n"), std::string::npos) << r.err;
}

TEST(CtlAgainstSim, CtrlCEndsAWatchAndReleasesThePort)
{
    PortsDir dir;
    Background sim({PELVAR_SIM_PATH, "--com", "200"}, {dir.Env()});
    ASSERT_FALSE(sim.FirstLine().empty());
    Background watch({PELVARCTL_PATH, "--port", "200", "reg", "watch", "10", "--interval", "20"}, {dir.Env()});
    // The first read's time is real time: pinned to well under a second.
    const std::string first = watch.FirstLine();
    const std::size_t ms = first.find(" ms 0x0010 0x0000");
    ASSERT_TRUE(ms != std::string::npos && ms + 17 == first.size()) << first;
    EXPECT_TRUE(ms >= 1 && ms <= 3 && first.find_first_not_of("0123456789") == ms) << first;
    int status = -1;
    const std::string rest = watch.Stop(&status, SIGINT);
    EXPECT_EQ(status, 0) << rest;
    EXPECT_NE(rest.find("result: LINK_OK (0)\nreads: "), std::string::npos) << rest;
    RunResult again = RunProgram({PELVARCTL_PATH, "--port", "200", "connect"}, {dir.Env()});
    EXPECT_EQ(again.status, 0) << again.err;
}

// The simulated board ended in the middle of a watch (its device and link
// go with it), then started again.
TEST(CtlAgainstSim, WatchSaysTheBoardIsGoneAndReadsAgainWhenItIsBack)
{
    PortsDir dir;
    const std::vector<std::string> simArgv = {PELVAR_SIM_PATH, "--com", "200"};
    std::optional<Background> sim;
    sim.emplace(simArgv, std::vector<std::string>{dir.Env()});
    ASSERT_FALSE(sim->FirstLine().empty());
    // Standard error into the same pipe, so that the lines come in the order written.
    Background watch({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", PELVARCTL_PATH, "--port", "200", "reg", "watch", "10",
                      "--interval", "20"},
                     {dir.Env()});
    const std::string first = watch.FirstLine();
    ASSERT_NE(first.find(" ms 0x0010 0x0000"), std::string::npos) << first;
    sim->Stop();
    const std::string where = "pelvarctl: reg watch: COM200 (" + dir.Path() + "/COM200): ";
    EXPECT_EQ(watch.FirstLine(), where + "the device has gone: absent (Input/output error)");
    const std::string failed = watch.FirstLine();
    EXPECT_NE(failed.find(" ms 0x0010 LINK_ERR_"), std::string::npos) << failed;
    sim.emplace(simArgv, std::vector<std::string>{dir.Env()});
    ASSERT_FALSE(sim->FirstLine().empty());
    EXPECT_EQ(watch.FirstLine(), where + "back");
    const std::string again = watch.FirstLine();
    EXPECT_NE(again.find(" ms 0x0010 0x0000"), std::string::npos) << again;
    int status = -1;
    const std::string rest = watch.Stop(&status, SIGINT);
    EXPECT_EQ(status, 1) << "a read failed" << rest;
    EXPECT_NE(rest.find("result: LINK_ERR_"), std::string::npos) << rest;
}

} // namespace
} // namespace pelvar::e2e

namespace pelvar::e2e {
namespace {

// A user outside the device's group: pelvarctl names the group and the cure.
// Needs root to become another user; CI runs as root.
TEST(CtlPermissions, EveryPortRefusedNamesTheGroup)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run pelvarctl as another user";
    PortsDir dir;
    Background sim({PELVAR_SIM_PATH, "--com", "202"}, {dir.Env()});
    const std::string first = sim.FirstLine();
    ASSERT_FALSE(first.empty());
    // The directory must belong to the user who reads it.
    ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
    const std::string slave = first.substr(first.find(' ') + 1, first.find(' ', 7) - first.find(' ') - 1);
    // As a USB adapter's node is on Debian: root:dialout, 0660.
    struct group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(chown(slave.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(slave.c_str(), 0660), 0);
    RunResult r =
        RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", PELVARCTL_PATH, "connect"},
                   {dir.Env()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("permission denied"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("belong to group 'dialout'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("log in again"), std::string::npos) << r.err;
}

} // namespace
} // namespace pelvar::e2e
