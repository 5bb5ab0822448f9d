#include "functions.hpp"

#include "bridge.hpp"
#include "dates.hpp"

namespace lignor::python {
namespace {

PyObject* parse_date(PyObject*, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"text"}};
        PyObject* text = bind_arguments("parse_date", parameters, args, kwargs)[0];
        const GedcomDate date = GedcomDate::parse(text_argument("parse_date", "text", text));
        return to_py(date.to_json_with_forms());
    });
}

PyMethodDef parse_date_def = {
    "parse_date", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse_date)),
    METH_VARARGS | METH_KEYWORDS,
    "parse_date(text)\n--\n\n"
    "Reads a date as the library reads any `DATE` payload \xE2\x80\x94 every language\n"
    "and spelling it knows \xE2\x80\x94 and returns the reading as a dict: `original`,\n"
    "`calendar`, `kind`, `earliest`, `latest`, `phrase`, the `display` form,\n"
    "`gedcom551`, the reading in GEDCOM 5.5.1's own grammar (`ABT 5 JAN\n"
    "1882`), and `gedcom7`, the reading in GEDCOM 7.0's own grammar (`ABT 5\n"
    "JAN 1882`, with no `INT` and no dual year) \xE2\x80\x94 either `None` when that\n"
    "grammar cannot hold it without loss."};

// Adds one function of `definition` to `module`, bound to the module.
int add_function(PyObject* module, PyMethodDef* definition) noexcept {
    const PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    const PyRef function = PyRef::steal(PyCFunction_NewEx(definition, nullptr, module_name.get()));
    if (!function) return -1;
    return PyModule_AddObjectRef(module, definition->ml_name, function.get());
}

}  // namespace

int parse_date_init(PyObject* module) noexcept { return add_function(module, &parse_date_def); }

}  // namespace lignor::python
