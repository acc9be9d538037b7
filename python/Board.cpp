#include "python/Board.h"

#include <algorithm>
#include <filesystem>

#include "camera/Commands.h"
#include "camera/ControlTable.h"
#include "camera/FailureText.h"
#include "camera/RegisterAccess.h"
#include "discovery/PortList.h"
#include "platform/SysError.h"

namespace pelvar::python {

namespace {

Failure ValueFailure(const std::string& message) { return {FailureKind::Value, 0, message, {}, 0}; }

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

DiagnosisReport RunDiagnosis(BoardConnection& board, const std::vector<PortRef>& ports, const RegisterMap& map)
{
    DiagnosisReport report;
    report.verdict =
        pelvar::Diagnose(board, ports, map, [&report](const DiagnosisStep& s) { report.steps.push_back(s); });
    return report;
}

} // namespace

DiagnosisReport DiagnosePorts(const PortRef& port, const std::string& mapPath)
{
    const RegisterMap map = LoadMap(mapPath);
    std::unique_ptr<IPlatform> platform = NewPlatform();
    BoardConnection board(*platform);
    return RunDiagnosis(board, PortsToTry(port), map);
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

Board::Board(const PortRef& port, const std::string& mapPath, std::uint32_t replyWindowMs, bool rs485)
    : m_platform(NewPlatform()), m_tap(*m_platform,
                                                     [this](const ExchangeRecord& r) {
                                                         std::lock_guard<std::mutex> lock(m_logMutex);
                                                         // As much as the panel's traffic pane keeps.
                                                         m_log.Add(r);
                                                         ++m_exchanges;
                                                     }),
      m_board(*m_platform), m_map(LoadMap(mapPath))
{
    m_board.SetTap(&m_tap);
    m_board.SetCancelFlag(&m_interrupted);
    m_board.SetReceiveWindow(replyWindowMs);
    m_board.SetRs485(rs485);
    Connect(port);
}

Board::~Board() { Close(false); }

void Board::Fail(std::int32_t code, const std::string& what) const
{
    const int sysError = m_board.LastError();
    throw Failure{KindOf(code), code, DescribeFailure({Label(), "", what, code, sysError}), m_port, sysError};
}

void Board::Check(std::int32_t code, const std::string& what) const
{
    if (code != LINK_OK)
        Fail(code, what);
}

std::string Board::Label() const { return PortLabel(*m_platform, m_port); }

void Board::Connect(const PortRef& port)
{
    m_tap.MarkOrigin();
    std::uint8_t probe = 0;
    const bool found = m_board.Detect(PortsToTry(port), &probe);
    m_port = m_board.Port();
    const auto& tried = m_board.Candidates();
    if (tried.empty())
        throw Failure{FailureKind::Link, LINK_ERR_NO_REPLY,
                      port.kind != PortRef::Kind::None ? port.Text() + " is not a port of this machine"
                                                       : std::string("no serial port to try"),
                      port, 0};
    if (!found) {
        // The reason of the last port tried; a single port names its own.
        const CandidateReport& c = tried.back();
        if (c.openResult != LINK_OK)
            throw Failure{FailureKind::Port, c.openResult,
                          DescribeFailure(OpenFailure(*m_platform, c.port, c.openResult, c.sysError)), c.port,
                          c.sysError};
        // A single port in pelvarctl's words; several by their count.
        const std::string text = tried.size() == 1
                                     ? DescribeFailure({Label(), "", "", c.probeResult, 0})
                                     : "no board answered (tried " + std::to_string(tried.size()) + " ports)";
        throw Failure{KindOf(c.probeResult), c.probeResult, text, c.port, 0};
    }
    const StartOutcome start = m_board.Start(probe, kStartLimitMs);
    if (start.lostError != 0)
        throw Failure{FailureKind::Port, LINK_ERR_SEND,
                      DescribeFailure({Label(), "", "start-up", LINK_ERR_SEND, start.lostError}), m_port,
                      start.lostError};
    if (start.timedOut || start.sensor == Sensor::None) {
        Close(false);
        const std::string what = start.timedOut ? DescribeFailure({Label(), "", "", start.result, 0, true})
                                                : Label() + ": the board names no sensor (init error)";
        throw Failure{FailureKind::Startup, start.result, what, m_port, 0};
    }
    m_sensor = SensorText(start.sensor);
}

void Board::Set(const std::string& name, int value)
{
    const ControlBinding* slider = FindBinding(name, ControlRole::Slider);
    if (!slider)
        throw ValueFailure("set: '" + name + "' is none of " + BindingNames(ControlRole::Slider, ", "));
    if (value < 0 || value > 255)
        throw ValueFailure("set " + name + ": " + std::to_string(value) + " is not within 0..255");
    *m_held.For(slider->cmd) = value;
    Check(m_board.SetAdjustment(slider->cmd, value), "set " + name + " " + std::to_string(value));
}

void Board::Press(const std::string& button)
{
    const ControlBinding* b = FindBinding(button, ControlRole::FunctionButton);
    if (!b)
        throw ValueFailure("press: '" + button + "' is none of " + BindingNames(ControlRole::FunctionButton, ", "));
    Check(m_board.Press(b->cmd), "press " + button);
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
    Check(ReadTarget(m_board, t, &field, &whole), "read " + TargetName(t));
    return field;
}

void Board::Write(const RegisterTarget& t, long long value, bool verify)
{
    std::string error;
    if (value < 0 || value > 0xFFFF)
        throw ValueFailure("write " + TargetName(t) + ": " + std::to_string(value) + " is not within 0..0xffff");
    const auto word = static_cast<std::uint16_t>(value);
    if (!CheckTargetUse(t, verify || t.field, true, "write", &error) || !CheckTargetValue(t, word, "write", &error)
        || (verify && !CheckVerify(t, "write", &error)))
        throw ValueFailure(error);
    Check(WriteTarget(m_board, t, word), "write " + TargetName(t) + " " + Hex16(word));
    if (!verify)
        return;
    std::uint16_t back = 0;
    std::uint16_t whole = 0;
    Check(ReadTarget(m_board, t, &back, &whole), "read back " + TargetName(t));
    if (!ReadBackMatches(t, word, back))
        throw Failure{FailureKind::Verify, LINK_OK,
                      Label() + ": verify " + TargetName(t) + ": wrote " + Hex16(word)
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
        if (m_interrupted)
            throw Failure{FailureKind::Port, LINK_ERR_NOT_OPEN, Label() + ": dump: interrupted", m_port, 0};
        const auto address = static_cast<std::uint16_t>(a);
        const RegisterInfo* reg = m_map.FindAddress(address);
        if (reg && (!reg->Readable() || reg->ReadDisturbs()))
            continue;
        const RegisterRead read = m_board.ReadRegister(address);
        Check(read.result, "dump: read " + Hex16(address));
        values.emplace_back(address, read.value);
    }
    return values;
}

std::uint16_t Board::ValueByName(const RegisterTarget& t, const std::string& name) const
{
    if (!t.field)
        throw ValueFailure("write " + TargetName(t) + ": '" + name + "' names a value of a field, and " + TargetName(t)
                           + " is no field of the map");
    std::uint16_t value = 0;
    std::string error;
    if (!EncodeFieldValue(*t.field, name, &value, &error))
        throw ValueFailure("write " + TargetName(t) + ": " + error);
    return value;
}

RegisterSnapshot Board::Snapshot()
{
    if (m_map.Empty())
        throw ValueFailure("snapshot: no register map (connect(map=...))");
    RegisterSnapshot snapshot;
    std::string failed;
    Check(TakeSnapshot(m_board, m_map, &snapshot, &failed), "snapshot: read " + failed);
    return snapshot;
}

RegisterSnapshot Board::LoadSnapshotFile(const std::string& path, bool forRestore) const
{
    if (m_map.Empty())
        throw ValueFailure(std::string(forRestore ? "restore" : "diff") + ": no register map (connect(map=...))");
    if (!forRestore && path == "reset")
        return ResetSnapshot(m_map);
    RegisterSnapshot snapshot;
    std::string error;
    if (!LoadSnapshot(path, &snapshot, &error))
        throw ValueFailure(error);
    const std::string other = OtherMapNote(snapshot, m_map);
    if (forRestore && !other.empty())
        throw ValueFailure("restore: " + path + ": " + other + "; restore it with that map");
    return snapshot;
}

std::vector<RegisterDifference> Board::Diff(const RegisterSnapshot& snapshot)
{
    std::vector<RegisterDifference> differences = DiffSnapshot(m_board, m_map, snapshot);
    for (const RegisterDifference& d : differences)
        Check(d.result, "diff: read " + d.name);
    return differences;
}

std::vector<RestoreStep> Board::Restore(const RegisterSnapshot& snapshot)
{
    std::vector<RestoreStep> steps = RestoreSnapshot(m_board, m_map, snapshot);
    std::string failed;
    for (const RestoreStep& s : steps) {
        if (s.written && s.result != LINK_OK)
            Check(s.result, "restore: write " + s.name);
        if (s.written && !s.restored)
            failed += (failed.empty() ? "" : "; ") + s.name + ": " + s.why;
    }
    if (!failed.empty())
        throw Failure{FailureKind::Verify, LINK_OK, Label() + ": restore: " + failed, m_port, 0};
    return steps;
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
        pelvar::ApplyPreset(m_board, m_held, preset, targets, [&](const std::string& step, std::int32_t result) {
            steps.push_back(step);
            if (result != LINK_OK)
                failed = step;
        });
    Check(r, "preset " + path + ": " + failed);
    return steps;
}

DiagnosisReport Board::Diagnose()
{
    // On the open link: the start-up stays as it is, nothing is sent again.
    return RunDiagnosis(m_board, {m_port}, m_map);
}

void Board::Transact(std::uint8_t cmd, const std::vector<std::uint8_t>& payload)
{
    Check(m_board.Transact(cmd, payload.data(), static_cast<std::uint32_t>(payload.size())),
          "transact " + CommandName(cmd));
}

QueryResult Board::Query(std::uint8_t cmd, std::uint32_t room)
{
    QueryResult q = m_board.Query(cmd, room);
    Check(q.result, "query " + CommandName(cmd));
    return q;
}

std::uint32_t Board::Now() { return m_platform->TickCount(); }

void Board::Sleep(std::uint32_t ms)
{
    // In slices, so that an interrupt ends a long wait between reads at once.
    constexpr std::uint32_t kSliceMs = 50;
    const std::uint32_t start = m_platform->TickCount();
    for (std::uint32_t slept = 0; slept < ms && !m_interrupted; slept = m_platform->TickCount() - start)
        m_platform->Sleep(std::min(kSliceMs, ms - slept));
}

void Board::Close(bool raise)
{
    if (!m_board.IsOpen())
        return;
    const ReleaseOutcome release = m_board.Release();
    const int sysError = m_board.LastError();
    m_board.Close();
    if (raise && release.statusResult == LINK_ERR_NO_REPLY)
        throw Failure{KindOf(release.statusResult), release.statusResult,
                      DescribeFailure({Label(), "", "release", release.statusResult, sysError}), m_port, sysError};
}

std::vector<ExchangeRecord> Board::Exchanges(std::size_t count) const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    const std::deque<ExchangeRecord>& log = m_log.Records();
    const std::size_t n = count == 0 ? log.size() : std::min(count, log.size());
    return {log.end() - static_cast<std::ptrdiff_t>(n), log.end()};
}

std::uint64_t Board::ExchangeCount() const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_exchanges;
}

std::vector<ExchangeRecord> Board::TakeNewExchanges()
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    const std::deque<ExchangeRecord>& log = m_log.Records();
    const auto n = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(m_exchanges - m_taken, log.size()));
    m_taken = m_exchanges;
    return {log.end() - n, log.end()};
}

} // namespace pelvar::python
