#include "tools/pelvarctl/CtlRunner.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "camera/BoardConnection.h"
#include "camera/CaptureFile.h"
#include "camera/ExchangeLog.h"
#include "camera/FailureText.h"
#include "camera/TextFile.h"
#include "discovery/PortList.h"
#include "platform/SysError.h"
#include "platform/HexBytes.h"
#include "platform/TracePlatform.h"
#include "tools/pelvarctl/CtlParse.h"
#include "tools/pelvarctl/DiagnoseVerb.h"
#include "tools/pelvarctl/MonitorVerb.h"
#include "tools/pelvarctl/MultiPort.h"
#include "tools/pelvarctl/PortsVerb.h"
#include "tools/pelvarctl/Progress.h"
#include "tools/pelvarctl/RegVerbs.h"

namespace pelvar {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int ExitFor(std::int32_t result) { return result == LINK_OK ? kExitOk : kExitFailed; }

// The raw verbs show what one exchange does on the line: with --port they
// run it alone, without finding the board first.
bool IsRawExchange(const CtlCommand& c, const CtlOptions& options)
{
    return options.port.kind != PortRef::Kind::None
           && (c.verb == Verb::Transact || c.verb == Verb::QueryStatus || c.verb == Verb::QueryRegRead);
}

// Why no port answered, one line each, and the group hint when every
// candidate was refused for lack of permission.
void ExplainNoBoard(const BoardConnection& board, IPlatform& platform, std::FILE* err)
{
    const auto& tried = board.Candidates();
    if (tried.empty()) {
        std::fprintf(err, "pelvarctl: no serial port to try (see pelvarctl ports)\n");
        return;
    }
    int denied = 0;
    std::string group;
    for (const CandidateReport& c : tried) {
        const std::string path = PortPathOf(platform, c.port);
        if (c.openResult != LINK_OK) {
            std::fprintf(err, "pelvarctl: %s\n",
                         DescribeFailure(OpenFailure(platform, c.port, c.openResult, c.sysError)).c_str());
            if (ClassifyErrno(c.sysError) == SysErrorKind::Permission) {
                ++denied;
                group = DeviceGroup(path);
            }
        } else {
            std::fprintf(err, "pelvarctl: %s\n",
                         DescribeFailure({PortLabel(platform, c.port), path, "", c.probeResult, 0}).c_str());
        }
    }
    if (denied == static_cast<int>(tried.size())) {
        if (group.empty())
            group = "dialout";
        std::fprintf(err,
                     "pelvarctl: every port was refused for lack of permission; the devices belong to group "
                     "'%s': add yourself (sudo usermod -aG %s $USER) and log in again\n",
                     group.c_str(), group.c_str());
    }
}

// What a detection that found no board ended with: the last port's.
std::int32_t DetectionResult(const BoardConnection& board)
{
    const auto& tried = board.Candidates();
    if (tried.empty())
        return LINK_ERR_NO_REPLY;
    return tried.back().openResult != LINK_OK ? tried.back().openResult : tried.back().probeResult;
}

void PrintFrame(CtlOutput& out, const QueryResult& q)
{
    if (q.result == LINK_OK)
        out.Field("frame", HexBytes(q.frame, q.frameLength));
}

// One verb on a connection that the detection has found.
int RunConnectedVerb(const PlannedVerb& plan, VerbContext& ctx)
{
    const CtlCommand& c = plan.command;
    BoardConnection& board = ctx.board;
    CtlOutput& out = ctx.out;
    switch (c.verb) {
    case Verb::Transact: {
        const std::int32_t r =
            board.Transact(c.cmd, c.payload.data(), static_cast<std::uint32_t>(c.payload.size()));
        out.Result(r);
        return ExitFor(r);
    }
    case Verb::QueryStatus:
    case Verb::QueryRegRead: {
        const QueryResult q = c.verb == Verb::QueryStatus ? board.QueryStatus() : board.Query(CMD_REG_READ, kRegReadRoom);
        out.Result(q.result);
        // No reply, no value: a zero would read as a board that said zero.
        if (q.result == LINK_OK) {
            PrintFrame(out, q);
            char text[16];
            std::snprintf(text, sizeof text, c.verb == Verb::QueryStatus ? "0x%02x" : "0x%04x", q.value);
            out.Field(c.verb == Verb::QueryStatus ? "status" : "value", text, q.value);
        }
        return ExitFor(q.result);
    }
    case Verb::Set: {
        *ctx.held.For(c.cmd) = c.value;
        const std::int32_t r = board.SetAdjustment(c.cmd, c.value);
        out.Result(r);
        return ExitFor(r);
    }
    case Verb::Press: {
        const std::int32_t r = board.Press(c.cmd);
        out.Result(r);
        return ExitFor(r);
    }
    case Verb::Disconnect: {
        const ReleaseOutcome release = board.Release();
        board.Close();
        if (release.statusResult == LINK_ERR_NO_REPLY)
            std::fprintf(ctx.err, "No reply from camera.\n");
        const std::int32_t r = release.released ? release.releaseResult : release.statusResult;
        out.Result(r);
        return release.statusResult == LINK_ERR_NO_REPLY ? kExitFailed : ExitFor(r);
    }
    default: return RunRegisterVerb(plan, ctx);
    }
}

int RunOneVerb(const PlannedVerb& plan, VerbContext& ctx)
{
    ctx.out.Begin(plan.command.verb);
    return ctx.out.End(RunConnectedVerb(plan, ctx));
}

int RunConnect(VerbContext& ctx)
{
    BoardConnection& board = ctx.board;
    IPlatform& platform = ctx.platform;
    CtlOutput& out = ctx.out;
    std::uint8_t probe = 0;
    bool found = false;
    {
        PortSearch search(ctx);
        found = board.Detect(ctx.portsToTry, &probe);
    }
    if (!found) {
        ExplainNoBoard(board, platform, ctx.err);
        out.Result(DetectionResult(board));
        return kExitFailed;
    }
    const StartOutcome start = board.Start(probe, kStartLimitMs);
    const std::string label = PortLabel(platform, board.Port());
    if (start.lostError != 0) {
        std::fprintf(
            ctx.err, "pelvarctl: %s\n",
            DescribeFailure({label, PortPathOf(platform, board.Port()), "", LINK_ERR_SEND, start.lostError}).c_str());
        out.Result(LINK_ERR_SEND);
        return kExitFailed;
    }
    out.Result(start.result);
    // As the many-board objects give it: a number for COMn, else the path or URL.
    if (board.Port().IsNumber())
        out.Field("port", std::to_string(board.Port().number), board.Port().number);
    else
        out.Field("port", board.Port().name);
    // No sensor named (start-up timed out, or no sensor bit): the board is not usable.
    out.Field("sensor", start.timedOut ? "init error" : SensorText(start.sensor));
    if (start.timedOut)
        std::fprintf(ctx.err, "pelvarctl: %s\n", DescribeFailure({label, "", "", start.result, 0, true}).c_str());
    return start.timedOut || start.sensor == Sensor::None ? kExitFailed : kExitOk;
}

// Every line parsed and looked up in the map before anything is opened.
bool ReadScript(const std::string& file, const RegisterMap& map, std::vector<PlannedVerb>* plans, std::FILE* err)
{
    std::string text;
    std::string why;
    const bool read = file == "-" ? ReadTextStream(stdin, kUserFileLimit, &text, &why)
                                  : ReadTextFile(file, kUserFileLimit, &text, &why);
    if (!read) {
        std::fprintf(err, "pelvarctl: run: cannot read '%s': %s\n", file.c_str(), why.c_str());
        return false;
    }
    std::istringstream src(text);
    std::string line;
    int number = 0;
    while (std::getline(src, line)) {
        ++number;
        if (line.find('\0') != std::string::npos) {
            std::fprintf(err, "pelvarctl: %s:%d: a NUL byte: this is not a text script\n", file.c_str(), number);
            return false;
        }
        ParsedScriptLine p = ParseScriptLine(line);
        if (!p.ok) {
            std::fprintf(err, "pelvarctl: %s:%d: %s\n", file.c_str(), number, p.error.c_str());
            return false;
        }
        if (p.skip)
            continue;
        PlannedVerb plan;
        std::string error;
        if (!PlanVerb(p.command, map, &plan, &error)) {
            std::fprintf(err, "pelvarctl: %s:%d: %s\n", file.c_str(), number, error.c_str());
            return false;
        }
        plans->push_back(std::move(plan));
    }
    return true;
}

int RunScript(const std::vector<PlannedVerb>& plans, VerbContext& ctx)
{
    for (const PlannedVerb& plan : plans) {
        int status = RunOneVerb(plan, ctx);
        if (status != kExitOk)
            return status;
        if (plan.command.verb == Verb::Disconnect)
            break;
    }
    return kExitOk;
}

// --map FILE, else the default map when it exists; false (exit 2) for a map
// that cannot be read or is malformed.
bool LoadMap(const CtlOptions& options, RegisterMap* map, std::FILE* err)
{
    std::string path = options.map;
    if (path.empty()) {
        path = DefaultRegisterMapPath();
        std::error_code ignored;
        if (path.empty() || !std::filesystem::exists(path, ignored))
            return true;
    }
    std::string error;
    if (LoadRegisterMap(path, map, &error))
        return true;
    std::fprintf(err, "pelvarctl: %s\n", error.c_str());
    return false;
}

// `ports` as JSON: each listed entry, with the device's details when verbose.
int RunPortsJson(bool verbose, CtlOutput& out, std::FILE* err)
{
    std::FILE* listing = std::tmpfile();
    if (!listing) {
        std::fprintf(err, "pelvarctl: no temporary file for the port list\n");
        return kExitFailed;
    }
    const int status = RunPortsVerb(verbose, listing);
    std::rewind(listing);
    out.Set("ports", CtlOutput::Json::array());
    char line[1024];
    while (std::fgets(line, sizeof line, listing)) {
        std::istringstream fields(std::string(line).substr(0, std::strcspn(line, "\n")));
        std::string field;
        CtlOutput::Json item = CtlOutput::Json::object();
        for (int i = 0; std::getline(fields, field, '\t'); ++i) {
            if (i == 0)
                item["entry"] = field;
            else if (field == kConsoleMark)
                item["tried"] = false;
            else if (field.rfind(kRefusedMark, 0) == 0)
                item["refused"] = field.substr(std::strlen(kRefusedMark));
            else if (i == 1)
                item["path"] = field;
            else if (field.rfind("usb ", 0) == 0)
                item["usb"] = field.substr(4);
            else if (field.rfind("serial ", 0) == 0)
                item["serial"] = field.substr(7);
            else if (field.rfind("driver ", 0) == 0)
                item["driver"] = field.substr(7);
            else if (field.rfind("latency timer ", 0) == 0)
                item["latency_timer_ms"] = std::atoi(field.c_str() + 14);
        }
        if (item.contains("entry") && !item["entry"].get<std::string>().empty())
            out.Item("ports", "", item);
    }
    std::fclose(listing);
    return status;
}

// The verbs that talk to the board: the link (traced when asked), the camera
// board's calls, the board found or the given port attached.
int RunOnTheBoard(const ParsedCommandLine& p, const RegisterMap& map, const PlannedVerb& plan,
                  const std::vector<PlannedVerb>& script, CtlOutput& output, std::FILE* err, IPlatform& basePlatform,
                  CaptureWriter& capture, std::uint32_t captureInterface)
{
    const CtlCommand& c = p.command;
    TracePlatform traced(basePlatform, output.TraceSink(err));
    PortProgressPlatform platform(p.options.trace ? static_cast<IPlatform&>(traced) : basePlatform);
    const std::vector<PortRef> portsToTry = PortsToTry(p.options.port);
    BoardConnection board(platform);
    board.SetRs485(p.options.rs485);
    Adjustments held;
    std::FILE* traceSink = output.TraceSink(err);
    const bool printDecoded = p.options.traceDecoded;
    ExchangeLog decoded(platform, [&](const ExchangeRecord& r) {
        if (capture.IsOpen())
            capture.Add(r, captureInterface);
        if (!printDecoded)
            return;
        std::fprintf(traceSink, "%s\n", ExchangeLine(r).c_str());
        std::fflush(traceSink);
    });
    if (p.options.traceDecoded || capture.IsOpen())
        board.SetTap(&decoded);
    // The trace and the progress share standard error: no progress with a trace there.
    const bool progress = ProgressWanted(err, p.options.json) && !p.options.trace && !p.options.traceDecoded;
    VerbContext ctx{
        board, held, portsToTry, platform, output, err, progress ? err : nullptr, &platform, p.options.stopAtLoss};

    if (c.verb == Verb::Diagnose) {
        output.Begin(c.verb);
        return output.End(RunDiagnose(ctx, map));
    }
    if (c.verb == Verb::Connect) {
        output.Begin(c.verb);
        return output.End(RunConnect(ctx));
    }

    if (IsRawExchange(c, p.options)) {
        const std::int32_t opened = board.Attach(p.options.port);
        if (opened != LINK_OK) {
            output.Begin(c.verb);
            ExplainNoBoard(board, platform, err);
            output.Result(opened);
            return output.End(kExitFailed);
        }
        return RunOneVerb(plan, ctx);
    }

    std::uint8_t status = 0;
    bool found = false;
    {
        PortSearch search(ctx);
        found = board.Detect(portsToTry, &status);
    }
    if (!found) {
        output.Begin(c.verb);
        ExplainNoBoard(board, platform, err);
        output.Result(DetectionResult(board));
        return output.End(kExitFailed);
    }
    if (c.verb == Verb::Run)
        return RunScript(script, ctx);
    return RunOneVerb(plan, ctx);
}

// Opened before anything is sent; false (exit 2) when it cannot be written.
bool OpenCapture(const CtlOptions& options, CaptureWriter& capture, const std::vector<std::string>& interfaces,
                 std::FILE* err)
{
    int error = 0;
    if (options.capture.empty() || capture.Open(options.capture, WallClockMicros(), &error, interfaces))
        return true;
    std::fprintf(err, "pelvarctl: --capture: cannot write '%s': %s\n", options.capture.c_str(),
                 DescribeErrno(error).c_str());
    return false;
}

// A capture that could not be written in full fails the run even when the
// board did all it was asked.
int CloseCapture(const CtlOptions& options, CaptureWriter& capture, int status, std::FILE* err)
{
    int error = 0;
    if (capture.Close(&error))
        return status;
    std::fprintf(err, "pelvarctl: --capture: '%s': %s\n", options.capture.c_str(), DescribeErrno(error).c_str());
    return status == kExitOk ? kExitFailed : status;
}

// The verb on each board of --port all|LIST, as on one board, with one
// capture file for them all: an interface per board.
int RunOnSeveralBoards(const ParsedCommandLine& p, const RegisterMap& map, const PlannedVerb& plan,
                       const std::vector<PlannedVerb>& script, std::FILE* out, std::FILE* err, IPlatform& basePlatform,
                       PlatformMaker boardPlatform)
{
    const std::vector<PortRef> ports = BoardPorts(p.options);
    if (ports.empty()) {
        std::fprintf(err, "pelvarctl: no serial port to try (see pelvarctl ports)\n");
        return kExitFailed;
    }
    std::vector<std::string> interfaces;
    for (const PortRef& port : ports)
        interfaces.push_back(port.Text());
    CaptureWriter capture;
    if (!OpenCapture(p.options, capture, interfaces, err))
        return kExitUsage;
    const int status = RunOnEveryBoard(
        ports, p.options.json, out, err, basePlatform, boardPlatform,
        [&](const PortRef& port, std::uint32_t index, CtlOutput& output, std::FILE* boardErr, IPlatform& platform) {
            ParsedCommandLine board = p;
            board.options.port = port;
            return RunOnTheBoard(board, map, plan, script, output, boardErr, platform, capture, index);
        });
    return CloseCapture(p.options, capture, status, err);
}

} // namespace

int RunPelvarctl(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, IPlatform& basePlatform,
                 PlatformMaker boardPlatform)
{
    ParsedCommandLine p = ParseCommandLine(args);
    if (!p.ok) {
        std::fprintf(err, "pelvarctl: %s\n", p.error.c_str());
        return kExitUsage;
    }
    const CtlCommand& c = p.command;
    if (c.verb == Verb::Help) {
        std::fputs(UsageText(), out);
        return kExitOk;
    }
    if (c.verb == Verb::Version) {
        std::fprintf(out, "pelvarctl %s\n", PELVAR_VERSION);
        return kExitOk;
    }
    RegisterMap map;
    if (!LoadMap(p.options, &map, err))
        return kExitUsage;
    CtlOutput output(out, p.options.json);
    if (c.verb == Verb::Ports) {
        if (!output.IsJson())
            return RunPortsVerb(p.options.verbose || c.verbose, out);
        output.Begin(c.verb);
        return output.End(RunPortsJson(p.options.verbose || c.verbose, output, err));
    }

    if (c.verb == Verb::Monitor) {
        if (p.options.port.kind == PortRef::Kind::None) {
            std::fprintf(err, "pelvarctl: monitor: --port N names the listening port\n");
            return kExitUsage;
        }
        return RunMonitorVerb({p.options.port, p.options.json, p.options.capture, p.options.stopAtLoss}, out, err,
                              basePlatform);
    }

    PlannedVerb plan;
    std::string error;
    if (!PlanVerb(c, map, &plan, &error)) {
        std::fprintf(err, "pelvarctl: %s\n", error.c_str());
        return kExitUsage;
    }
    if (c.verb == Verb::PresetSave) {
        output.Begin(c.verb);
        return output.End(RunPresetSave(plan, output, err));
    }
    if (c.verb == Verb::Run && c.file == "-" && p.SeveralBoards()) {
        std::fprintf(err, "pelvarctl: run -: standard input can feed one board only; give the script as a file\n");
        return kExitUsage;
    }
    std::vector<PlannedVerb> script;
    if (c.verb == Verb::Run && !ReadScript(c.file, map, &script, err))
        return kExitUsage;
    for (const PlannedVerb& line : script) {
        if (p.SeveralBoards() && line.command.verb == Verb::RegSnapshot) {
            std::fprintf(err, "pelvarctl: run: reg snapshot: one board at a time (each would write %s)\n",
                         line.command.file.c_str());
            return kExitUsage;
        }
    }
    if (p.SeveralBoards())
        return RunOnSeveralBoards(p, map, plan, script, out, err, basePlatform, boardPlatform);

    CaptureWriter capture;
    if (!OpenCapture(p.options, capture, {}, err))
        return kExitUsage;
    const int status = RunOnTheBoard(p, map, plan, script, output, err, basePlatform, capture, 0);
    return CloseCapture(p.options, capture, status, err);
}

} // namespace pelvar
