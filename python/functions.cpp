// The module's free functions (`archive_total_size`, `parse_date`): their
// descriptions and bodies.
#include "functions.hpp"

#include "bridge.hpp"
#include "dates.hpp"
#include "method.hpp"
#include "values.hpp"

namespace lignor::python {
namespace {

PyRef parse_date(const Call& call) {
    const DateReading reading{GedcomDate::parse(any_text_argument(call[0]))};
    return to_py(call.cache(), reading);
}

constexpr Method parse_date_method{
    "parse_date",
    Receiver::module,
    {required("text")},
    parse_date,
    "Reads a date as the library reads any `DATE` payload \xE2\x80\x94 every language\n"
    "and spelling it knows \xE2\x80\x94 and returns the reading as a dict: `original`,\n"
    "`calendar`, `kind`, `earliest`, `latest`, `phrase`, the `display` form,\n"
    "`gedcom551`, the reading in GEDCOM 5.5.1's own grammar (`ABT 5 JAN\n"
    "1882`), and `gedcom7`, the reading in GEDCOM 7.0's own grammar (`ABT 5\n"
    "JAN 1882`, with no `INT` and no dual year) \xE2\x80\x94 either `None` when that\n"
    "grammar cannot hold it without loss."};

PyMethodDef parse_date_def = method_def<parse_date_method>();

}  // namespace

int parse_date_init(PyObject* module) noexcept {
    return add_function(module, &parse_date_def);
}

}  // namespace lignor::python
