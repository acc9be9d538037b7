// The module's exceptions: one base class, PelvarError, with the result code
// of the failed exchange and its name, made once when the module loads; a
// Failure from the core is raised as the class its kind and code pick.
#include <cerrno>

#include "python/Binding.h"

namespace pelvar::binding {

using pelvar::python::Failure;
using pelvar::python::FailureKind;

namespace {

enum ErrorClass { kPelvar, kNoReply, kRefused, kChecksum, kLink, kPort, kPortBusy, kStartup, kVerify, kErrorClasses };

struct ErrorClassInfo {
    const char* name;
    int parent; // -1: Exception
    const char* doc;
};

constexpr ErrorClassInfo kClasses[kErrorClasses] = {
    {"PelvarError", -1,
     "A failed operation on the board.\n\n"
     "code: the result code (0 for a failure that is no link result, such as a read-back that differs), name: its "
     "name (\"LINK_ERR_NO_REPLY\"), port: n of COMn where known, errno: the system's error number for a port that "
     "could not be opened."},
    {"NoReplyError", kPelvar, "The board did not answer (LINK_ERR_NO_REPLY, PORT_ERR_READ_TIMEOUT)."},
    {"RefusedError", kPelvar, "The board refused the command (LINK_ERR_NAK)."},
    {"ChecksumError", kPelvar, "The board's reply had a wrong checksum (LINK_ERR_CHECKSUM)."},
    {"LinkError", kPelvar, "Any other failure on the line: a failed send, a reply too long."},
    {"PortError", kPelvar, "The port could not be opened or set up; errno says why."},
    {"PortBusyError", kPort, "The port is held by another program."},
    {"StartupError", kPelvar, "The board answered but did not start: its status stayed 0, or it names no sensor."},
    {"VerifyError", kPelvar, "A register read back holds another value than the one written."},
};

// Made once and kept for the life of the process, as the interpreter keeps the module.
PyObject* g_classes[kErrorClasses] = {};

ErrorClass ClassOf(const Failure& f)
{
    switch (f.kind) {
    case FailureKind::Startup: return kStartup;
    case FailureKind::Verify: return kVerify;
    case FailureKind::Port: return f.sysError == EBUSY || f.sysError == EWOULDBLOCK ? kPortBusy : kPort;
    default: break;
    }
    switch (f.code) {
    case LINK_ERR_NO_REPLY:
    case PORT_ERR_READ_TIMEOUT: return kNoReply;
    case LINK_ERR_NAK: return kRefused;
    case LINK_ERR_CHECKSUM: return kChecksum;
    default: return kLink;
    }
}

py::object Known(int value) { return value != 0 ? py::object(py::int_(value)) : py::object(py::none()); }

void Raise(const Failure& f)
{
    if (f.kind == FailureKind::Value) {
        PyErr_SetString(PyExc_ValueError, f.message.c_str());
        return;
    }
    py::handle cls = g_classes[ClassOf(f)];
    py::object error = cls(f.message, f.code, ResultName(f.code), KnownPort(f.port), Known(f.sysError));
    PyErr_SetObject(cls.ptr(), error.ptr());
}

// PelvarError(message, code=0, name=None, port=None, errno=None); name
// None: the result code's name.
PyObject* InitError(PyObject* self, PyObject* args, PyObject* kwargs)
{
    static const char* keywords[] = {"message", "code", "name", "port", "errno", nullptr};
    PyObject* message = nullptr;
    int code = 0;
    PyObject* name = Py_None;
    PyObject* port = Py_None;
    PyObject* errorNumber = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|iOOO:PelvarError", const_cast<char**>(keywords), &message, &code,
                                     &name, &port, &errorNumber))
        return nullptr;
    try {
        py::handle e(self);
        py::handle(PyExc_Exception).attr("__init__")(e, py::handle(message));
        e.attr("code") = code;
        e.attr("name") = name == Py_None ? py::str(ResultName(code)) : py::reinterpret_borrow<py::object>(name);
        e.attr("port") = py::handle(port);
        e.attr("errno") = py::handle(errorNumber);
    } catch (py::error_already_set& error) {
        error.restore();
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyMethodDef kInitDef = {"__init__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&InitError)),
                        METH_VARARGS | METH_KEYWORDS,
                        "__init__($self, /, message, code=0, name=None, port=None, errno=None)\n--\n\n"
                        "message: the text; code: the result code; name: its name (None: the code's own)."};

} // namespace

void BindErrors(py::module_& m)
{
    for (int i = 0; i < kErrorClasses; ++i) {
        const ErrorClassInfo& c = kClasses[i];
        const std::string qualified = std::string("pelvar.errors.") + c.name;
        PyObject* base = c.parent < 0 ? PyExc_Exception : g_classes[c.parent];
        g_classes[i] = PyErr_NewExceptionWithDoc(qualified.c_str(), c.doc, base, nullptr);
        if (!g_classes[i])
            throw py::error_already_set();
        m.attr(c.name) = py::handle(g_classes[i]);
    }

    // A method descriptor rather than a pybind11 function: pybind11 treats
    // every function named __init__ as a constructor of its own classes.
    PyObject* init = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(g_classes[kPelvar]), &kInitDef);
    if (!init || PyObject_SetAttrString(g_classes[kPelvar], "__init__", init) != 0)
        throw py::error_already_set();
    Py_DECREF(init);

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const Failure& f) {
            Raise(f);
        }
    });

    m.def(
        "result_name", [](std::int32_t code) { return std::string(ResultName(code)); }, py::arg("code"),
        "The name of a result code: result_name(-2002) == 'LINK_ERR_NO_REPLY'.");
}

} // namespace pelvar::binding
