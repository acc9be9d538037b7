// The simulated board on a pseudo-terminal, as pelvar-sim plays it, with its
// faults as typed keywords.
#include <cerrno>
#include <tuple>

#include "camera/Commands.h"
#include "python/Binding.h"
#include "sim/PtyBoard.h"

namespace pelvar::binding {

using pelvar::python::Board;
using pelvar::python::Failure;
using pelvar::python::FailureKind;
using namespace pybind11::literals;

namespace {

constexpr int kFirstSimPort = 200;

class SimulatedBoard {
public:
    SimulatedBoard(const PtyBoardOptions& options, bool choosePort)
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
                throw Failure{FailureKind::Port, PORT_ERR_CONFIG, "simulated board: " + m_pty->ErrorText(),
                              pelvar::PortRef::Com(o.port), -rc};
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

// pelvar-sim's faults by their keyword; those not given stay as they are.
struct Faults {
    std::optional<Text> sensor;
    std::optional<bool> silent;
    std::optional<bool> nak;
    std::optional<Int> delayMs;
    std::optional<Int> dropEvery;
    std::optional<bool> garbage;
    std::optional<bool> corrupt;
    std::optional<Int> hangupAfter;
    std::optional<Int> ackBytes;

    void ApplyTo(SimBoardOptions* o) const
    {
        if (sensor && !ParseSensorKind(sensor->value, &o->sensor))
            ValueError("sensor must be 'L', 'S' or 'none'");
        const std::pair<const std::optional<bool>&, bool&> switches[] = {
            {silent, o->silent}, {nak, o->nak}, {garbage, o->garbage}, {corrupt, o->corrupt}};
        for (const auto& [given, member] : switches) {
            if (given)
                member = *given;
        }
        struct Number {
            const std::optional<Int>& given;
            std::uint32_t& member;
            const char* name;
            long long min;
            long long max;
        };
        const Number numbers[] = {{delayMs, o->delayMs, "delay_ms", 0, 600000},
                                  {dropEvery, o->dropEvery, "drop_every", 0, UINT32_MAX},
                                  {hangupAfter, o->hangupAfter, "hangup_after", 0, UINT32_MAX},
                                  {ackBytes, o->ackBytes, "ack_bytes", 1, 4}};
        for (const Number& n : numbers) {
            if (n.given)
                n.member = InRange(*n.given, n.name, n.min, n.max);
        }
    }
};

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

// "<pelvar.SimulatedBoard COM200 on /dev/pts/3, sensor L, faults: nak drop_every=3>".
std::string SimulatedBoardRepr(const SimulatedBoard& s)
{
    std::string text = "<pelvar.SimulatedBoard COM" + std::to_string(s.Port());
    if (!s.Running())
        return text + " stopped>";
    const SimBoardOptions o = s.Options();
    const SimBoardOptions d;
    text += " on " + s.Device() + ", sensor " + SensorKindName(o.sensor);
    std::string faults;
    const std::pair<const char*, bool> switches[] = {
        {"silent", o.silent}, {"nak", o.nak}, {"garbage", o.garbage}, {"corrupt", o.corrupt}};
    for (const auto& [name, on] : switches) {
        if (on)
            faults += std::string(" ") + name;
    }
    const std::tuple<const char*, std::uint32_t, std::uint32_t> numbers[] = {
        {"delay_ms", o.delayMs, d.delayMs},
        {"drop_every", o.dropEvery, d.dropEvery},
        {"hangup_after", o.hangupAfter, d.hangupAfter},
        {"ack_bytes", o.ackBytes, d.ackBytes}};
    for (const auto& [name, value, usual] : numbers) {
        if (value != usual)
            faults += std::string(" ") + name + "=" + std::to_string(value);
    }
    if (!faults.empty())
        text += ", faults:" + faults;
    return text + ">";
}

} // namespace

void BindSim(py::module_& m)
{
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
            [](const SimulatedBoard& s, Int address) {
                return s.Snapshot().Register(Board::AtAddress(address.value).address);
            },
            "address"_a, "A register's content on the board.")
        .def_property_readonly(
            "faults", [](const SimulatedBoard& s) { return FaultsDict(s.Options()); }, "The faults in force.")
        .def(
            "set_faults",
            [](SimulatedBoard& s, std::optional<Text> sensor, std::optional<bool> silent, std::optional<bool> nak,
               std::optional<Int> delayMs, std::optional<Int> dropEvery, std::optional<bool> garbage,
               std::optional<bool> corrupt, std::optional<Int> hangupAfter, std::optional<Int> ackBytes) {
                SimBoardOptions o = s.Options();
                Faults{sensor, silent, nak, delayMs, dropEvery, garbage, corrupt, hangupAfter, ackBytes}.ApplyTo(&o);
                s.SetOptions(o);
            },
            py::kw_only(), "sensor"_a = py::none(), py::arg("silent").noconvert() = py::none(),
            py::arg("nak").noconvert() = py::none(), "delay_ms"_a = py::none(), "drop_every"_a = py::none(),
            py::arg("garbage").noconvert() = py::none(), py::arg("corrupt").noconvert() = py::none(),
            "hangup_after"_a = py::none(), "ack_bytes"_a = py::none(),
            "Switches faults while the board runs; those not given stay as they are.")
        .def("stop", &SimulatedBoard::Stop, "Ends the board and removes its port.")
        .def("__repr__", &SimulatedBoardRepr)
        .def("__enter__", [](SimulatedBoard& s) -> SimulatedBoard& { return s; })
        .def(
            "__exit__",
            [](SimulatedBoard& s, const py::object&, const py::object&, const py::object&) {
                s.Stop();
                return false;
            },
            "exc_type"_a, "exc_value"_a, "traceback"_a);

    const SimBoardOptions d;
    m.def(
        "simulated_board",
        [](const std::optional<PortRef>& port, const Text& sensor, bool silent, bool nak, Int delayMs, Int dropEvery,
           bool garbage, bool corrupt, Int hangupAfter, Int ackBytes) {
            PtyBoardOptions o;
            const pelvar::PortRef named = PortOf(port);
            if (named.IsNamed())
                ValueError("simulated board: port '" + named.name + "' is not a port number: it gets a COMn name");
            o.port = named.IsNumber() ? named.number : kFirstSimPort;
            Faults{sensor, silent, nak, delayMs, dropEvery, garbage, corrupt, hangupAfter, ackBytes}.ApplyTo(&o.board);
            return std::make_unique<SimulatedBoard>(o, !port);
        },
        "port"_a = py::none(), py::kw_only(), "sensor"_a = std::string(SensorKindName(d.sensor)),
        py::arg("silent").noconvert() = d.silent, py::arg("nak").noconvert() = d.nak, "delay_ms"_a = Int{d.delayMs},
        "drop_every"_a = Int{d.dropEvery}, py::arg("garbage").noconvert() = d.garbage,
        py::arg("corrupt").noconvert() = d.corrupt, "hangup_after"_a = Int{d.hangupAfter},
        "ack_bytes"_a = Int{d.ackBytes},
        "Plays the board on a pseudo-terminal in the port directory (the first free COMn from 200 on, unless port "
        "is given) and gives its port; the faults as pelvar-sim's options name them.");
}

} // namespace pelvar::binding
