// The value bridge and the call boundary between CPython and the core.
//
// Values: results go to Python through the builder of values.hpp;
// descriptions come from Python through `json.dumps` and the core's JSON
// reader (`from_py`).
//
// Failures: inside a method body every failure is a C++ exception, and
// `boundary` (one per call) turns it into a Python exception and a failure
// return, so that no C++ exception ever unwinds into the interpreter:
//
//   PythonErrorSet     the Python error indicator is already set; kept as is
//   GedcomError        ValueError with the error's display text
//   FileSystemFailure  OSError "{what}: {system's description}"
//   BorrowConflict     RuntimeError saying which call holds the object
//   std::bad_alloc     MemoryError
//   anything else      lignor.InternalFailure (derived from BaseException)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "build.hpp"
#include "error.hpp"
#include "json.hpp"
#include "pyref.hpp"

namespace lignor::python {

// Thrown after a CPython call failed and set the error indicator.
struct PythonErrorSet {};

// A failed file-system call: `what` names the file, `error_number` is errno.
struct FileSystemFailure {
    std::string what;
    int error_number;
};

// Adopts a new reference from a CPython call, throwing when the call failed.
PyRef checked(PyObject* result);

// The value of a core result, or its error thrown for the boundary.
template <typename T>
T unwrap(Result<T>&& result) {
    if (!result) throw std::move(result).take_error();
    return std::move(result).value();
}

// Makes the exception type for broken preconditions,
// `lignor.InternalFailure`, derived from BaseException so that `except
// Exception` does not swallow a programming error. The module makes one in
// its exec slot and keeps it in its state; throws PythonErrorSet.
PyRef make_internal_failure_type();

// Sets the Python exception for the exception in flight. Call only inside a
// catch block. Internal failures are raised as `internal_failure` (borrowed),
// or as SystemError where no module is at hand to lend its type (null).
void translate_current_exception(PyObject* internal_failure) noexcept;

// Runs a method body that returns a `PyRef`; returns the new reference, or
// null with a Python exception set.
template <typename Body>
PyObject* boundary(PyObject* internal_failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)().release();
    } catch (...) {
        translate_current_exception(internal_failure);
        return nullptr;
    }
}

// The same for slots that return a size (`__len__`): -1 on failure.
template <typename Body>
Py_ssize_t size_boundary(PyObject* internal_failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        translate_current_exception(internal_failure);
        return -1;
    }
}

// Runs `work()` with the interpreter lock released, so that other threads run
// Python meanwhile, and returns its result. `work` must touch no Python
// object, not even a reference count: everything it reads is core data,
// guarded by the caller's borrow, or argument bytes the caller keeps alive.
// The lock is taken back however `work` ends, so exceptions reach the
// boundary with it held.
template <typename Work>
decltype(auto) without_gil(Work&& work) {
    class Released {
      public:
        Released() noexcept : thread_(PyEval_SaveThread()) {}
        ~Released() { PyEval_RestoreThread(thread_); }
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;

      private:
        PyThreadState* thread_;
    };
    const Released released;
    return std::forward<Work>(work)();
}

// One argument of a call as the converters below read it: the function and
// parameter it was passed for (named in their errors) and the object,
// borrowed from the call; null when an optional argument was omitted.
struct Argument {
    const char* function;
    const char* name;
    PyObject* object;

    // The same argument's names for an object it holds (an item, a key).
    Argument holding(PyObject* item) const noexcept { return {function, name, item}; }
};

// The text of a `str` argument as UTF-8, borrowed from the object; TypeError
// naming the function and the argument for anything else, UnicodeEncodeError
// for a `str` holding a lone surrogate.
std::string_view text_argument(const Argument& argument);
// Any `str`, lone surrogates included (encoded as "surrogatepass" does), for
// readers that take every text and never fail; the builder of values.hpp
// hands such bytes back as the same surrogates.
std::string any_text_argument(const Argument& argument);
// The contents of a `bytes` argument (not bytearray or memoryview).
std::string_view bytes_argument(const Argument& argument);
// The contents of a bytes-like argument: `bytes`, read where it lies, or
// any object with a contiguous buffer (`bytearray`, `memoryview`), copied
// first, since Python code on another thread may change such a buffer while
// the core reads it without the interpreter lock. TypeError naming the
// function and the argument for anything else.
class BytesLike {
  public:
    explicit BytesLike(const Argument& argument);
    std::string_view bytes() const noexcept { return bytes_; }

  private:
    PyRef held_;        // the `bytes` object read in place
    std::string copy_;  // any other buffer's contents
    std::string_view bytes_;
};
// An unsigned size from an `int` argument: TypeError naming the function
// and the argument for anything else (a `bool` included), OverflowError when
// negative or too large.
std::size_t size_argument(const Argument& argument);
// A path argument: whatever `os.fspath` turns into a `str`, encoded with the
// file-system encoding.
std::string path_argument(const Argument& argument);

// A structure path argument: any sequence of `int` but a `str`, each a
// non-negative index. TypeError naming the function and the argument for
// anything else (a `bool` index included), OverflowError for a negative or
// too large index.
std::vector<std::size_t> index_list_argument(const Argument& argument);

// A method function of any of CPython's signatures as the PyCFunction pointer
// type that PyMethodDef holds; the flags say which signature it really has.
template <typename Function>
PyCFunction as_cfunction(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Adds the type made from `spec` to `module` under `name`; -1 with a Python
// error set on failure.
int add_type(PyObject* module, PyType_Spec* spec, const char* name) noexcept;
// Adds the function of `definition` to `module`, bound to the module.
int add_function(PyObject* module, PyMethodDef* definition) noexcept;

// A `str` from UTF-8 text.
PyRef text_to_py(std::string_view text);
// A `bytes` object holding a copy of `bytes`.
PyRef bytes_to_py(std::string_view bytes);
// An unsigned size or index; OverflowError for negative or too large values,
// TypeError for anything that is not an integer.
std::size_t size_from_py(PyObject* object);

// Node descriptions from Python values via `json.dumps` and the core's
// JSON reader; a refusal is raised as ValueError with the reader's message.
std::vector<NodeSpec> from_py(PyObject* descriptions);

}  // namespace lignor::python
