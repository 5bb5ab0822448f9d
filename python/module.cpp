// The `lignor` extension module: multi-phase initialisation with one
// execution step that makes the module's state (its `InternalFailure`
// type and value cache) and registers the module's classes, functions and
// version, in order, stopping at the first failure.
#include "archive.hpp"
#include "functions.hpp"
#include "gedcom.hpp"
#include "pyref.hpp"
#include "values.hpp"

namespace lignor::python {
namespace {

const char module_doc[] =
    "An archival-grade GEDCOM library: byte-preserving round-trip, encoding\n"
    "detection and reporting, GEDCOM 5.5 through 7.x.";

int lignor_exec(PyObject* module) noexcept {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "lignor must be initialised on a module object");
        return -1;
    }
    if (module_state_init(module) < 0) return -1;
    if (gedcom_type_init(module) < 0) return -1;
    if (archive_writer_type_init(module) < 0) return -1;
    if (archive_file_writer_type_init(module) < 0) return -1;
    if (archive_total_size_init(module) < 0) return -1;
    if (parse_date_init(module) < 0) return -1;
    return PyModule_AddStringConstant(module, "__version__", LIGNOR_VERSION);
}

PyModuleDef_Slot lignor_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(lignor_exec)},
    {0, nullptr},
};

PyModuleDef lignor_module = {
    PyModuleDef_HEAD_INIT,
    "lignor",
    module_doc,
    sizeof(ModuleState),
    nullptr,
    lignor_slots,
    module_state_traverse,
    module_state_clear,
    module_state_free,
};

}  // namespace
}  // namespace lignor::python

PyMODINIT_FUNC PyInit_lignor() {
    return PyModuleDef_Init(&lignor::python::lignor_module);
}
