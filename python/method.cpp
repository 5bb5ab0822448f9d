// Binding a call to a method's description: positional and keyword
// arguments onto a fixed array, with CPython's own error messages.
#include "method.hpp"

#include <cstdarg>

namespace lignor::python {

Arguments::Arguments(const Method& method, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames)
    : method_(method) {
    take_positional(args, nargs);
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        take_keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i]);
    }
    check_required();
}

Arguments::Arguments(const Method& method, PyObject* args, PyObject* kwargs) : method_(method) {
    take_positional(PySequence_Fast_ITEMS(args), PyTuple_GET_SIZE(args));
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (kwargs != nullptr && PyDict_Next(kwargs, &position, &key, &value)) {
        take_keyword(key, value);
    }
    check_required();
}

void Arguments::type_error(const char* format, ...) const {
    std::va_list values;
    va_start(values, format);
    PyErr_FormatV(PyExc_TypeError, format, values);
    va_end(values);
    throw PythonErrorSet{};
}

void Arguments::take_positional(PyObject* const* args, Py_ssize_t nargs) {
    Py_ssize_t positional = 0;
    while (static_cast<std::size_t>(positional) < method_.parameter_count() &&
           !method_.parameters[static_cast<std::size_t>(positional)].keyword_only) {
        ++positional;
    }
    if (nargs > positional) {
        type_error("%s() takes at most %zd positional argument(s) (%zd given)", method_.name,
                   positional, nargs);
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) bound_[static_cast<std::size_t>(i)] = args[i];
}

void Arguments::take_keyword(PyObject* key, PyObject* value) {
    const std::size_t count = method_.parameter_count();
    std::size_t index = 0;
    while (index < count &&
           !(PyUnicode_Check(key) &&
             PyUnicode_CompareWithASCIIString(key, method_.parameters[index].name) == 0)) {
        ++index;
    }
    if (index == count) {
        type_error("%s() got an unexpected keyword argument %R", method_.name, key);
    }
    if (bound_[index] != nullptr) {
        type_error("%s() got multiple values for argument '%s'", method_.name,
                   method_.parameters[index].name);
    }
    bound_[index] = value;
}

void Arguments::check_required() const {
    for (std::size_t i = 0; i < method_.parameter_count(); ++i) {
        const Parameter& parameter = method_.parameters[i];
        if (bound_[i] == nullptr && parameter.default_text == nullptr) {
            type_error("%s() missing required argument '%s' (pos %zu)", method_.name,
                       parameter.name, i + 1);
        }
    }
}

}  // namespace lignor::python
