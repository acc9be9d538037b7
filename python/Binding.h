// What the module's binding files share: the typed arguments, the line
// discipline (GIL released, one exchange at a time) and each file's entry.
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "link/ResultCodes.h"
#include "python/Board.h"

namespace pelvar::binding {

namespace py = pybind11;

// A Python int that is not a bool (True is no register address). Its
// signature reads `int`; anything else is a TypeError from pybind11.
struct Int {
    long long value = 0;
};

// A Python str; bytes are no name.
struct Text {
    std::string value;
};

// 7, "7", "COM7", a device path or an rfc2217:// URL.
using PortRef = std::variant<Int, Text>;
// A register address or a name of the register map.
using RegisterKey = std::variant<Int, Text>;
// A command code or its name.
using CommandRef = std::variant<Int, Text>;

[[noreturn]] inline void ValueError(const std::string& message) { throw py::value_error(message); }

// The port a reference names, through the core's port-name parser; none
// named when `port` is None.
pelvar::PortRef PortOf(const PortRef& port);
pelvar::PortRef PortOf(const std::optional<PortRef>& port);
// A port for Python: n of COMn as an int, a device path or URL as given.
std::variant<int, std::string> PortValue(const pelvar::PortRef& port);
// The same, None for no port.
py::object KnownPort(const pelvar::PortRef& port);

// `v` within min..max, else a ValueError naming `what`.
std::uint32_t InRange(Int v, const char* what, long long min, long long max);

// The board's exchanges not logged yet, to Python's logger "pelvar" (INFO,
// "COM7 " and the decoded line), so that caplog and live logs show them.
// The GIL must be held; never raises.
void LogNewExchanges(pelvar::python::Board& board) noexcept;

// Logs the exchanges once the GIL is held again, also when the call failed.
struct ExchangesLogged {
    pelvar::python::Board& board;
    explicit ExchangesLogged(pelvar::python::Board& b) : board(b) {}
    ExchangesLogged(const ExchangesLogged&) = delete;
    ExchangesLogged& operator=(const ExchangesLogged&) = delete;
    ~ExchangesLogged() { LogNewExchanges(board); }
};

// While a call runs on the main thread with the GIL released, Ctrl-C
// interrupts the board (its next exchange or poll ends the call) and still
// reaches Python's own handler; Done() then raises KeyboardInterrupt with the
// port released.
class CtrlCInterrupts {
public:
    explicit CtrlCInterrupts(pelvar::python::Board& board);
    ~CtrlCInterrupts();
    CtrlCInterrupts(const CtrlCInterrupts&) = delete;
    CtrlCInterrupts& operator=(const CtrlCInterrupts&) = delete;
    // With the GIL held, after the call: raises KeyboardInterrupt when Ctrl-C came.
    void Done();

private:
    pelvar::python::Board& m_board;
    bool m_installed = false;
};

// Runs `f` on the board with the GIL released and the line to itself.
template <class F>
auto OnTheLine(pelvar::python::Board& board, F f)
{
    const ExchangesLogged logged{board};
    CtrlCInterrupts ctrlC(board);
    const auto run = [&] {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(board.Line());
        if (!board.Open())
            throw pelvar::python::Failure{pelvar::python::FailureKind::Port, LINK_ERR_NOT_OPEN,
                                          board.Port().Text() + ": the board has been released", board.Port(),
                                          0};
        return f();
    };
    try {
        if constexpr (std::is_void_v<decltype(f())>) {
            run();
            ctrlC.Done();
        } else {
            auto result = run();
            ctrlC.Done();
            return result;
        }
    } catch (const pelvar::python::Failure&) {
        ctrlC.Done();
        throw;
    }
}

void BindErrors(py::module_& m);
void BindPorts(py::module_& m);
void BindLog(py::module_& m);
void BindBoard(py::module_& m);
void BindSim(py::module_& m);

} // namespace pelvar::binding

namespace pybind11::detail {

template <>
struct type_caster<pelvar::binding::Int> {
    PYBIND11_TYPE_CASTER(pelvar::binding::Int, const_name("int"));

    bool load(handle src, bool)
    {
        if (PyBool_Check(src.ptr()) || !PyLong_Check(src.ptr()))
            return false;
        int overflow = 0;
        value.value = PyLong_AsLongLongAndOverflow(src.ptr(), &overflow);
        if (overflow != 0)
            throw value_error("integer out of range");
        return !(value.value == -1 && PyErr_Occurred());
    }

    static handle cast(pelvar::binding::Int v, return_value_policy, handle) { return PyLong_FromLongLong(v.value); }
};

template <>
struct type_caster<pelvar::binding::Text> {
    PYBIND11_TYPE_CASTER(pelvar::binding::Text, const_name("str"));

    bool load(handle src, bool)
    {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_Check(src.ptr()) ? PyUnicode_AsUTF8AndSize(src.ptr(), &size) : nullptr;
        if (!text) {
            PyErr_Clear();
            return false;
        }
        value.value.assign(text, static_cast<std::size_t>(size));
        return true;
    }

    static handle cast(const pelvar::binding::Text& v, return_value_policy, handle)
    {
        return PyUnicode_DecodeUTF8(v.value.data(), static_cast<Py_ssize_t>(v.value.size()), nullptr);
    }
};

} // namespace pybind11::detail
