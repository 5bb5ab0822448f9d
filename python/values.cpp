#include "values.hpp"

#include <new>

#include "bridge.hpp"
#include "error.hpp"

namespace lignor::python {

KeyTable::KeyTable() {
    for (std::size_t i = 0; i < key_count; ++i) {
        // The names are plain ASCII words, NUL-terminated as literals.
        keys_[i] = checked(PyUnicode_InternFromString(key_names[i]));
    }
}

PyRef PyBuilder::take() {
    if (!open_.empty() || !result_)
        throw InternalFailure("a value was taken before it was complete");
    return std::move(result_);
}

ValueWriter& PyBuilder::open(PyRef container, bool is_list, Py_ssize_t size) {
    open_.push_back({std::move(container), is_list, size});
    return *this;
}

ValueWriter& PyBuilder::start_object() {
    return open(checked(PyDict_New()), false, 0);
}

ValueWriter& PyBuilder::start_array(std::size_t size) {
    const auto count = static_cast<Py_ssize_t>(size);
    return open(checked(PyList_New(count)), true, count);
}

ValueWriter& PyBuilder::end_object() {
    return close(false);
}

ValueWriter& PyBuilder::end_array() {
    return close(true);
}

ValueWriter& PyBuilder::close(bool is_list) {
    if (open_.empty() || open_.back().is_list != is_list || open_.back().key != nullptr ||
        open_.back().filled != open_.back().size) {
        throw InternalFailure("a value closed a container it did not open or fill");
    }
    Open done = std::move(open_.back());
    open_.pop_back();
    if (done.untrackable) PyObject_GC_UnTrack(done.container.get());
    return put(std::move(done.container));
}

ValueWriter& PyBuilder::key(Key name) {
    if (open_.empty() || open_.back().is_list || open_.back().key != nullptr) {
        throw InternalFailure("a key was written outside an object");
    }
    open_.back().key = keys_[name];
    return *this;
}

ValueWriter& PyBuilder::put(PyRef value) {
    if (open_.empty()) {
        if (result_) throw InternalFailure("a second value was written after the first");
        result_ = std::move(value);
        return *this;
    }
    Open& into = open_.back();
    if (into.untrackable && PyObject_GC_IsTracked(value.get())) into.untrackable = false;
    if (into.is_list) {
        if (into.filled == into.size) throw InternalFailure("a list got more items than announced");
        PyList_SET_ITEM(into.container.get(), into.filled++, value.release());
        return *this;
    }
    if (into.key == nullptr) throw InternalFailure("an object value was written without a key");
    if (PyDict_SetItem(into.container.get(), into.key, value.get()) < 0) throw PythonErrorSet{};
    into.key = nullptr;
    return *this;
}

ValueWriter& PyBuilder::string(std::string_view text) {
    return put(checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass")));
}

ValueWriter& PyBuilder::null() {
    return put(PyRef::new_reference(Py_None));
}

ValueWriter& PyBuilder::boolean(bool value) {
    return put(PyRef::new_reference(value ? Py_True : Py_False));
}

ValueWriter& PyBuilder::integer(std::int64_t value) {
    return put(checked(PyLong_FromLongLong(value)));
}

ValueWriter& PyBuilder::unsigned_integer(std::uint64_t value) {
    return put(checked(PyLong_FromUnsignedLongLong(value)));
}

PyRef notes_to_py(const KeyTable& keys, const std::vector<ConversionNote>& notes) {
    return list_to_py(keys, notes);
}

namespace {

ModuleState& state_of_module(PyObject* module) {
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (state == nullptr) throw PythonErrorSet{};
    return *state;
}

}  // namespace

int module_state_init(PyObject* module) noexcept {
    return static_cast<int>(size_boundary([&] {
        state_of_module(module).keys = new KeyTable();
        return Py_ssize_t{0};
    }));
}

void module_state_free(void* module) {
    auto* state = static_cast<ModuleState*>(PyModule_GetState(static_cast<PyObject*>(module)));
    if (state == nullptr) return;
    delete state->keys;
    state->keys = nullptr;
}

const KeyTable& module_keys(PyObject* module) {
    const KeyTable* keys = state_of_module(module).keys;
    if (keys == nullptr)
        throw InternalFailure("the module's keys were used before it was executed");
    return *keys;
}

const KeyTable& type_keys(PyTypeObject* type) {
    PyObject* module = PyType_GetModule(type);
    if (module == nullptr) throw PythonErrorSet{};
    return module_keys(module);
}

}  // namespace lignor::python
