// The Python module pelvar._pelvar: the camera core, called from Python.
// Arguments are checked (TypeError, ValueError) before anything is sent;
// every exchange runs with the GIL released, so threads drive several boards
// at once; failures become the exceptions of pelvar.errors.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>

#include "camera/Commands.h"
#include "camera/ExchangeLog.h"
#include "camera/RegisterAccess.h"
#include "discovery/DeviceSource.h"
#include "discovery/PortEntry.h"
#include "discovery/PortWalk.h"
#include "link/ResultCodes.h"
#include "platform/PortName.h"
#include "python/Board.h"
#include "sim/PtyBoard.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace pelvar::binding {

using pelvar::python::Board;
using pelvar::python::Failure;
using pelvar::python::FailureKind;

namespace {

constexpr int kFirstSimPort = 200;

[[noreturn]] void TypeError(const std::string& message) { throw py::type_error(message); }
[[noreturn]] void ValueError(const std::string& message) { throw py::value_error(message); }

const char* KindName(FailureKind kind)
{
    switch (kind) {
    case FailureKind::Port: return "port";
    case FailureKind::Startup: return "startup";
    case FailureKind::Verify: return "verify";
    default: return "link";
    }
}

void Raise(const Failure& f)
{
    if (f.kind == FailureKind::Value) {
        PyErr_SetString(PyExc_ValueError, f.message.c_str());
        return;
    }
    py::module_ errors = py::module_::import("pelvar.errors");
    py::object cls = errors.attr("error_class")(KindName(f.kind), f.code, f.sysError);
    py::object error = cls(f.message, "code"_a = f.code, "name"_a = ResultName(f.code),
                           "port"_a = f.port ? py::object(py::int_(f.port)) : py::object(py::none()),
                           "errno"_a = f.sysError ? py::object(py::int_(f.sysError)) : py::object(py::none()));
    PyErr_SetObject(cls.ptr(), error.ptr());
}

// An int that is not a bool, as a long long; a bool or anything else is a TypeError.
long long IntArg(const py::handle& h, const char* what)
{
    if (PyBool_Check(h.ptr()) || !PyLong_Check(h.ptr()))
        TypeError(std::string(what) + " must be an int, not " + std::string(py::str(h.get_type().attr("__name__"))));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(h.ptr(), &overflow);
    if (overflow != 0)
        ValueError(std::string(what) + " is out of range");
    return v;
}

std::string StrArg(const py::handle& h, const char* what)
{
    if (!py::isinstance<py::str>(h))
        TypeError(std::string(what) + " must be a str, not " + std::string(py::str(h.get_type().attr("__name__"))));
    return h.cast<std::string>();
}

// A file name as str or os.PathLike.
std::string PathArg(const py::handle& h, const char* what)
{
    py::object os = py::module_::import("os");
    if (!py::isinstance<py::str>(h) && !py::hasattr(h, "__fspath__"))
        TypeError(std::string(what) + " must be a str or os.PathLike");
    return StrArg(os.attr("fspath")(h), what);
}

// 7, "7" or "COM7". Every string goes through the core's port-name parser,
// so that a form it learns (a device path, a network port) works here too.
int PortArg(const py::handle& h)
{
    if (h.is_none())
        return 0;
    if (py::isinstance<py::str>(h)) {
        int port = 0;
        const std::string text = h.cast<std::string>();
        if (std::string why; !ParsePortReference(text, &port, &why))
            ValueError("port " + why);
        return port;
    }
    const long long port = IntArg(h, "port");
    if (port < kMinPort || port > kMaxPort)
        ValueError("port " + std::to_string(port) + " is not within 1..255");
    return static_cast<int>(port);
}

// Runs `f` on the board with the GIL released and the line to itself.
template <class F>
auto OnTheLine(Board& board, F f)
{
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(board.Line());
    if (!board.Open())
        throw Failure{FailureKind::Port, LINK_ERR_NOT_OPEN,
                      "COM" + std::to_string(board.Port()) + ": the board has been released", board.Port(), 0};
    return f();
}

// Close or disconnect: no exchange of another thread is cut short.
void Release(Board& board, bool raise)
{
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(board.Line());
    board.Close(raise);
}

RegisterTarget TargetArg(const Board& board, const py::handle& key)
{
    if (py::isinstance<py::str>(key))
        return board.Resolve(key.cast<std::string>());
    return Board::AtAddress(IntArg(key, "register address"));
}

std::uint8_t CommandArg(const py::handle& h)
{
    if (py::isinstance<py::str>(h)) {
        const CommandInfo* info = FindCommand(h.cast<std::string>());
        if (!info)
            ValueError("unknown command '" + h.cast<std::string>() + "'");
        return info->code;
    }
    const long long code = IntArg(h, "command");
    if (code < 0 || code > 0xFF)
        ValueError("command " + std::to_string(code) + " is not within 0..0xff");
    return static_cast<std::uint8_t>(code);
}

py::bytes Bytes(const std::vector<std::uint8_t>& v)
{
    return py::bytes(reinterpret_cast<const char*>(v.data()), v.size());
}

// The exchange log's record as Python sees it.
struct LoggedExchange {
    ExchangeRecord record;
};

struct QueryReply {
    std::uint32_t value = 0;
    py::bytes frame;
};

struct PortInfo {
    std::string entry;
    int port = 0;
    std::string device;
    std::optional<std::string> vendorId;
    std::optional<std::string> productId;
    std::optional<std::string> serial;
};

std::optional<std::string> Known(const std::string& s) { return s.empty() ? std::nullopt : std::optional(s); }

std::vector<PortInfo> Ports()
{
    std::vector<PortListing> listing;
    {
        py::gil_scoped_release release;
        std::unique_ptr<IDeviceSource> source = MachineDevices();
        listing = ListPortDevices(*source, stderr);
    }
    std::vector<PortInfo> ports;
    for (const PortListing& l : listing) {
        PortInfo p{l.text,
                   0,
                   l.device.devicePath,
                   Known(l.device.vendorId),
                   Known(l.device.productId),
                   Known(l.device.serial)};
        ReadPortEntry(l.text, &p.port);
        ports.push_back(p);
    }
    return ports;
}

// A register's changes: the first value, then each different one.
class Watch {
public:
    Watch(Board& board, RegisterTarget target, std::uint32_t intervalMs, std::optional<std::uint32_t> count)
        : m_board(board), m_target(target), m_interval(intervalMs), m_count(count), m_start(board.Now())
    {}

    py::tuple Next()
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
                return py::make_tuple(at, value);
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

BoardPtr Connect(const py::object& port, const py::object& map)
{
    const int number = PortArg(port);
    const std::string mapPath = map.is_none() ? std::string() : PathArg(map, "map");
    py::gil_scoped_release release;
    return BoardPtr(new Board(number, mapPath));
}

py::dict ReportDict(const pelvar::python::DiagnosisReport& r)
{
    py::list steps;
    for (const DiagnosisStep& s : r.steps)
        steps.append(py::dict("step"_a = s.step, "ok"_a = s.ok, "text"_a = s.text));
    return py::dict("ok"_a = r.verdict.ok, "verdict"_a = r.verdict.text, "result"_a = ResultName(r.verdict.result),
                    "code"_a = r.verdict.result, "steps"_a = steps);
}

// The simulated board on a pseudo-terminal, as pelvar-sim plays it.
class SimulatedBoard {
public:
    explicit SimulatedBoard(const PtyBoardOptions& options, bool choosePort)
    {
        PtyBoardOptions o = options;
        py::gil_scoped_release release;
        for (;;) {
            m_pty = std::make_unique<PtyBoard>(o);
            const int rc = m_pty->Start();
            if (rc == 0)
                return;
            // Another board holds the name: the next free one, when it was ours to choose.
            if (rc != -EEXIST || !choosePort || o.port >= kMaxPort)
                throw Failure{FailureKind::Port, PORT_ERR_CONFIG, "simulated board: " + m_pty->ErrorText(), o.port,
                              -rc};
            ++o.port;
        }
    }

    int Port() const { return m_pty->Port(); }
    std::string Device() const { return m_pty->SlavePath(); }
    std::string Link() const { return m_pty->LinkPath(); }
    bool HungUp() const { return m_pty->HungUp(); }
    bool Running() const { return m_pty->Running(); }
    std::string StateText() const { return m_pty->StateText(); }
    SimBoard Snapshot() const { return m_pty->Snapshot(); }
    SimBoardOptions Options() const { return m_pty->BoardOptions(); }
    void SetOptions(const SimBoardOptions& o) { m_pty->SetBoardOptions(o); }

    void Stop()
    {
        py::gil_scoped_release release;
        m_pty->Stop();
    }

private:
    std::unique_ptr<PtyBoard> m_pty;
};

std::uint32_t NonNegative(const py::handle& h, const char* what, long long max = UINT32_MAX)
{
    const long long v = IntArg(h, what);
    if (v < 0 || v > max)
        ValueError(std::string(what) + " " + std::to_string(v) + " is not within 0.." + std::to_string(max));
    return static_cast<std::uint32_t>(v);
}

bool BoolArg(const py::handle& h, const char* what)
{
    if (!PyBool_Check(h.ptr()))
        TypeError(std::string(what) + " must be a bool");
    return h.cast<bool>();
}

// Fault keywords as pelvar-sim's options name them.
void ApplyFaults(SimBoardOptions* o, const py::kwargs& faults)
{
    // pelvar-sim's switches and numbers, by their keyword.
    static const std::pair<const char*, bool SimBoardOptions::*> kSwitches[] = {
        {"silent", &SimBoardOptions::silent},
        {"nak", &SimBoardOptions::nak},
        {"garbage", &SimBoardOptions::garbage},
        {"corrupt", &SimBoardOptions::corrupt},
    };
    struct Number {
        const char* name;
        std::uint32_t SimBoardOptions::*member;
        long long min;
        long long max;
    };
    static const Number kNumbers[] = {
        {"delay_ms", &SimBoardOptions::delayMs, 0, 600000},
        {"drop_every", &SimBoardOptions::dropEvery, 0, UINT32_MAX},
        {"hangup_after", &SimBoardOptions::hangupAfter, 0, UINT32_MAX},
        {"ack_bytes", &SimBoardOptions::ackBytes, 1, 4},
    };
    for (const auto& [key, value] : faults) {
        const std::string k = py::str(key);
        if (k == "sensor") {
            if (!ParseSensorKind(StrArg(value, "sensor"), &o->sensor))
                ValueError("sensor must be 'L', 'S' or 'none'");
            continue;
        }
        bool known = false;
        for (const auto& [name, member] : kSwitches) {
            if (k == name) {
                o->*member = BoolArg(value, name);
                known = true;
            }
        }
        for (const Number& n : kNumbers) {
            if (k == n.name) {
                const long long v = IntArg(value, n.name);
                if (v < n.min || v > n.max)
                    ValueError(k + " " + std::to_string(v) + " is not within " + std::to_string(n.min) + ".."
                               + std::to_string(n.max));
                o->*n.member = static_cast<std::uint32_t>(v);
                known = true;
            }
        }
        if (!known)
            TypeError("unknown fault '" + k + "'");
    }
}

py::dict FaultsDict(const SimBoardOptions& o)
{
    return py::dict("sensor"_a = SensorKindName(o.sensor), "silent"_a = o.silent, "nak"_a = o.nak,
                    "delay_ms"_a = o.delayMs, "drop_every"_a = o.dropEvery, "garbage"_a = o.garbage,
                    "corrupt"_a = o.corrupt, "hangup_after"_a = o.hangupAfter, "ack_bytes"_a = o.ackBytes);
}

py::dict StateDict(const SimBoard& b)
{
    py::dict adjust("brightness"_a = b.Adjust().brightness, "contrast"_a = b.Adjust().contrast,
                    "red"_a = b.Adjust().red, "green"_a = b.Adjust().green, "blue"_a = b.Adjust().blue);
    py::dict commands;
    for (const CommandInfo& c : AllCommands()) {
        if (b.CommandCount(c.code) > 0)
            commands[py::str(c.name)] = b.CommandCount(c.code);
    }
    py::dict registers;
    for (const auto& [address, value] : b.WrittenRegisters())
        registers[py::int_(address)] = value;
    return py::dict("status"_a = b.Status(), "active"_a = (b.Status() & STATUS_ACTIVE) != 0, "adjustments"_a = adjust,
                    "commands"_a = commands, "registers"_a = registers, "latched_address"_a = b.LatchedAddress(),
                    "frames_received"_a = b.FramesReceived(), "bad_frames"_a = b.BadFrames(),
                    "replies_sent"_a = b.RepliesSent(), "hung_up"_a = b.HungUp());
}

} // namespace

} // namespace pelvar::binding

using namespace pelvar;
using namespace pelvar::binding;

PYBIND11_MODULE(_pelvar, m)
{
    m.doc() = "The Pelvar camera board from Python: the C++ core of pelvarctl and the panel.";
    m.attr("__version__") = PELVAR_VERSION;

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const Failure& f) {
            Raise(f);
        }
    });

    m.def(
        "result_name", [](std::int32_t code) { return std::string(ResultName(code)); }, "code"_a,
        "The name of a result code: result_name(-2002) == 'LINK_ERR_NO_REPLY'.");

    py::class_<PortInfo>(m, "PortInfo", "One listed serial port.")
        .def_readonly("entry", &PortInfo::entry, "The port list's text, as Connect reads it.")
        .def_readonly("port", &PortInfo::port, "n of COMn.")
        .def_readonly("device", &PortInfo::device, "The device node, '/dev/ttyUSB0'.")
        .def_readonly("vendor_id", &PortInfo::vendorId, "USB vendor id ('0403'), None when not USB.")
        .def_readonly("product_id", &PortInfo::productId, "USB product id, None when not USB.")
        .def_readonly("serial", &PortInfo::serial, "USB serial number, None when unknown.")
        .def("__repr__",
             [](const PortInfo& p) { return "<PortInfo COM" + std::to_string(p.port) + " " + p.device + ">"; });

    m.def("ports", &Ports, "The listed serial ports, in the order connect() tries them.");
    m.def(
        "port_list",
        [](const std::string& text) {
            std::vector<int> ports;
            if (std::string error; !ParsePortList(text, &ports, &error))
                ValueError(error);
            return ports;
        },
        py::arg("text"),
        "The port numbers of a list as pelvarctl --port takes it (\"7,8,9\", COMn, device paths, "
        "rfc2217:// URLs), ascending; ValueError for a bad element.");

    py::class_<LoggedExchange>(m, "Exchange",
                               "One exchange with the board, decoded as the panel's traffic pane shows it.")
        .def_property_readonly(
            "at_ms", [](const LoggedExchange& e) { return e.record.atMs; }, "ms since connect().")
        .def_property_readonly(
            "command", [](const LoggedExchange& e) { return CommandName(e.record.cmd); },
            "The command's name: 'brightness', 'reg_read'.")
        .def_property_readonly(
            "code", [](const LoggedExchange& e) { return e.record.cmd; }, "The command byte.")
        .def_property_readonly("payload", [](const LoggedExchange& e) { return Bytes(e.record.payload); })
        .def_property_readonly(
            "query", [](const LoggedExchange& e) { return e.record.query; },
            "True for a data query, False for a transaction.")
        .def_property_readonly(
            "meaning", [](const LoggedExchange& e) { return ExchangeMeaning(e.record); },
            "'brightness 200', 'reg 0x0010 = 0xbeef', 'status 0x11: active, ARVEN-L'.")
        .def_property_readonly("result",
                               [](const LoggedExchange& e) { return std::string(ResultName(e.record.result)); })
        .def_property_readonly("result_code", [](const LoggedExchange& e) { return e.record.result; })
        .def_property_readonly("attempts", [](const LoggedExchange& e) { return e.record.attempts; })
        .def_property_readonly("duration_ms", [](const LoggedExchange& e) { return e.record.durationMs; })
        .def_property_readonly(
            "value", [](const LoggedExchange& e) { return e.record.value; }, "A query's answer.")
        .def_property_readonly(
            "frames",
            [](const LoggedExchange& e) {
                py::list frames;
                for (const ExchangeFrame& f : e.record.frames)
                    frames.append(py::make_tuple(f.sent ? ">" : "<", Bytes(f.bytes)));
                return frames;
            },
            "(direction, bytes) in order: '>' sent, '<' a block read back.")
        .def_property_readonly(
            "line", [](const LoggedExchange& e) { return ExchangeLine(e.record); },
            "The line of pelvarctl --trace=decoded and the panel's saved log.")
        .def("__str__", [](const LoggedExchange& e) { return ExchangeLine(e.record); })
        .def("__repr__", [](const LoggedExchange& e) { return "<Exchange " + ExchangeMeaning(e.record) + ">"; });

    py::class_<QueryReply>(m, "QueryReply", "The answer of a data query.")
        .def_readonly("value", &QueryReply::value, "The payload, low byte first.")
        .def_readonly("frame", &QueryReply::frame, "The reply frame, STX to ETX.");

    py::class_<Watch>(m, "Watch", "Iterator over a register's changes: (ms since the start, value).")
        .def("__iter__", [](Watch& w) -> Watch& { return w; })
        .def("__next__", &Watch::Next);

    py::class_<RegisterView>(m, "RegisterView",
                             "board.reg[0x0010], board.reg['CTRL.GAIN'] = 5: registers by address or map name.")
        .def("__getitem__",
             [](RegisterView& v, const py::object& key) {
                 const RegisterTarget t = TargetArg(*v.board, key);
                 return OnTheLine(*v.board, [&] { return v.board->Read(t); });
             })
        .def("__setitem__", [](RegisterView& v, const py::object& key, const py::object& value) {
            const RegisterTarget t = TargetArg(*v.board, key);
            const long long word = IntArg(value, "register value");
            OnTheLine(*v.board, [&] { v.board->Write(t, word, false); });
        });

    py::class_<Board, BoardPtr>(m, "Board", "A connected board; use it as a context manager to release it.")
        .def_property_readonly("port", &Board::Port, "n of COMn the board answered on.")
        .def_property_readonly("sensor", &Board::Sensor, "'ARVEN-L' or 'ARVEN-S'.")
        .def_property_readonly("open", &Board::Open, "False once released.")
        .def_property_readonly(
            "reg", [](Board& b) { return RegisterView{&b}; }, py::keep_alive<0, 1>(),
            "Registers by address (int) or by name of the register map ('EXPOSURE', 'CTRL.GAIN').")
        .def(
            "set",
            [](Board& b, const py::object& name, const py::object& value) {
                const std::string n = StrArg(name, "name");
                const long long v = IntArg(value, "value");
                if (v < 0 || v > 255)
                    ValueError("set " + n + ": " + std::to_string(v) + " is not within 0..255");
                OnTheLine(b, [&] { b.Set(n, static_cast<int>(v)); });
            },
            "name"_a, "value"_a, "One adjustment: brightness, contrast, red, green or blue, 0..255.")
        .def(
            "press",
            [](Board& b, const py::object& button) {
                const std::string n = StrArg(button, "button");
                OnTheLine(b, [&] { b.Press(n); });
            },
            "button"_a, "A function button: edge, scale, gamma, test-pattern, left, right, up, down, ...")
        .def(
            "read",
            [](Board& b, const py::object& reg) {
                const RegisterTarget t = TargetArg(b, reg);
                return OnTheLine(b, [&] { return b.Read(t); });
            },
            "reg"_a, "Reads a register (or a field of the map).")
        .def(
            "write",
            [](Board& b, const py::object& reg, const py::object& value, const py::object& verify) {
                const RegisterTarget t = TargetArg(b, reg);
                const long long word = IntArg(value, "value");
                const bool check = BoolArg(verify, "verify");
                OnTheLine(b, [&] { b.Write(t, word, check); });
            },
            "addr"_a, "value"_a, "verify"_a = true,
            "Writes a register (a field: read-modify-write); verify reads it back and raises VerifyError on a "
            "difference.")
        .def(
            "dump",
            [](Board& b, const py::object& first, const py::object& last) {
                const long long from = IntArg(first, "first");
                const long long to = IntArg(last, "last");
                auto values = OnTheLine(b, [&] { return b.Dump(from, to); });
                py::dict d;
                for (const auto& [address, value] : values)
                    d[py::int_(address)] = value;
                return d;
            },
            "first"_a, "last"_a, "Registers first..last (inclusive) as {address: value}.")
        .def(
            "watch",
            [](Board& b, const py::object& reg, const py::object& interval, const py::object& count) {
                const RegisterTarget t = TargetArg(b, reg);
                const std::uint32_t ms = NonNegative(interval, "interval_ms", 3600000);
                std::optional<std::uint32_t> n;
                if (!count.is_none())
                    n = NonNegative(count, "count");
                if (!b.Open())
                    OnTheLine(b, [] {});
                return Watch(b, t, ms, n);
            },
            "reg"_a, "interval_ms"_a = 200, "count"_a = py::none(), py::keep_alive<0, 1>(),
            "Reads every interval_ms; yields (ms, value) for the first value and each change; count reads, or "
            "without end.")
        .def(
            "apply_preset",
            [](Board& b, const py::object& path) {
                const std::string p = PathArg(path, "path");
                return OnTheLine(b, [&] { return b.ApplyPreset(p); });
            },
            "path"_a, "Sends a preset file: the five adjustments, then its register writes. Returns the steps.")
        .def(
            "diagnose",
            [](Board& b) {
                const auto report = OnTheLine(b, [&] { return b.Diagnose(); });
                return ReportDict(report);
            },
            "The bring-up on this board's port, as pelvarctl diagnose: {'ok', 'verdict', 'result', 'code', "
            "'steps': [{'step', 'ok', 'text'}]}. The board stays connected.")
        .def(
            "transact",
            [](Board& b, const py::object& cmd, const py::object& payload) {
                const std::uint8_t code = CommandArg(cmd);
                if (!py::isinstance<py::bytes>(payload) && !py::isinstance<py::bytearray>(payload))
                    TypeError("payload must be bytes or bytearray");
                const std::string raw = py::bytes(payload);
                if (raw.size() > kMaxPayload)
                    ValueError("payload: more than 252 bytes");
                const std::vector<std::uint8_t> bytes(raw.begin(), raw.end());
                OnTheLine(b, [&] { b.Transact(code, bytes); });
            },
            "cmd"_a, "payload"_a = py::bytes(),
            "One acknowledged transaction (up to six attempts); cmd a code (0x91) or a name ('brightness').")
        .def(
            "query",
            [](Board& b, const py::object& cmd, const py::object& room) {
                const std::uint8_t code = CommandArg(cmd);
                std::uint32_t r = code == CMD_REG_READ ? kRegReadRoom : kStatusRoom;
                if (!room.is_none())
                    r = NonNegative(room, "room", kMaxRoom);
                const QueryResult q = OnTheLine(b, [&] { return b.Query(code, r); });
                return QueryReply{q.value, py::bytes(reinterpret_cast<const char*>(q.frame), q.frameLength)};
            },
            "cmd"_a = "status", "room"_a = py::none(),
            "One data query: 'status' or 'reg_read' (or a code with room payload bytes).")
        .def(
            "log",
            [](const Board& b, const py::object& last) {
                const std::size_t n = last.is_none() ? 0 : NonNegative(last, "last");
                std::vector<LoggedExchange> out;
                for (ExchangeRecord& r : b.Exchanges(n))
                    out.push_back(LoggedExchange{std::move(r)});
                return out;
            },
            "last"_a = py::none(), "The session's decoded exchanges, oldest first (the last ones only, when given).")
        .def(
            "close", [](Board& b) { Release(b, false); },
            "Releases the board and the port; a board that does not answer is released all the same.")
        .def(
            "disconnect", [](Board& b) { Release(b, true); },
            "Releases the board as Disconnect does; NoReplyError when it did not answer (the port is released).")
        .def("__enter__", [](Board& b) -> Board& { return b; })
        .def("__exit__",
             [](Board& b, const py::object&, const py::object&, const py::object&) {
                 Release(b, false);
                 return false;
             })
        .def("__repr__", [](const Board& b) {
            return "<pelvar.Board COM" + std::to_string(b.Port()) + " " + b.Sensor() + (b.Open() ? "" : " released")
                   + ">";
        });

    m.def("connect", &Connect, "port"_a = py::none(), "map"_a = py::none(),
          "Finds and starts the board as Connect does (every listed port, or the port given: 7, '7' or 'COM7'); "
          "map: a register map (JSON) for names.");

    m.def(
        "diagnose",
        [](const py::object& port, const py::object& map) {
            const int number = PortArg(port);
            const std::string mapPath = map.is_none() ? std::string() : PathArg(map, "map");
            pelvar::python::DiagnosisReport report;
            {
                py::gil_scoped_release release;
                report = pelvar::python::DiagnosePorts(number, mapPath);
            }
            return ReportDict(report);
        },
        "port"_a = py::none(), "map"_a = py::none(),
        "pelvarctl diagnose from Python: the bring-up on every listed port (or the port given), as a dict.");

    py::class_<SimulatedBoard>(m, "SimulatedBoard", "The board played on a pseudo-terminal, as pelvar-sim plays it.")
        .def_property_readonly("port", &SimulatedBoard::Port, "n of COMn, to connect to.")
        .def_property_readonly("device", &SimulatedBoard::Device, "The pseudo-terminal, '/dev/pts/3'.")
        .def_property_readonly("link", &SimulatedBoard::Link, "The COMn entry in the port directory.")
        .def_property_readonly("hung_up", &SimulatedBoard::HungUp)
        .def_property_readonly("running", &SimulatedBoard::Running)
        .def_property_readonly(
            "state", [](const SimulatedBoard& s) { return StateDict(s.Snapshot()); },
            "The board now: status, adjustments, commands acted on, registers written, frame counts.")
        .def_property_readonly("state_text", &SimulatedBoard::StateText, "As pelvar-sim --state prints it.")
        .def(
            "register",
            [](const SimulatedBoard& s, const py::object& address) {
                return s.Snapshot().Register(Board::AtAddress(IntArg(address, "address")).address);
            },
            "address"_a, "A register's content on the board.")
        .def_property_readonly(
            "faults", [](const SimulatedBoard& s) { return FaultsDict(s.Options()); }, "The faults in force.")
        .def(
            "set_faults",
            [](SimulatedBoard& s, const py::kwargs& faults) {
                SimBoardOptions o = s.Options();
                ApplyFaults(&o, faults);
                s.SetOptions(o);
            },
            "Switches faults while the board runs: silent, nak, delay_ms, drop_every, garbage, corrupt, ...")
        .def("stop", &SimulatedBoard::Stop, "Ends the board and removes its port.")
        .def("__enter__", [](SimulatedBoard& s) -> SimulatedBoard& { return s; })
        .def("__exit__", [](SimulatedBoard& s, const py::object&, const py::object&, const py::object&) {
            s.Stop();
            return false;
        });

    m.def(
        "simulated_board",
        [](const py::object& port, const py::kwargs& faults) {
            PtyBoardOptions o;
            o.port = port.is_none() ? kFirstSimPort : PortArg(port);
            ApplyFaults(&o.board, faults);
            return std::make_unique<SimulatedBoard>(o, port.is_none());
        },
        "port"_a = py::none(),
        "Plays the board on a pseudo-terminal in the port directory and gives its port; faults as keywords "
        "(sensor='L', silent, nak, delay_ms, drop_every, garbage, corrupt, hangup_after, ack_bytes).");
}
