// The call boundary (core errors and broken preconditions become Python
// exceptions) and the argument converters every binding uses.
#include "bridge.hpp"

#include <cerrno>
#include <cstring>
#include <new>

#include "borrow.hpp"
#include "json.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor::python {

PyRef checked(PyObject* result) {
    if (result == nullptr) throw PythonErrorSet{};
    return PyRef::steal(result);
}

PyRef make_internal_failure_type() {
    return checked(PyErr_NewExceptionWithDoc(
        "lignor.InternalFailure",
        "A broken precondition inside lignor: a bug in the library, never bad input.",
        PyExc_BaseException, nullptr));
}

namespace {

void raise_text(PyObject* type, std::string_view text) noexcept {
    const PyRef message = PyRef::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!message) return;  // MemoryError is set
    PyErr_SetObject(type, message.get());
}

void raise_os_error(const FileSystemFailure& failure) noexcept {
    try {
        raise_text(PyExc_OSError, failure.what + ": " + std::strerror(failure.error_number));
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

void raise_value_error(const GedcomError& error) noexcept {
    try {
        raise_text(PyExc_ValueError, error.display());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

}  // namespace

void translate_current_exception(PyObject* internal_failure) noexcept {
    const auto raise_internal_failure = [internal_failure](const char* what) {
        raise_text(internal_failure != nullptr ? internal_failure : PyExc_SystemError, what);
    };
    try {
        throw;
    } catch (const PythonErrorSet&) {
        if (!PyErr_Occurred()) {
            raise_internal_failure("a CPython call failed without setting an exception");
        }
    } catch (const GedcomError& error) {
        raise_value_error(error);
    } catch (const FileSystemFailure& failure) {
        raise_os_error(failure);
    } catch (const BorrowConflict& conflict) {
        raise_text(PyExc_RuntimeError, conflict.message);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        // InternalFailure and anything the standard library throws.
        raise_internal_failure(failure.what());
    } catch (...) {
        raise_internal_failure("an unknown C++ exception reached the Python boundary");
    }
}

PyRef text_to_py(std::string_view text) {
    return checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

PyRef bytes_to_py(std::string_view bytes) {
    return checked(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

namespace {

[[noreturn]] void wrong_argument_type(const Argument& argument, const char* expected,
                                      PyObject* object) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.100s", argument.function,
                 argument.name, expected, Py_TYPE(object)->tp_name);
    throw PythonErrorSet{};
}

}  // namespace

std::string_view text_argument(const Argument& argument) {
    PyObject* object = argument.object;
    if (!PyUnicode_Check(object)) wrong_argument_type(argument, "str", object);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) throw PythonErrorSet{};
    return {utf8, static_cast<std::size_t>(size)};
}

std::string any_text_argument(const Argument& argument) {
    PyObject* object = argument.object;
    if (!PyUnicode_Check(object)) wrong_argument_type(argument, "str", object);
    // Nearly every text has no lone surrogate: its UTF-8 comes without a
    // bytes object in between.
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size)) {
        return {utf8, static_cast<std::size_t>(size)};
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonErrorSet{};
    PyErr_Clear();
    const PyRef encoded = checked(PyUnicode_AsEncodedString(object, "utf-8", "surrogatepass"));
    return {PyBytes_AS_STRING(encoded.get()),
            static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))};
}

[[gnu::hot]] std::string_view bytes_argument(const Argument& argument) {
    PyObject* object = argument.object;
    if (!PyBytes_Check(object)) wrong_argument_type(argument, "bytes", object);
    return {PyBytes_AS_STRING(object), static_cast<std::size_t>(PyBytes_GET_SIZE(object))};
}

BytesLike::BytesLike(const Argument& argument) {
    PyObject* object = argument.object;
    if (PyBytes_Check(object)) {
        held_ = PyRef::new_reference(object);
        bytes_ = bytes_argument(argument);
        return;
    }
    if (!PyObject_CheckBuffer(object)) wrong_argument_type(argument, "a bytes-like object", object);
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_SIMPLE) != 0) throw PythonErrorSet{};
    try {
        copy_.assign(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
    } catch (...) {
        PyBuffer_Release(&view);
        throw;
    }
    PyBuffer_Release(&view);
    bytes_ = copy_;
}

std::size_t size_argument(const Argument& argument) {
    PyObject* object = argument.object;
    if (!PyLong_Check(object) || PyBool_Check(object)) wrong_argument_type(argument, "int", object);
    return size_from_py(object);
}

std::string path_argument(const Argument& argument) {
    PyRef path = checked(PyOS_FSPath(argument.object));
    if (!PyUnicode_Check(path.get())) {
        wrong_argument_type(argument, "str or a path-like object", path.get());
    }
    PyRef encoded = checked(PyUnicode_EncodeFSDefault(path.get()));
    return {PyBytes_AS_STRING(encoded.get()),
            static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))};
}

std::vector<std::size_t> index_list_argument(const Argument& argument) {
    PyObject* object = argument.object;
    if (PyUnicode_Check(object) || !PySequence_Check(object)) {
        wrong_argument_type(argument, "a sequence of int", object);
    }
    const PyRef items = checked(PySequence_Fast(object, "a sequence of int"));
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    std::vector<std::size_t> indices;
    indices.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyLong_Check(item) || PyBool_Check(item)) {
            PyErr_Format(PyExc_TypeError, "%s() argument '%s' must hold int, not %.100s",
                         argument.function, argument.name, Py_TYPE(item)->tp_name);
            throw PythonErrorSet{};
        }
        indices.push_back(size_from_py(item));
    }
    return indices;
}

int add_type(PyObject* module, PyType_Spec* spec, const char* name) noexcept {
    const PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, spec, nullptr));
    if (!type) return -1;
    return PyModule_AddObjectRef(module, name, type.get());
}

int add_function(PyObject* module, PyMethodDef* definition) noexcept {
    const PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    const PyRef function = PyRef::steal(PyCFunction_NewEx(definition, module, module_name.get()));
    if (!function) return -1;
    return PyModule_AddObjectRef(module, definition->ml_name, function.get());
}

std::size_t size_from_py(PyObject* object) {
    const std::size_t value = PyLong_AsSize_t(object);
    if (value == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PythonErrorSet{};
    return value;
}

namespace {

// `json.<name>`, looked up afresh on every call: nothing is cached, so a
// replaced `json` module or function is honoured.
PyRef json_function(const char* name) {
    PyRef json = checked(PyImport_ImportModule("json"));
    return checked(PyObject_GetAttrString(json.get(), name));
}

}  // namespace

std::vector<NodeSpec> from_py(PyObject* descriptions) {
    PyRef dumps = json_function("dumps");
    PyRef text = checked(PyObject_CallOneArg(dumps.get(), descriptions));
    if (!PyUnicode_Check(text.get())) {
        PyErr_Format(PyExc_TypeError, "json.dumps returned %.100s, not str",
                     Py_TYPE(text.get())->tp_name);
        throw PythonErrorSet{};
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) throw PythonErrorSet{};
    return unwrap(read_node_specs(std::string_view(utf8, static_cast<std::size_t>(size))));
}

}  // namespace lignor::python
