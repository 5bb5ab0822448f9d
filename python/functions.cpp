#include "functions.hpp"

#include "bridge.hpp"
#include "dates.hpp"
#include "values.hpp"

namespace lignor::python {
namespace {

PyObject* parse_date(PyObject* module, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"text"}};
        PyObject* text = bind_arguments("parse_date", parameters, args, kwargs)[0];
        const DateReading reading{GedcomDate::parse(any_text_argument("parse_date", "text", text))};
        return to_py(module_cache(module), reading);
    });
}

PyMethodDef parse_date_def = {
    "parse_date", as_cfunction(parse_date), METH_VARARGS | METH_KEYWORDS,
    "parse_date(text)\n--\n\n"
    "Reads a date as the library reads any `DATE` payload \xE2\x80\x94 every language\n"
    "and spelling it knows \xE2\x80\x94 and returns the reading as a dict: `original`,\n"
    "`calendar`, `kind`, `earliest`, `latest`, `phrase`, the `display` form,\n"
    "`gedcom551`, the reading in GEDCOM 5.5.1's own grammar (`ABT 5 JAN\n"
    "1882`), and `gedcom7`, the reading in GEDCOM 7.0's own grammar (`ABT 5\n"
    "JAN 1882`, with no `INT` and no dual year) \xE2\x80\x94 either `None` when that\n"
    "grammar cannot hold it without loss."};

}  // namespace

int parse_date_init(PyObject* module) noexcept {
    return add_function(module, &parse_date_def);
}

}  // namespace lignor::python
