#include "python/Board.h"

#include <filesystem>

#include "camera/Commands.h"
#include "camera/ControlIds.h"
#include "camera/ControlTable.h"
#include "camera/RegisterAccess.h"
#include "platform/SysError.h"

namespace pelvar::python {

namespace {

// As many as the panel's traffic pane keeps.
constexpr std::size_t kLogLimit = 10000;

Failure ValueFailure(const std::string& message) { return {FailureKind::Value, 0, message, 0, 0}; }

std::string ResultText(std::int32_t code) { return std::string(ResultName(code)) + ", " + std::to_string(code); }

// --map FILE, else the default map when it exists; a bad map is a ValueError.
RegisterMap LoadMap(const std::string& mapPath)
{
    std::string path = mapPath;
    std::error_code ignored;
    if (path.empty() && std::filesystem::exists(DefaultRegisterMapPath(), ignored))
        path = DefaultRegisterMapPath();
    RegisterMap map;
    std::string error;
    if (!path.empty() && !LoadRegisterMap(path, &map, &error))
        throw ValueFailure(error);
    return map;
}

DiagnosisReport RunDiagnosis(CameraController& cam, IPanelView& view, IPlatform& platform, const RegisterMap& map)
{
    DiagnosisReport report;
    report.verdict =
        pelvar::Diagnose(cam, view, platform, map, [&report](const DiagnosisStep& s) { report.steps.push_back(s); });
    return report;
}

} // namespace

DiagnosisReport DiagnosePorts(int port, const std::string& mapPath)
{
    const RegisterMap map = LoadMap(mapPath);
    std::unique_ptr<IPlatform> platform = NewPlatform();
    HeadlessView view(port);
    CameraController cam(view, *platform);
    return RunDiagnosis(cam, view, *platform, map);
}

FailureKind KindOf(std::int32_t code)
{
    switch (code) {
    case PORT_ERR_CONFIG:
    case PORT_ERR_BAD_ARG:
    case LINK_ERR_NOT_OPEN: return FailureKind::Port;
    default: return FailureKind::Link;
    }
}

Board::Board(int port, const std::string& mapPath)
    : m_platform(NewPlatform()), m_view(port), m_tap(*m_platform,
                                                     [this](const ExchangeRecord& r) {
                                                         std::lock_guard<std::mutex> lock(m_logMutex);
                                                         m_log.push_back(r);
                                                         if (m_log.size() > kLogLimit)
                                                             m_log.pop_front();
                                                     }),
      m_cam(m_view, *m_platform), m_map(LoadMap(mapPath))
{
    m_cam.SetLinkTap(&m_tap);
    Connect(port);
}

Board::~Board() { Close(false); }

void Board::Fail(std::int32_t code, const std::string& what) const
{
    throw Failure{KindOf(code), code, "COM" + std::to_string(m_port) + ": " + what + " (" + ResultText(code) + ")",
                  m_port, 0};
}

void Board::Check(std::int32_t code, const std::string& what) const
{
    if (code != LINK_OK)
        Fail(code, what);
}

void Board::Connect(int port)
{
    m_tap.MarkOrigin();
    m_cam.OnConnect();
    m_port = m_cam.m_nPort;
    if (m_cam.LineLostError() != 0)
        throw Failure{FailureKind::Port, LINK_ERR_SEND,
                      "COM" + std::to_string(m_port) + ": the device has gone: " + DescribeErrno(m_cam.LineLostError()),
                      m_port, m_cam.LineLostError()};
    const auto& tried = m_cam.Candidates();
    if (tried.empty())
        throw Failure{FailureKind::Link, LINK_ERR_NO_REPLY,
                      port > 0 ? "COM" + std::to_string(port) + " is not a port of this machine"
                               : std::string("no serial port to try"),
                      port, 0};
    if (!m_cam.IsConnected() && !m_cam.StartTimedOut()) {
        // The reason of the last port tried; a single port names its own.
        const CandidateReport& c = tried.back();
        const std::string path = m_platform->PortPath(c.port);
        // The device or URL behind the number, as pelvarctl names it.
        const std::string where = "COM" + std::to_string(c.port) + (path.empty() ? "" : " (" + path + ")");
        if (c.openResult != LINK_OK) {
            std::string why = c.sysError ? DescribeErrno(c.sysError) : "refused the line settings";
            if (ClassifyErrno(c.sysError) == SysErrorKind::Busy && !PortHolderText(path).empty())
                why = "busy: held by " + PortHolderText(path);
            throw Failure{FailureKind::Port, c.openResult, "cannot open " + where + ": " + why, c.port, c.sysError};
        }
        const std::string which = tried.size() == 1 ? where : "no port (tried " + std::to_string(tried.size()) + ")";
        throw Failure{KindOf(c.probeResult), c.probeResult,
                      which + ": no board answered (" + ResultText(c.probeResult) + ")", c.port, 0};
    }
    m_sensor = m_view.ControlText(IDC_SENSOR_TEXT);
    if (m_cam.StartTimedOut() || m_sensor == "init error") {
        const std::int32_t code = m_cam.LastResult();
        const std::string what = m_cam.StartTimedOut() ? "the board did not start (its status stayed 0)"
                                                       : "the board names no sensor (init error)";
        Close(false);
        throw Failure{FailureKind::Startup, code, "COM" + std::to_string(m_port) + ": " + what, m_port, 0};
    }
}

void Board::Set(const std::string& name, int value)
{
    const ControlBinding* slider = FindBinding(name, ControlRole::Slider);
    if (!slider)
        throw ValueFailure("set: '" + name + "' is none of " + BindingNames(ControlRole::Slider, ", "));
    if (value < 0 || value > 255)
        throw ValueFailure("set " + name + ": " + std::to_string(value) + " is not within 0..255");
    m_cam.OnHScroll(slider->id, value);
    Check(m_cam.LastResult(), "set " + name + " " + std::to_string(value));
}

void Board::Press(const std::string& button)
{
    const ControlBinding* b = FindBinding(button, ControlRole::FunctionButton);
    if (!b)
        throw ValueFailure("press: '" + button + "' is none of " + BindingNames(ControlRole::FunctionButton, ", "));
    m_cam.OnFunctionButton(b->id);
    Check(m_cam.LastResult(), "press " + button);
}

RegisterTarget Board::Resolve(const std::string& reference) const
{
    RegisterTarget t;
    std::string error;
    if (!ResolveRegister(m_map, reference, &t, &error))
        throw ValueFailure(error);
    return t;
}

RegisterTarget Board::AtAddress(long long address)
{
    if (address < 0 || address > 0xFFFF)
        throw ValueFailure("register address " + std::to_string(address) + " is not within 0..0xffff");
    RegisterTarget t;
    t.address = static_cast<std::uint16_t>(address);
    return t;
}

std::uint16_t Board::Read(const RegisterTarget& t)
{
    std::string error;
    if (!CheckTargetUse(t, true, false, "read", &error))
        throw ValueFailure(error);
    std::uint16_t field = 0;
    std::uint16_t whole = 0;
    Check(ReadTarget(m_cam, m_view, t, &field, &whole), "read " + TargetName(t));
    return field;
}

void Board::Write(const RegisterTarget& t, long long value, bool verify)
{
    std::string error;
    if (value < 0 || value > 0xFFFF)
        throw ValueFailure("write " + TargetName(t) + ": " + std::to_string(value) + " is not within 0..0xffff");
    const auto word = static_cast<std::uint16_t>(value);
    if (!CheckTargetUse(t, verify || t.field, true, "write", &error) || !CheckTargetValue(t, word, "write", &error))
        throw ValueFailure(error);
    Check(WriteTarget(m_cam, m_view, t, word), "write " + TargetName(t) + " " + Hex16(word));
    if (!verify)
        return;
    std::uint16_t back = 0;
    std::uint16_t whole = 0;
    Check(ReadTarget(m_cam, m_view, t, &back, &whole), "read back " + TargetName(t));
    if (back != word)
        throw Failure{FailureKind::Verify, LINK_OK,
                      "COM" + std::to_string(m_port) + ": verify " + TargetName(t) + ": wrote " + Hex16(word)
                          + ", read " + Hex16(back),
                      m_port, 0};
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> Board::Dump(long long first, long long last)
{
    const RegisterTarget from = AtAddress(first);
    const RegisterTarget to = AtAddress(last);
    if (from.address > to.address)
        throw ValueFailure("dump: first " + Hex16(from.address) + " is above last " + Hex16(to.address));
    std::vector<std::pair<std::uint16_t, std::uint16_t>> values;
    for (std::uint32_t a = from.address; a <= to.address; ++a) {
        const auto address = static_cast<std::uint16_t>(a);
        const RegisterInfo* reg = m_map.FindAddress(address);
        if (reg && reg->access == RegisterAccess::WriteOnly)
            continue;
        std::uint16_t value = 0;
        Check(ReadRegister(m_cam, m_view, address, &value), "dump: read " + Hex16(address));
        values.emplace_back(address, value);
    }
    return values;
}

std::vector<std::string> Board::ApplyPreset(const std::string& path)
{
    Preset preset;
    std::vector<RegisterTarget> targets;
    std::string error;
    if (!LoadPreset(path, &preset, &error) || !ResolvePresetWrites(m_map, preset, path, &targets, &error))
        throw ValueFailure(error);
    std::vector<std::string> steps;
    std::string failed;
    const std::int32_t r =
        pelvar::ApplyPreset(m_cam, m_view, preset, targets, [&](const std::string& step, std::int32_t result) {
            steps.push_back(step);
            if (result != LINK_OK)
                failed = step;
        });
    Check(r, "preset " + path + ": " + failed);
    return steps;
}

DiagnosisReport Board::Diagnose()
{
    // The diagnosis opens the port itself: the link is closed (nothing sent)
    // and opened again afterwards, the board as the diagnosis left it.
    m_cam.OnLineLost();
    DiagnosisReport report;
    {
        HeadlessView view(m_port);
        CameraController cam(view, *m_platform);
        cam.SetLinkTap(&m_tap);
        report = RunDiagnosis(cam, view, *m_platform, m_map);
    }
    if (!m_cam.AttachPort(m_port))
        Fail(m_cam.LastResult(), "cannot open the port again after the diagnosis");
    return report;
}

void Board::Transact(std::uint8_t cmd, const std::vector<std::uint8_t>& payload)
{
    Check(RunTransaction(*m_cam.Link(), cmd, payload.data(), static_cast<std::uint32_t>(payload.size())),
          "transact " + CommandName(cmd));
}

QueryResult Board::Query(std::uint8_t cmd, std::uint32_t room)
{
    QueryResult q = RunQuery(*m_cam.Link(), cmd, room);
    Check(q.result, "query " + CommandName(cmd));
    return q;
}

std::uint32_t Board::Now() { return m_platform->TickCount(); }

void Board::Sleep(std::uint32_t ms) { m_platform->Sleep(ms); }

void Board::Close(bool raise)
{
    if (!m_cam.IsConnected())
        return;
    m_cam.OnDisconnect();
    if (raise && m_view.ErrorShown())
        Fail(m_cam.LastResult(), "release: " + m_view.ErrorText());
}

std::vector<ExchangeRecord> Board::Exchanges(std::size_t count) const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    const std::size_t n = count == 0 ? m_log.size() : std::min(count, m_log.size());
    return {m_log.end() - static_cast<std::ptrdiff_t>(n), m_log.end()};
}

} // namespace pelvar::python
