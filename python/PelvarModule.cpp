// The Python module pelvar._pelvar: the camera core, called from Python.
// Arguments are typed (pybind11 raises TypeError, the binding ValueError)
// before anything is sent; every exchange runs with the GIL released, so
// threads drive several boards at once; failures become pelvar.PelvarError's
// classes.
#include "python/Binding.h"

PYBIND11_MODULE(_pelvar, m)
{
    using namespace pelvar::binding;
    m.doc() = "The Pelvar camera board from Python: the C++ core of pelvarctl and the panel.";
    m.attr("__version__") = PELVAR_VERSION;
    BindErrors(m);
    BindPorts(m);
    BindLog(m);
    BindBoard(m);
    BindSim(m);
}
