// The archive classes and function: their descriptions, their states, and
// the calls into the core's GEDZIP writer and reader.
#include "archive.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "borrow.hpp"
#include "bridge.hpp"
#include "gedzip.hpp"
#include "method.hpp"

namespace lignor::python {
namespace {

[[noreturn]] void finished_already() {
    throw GedcomError::whole(ErrorKind::Zip, "finish() was already called");
}

// A path argument for a system call. The call would read a C string and stop
// at a NUL, opening some other file than the one named, so such a path is
// refused as Python's own `open` refuses it.
std::string file_path_argument(const Argument& argument) {
    std::string path = path_argument(argument);
    if (path.find('\0') != std::string::npos) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte");
        throw PythonErrorSet{};
    }
    return path;
}

// Closes a descriptor on every path out of a call.
class Descriptor {
  public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }

  private:
    int descriptor_;
};

// Everything a writer object owns, behind one pointer so that the Python
// object header stays a plain C struct.
template <typename Sink>
struct WriterState {
    std::optional<ArchiveWriter<Sink>> writer;  // empty once finish() was called
    std::string path;                           // the file's path (file writers only)
    bool complete = false;                      // finish() was called and succeeded
    BorrowFlag borrow{"archive writer"};
};

template <typename Sink>
struct WriterObject {
    PyObject_HEAD WriterState<Sink>* state;
};

template <typename Sink>
WriterState<Sink>& state_of(PyObject* self) {
    WriterState<Sink>* state = reinterpret_cast<WriterObject<Sink>*>(self)->state;
    if (state == nullptr) throw InternalFailure("an archive writer object without its state");
    return *state;
}

template <typename Sink>
void writer_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    // A file writer dropped before finish() leaves its partial file behind.
    delete reinterpret_cast<WriterObject<Sink>*>(self)->state;
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

template <typename Sink>
PyRef make_writer(PyTypeObject* type, std::unique_ptr<WriterState<Sink>> state) {
    PyRef object = checked(type->tp_alloc(type, 0));
    reinterpret_cast<WriterObject<Sink>*>(object.get())->state = state.release();
    return object;
}

// Runs one `add` on the object's writer under its exclusive borrow, without
// the interpreter lock (compressing and file reads and writes touch no Python
// object); an object whose writer was finished refuses.
template <typename Sink, typename Add>
PyRef add_to_writer(PyObject* self, Add&& add) {
    WriterState<Sink>& state = state_of<Sink>(self);
    ExclusiveBorrow borrow(state.borrow);
    if (!state.writer) finished_already();
    unwrap(without_gil([&] { return add(*state.writer); }));
    return PyRef::new_reference(Py_None);
}

// Takes the writer out of the object under its exclusive borrow, so that
// the object counts as finished whatever happens next, finishes it and
// hands the sink (and the object's state) to `answer`. An archive without
// its dataset is refused first and stays open for it. Finishing runs
// without the interpreter lock.
template <typename Sink, typename Answer>
PyRef finish_writer(PyObject* self, Answer&& answer) {
    WriterState<Sink>& state = state_of<Sink>(self);
    ExclusiveBorrow borrow(state.borrow);
    if (!state.writer) finished_already();
    // A failed writer's own refusal comes from `finish`, which it ends.
    if (!state.writer->failed()) unwrap(state.writer->check_dataset());
    ArchiveWriter<Sink> writer = std::move(*state.writer);
    state.writer.reset();
    Sink sink = unwrap(without_gil([&] { return std::move(writer).finish(); }));
    PyRef result = answer(sink, state);
    state.complete = true;
    return result;
}

// `add(name, data)`, the same for both classes. Both are views into their
// arguments, which stay held while the lock is released.
template <typename Sink>
PyRef writer_add(const Call& call) {
    const PyRef held_name = PyRef::new_reference(call[0].object);
    const PyRef held_data = PyRef::new_reference(call[1].object);
    const std::string_view name = text_argument(call[0]);
    const std::string_view data = bytes_argument(call[1]);
    return add_to_writer<Sink>(call.self(),
                               [&](ArchiveWriter<Sink>& writer) { return writer.add(name, data); });
}

constexpr Parameters add_parameters = {required("name"), required("data")};

// Registers a writer class over `Sink` under its qualified name. A class
// without `construct` cannot be called: its writers come from a factory.
template <typename Sink>
int add_writer_type(PyObject* module, const char* qualified_name, const char* doc,
                    PyMethodDef* methods, newfunc construct = nullptr) noexcept {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(writer_dealloc<Sink>)},
        {Py_tp_methods, methods},
        {construct ? Py_tp_new : 0, reinterpret_cast<void*>(construct)},
        {0, nullptr},
    };
    const unsigned flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE |
                           (construct ? 0 : Py_TPFLAGS_DISALLOW_INSTANTIATION);
    PyType_Spec spec = {qualified_name, sizeof(WriterObject<Sink>), 0, flags, slots};
    return add_type(module, &spec, std::strrchr(qualified_name, '.') + 1);
}

// ----- ArchiveWriter -------------------------------------------------------

PyRef archive_writer_new(const Call& call) {
    auto state = std::make_unique<WriterState<MemorySink>>();
    state->writer.emplace(MemorySink{});
    return make_writer(reinterpret_cast<PyTypeObject*>(call.self()), std::move(state));
}

// A class method for the reason `Gedcom.parse` is one: the class arrives as
// `self`, so the module needs no global state to find its type.
constexpr Method archive_writer_new_method{"new",
                                           Receiver::type,
                                           {},
                                           archive_writer_new,
                                           "Starts a new archive under the default bounds\n"
                                           "(the library's own, which Python cannot change)."};

constexpr Method archive_writer_add_method{
    "add", Receiver::instance, add_parameters, writer_add<MemorySink>,
    "Adds one entry. Raises `ValueError` for an unsafe or repeated path,\n"
    "one that exceeds the writer's per-entry limit, or a call after\n"
    "`finish`."};

PyRef archive_writer_finish(const Call& call) {
    return finish_writer<MemorySink>(call.self(), [](MemorySink& sink, WriterState<MemorySink>&) {
        return bytes_to_py(sink.bytes());
    });
}

constexpr Method archive_writer_finish_method{
    "finish",
    Receiver::instance,
    {},
    archive_writer_finish,
    "Writes the central directory and returns the finished archive's\n"
    "bytes. Valid to call once; raises `ValueError` on a second call, and\n"
    "before the archive holds its dataset, `gedcom.ged`, which it then\n"
    "waits for."};

// `ArchiveWriter()`, refused with the way to start an archive: through the
// class's `tp_new` and its `__new__`, whose docstring replaces the generic
// one CPython gives every `tp_new`.
PyObject* archive_writer_refuse(PyObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError,
                    "cannot create 'lignor.ArchiveWriter' instances by calling the class: "
                    "ArchiveWriter.new() starts an archive");
    return nullptr;
}

PyObject* archive_writer_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return archive_writer_refuse(reinterpret_cast<PyObject*>(type), args, kwargs);
}

PyMethodDef archive_writer_methods[] = {
    {"__new__", as_cfunction(archive_writer_refuse),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC | METH_COEXIST,
     "__new__($cls, /, *args, **kwargs)\n--\n\n"
     "Refused: an archive writer starts with `ArchiveWriter.new()`."},
    method_def<archive_writer_new_method>(),
    method_def<archive_writer_add_method>(),
    method_def<archive_writer_finish_method>(),
    {nullptr, nullptr, 0, nullptr},
};

const char archive_writer_doc[] =
    "Builds a GEDZIP archive one entry at a time.\n\n"
    "Peak memory per `add` call is a small multiple of the entry just added,\n"
    "not of the archive's total: roughly 2x for already-compressed media,\n"
    "which is stored rather than deflated, up to a little over 3.5x for\n"
    "highly compressible text, plus the growing central directory. This\n"
    "binding's sink is an in-memory buffer, so `finish` copies the whole\n"
    "buffer again to hand the bytes to Python. There is no separate call\n"
    "for a whole list of entries already in memory: build one writer and\n"
    "call `add` in a loop.";

// ----- ArchiveFileWriter ---------------------------------------------------

// `ArchiveFileWriter(path)`, reached both through `tp_new` and through the
// class's own `__new__` (so that help() and inspect show its real signature
// rather than the generic one CPython gives every `tp_new`).
PyRef archive_file_writer_construct(const Call& call) {
    auto state = std::make_unique<WriterState<FileSink>>();
    state->path = file_path_argument(call[0]);
    const int descriptor = without_gil([&] {
        const int opened =
            ::open(state->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (opened < 0) throw FileSystemFailure{state->path, errno};
        return opened;
    });
    state->writer.emplace(FileSink(descriptor));
    return make_writer(reinterpret_cast<PyTypeObject*>(call.self()), std::move(state));
}

constexpr Parameters file_writer_parameters = {required("path")};

// The class itself: its docstring and the arguments `tp_new` binds.
constexpr Method archive_file_writer_class{
    "ArchiveFileWriter", Receiver::type, file_writer_parameters, archive_file_writer_construct,
    "Writes a GEDZIP archive straight to a file, one entry at a time, so\n"
    "memory stays a small multiple of the largest entry passed as bytes to\n"
    "`add` \xE2\x80\x94 and one 64 KiB buffer for an entry streamed with `add_file` \xE2\x80\x94\n"
    "however large the archive grows. Each entry may be at most the library's\n"
    "default per-entry limit, 1 GiB, which Python cannot change. The\n"
    "archive is written to the file at `path`.\n\n"
    "The file is created at once and is complete only after `finish`; an\n"
    "archive abandoned part-way (an error, or no `finish`) leaves a partial\n"
    "file behind. Write to a temporary path and rename it after `finish`.\n\n"
    "In a `with` block the archive is finished when the block ends, and its\n"
    "file removed when the block raises."};

PyObject* archive_file_writer_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return type_boundary(type, [&](ModuleState& state) {
        const Arguments arguments(archive_file_writer_class, args, kwargs);
        return archive_file_writer_construct(
            Call(reinterpret_cast<PyObject*>(type), state, arguments));
    });
}

// `ArchiveFileWriter.__new__(type, path)`: the constructor reached through
// the class's `__new__`, so that help() and inspect show its real signature
// rather than the generic one CPython gives every `tp_new`.
PyObject* archive_file_writer_new(PyObject*, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    PyObject* type = count > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
    // Only a class whose instances this constructor lays out.
    if (type == nullptr || !PyType_Check(type) ||
        reinterpret_cast<PyTypeObject*>(type)->tp_new != archive_file_writer_tp_new) {
        PyErr_SetString(PyExc_TypeError,
                        "ArchiveFileWriter.__new__() takes the ArchiveFileWriter class first");
        return nullptr;
    }
    const PyRef rest = PyRef::steal(PyTuple_GetSlice(args, 1, count));
    if (!rest) return nullptr;
    return archive_file_writer_tp_new(reinterpret_cast<PyTypeObject*>(type), rest.get(), kwargs);
}

constexpr Method archive_file_writer_new_method{
    "__new__", Receiver::constructor, file_writer_parameters, archive_file_writer_construct,
    "Creates the archive's file at `path`; `ArchiveFileWriter(path)` calls\n"
    "this."};

PyRef archive_file_writer_enter(const Call& call) {
    return PyRef::new_reference(call.self());
}

constexpr Method archive_file_writer_enter_method{
    "__enter__", Receiver::instance, {}, archive_file_writer_enter, "Returns the writer itself."};

// Removes the file of a writer whose archive was not finished, so that no
// half-written archive is left at its path.
void abandon(WriterState<FileSink>& state) {
    ExclusiveBorrow borrow(state.borrow);
    if (state.complete) return;
    state.writer.reset();  // closes the file
    if (::unlink(state.path.c_str()) != 0 && errno != ENOENT) {
        throw FileSystemFailure{state.path, errno};
    }
}

// Finishes the file and answers its size.
PyRef finish_file(PyObject* self) {
    return finish_writer<FileSink>(self, [](FileSink& sink, WriterState<FileSink>& state) {
        struct stat metadata {};
        without_gil([&] {
            if (const int error = sink.close()) throw FileSystemFailure{state.path, error};
            if (::stat(state.path.c_str(), &metadata) != 0) {
                throw FileSystemFailure{state.path, errno};
            }
        });
        return checked(
            PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(metadata.st_size)));
    });
}

PyRef archive_file_writer_exit(const Call& call) {
    WriterState<FileSink>& state = state_of<FileSink>(call.self());
    if (call[0].object == Py_None && state.writer) {
        try {
            finish_file(call.self());
        } catch (...) {
            abandon(state);
            throw;
        }
    }
    abandon(state);
    return PyRef::new_reference(Py_False);  // an exception from the block goes on
}

constexpr Method archive_file_writer_exit_method{
    "__exit__",
    Receiver::instance,
    {required("exc_type"), required("exc_value"), required("traceback")},
    archive_file_writer_exit,
    "Finishes the archive when the `with` block ends normally. When it\n"
    "ends with an exception, or finishing fails, the file is removed, so\n"
    "no half-written archive is left at `path`; the exception goes on."};

constexpr Method archive_file_writer_add_method{
    "add", Receiver::instance, add_parameters, writer_add<FileSink>,
    "Adds one entry from bytes. Raises `ValueError` for an unsafe or\n"
    "repeated path, one past the per-entry limit, a failed write, or a call\n"
    "after `finish`."};

PyRef archive_file_writer_add_file(const Call& call) {
    const PyRef held_name = PyRef::new_reference(call[0].object);  // read without the lock
    const std::string_view name = text_argument(call[0]);
    const std::string source = file_path_argument(call[1]);
    // Non-blocking, so that a named pipe is refused below instead of
    // waiting for a writer; reads of a regular file never block anyway.
    const Descriptor file(without_gil([&] {
        const int descriptor = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (descriptor < 0) throw FileSystemFailure{source, errno};
        return descriptor;
    }));
    struct stat metadata {};
    without_gil([&] {
        if (::fstat(file.get(), &metadata) != 0) throw FileSystemFailure{source, errno};
    });
    if (!S_ISREG(metadata.st_mode)) {
        throw GedcomError::whole(ErrorKind::Zip, source + " is not a regular file");
    }
    FileSource reader(file.get());
    const auto size = static_cast<std::uint64_t>(metadata.st_size);
    return add_to_writer<FileSink>(call.self(), [&](ArchiveWriter<FileSink>& writer) {
        return writer.add_streamed_reserving(name, reader, size);
    });
}

constexpr Method archive_file_writer_add_file_method{
    "add_file",
    Receiver::instance,
    {required("name"), required("source")},
    archive_file_writer_add_file,
    "Adds one entry read from the regular file at `source`, without the\n"
    "bytes ever passing through Python, and without holding the file in\n"
    "memory: it streams in 64 KiB chunks, so it costs one buffer. The file\n"
    "may be at most the writer's per-entry limit, the library's default of\n"
    "1 GiB. Raises `OSError` when it cannot be opened, `ValueError` when it\n"
    "is not a regular file or as `add` does, and `ValueError` when the\n"
    "file changes size while it is read \xE2\x80\x94 the entry is then taken off\n"
    "the file again and the archive goes on without it."};

PyRef archive_file_writer_finish(const Call& call) {
    return finish_file(call.self());
}

constexpr Method archive_file_writer_finish_method{
    "finish",
    Receiver::instance,
    {},
    archive_file_writer_finish,
    "Writes the central directory, flushes, and closes the file, returning\n"
    "its size in bytes. Valid to call once; raises `ValueError` before the\n"
    "archive holds its dataset, `gedcom.ged`, which it then waits for."};

PyMethodDef archive_file_writer_methods[] = {
    // Replaces the generic `__new__` CPython adds for `tp_new`.
    {archive_file_writer_new_method.name, as_cfunction(archive_file_writer_new),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC | METH_COEXIST,
     docstring<archive_file_writer_new_method>()},
    method_def<archive_file_writer_enter_method>(),
    method_def<archive_file_writer_exit_method>(),
    method_def<archive_file_writer_add_method>(),
    method_def<archive_file_writer_add_file_method>(),
    method_def<archive_file_writer_finish_method>(),
    {nullptr, nullptr, 0, nullptr},
};

// ----- archive_total_size --------------------------------------------------

PyRef archive_total_size(const Call& call) {
    const PyRef held = PyRef::new_reference(call[0].object);
    const std::string_view data = bytes_argument(call[0]);
    const Archive archive = unwrap(without_gil([&] { return Archive::open(data); }));
    return checked(PyLong_FromUnsignedLongLong(archive.total_size()));
}

constexpr Method archive_total_size_method{
    "archive_total_size",
    Receiver::module,
    {required("data")},
    archive_total_size,
    "The sum of a GEDZIP archive's entries' claimed decompressed sizes, read\n"
    "from its central directory alone \xE2\x80\x94 nothing is decompressed to answer\n"
    "this. Raises `ValueError` for bytes that do not open as an archive."};

PyMethodDef archive_total_size_def = method_def<archive_total_size_method>();

}  // namespace

int archive_writer_type_init(PyObject* module) noexcept {
    // Writers come only from `new()`; calling the class raises TypeError naming it.
    return add_writer_type<MemorySink>(module, "lignor.ArchiveWriter", archive_writer_doc,
                                       archive_writer_methods, archive_writer_tp_new);
}

int archive_file_writer_type_init(PyObject* module) noexcept {
    return add_writer_type<FileSink>(module, "lignor.ArchiveFileWriter",
                                     docstring<archive_file_writer_class>(),
                                     archive_file_writer_methods, archive_file_writer_tp_new);
}

int archive_total_size_init(PyObject* module) noexcept {
    return add_function(module, &archive_total_size_def);
}

}  // namespace lignor::python
