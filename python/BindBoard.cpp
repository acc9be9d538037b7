// The connected board: adjustments, buttons, registers, raw exchanges, the
// diagnosis and the session's log; connect() and diagnose() to get there.
#include <pybind11/stl/filesystem.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "camera/Commands.h"
#include "camera/RegisterAccess.h"
#include "camera/RegisterSnapshot.h"
#include "platform/HexBytes.h"
#include "python/BindLog.h"
#include "python/Binding.h"

namespace pelvar::binding {

using pelvar::python::Board;
using namespace pybind11::literals;

namespace {

RegisterTarget Target(const Board& board, const RegisterKey& key)
{
    if (const Text* name = std::get_if<Text>(&key))
        return board.Resolve(name->value);
    return Board::AtAddress(std::get<Int>(key).value);
}

// A register value or a name of one of a field's values.
using RegisterValueArg = std::variant<Int, Text>;

long long ValueOf(const Board& board, const RegisterTarget& t, const RegisterValueArg& value)
{
    if (const Text* name = std::get_if<Text>(&value))
        return board.ValueByName(t, name->value);
    return std::get<Int>(value).value;
}

// A value read through the map: pelvar.registers.RegisterValue, an int that
// shows its fields; a plain int for an address the map does not name.
py::int_ ValueObject(const RegisterTarget& t, std::uint16_t value)
{
    if (!t.reg)
        return py::int_(value);
    const RegisterInfo reg = *t.reg; // the decoder keeps its own copy
    std::optional<RegisterField> field;
    if (t.field)
        field = *t.field;
    const auto decode = [reg, field](long long v) {
        const auto x = static_cast<std::uint16_t>(v);
        return field ? FieldValueText({&*field, x, field->ValueName(x)}) : DecodedText(reg, x);
    };
    py::dict fields;
    py::object valueName = py::none();
    std::string decoded;
    if (field) {
        if (const std::string* name = field->ValueName(value)) {
            valueName = py::str(*name);
            decoded = decode(value);
        }
    } else {
        for (const DecodedField& d : DecodeRegister(reg, value))
            fields[py::str(d.field->name)] = d.value;
        decoded = decode(value);
    }
    const py::object cls = py::module_::import("pelvar.registers").attr("RegisterValue");
    return py::int_(cls(value, TargetName(t), decoded, fields, valueName, py::cpp_function(decode)));
}

py::dict DifferenceDict(const RegisterDifference& d)
{
    py::dict fields;
    if (d.reg && d.note.empty()) {
        const std::vector<DecodedField> was = DecodeRegister(*d.reg, d.was);
        const std::vector<DecodedField> now = DecodeRegister(*d.reg, d.now);
        for (std::size_t i = 0; i < was.size(); ++i) {
            if (was[i].value != now[i].value)
                fields[py::str(was[i].field->name)] = py::make_tuple(was[i].value, now[i].value);
        }
    }
    return py::dict("name"_a = d.name, "address"_a = d.reg ? py::object(py::int_(d.reg->address)) : py::none(),
                    "was"_a = d.was, "now"_a = d.note.empty() ? py::object(py::int_(d.now)) : py::none(),
                    "volatile"_a = d.reg && d.reg->access == RegisterAccess::Volatile, "fields"_a = fields,
                    "note"_a = d.note.empty() ? py::none() : py::object(py::str(d.note)),
                    "text"_a = DifferenceText(d));
}

std::uint8_t CommandCode(const CommandRef& cmd)
{
    if (const Text* name = std::get_if<Text>(&cmd)) {
        const CommandInfo* info = FindCommand(name->value);
        if (!info)
            ValueError("unknown command '" + name->value + "'");
        return info->code;
    }
    return static_cast<std::uint8_t>(InRange(std::get<Int>(cmd), "command", 0, 0xFF));
}

std::string MapPath(const std::optional<std::filesystem::path>& map) { return map ? map->string() : std::string(); }

// Close or disconnect: a call of another thread ends at its next exchange,
// then the board is released.
void Release(Board& board, bool raise)
{
    const ExchangesLogged logged{board};
    py::gil_scoped_release release;
    board.Interrupt();
    std::lock_guard<std::mutex> lock(board.Line());
    board.ClearInterrupt();
    board.Close(raise);
}

std::atomic<Board*> g_ctrlCBoard{nullptr};
struct sigaction g_pythonsHandler {};
const std::thread::id g_mainThread = std::this_thread::get_id();

void OnCtrlC(int sig)
{
    if (Board* board = g_ctrlCBoard.load())
        board->Interrupt();
    if (g_pythonsHandler.sa_handler != SIG_DFL && g_pythonsHandler.sa_handler != SIG_IGN)
        g_pythonsHandler.sa_handler(sig);
}

} // namespace

CtrlCInterrupts::CtrlCInterrupts(Board& board) : m_board(board)
{
    // Python handles signals on its main thread only; one board at a time there.
    if (std::this_thread::get_id() != g_mainThread || g_ctrlCBoard.load())
        return;
    board.ClearInterrupt();
    g_ctrlCBoard = &board;
    struct sigaction ours {};
    ours.sa_handler = OnCtrlC;
    sigemptyset(&ours.sa_mask);
    m_installed = sigaction(SIGINT, &ours, &g_pythonsHandler) == 0;
    if (!m_installed)
        g_ctrlCBoard = nullptr;
}

CtrlCInterrupts::~CtrlCInterrupts()
{
    if (!m_installed)
        return;
    sigaction(SIGINT, &g_pythonsHandler, nullptr);
    g_ctrlCBoard = nullptr;
    m_installed = false;
}

void CtrlCInterrupts::Done()
{
    if (m_installed) {
        sigaction(SIGINT, &g_pythonsHandler, nullptr);
        g_ctrlCBoard = nullptr;
        m_installed = false;
    }
    if (PyErr_CheckSignals() == 0)
        return;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(m_board.Line());
        m_board.Abandon();
    }
    throw py::error_already_set();
}

namespace {

struct QueryReply {
    std::uint32_t value = 0;
    py::bytes frame;
};

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string QueryReplyRepr(const QueryReply& q)
{
    const std::string frame(q.frame);
    return "<pelvar.QueryReply value=" + Hex(q.value)
           + " frame=" + HexBytes(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()) + ">";
}

// A register's changes: the first value, then each different one.
class Watch {
public:
    Watch(Board& board, RegisterTarget target, std::uint32_t intervalMs, std::optional<std::uint32_t> count)
        : m_board(board), m_target(target), m_interval(intervalMs), m_count(count), m_start(board.Now())
    {}

    std::pair<std::uint32_t, py::int_> Next()
    {
        for (;;) {
            if (m_count && m_reads >= *m_count)
                throw py::stop_iteration();
            if (PyErr_CheckSignals() != 0)
                throw py::error_already_set();
            std::uint32_t at = 0;
            const std::uint16_t value = OnTheLine(m_board, [this, &at] {
                const std::uint64_t due = static_cast<std::uint64_t>(m_reads) * m_interval;
                const std::uint32_t now = m_board.Now() - m_start;
                if (due > now)
                    m_board.Sleep(static_cast<std::uint32_t>(due - now));
                at = m_board.Now() - m_start;
                return m_board.Read(m_target);
            });
            ++m_reads;
            if (m_reads == 1 || value != m_last) {
                m_last = value;
                return {at, ValueObject(m_target, value)};
            }
        }
    }

private:
    Board& m_board;
    RegisterTarget m_target;
    std::uint32_t m_interval;
    std::optional<std::uint32_t> m_count;
    std::uint32_t m_start;
    std::uint32_t m_reads = 0;
    std::uint16_t m_last = 0;
};

// Reads and writes by board.reg[key].
struct RegisterView {
    Board* board;
};

// A board dropped without close() releases itself; not with the GIL held,
// which would stop every other thread for the release's exchanges.
struct ReleasingDelete {
    void operator()(Board* board) const
    {
        py::gil_scoped_release release;
        delete board;
    }
};
using BoardPtr = std::unique_ptr<Board, ReleasingDelete>;

py::dict ReportDict(const pelvar::python::DiagnosisReport& r)
{
    py::list steps;
    for (const DiagnosisStep& s : r.steps)
        steps.append(py::dict("step"_a = s.step, "ok"_a = s.ok, "text"_a = s.text));
    return py::dict("ok"_a = r.verdict.ok, "verdict"_a = r.verdict.text, "result"_a = ResultName(r.verdict.result),
                    "code"_a = r.verdict.result, "steps"_a = steps);
}

} // namespace

void BindBoard(py::module_& m)
{
    py::class_<QueryReply>(m, "QueryReply", "The answer of a data query.")
        .def_readonly("value", &QueryReply::value, "The payload, low byte first.")
        .def_readonly("frame", &QueryReply::frame, "The reply frame, STX to ETX.")
        .def("__repr__", &QueryReplyRepr);

    py::class_<Watch>(m, "Watch", "Iterator over a register's changes: (ms since the start, value).")
        .def("__iter__", [](Watch& w) -> Watch& { return w; })
        .def("__next__", &Watch::Next);

    py::class_<RegisterView>(m, "RegisterView",
                             "board.reg[0x0010], board.reg['CTRL.GAIN'] = 5: registers by address or map name.")
        .def(
            "__getitem__",
            [](RegisterView& v, const RegisterKey& reg) {
                const RegisterTarget t = Target(*v.board, reg);
                return ValueObject(t, OnTheLine(*v.board, [&] { return v.board->Read(t); }));
            },
            "reg"_a)
        .def(
            "__setitem__",
            [](RegisterView& v, const RegisterKey& reg, const RegisterValueArg& value) {
                const RegisterTarget t = Target(*v.board, reg);
                const long long word = ValueOf(*v.board, t, value);
                OnTheLine(*v.board, [&] { v.board->Write(t, word, false); });
            },
            "reg"_a, "value"_a)
        .def("__repr__", [](const RegisterView& v) {
            const std::size_t named = v.board->Map().Registers().size();
            return "<pelvar.RegisterView " + v.board->Port().Text() + ", "
                   + (named == 0 ? std::string("no register map")
                                 : std::to_string(named) + (named == 1 ? " register" : " registers") + " by name")
                   + ">";
        });

    py::class_<Board, BoardPtr>(m, "Board", "A connected board; use it as a context manager to release it.")
        .def_property_readonly(
            "port", [](const Board& b) { return PortValue(b.Port()); },
            "The port the board answered on: n of COMn, or the device path or URL it was named by.")
        .def_property_readonly("sensor", &Board::Sensor, "'ARVEN-L' or 'ARVEN-S'.")
        .def_property_readonly("open", &Board::Open, "False once released.")
        .def_property_readonly(
            "reg", [](Board& b) { return RegisterView{&b}; }, py::keep_alive<0, 1>(),
            "Registers by address (int) or by name of the register map ('EXPOSURE', 'CTRL.GAIN').")
        .def(
            "set",
            [](Board& b, const Text& name, Int value) {
                const int v = static_cast<int>(InRange(value, ("set " + name.value + ":").c_str(), 0, 255));
                OnTheLine(b, [&] { b.Set(name.value, v); });
            },
            "name"_a, "value"_a, "One adjustment: brightness, contrast, red, green or blue, 0..255.")
        .def(
            "press", [](Board& b, const Text& button) { OnTheLine(b, [&] { b.Press(button.value); }); }, "button"_a,
            "A function button: edge, scale, gamma, test-pattern, left, right, up, down, ...")
        .def(
            "read",
            [](Board& b, const RegisterKey& reg) {
                const RegisterTarget t = Target(b, reg);
                return ValueObject(t, OnTheLine(b, [&] { return b.Read(t); }));
            },
            "reg"_a,
            "Reads a register (or a field of the map). A register or field of the map comes back as a "
            "pelvar.RegisterValue: an int that shows hexadecimal and its fields, and equals a field value's name.")
        .def(
            "write",
            [](Board& b, const RegisterKey& addr, const RegisterValueArg& value, bool verify) {
                const RegisterTarget t = Target(b, addr);
                const long long word = ValueOf(b, t, value);
                OnTheLine(b, [&] { b.Write(t, word, verify); });
            },
            "addr"_a, "value"_a, py::arg("verify").noconvert() = false,
            "Writes a register (a field: read-modify-write, its value a number or one of its names), as pelvarctl "
            "reg write does; verify=True reads it back "
            "and raises VerifyError on a difference (refused for a write-only register, before anything is sent).")
        .def(
            "snapshot",
            [](Board& b, const std::optional<std::filesystem::path>& path) {
                const RegisterSnapshot snapshot = OnTheLine(b, [&] { return b.Snapshot(); });
                std::string error;
                if (path && !SaveSnapshot(path->string(), snapshot, &error)) {
                    PyErr_SetString(PyExc_OSError, error.c_str());
                    throw py::error_already_set();
                }
                py::dict values;
                for (const SnapshotEntry& e : snapshot.registers)
                    values[py::str(e.name)] = e.value;
                return values;
            },
            "path"_a = py::none(),
            "Reads every register of the map that may be read (never one a read clears, rc) and returns "
            "{name: value}; with path, saves it as pelvarctl reg snapshot does.")
        .def(
            "diff",
            [](Board& b, const std::filesystem::path& against) {
                const RegisterSnapshot snapshot = b.LoadSnapshotFile(against.string(), false);
                // Compared by name all the same, as pelvarctl reg diff does.
                if (const std::string other = OtherMapNote(snapshot, b.Map());
                    !other.empty() && PyErr_WarnEx(PyExc_UserWarning, (against.string() + ": " + other).c_str(), 1) != 0)
                    throw py::error_already_set();
                const auto differences = OnTheLine(b, [&] { return b.Diff(snapshot); });
                py::list out;
                for (const RegisterDifference& d : differences)
                    out.append(DifferenceDict(d));
                return out;
            },
            "against"_a,
            "The registers that differ from a snapshot file (or from the map's reset values for 'reset'): "
            "[{'name', 'address', 'was', 'now', 'volatile', 'fields': {field: (was, now)}, 'note', 'text'}]; "
            "empty when none does.")
        .def(
            "restore",
            [](Board& b, const std::filesystem::path& path) {
                const RegisterSnapshot snapshot = b.LoadSnapshotFile(path.string(), true);
                const auto steps = OnTheLine(b, [&] { return b.Restore(snapshot); });
                py::list out;
                for (const RestoreStep& s : steps)
                    out.append(py::dict("name"_a = s.name, "value"_a = s.value, "restored"_a = s.restored,
                                        "why"_a = s.restored ? py::none() : py::object(py::str(s.why))));
                return out;
            },
            "path"_a,
            "Writes a snapshot's writable registers back in map order, each read back, and returns every "
            "register's step: [{'name', 'value', 'restored', 'why'}]; VerifyError when one did not read back.")
        .def(
            "dump",
            [](Board& b, Int first, Int last) {
                auto values = OnTheLine(b, [&] { return b.Dump(first.value, last.value); });
                return std::map<std::uint16_t, std::uint16_t>(values.begin(), values.end());
            },
            "first"_a, "last"_a, "Registers first..last (inclusive) as {address: value}.")
        .def(
            "watch",
            [](Board& b, const RegisterKey& reg, Int interval, std::optional<Int> count) {
                const RegisterTarget t = Target(b, reg);
                const std::uint32_t ms = InRange(interval, "interval_ms", 0, 3600000);
                std::optional<std::uint32_t> n;
                if (count)
                    n = InRange(*count, "count", 0, UINT32_MAX);
                if (!b.Open())
                    OnTheLine(b, [] {});
                return Watch(b, t, ms, n);
            },
            "reg"_a, "interval_ms"_a = Int{200}, "count"_a = py::none(), py::keep_alive<0, 1>(),
            "Reads every interval_ms; yields (ms, value) for the first value and each change, the value read "
            "through the map as reg[...] reads it; count reads, or without end.")
        .def(
            "apply_preset",
            [](Board& b, const std::filesystem::path& path) {
                return OnTheLine(b, [&] { return b.ApplyPreset(path.string()); });
            },
            "path"_a, "Sends a preset file: the five adjustments, then its register writes. Returns the steps.")
        .def(
            "diagnose", [](Board& b) { return ReportDict(OnTheLine(b, [&] { return b.Diagnose(); })); },
            "The bring-up on this board's port, as pelvarctl diagnose: {'ok', 'verdict', 'result', 'code', "
            "'steps': [{'step', 'ok', 'text'}]}. The board stays connected.")
        .def(
            "transact",
            [](Board& b, const CommandRef& cmd, const std::variant<py::bytes, py::bytearray>& payload) {
                const std::uint8_t code = CommandCode(cmd);
                const std::string raw = std::visit([](const auto& p) { return std::string(p); }, payload);
                if (raw.size() > kMaxPayload)
                    ValueError("payload: more than 252 bytes");
                const std::vector<std::uint8_t> bytes(raw.begin(), raw.end());
                OnTheLine(b, [&] { b.Transact(code, bytes); });
            },
            "cmd"_a, "payload"_a = py::bytes(),
            "One acknowledged transaction (up to six attempts); cmd a code (0x91) or a name ('brightness').")
        .def(
            "query",
            [](Board& b, const CommandRef& cmd, std::optional<Int> room) {
                const std::uint8_t code = CommandCode(cmd);
                const std::uint32_t r =
                    room ? InRange(*room, "room", 0, kMaxRoom) : (code == CMD_REG_READ ? kRegReadRoom : kStatusRoom);
                const QueryResult q = OnTheLine(b, [&] { return b.Query(code, r); });
                return QueryReply{q.value, py::bytes(reinterpret_cast<const char*>(q.frame), q.frameLength)};
            },
            "cmd"_a = "status", "room"_a = py::none(),
            "One data query: 'status' or 'reg_read' (or a code with room payload bytes).")
        .def(
            "log",
            [](const Board& b, std::optional<Int> last) {
                const std::size_t n = last ? InRange(*last, "last", 0, UINT32_MAX) : 0;
                std::vector<LoggedExchange> out;
                for (ExchangeRecord& r : b.Exchanges(n))
                    out.push_back(LoggedExchange{std::move(r)});
                return out;
            },
            "last"_a = py::none(), "The session's decoded exchanges, oldest first (the last ones only, when given).")
        .def_property_readonly("exchange_count", &Board::ExchangeCount,
                               "Exchanges since connect(), also those log() no longer holds.")
        .def(
            "close", [](Board& b) { Release(b, false); },
            "Releases the board and the port; a board that does not answer is released all the same.")
        .def(
            "disconnect", [](Board& b) { Release(b, true); },
            "Releases the board as Disconnect does; NoReplyError when it did not answer (the port is released).")
        .def("__enter__", [](Board& b) -> Board& { return b; })
        .def(
            "__exit__",
            [](Board& b, const py::object&, const py::object&, const py::object&) {
                Release(b, false);
                return false;
            },
            "exc_type"_a, "exc_value"_a, "traceback"_a)
        .def("__repr__", [](const Board& b) {
            return "<pelvar.Board " + b.Port().Text() + " " + b.Sensor() + (b.Open() ? "" : " released") + ">";
        });

    m.def(
        "connect",
        [](const std::optional<PortRef>& port, const std::optional<std::filesystem::path>& map,
           const std::optional<Int>& replyTimeout, bool rs485) {
            const pelvar::PortRef named = PortOf(port);
            const std::string mapPath = MapPath(map);
            // Never shorter than the board's own window: its replies would be cut off.
            const std::uint32_t window =
                replyTimeout ? InRange(*replyTimeout, "reply_timeout_ms", kReceiveWindowMs, 60000) : kReceiveWindowMs;
            BoardPtr board;
            {
                py::gil_scoped_release release;
                board.reset(new Board(named, mapPath, window, rs485));
            }
            LogNewExchanges(*board);
            return board;
        },
        "port"_a = py::none(), "map"_a = py::none(), py::kw_only(), "reply_timeout_ms"_a = py::none(),
        "rs485"_a = false,
        "Finds and starts the board as Connect does (every listed port, or the port given: 7, '7', 'COM7', a "
        "device path or an rfc2217:// URL); "
        "map: a register map (JSON) for names; reply_timeout_ms: how long a reply is waited for, 500 (the "
        "board's window, the default) to 60000, for a board behind a slow path; rs485: the driver's RS-485 mode "
        "drives RTS (refused where the driver has none).");

    m.def(
        "diagnose",
        [](const std::optional<PortRef>& port, const std::optional<std::filesystem::path>& map) {
            const pelvar::PortRef named = PortOf(port);
            const std::string mapPath = MapPath(map);
            pelvar::python::DiagnosisReport report;
            {
                py::gil_scoped_release release;
                report = pelvar::python::DiagnosePorts(named, mapPath);
            }
            return ReportDict(report);
        },
        "port"_a = py::none(), "map"_a = py::none(),
        "pelvarctl diagnose from Python: the bring-up on every listed port (or the port given), as a dict.");
}

} // namespace pelvar::binding
