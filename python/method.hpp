// One description per callable of the module: its name, how it receives
// `self`, its parameters, its body and its docstring. From the description
// come the `PyMethodDef` entry (flags included), the docstring opening with
// the text signature that `inspect.signature` reads, and the argument
// parsing of every call, so the names a caller sees, the names a call
// accepts and the names errors quote cannot drift apart.
//
// Calls with parameters use CPython's fast calling convention: positional
// arguments arrive as an array and keyword names as a tuple, and binding
// them to parameters fills a fixed array on the stack.
#pragma once

#include <array>
#include <cstddef>

#include "bridge.hpp"
#include "values.hpp"

namespace lignor::python {

// The most parameters any callable of the module takes.
inline constexpr std::size_t max_parameters = 3;

// One parameter: its name, the default shown in the signature (none for a
// required parameter; an omitted optional argument arrives as null), and
// whether it may be passed by keyword only.
struct Parameter {
    const char* name = nullptr;
    const char* default_text = nullptr;
    bool keyword_only = false;
};

constexpr Parameter required(const char* name) {
    return {name};
}
constexpr Parameter optional(const char* name, const char* default_text) {
    return {name, default_text};
}
// Keyword-only; every parameter after it must be too.
constexpr Parameter keyword_only(const char* name, const char* default_text) {
    return {name, default_text, true};
}

using Parameters = std::array<Parameter, max_parameters>;

// What `self` is in a call, and how the signature shows it.
enum class Receiver {
    instance,  // an object of the type: "$self" opens the signature
    type,      // a class method: the class, not shown
    module,    // a module function: the module, not shown
    // A static `__new__`: the class comes first, shown as "$cls". Only its
    // docstring comes from the description: CPython hands such a function
    // no `self`, so it forwards to the type's `tp_new` itself.
    constructor,
};

class Call;

struct Method {
    const char* name;
    Receiver receiver;
    Parameters parameters;
    PyRef (*body)(const Call& call);
    const char* doc;  // what follows the signature line

    constexpr std::size_t parameter_count() const {
        std::size_t count = 0;
        while (count < parameters.size() && parameters[count].name != nullptr) ++count;
        return count;
    }
};

// The arguments of one call bound to a method's parameters, in order;
// TypeError naming the function and the argument for a missing, surplus,
// repeated or unknown argument. The objects are borrowed from the call.
class Arguments {
  public:
    // No arguments at all.
    explicit Arguments(const Method& method) noexcept : method_(method) {}
    // The fast calling convention: `nargs` positional arguments, then the
    // values of the keywords named in `kwnames` (null for none).
    Arguments(const Method& method, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
    // A tuple and a dict (null for none), as `tp_new` receives them.
    Arguments(const Method& method, PyObject* args, PyObject* kwargs);

    Argument operator[](std::size_t index) const noexcept {
        return {method_.name, method_.parameters[index].name, bound_[index]};
    }

  private:
    void take_positional(PyObject* const* args, Py_ssize_t nargs);
    void take_keyword(PyObject* key, PyObject* value);
    void check_required() const;
    [[noreturn]] void type_error(const char* format, ...) const;

    const Method& method_;
    std::array<PyObject*, max_parameters> bound_{};
};

// Everything a body gets: `self` (the object, the class or the module, as
// the method's receiver says), the module's state and the arguments.
class Call {
  public:
    Call(PyObject* self, ModuleState& module, Arguments arguments) noexcept
        : self_(self), module_(module), arguments_(arguments) {}

    PyObject* self() const noexcept { return self_; }
    ValueCache& cache() const noexcept { return *module_.cache; }
    Argument operator[](std::size_t index) const noexcept { return arguments_[index]; }

  private:
    PyObject* self_;
    ModuleState& module_;
    Arguments arguments_;
};

// Runs `body(ModuleState&)` inside the boundary, internal failures raised
// with the `InternalFailure` of the module that defined `type`.
template <typename Body>
PyObject* type_boundary(PyTypeObject* type, Body&& body) noexcept {
    ModuleState* state = type_module_state(type);
    if (state == nullptr) return nullptr;
    return boundary(state->internal_failure.get(), [&] { return body(*state); });
}

// The same for a module function's `self`, the module.
template <typename Body>
PyObject* module_boundary(PyObject* module, Body&& body) noexcept {
    ModuleState* state = module_state(module);
    if (state == nullptr) return nullptr;
    return boundary(state->internal_failure.get(), [&] { return body(*state); });
}

namespace method_detail {

constexpr std::size_t length(const char* text) {
    std::size_t size = 0;
    while (text[size] != '\0') ++size;
    return size;
}

// Writes `method`'s docstring through `put(const char*)`, piece by piece:
// "name($self, a, *, b=None)\n--\n\n" and the description.
template <typename Put>
constexpr void write_docstring(const Method& method, Put&& put) {
    put(method.name);
    put("(");
    const char* separator = "";
    if (method.receiver == Receiver::instance || method.receiver == Receiver::constructor) {
        put(method.receiver == Receiver::instance ? "$self" : "$cls");
        separator = ", ";
    }
    bool keyword_only = false;
    for (std::size_t i = 0; i < method.parameter_count(); ++i) {
        const Parameter& parameter = method.parameters[i];
        put(separator);
        separator = ", ";
        if (parameter.keyword_only && !keyword_only) {
            put("*, ");
            keyword_only = true;
        }
        put(parameter.name);
        if (parameter.default_text != nullptr) {
            put("=");
            put(parameter.default_text);
        }
    }
    put(")\n--\n\n");
    put(method.doc);
}

constexpr std::size_t docstring_size(const Method& method) {
    std::size_t size = 0;
    write_docstring(method, [&](const char* piece) { size += length(piece); });
    return size;
}

template <const Method& method>
constexpr auto make_docstring() {
    std::array<char, docstring_size(method) + 1> text{};
    std::size_t at = 0;
    write_docstring(method, [&](const char* piece) {
        for (std::size_t i = 0; piece[i] != '\0'; ++i) text[at++] = piece[i];
    });
    return text;
}

template <const Method& method>
inline constexpr auto docstring = make_docstring<method>();

// The object whose module state serves a call of `method` on `self`.
template <const Method& method, typename Body>
PyObject* call_boundary(PyObject* self, Body&& body) noexcept {
    switch (method.receiver) {
        case Receiver::module:
            return module_boundary(self, body);
        case Receiver::type:
            return type_boundary(reinterpret_cast<PyTypeObject*>(self), body);
        case Receiver::instance:
        case Receiver::constructor:
            break;
    }
    return type_boundary(Py_TYPE(self), body);
}

template <const Method& method>
PyObject* call_without_arguments(PyObject* self, PyObject*) noexcept {
    return call_boundary<method>(self, [&](ModuleState& state) {
        return method.body(Call(self, state, Arguments(method)));
    });
}

template <const Method& method>
PyObject* call_with_arguments(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
    return call_boundary<method>(self, [&](ModuleState& state) {
        return method.body(Call(self, state, Arguments(method, args, nargs, kwnames)));
    });
}

}  // namespace method_detail

// The docstring of `method`, its text signature first; for a type's
// `tp_doc` when the method describes the type's constructor.
template <const Method& method>
constexpr const char* docstring() {
    return method_detail::docstring<method>.data();
}

// The `PyMethodDef` entry of `method`.
template <const Method& method>
constexpr PyMethodDef method_def() {
    static_assert(method.receiver != Receiver::constructor);
    constexpr int receiver_flags = method.receiver == Receiver::type ? METH_CLASS : 0;
    if constexpr (method.parameter_count() == 0) {
        return {method.name, as_cfunction(method_detail::call_without_arguments<method>),
                METH_NOARGS | receiver_flags, docstring<method>()};
    } else {
        return {method.name, as_cfunction(method_detail::call_with_arguments<method>),
                METH_FASTCALL | METH_KEYWORDS | receiver_flags, docstring<method>()};
    }
}

}  // namespace lignor::python
