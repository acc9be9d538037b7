// The session's exchanges, decoded as the panel's traffic pane shows them.
#include "camera/Commands.h"
#include "camera/ExchangeLog.h"
#include "python/Binding.h"
#include "python/BindLog.h"

namespace pelvar::binding {

py::bytes Bytes(const std::vector<std::uint8_t>& v) { return {reinterpret_cast<const char*>(v.data()), v.size()}; }

void LogNewExchanges(pelvar::python::Board& board) noexcept
{
    try {
        const std::vector<ExchangeRecord> records = board.TakeNewExchanges();
        if (records.empty())
            return;
        const int info = 20; // logging.INFO
        py::object logger = py::module_::import("logging").attr("getLogger")("pelvar");
        if (!logger.attr("isEnabledFor")(info).cast<bool>())
            return;
        const std::string port = board.Port().Text();
        for (const ExchangeRecord& r : records)
            logger.attr("log")(info, "%s %s", port, ExchangeLine(r));
    } catch (py::error_already_set& e) {
        e.discard_as_unraisable("pelvar: logging an exchange");
    } catch (...) {
        // A log that cannot be written is no reason to fail the board's call.
    }
}

namespace {

std::string ExchangeRepr(const ExchangeRecord& r)
{
    std::string text = "<pelvar.Exchange " + ExchangeMeaning(r) + ": " + ResultName(r.result);
    if (r.attempts > 1)
        text += ", " + std::to_string(r.attempts) + " attempts";
    return text + ">";
}

} // namespace

void BindLog(py::module_& m)
{
    using E = LoggedExchange;
    py::class_<E>(m, "Exchange", "One exchange with the board, decoded as the panel's traffic pane shows it.")
        .def_property_readonly(
            "at_ms", [](const E& e) { return e.record.atMs; }, "ms since connect().")
        .def_property_readonly(
            "command", [](const E& e) { return CommandName(e.record.cmd); },
            "The command's name: 'brightness', 'reg_read'.")
        .def_property_readonly(
            "code", [](const E& e) { return e.record.cmd; }, "The command byte.")
        .def_property_readonly("payload", [](const E& e) { return Bytes(e.record.payload); })
        .def_property_readonly(
            "query", [](const E& e) { return e.record.query; }, "True for a data query, False for a transaction.")
        .def_property_readonly(
            "meaning", [](const E& e) { return ExchangeMeaning(e.record); },
            "'brightness 200', 'reg 0x0010 = 0xbeef', 'status 0x11: active, ARVEN-L'.")
        .def_property_readonly("result", [](const E& e) { return std::string(ResultName(e.record.result)); })
        .def_property_readonly("result_code", [](const E& e) { return e.record.result; })
        .def_property_readonly("attempts", [](const E& e) { return e.record.attempts; })
        .def_property_readonly("duration_ms", [](const E& e) { return e.record.durationMs; })
        .def_property_readonly(
            "value", [](const E& e) { return e.record.value; }, "A query's answer.")
        .def_property_readonly(
            "frames",
            [](const E& e) {
                std::vector<std::pair<std::string, py::bytes>> frames;
                for (const ExchangeFrame& f : e.record.frames)
                    frames.emplace_back(f.sent ? ">" : "<", Bytes(f.bytes));
                return frames;
            },
            "(direction, bytes) in order: '>' sent, '<' a block read back.")
        .def_property_readonly(
            "bytes_not_kept",
            [](const E& e) {
                std::uint64_t count = 0;
                for (const ExchangeFrame& f : e.record.frames)
                    count += f.notKeptBefore;
                return count;
            },
            "Bytes read in the middle of a flood that frames leaves out (it keeps the first and the last).")
        .def_property_readonly(
            "line", [](const E& e) { return ExchangeLine(e.record); },
            "The line of pelvarctl --trace=decoded and the panel's saved log.")
        .def("__str__", [](const E& e) { return ExchangeLine(e.record); })
        .def("__repr__", [](const E& e) { return ExchangeRepr(e.record); });
}

} // namespace pelvar::binding
