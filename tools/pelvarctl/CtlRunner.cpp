#include "tools/pelvarctl/CtlRunner.h"

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "camera/CameraController.h"
#include "camera/ControlIds.h"
#include "discovery/PortList.h"
#include "platform/SysError.h"
#include "platform/HexBytes.h"
#include "platform/TracePlatform.h"
#include "tools/pelvarctl/CtlParse.h"
#include "tools/pelvarctl/PortsVerb.h"

namespace pelvar {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The panel as a terminal: texts are kept, the error box goes to stderr.
class TerminalView : public IPanelView {
public:
    TerminalView(std::FILE* err, int port) : m_err(err)
    {
        if (port > 0) {
            m_ports.push_back("Port COM" + std::to_string(port) + " (COM" + std::to_string(port) + ")");
        } else {
            SortedPortList list;
            FillPortList(list);
            m_ports = list.Entries();
        }
    }

    void SetControlText(int id, const std::string& text) override { m_texts[id] = text; }
    std::string ControlText(int id) override { return m_texts[id]; }
    void SetControlStates(bool, bool) override {}
    void ShowError(const std::string& text, const std::string&) override
    {
        std::fprintf(m_err, "%s\n", text.c_str());
        m_errorShown = true;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    int PortCount() override { return static_cast<int>(m_ports.size()); }
    std::string PortEntry(int index) override { return m_ports.at(static_cast<std::size_t>(index)); }
    int SelectedPortIndex() override { return -1; }

    bool ErrorShown() const { return m_errorShown; }

private:
    std::FILE* m_err;
    std::vector<std::string> m_ports;
    std::map<int, std::string> m_texts;
    bool m_errorShown = false;
};

void PrintResult(std::FILE* out, std::int32_t result)
{
    std::fprintf(out, "result: %s (%d)\n", ResultName(result), result);
}

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
    return options.port > 0 && (c.verb == Verb::Transact || c.verb == Verb::QueryStatus || c.verb == Verb::QueryRegRead);
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

void PrintFrame(std::FILE* out, const QueryResult& q)
{
    if (q.result == LINK_OK)
        std::fprintf(out, "frame: %s\n", HexBytes(q.frame, q.frameLength).c_str());
}

// One verb on a connection that DetectBoard has found.
int RunConnectedVerb(const CtlCommand& c, CameraController& cam, TerminalView& view, std::FILE* out)
{
    switch (c.verb) {
    case Verb::Transact: {
        std::int32_t r = RunTransaction(*cam.Link(), c.cmd, c.payload.data(), static_cast<std::uint32_t>(c.payload.size()));
        PrintResult(out, r);
        return ExitFor(r);
    }
    case Verb::QueryStatus:
    case Verb::QueryRegRead: {
        QueryResult q = c.verb == Verb::QueryStatus ? QueryStatus(*cam.Link()) : QueryRegister(*cam.Link());
        PrintResult(out, q.result);
        PrintFrame(out, q);
        if (c.verb == Verb::QueryStatus)
            std::fprintf(out, "status: 0x%02x\n", q.value);
        else
            std::fprintf(out, "value: 0x%04x\n", q.value);
        return ExitFor(q.result);
    }
    case Verb::Set:
        cam.OnHScroll(c.controlId, c.value);
        PrintResult(out, cam.LastResult());
        return ExitFor(cam.LastResult());
    case Verb::Press:
        cam.OnFunctionButton(c.controlId);
        PrintResult(out, cam.LastResult());
        return ExitFor(cam.LastResult());
    case Verb::RegRead:
        view.SetControlText(IDC_REG_ADDRESS, c.address);
        cam.OnRegisterRead();
        PrintResult(out, cam.LastResult());
        // A failed read has no value to print.
        if (cam.LastResult() == LINK_OK)
            std::fprintf(out, "value: %s\n", view.ControlText(IDC_REG_CONTENT).c_str());
        return ExitFor(cam.LastResult());
    case Verb::RegWrite:
        view.SetControlText(IDC_REG_ADDRESS, c.address);
        view.SetControlText(IDC_REG_CONTENT, c.content);
        cam.OnRegisterWrite();
        PrintResult(out, cam.LastResult());
        return ExitFor(cam.LastResult());
    case Verb::Disconnect:
        cam.OnDisconnect();
        PrintResult(out, cam.LastResult());
        return view.ErrorShown() ? kExitFailed : ExitFor(cam.LastResult());
    default:
        return kExitUsage;
    }
}

int RunConnect(CameraController& cam, TerminalView& view, IPlatform& platform, std::FILE* out, std::FILE* err)
{
    cam.OnConnect();
    if (cam.LineLostError() != 0) {
        std::fprintf(err, "pelvarctl: COM%d: the device has gone: %s\n", cam.m_nPort,
                     DescribeErrno(cam.LineLostError()).c_str());
        PrintResult(out, LINK_ERR_SEND);
        return kExitFailed;
    }
    if (cam.Candidates().empty() || (!cam.IsConnected() && !cam.StartTimedOut())) {
        ExplainNoBoard(cam, platform, err);
        PrintResult(out, cam.Candidates().empty() ? LINK_ERR_NO_REPLY : cam.LastResult());
        return kExitFailed;
    }
    PrintResult(out, cam.LastResult());
    std::fprintf(out, "port: %s\n", view.ControlText(IDC_PORT_TEXT).c_str());
    std::fprintf(out, "sensor: %s\n", view.ControlText(IDC_SENSOR_TEXT).c_str());
    return cam.StartTimedOut() ? kExitFailed : kExitOk;
}

bool ReadScript(const std::string& file, std::vector<CtlCommand>* commands, std::FILE* err)
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
        if (!p.skip)
            commands->push_back(p.command);
    }
    return true;
}

int RunScript(const std::vector<CtlCommand>& commands, CameraController& cam, TerminalView& view, std::FILE* out)
{
    for (const CtlCommand& c : commands) {
        int status = RunConnectedVerb(c, cam, view, out);
        if (status != kExitOk)
            return status;
        if (c.verb == Verb::Disconnect)
            break;
    }
    return kExitOk;
}

} // namespace

int RunPelvarctl(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, IPlatform& basePlatform)
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
    if (c.verb == Verb::Ports)
        return RunPortsVerb(p.options.verbose || c.verbose, out);

    std::vector<CtlCommand> script;
    if (c.verb == Verb::Run && !ReadScript(c.file, &script, err))
        return kExitUsage;

    TracePlatform traced(basePlatform, err);
    IPlatform& platform = p.options.trace ? static_cast<IPlatform&>(traced) : basePlatform;
    TerminalView view(err, p.options.port);
    CameraController cam(view, platform);

    if (c.verb == Verb::Connect)
        return RunConnect(cam, view, platform, out, err);

    if (IsRawExchange(c, p.options)) {
        if (!cam.AttachPort(p.options.port)) {
            ExplainNoBoard(cam, platform, err);
            PrintResult(out, cam.LastResult());
            return kExitFailed;
        }
        return RunConnectedVerb(c, cam, view, out);
    }

    std::uint8_t status = 0;
    if (!cam.DetectBoard(&status)) {
        ExplainNoBoard(cam, platform, err);
        PrintResult(out, cam.Candidates().empty() ? LINK_ERR_NO_REPLY : cam.LastResult());
        return kExitFailed;
    }
    if (c.verb == Verb::Run)
        return RunScript(script, cam, view, out);
    return RunConnectedVerb(c, cam, view, out);
}

} // namespace pelvar
