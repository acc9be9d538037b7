#include "tools/pelvarctl/CtlRunner.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "camera/CameraController.h"
#include "camera/CaptureFile.h"
#include "camera/ControlIds.h"
#include "camera/ExchangeLog.h"
#include "camera/HeadlessView.h"
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

// The panel as a terminal: texts are kept, the error box goes to stderr.
class TerminalView : public HeadlessView {
public:
    TerminalView(std::FILE* err, int port) : HeadlessView(port), m_err(err) {}

    void ShowError(const std::string& text, const std::string& caption) override
    {
        std::fprintf(m_err, "%s\n", text.c_str());
        HeadlessView::ShowError(text, caption);
    }

private:
    std::FILE* m_err;
};

int ExitFor(std::int32_t result) { return result == LINK_OK ? kExitOk : kExitFailed; }

// Why a port could not be opened; for a busy one, who holds it when the
// lock file or the system tells.
std::string OpenFailure(int err, const std::string& path)
{
    if (ClassifyErrno(err) == SysErrorKind::Busy && !path.empty()) {
        std::string holder = PortHolderText(path);
        if (!holder.empty())
            return "busy: held by " + holder;
    }
    return DescribeErrno(err);
}

// The raw verbs show what one exchange does on the line: with --port they
// run it alone, without finding the board first.
bool IsRawExchange(const CtlCommand& c, const CtlOptions& options)
{
    return options.port > 0
           && (c.verb == Verb::Transact || c.verb == Verb::QueryStatus || c.verb == Verb::QueryRegRead);
}

// Why no port answered, one line each, and the group hint when every
// candidate was refused for lack of permission.
void ExplainNoBoard(const CameraController& cam, IPlatform& platform, std::FILE* err)
{
    const auto& tried = cam.Candidates();
    if (tried.empty()) {
        std::fprintf(err, "pelvarctl: no serial port to try (see pelvarctl ports)\n");
        return;
    }
    int denied = 0;
    std::string group;
    for (const CandidateReport& c : tried) {
        std::string path = platform.PortPath(c.port);
        std::string where = "COM" + std::to_string(c.port) + (path.empty() ? "" : " (" + path + ")");
        if (c.openResult != LINK_OK && c.sysError != 0) {
            std::fprintf(err, "pelvarctl: cannot open %s: %s\n", where.c_str(), OpenFailure(c.sysError, path).c_str());
            if (ClassifyErrno(c.sysError) == SysErrorKind::Permission) {
                ++denied;
                group = DeviceGroup(path);
            }
        } else if (c.openResult != LINK_OK) {
            std::fprintf(err, "pelvarctl: %s refused the line settings\n", where.c_str());
        } else {
            std::fprintf(err, "pelvarctl: %s: no reply (%s)\n", where.c_str(), ResultName(c.probeResult));
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

void PrintFrame(CtlOutput& out, const QueryResult& q)
{
    if (q.result == LINK_OK)
        out.Field("frame", HexBytes(q.frame, q.frameLength));
}

// One verb on a connection that DetectBoard has found.
int RunConnectedVerb(const PlannedVerb& plan, VerbContext& ctx, TerminalView& view)
{
    const CtlCommand& c = plan.command;
    CameraController& cam = ctx.cam;
    CtlOutput& out = ctx.out;
    switch (c.verb) {
    case Verb::Transact: {
        std::int32_t r =
            RunTransaction(*cam.Link(), c.cmd, c.payload.data(), static_cast<std::uint32_t>(c.payload.size()));
        out.Result(r);
        return ExitFor(r);
    }
    case Verb::QueryStatus:
    case Verb::QueryRegRead: {
        QueryResult q = c.verb == Verb::QueryStatus ? QueryStatus(*cam.Link()) : QueryRegister(*cam.Link());
        out.Result(q.result);
        PrintFrame(out, q);
        char text[16];
        std::snprintf(text, sizeof text, c.verb == Verb::QueryStatus ? "0x%02x" : "0x%04x", q.value);
        out.Field(c.verb == Verb::QueryStatus ? "status" : "value", text, q.value);
        return ExitFor(q.result);
    }
    case Verb::Set:
        cam.OnHScroll(c.controlId, c.value);
        out.Result(cam.LastResult());
        return ExitFor(cam.LastResult());
    case Verb::Press:
        cam.OnFunctionButton(c.controlId);
        out.Result(cam.LastResult());
        return ExitFor(cam.LastResult());
    case Verb::Disconnect:
        cam.OnDisconnect();
        out.Result(cam.LastResult());
        return view.ErrorShown() ? kExitFailed : ExitFor(cam.LastResult());
    default: return RunRegisterVerb(plan, ctx);
    }
}

int RunOneVerb(const PlannedVerb& plan, VerbContext& ctx, TerminalView& view)
{
    ctx.out.Begin(plan.command.verb);
    return ctx.out.End(RunConnectedVerb(plan, ctx, view));
}

int RunConnect(VerbContext& ctx, TerminalView& view, std::FILE* err)
{
    CameraController& cam = ctx.cam;
    IPlatform& platform = ctx.platform;
    CtlOutput& out = ctx.out;
    {
        PortSearch search(ctx);
        cam.OnConnect();
    }
    if (cam.LineLostError() != 0) {
        std::fprintf(err, "pelvarctl: COM%d: the device has gone: %s\n", cam.m_nPort,
                     DescribeErrno(cam.LineLostError()).c_str());
        out.Result(LINK_ERR_SEND);
        return kExitFailed;
    }
    if (cam.Candidates().empty() || (!cam.IsConnected() && !cam.StartTimedOut())) {
        ExplainNoBoard(cam, platform, err);
        out.Result(cam.Candidates().empty() ? LINK_ERR_NO_REPLY : cam.LastResult());
        return kExitFailed;
    }
    out.Result(cam.LastResult());
    out.Field("port", view.ControlText(IDC_PORT_TEXT));
    const std::string sensor = view.ControlText(IDC_SENSOR_TEXT);
    out.Field("sensor", sensor);
    // No sensor named (start-up timed out, or no sensor bit): the board is not usable.
    return cam.StartTimedOut() || sensor == "init error" ? kExitFailed : kExitOk;
}

// Every line parsed and looked up in the map before anything is opened.
bool ReadScript(const std::string& file, const RegisterMap& map, std::vector<PlannedVerb>* plans, std::FILE* err)
{
    std::ifstream in;
    std::istream* src = &std::cin;
    if (file != "-") {
        in.open(file);
        if (!in) {
            std::fprintf(err, "pelvarctl: run: cannot read '%s'\n", file.c_str());
            return false;
        }
        src = &in;
    }
    std::string line;
    int number = 0;
    while (std::getline(*src, line)) {
        ++number;
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

int RunScript(const std::vector<PlannedVerb>& plans, VerbContext& ctx, TerminalView& view)
{
    for (const PlannedVerb& plan : plans) {
        int status = RunOneVerb(plan, ctx, view);
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
            else if (i == 1)
                item["path"] = field;
            else if (field.rfind("usb ", 0) == 0)
                item["usb"] = field.substr(4);
            else if (field.rfind("serial ", 0) == 0)
                item["serial"] = field.substr(7);
        }
        if (item.contains("entry") && !item["entry"].get<std::string>().empty())
            out.Item("ports", "", item);
    }
    std::fclose(listing);
    return status;
}

// The verbs that talk to the board: the link (traced when asked), the camera
// logic behind a terminal view, the board found or the given port attached.
int RunOnTheBoard(const ParsedCommandLine& p, const RegisterMap& map, const PlannedVerb& plan,
                  const std::vector<PlannedVerb>& script, CtlOutput& output, std::FILE* err, IPlatform& basePlatform,
                  CaptureWriter& capture, std::uint32_t captureInterface)
{
    const CtlCommand& c = p.command;
    TracePlatform traced(basePlatform, output.TraceSink(err));
    PortProgressPlatform platform(p.options.trace ? static_cast<IPlatform&>(traced) : basePlatform);
    TerminalView view(err, p.options.port);
    CameraController cam(view, platform);
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
        cam.SetLinkTap(&decoded);
    // The trace and the progress share standard error: no progress with a trace there.
    const bool progress = ProgressWanted(err, p.options.json) && !p.options.trace && !p.options.traceDecoded;
    VerbContext ctx{cam, view, platform, output, progress ? err : nullptr, &platform};

    if (c.verb == Verb::Diagnose) {
        output.Begin(c.verb);
        return output.End(RunDiagnose(ctx, map));
    }
    if (c.verb == Verb::Connect) {
        output.Begin(c.verb);
        return output.End(RunConnect(ctx, view, err));
    }

    if (IsRawExchange(c, p.options)) {
        if (!cam.AttachPort(p.options.port)) {
            output.Begin(c.verb);
            ExplainNoBoard(cam, platform, err);
            output.Result(cam.LastResult());
            return output.End(kExitFailed);
        }
        return RunOneVerb(plan, ctx, view);
    }

    std::uint8_t status = 0;
    bool found = false;
    {
        PortSearch search(ctx);
        found = cam.DetectBoard(&status);
    }
    if (!found) {
        output.Begin(c.verb);
        ExplainNoBoard(cam, platform, err);
        output.Result(cam.Candidates().empty() ? LINK_ERR_NO_REPLY : cam.LastResult());
        return output.End(kExitFailed);
    }
    if (c.verb == Verb::Run)
        return RunScript(script, ctx, view);
    return RunOneVerb(plan, ctx, view);
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
    const std::vector<int> ports = BoardPorts(p.options);
    if (ports.empty()) {
        std::fprintf(err, "pelvarctl: no serial port to try (see pelvarctl ports)\n");
        return kExitFailed;
    }
    std::vector<std::string> interfaces;
    for (int port : ports)
        interfaces.push_back(BoardName(port));
    CaptureWriter capture;
    if (!OpenCapture(p.options, capture, interfaces, err))
        return kExitUsage;
    const int status = RunOnEveryBoard(
        ports, p.options.json, out, err, basePlatform, boardPlatform,
        [&](int port, std::uint32_t index, CtlOutput& output, std::FILE* boardErr, IPlatform& platform) {
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
        if (p.options.port <= 0) {
            std::fprintf(err, "pelvarctl: monitor: --port N names the listening port\n");
            return kExitUsage;
        }
        return RunMonitorVerb({p.options.port, p.options.json, p.options.capture}, out, err, basePlatform);
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
    if (p.SeveralBoards())
        return RunOnSeveralBoards(p, map, plan, script, out, err, basePlatform, boardPlatform);

    CaptureWriter capture;
    if (!OpenCapture(p.options, capture, {}, err))
        return kExitUsage;
    const int status = RunOnTheBoard(p, map, plan, script, output, err, basePlatform, capture, 0);
    return CloseCapture(p.options, capture, status, err);
}

} // namespace pelvar
