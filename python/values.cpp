#include "values.hpp"

#include <algorithm>
#include <functional>
#include <new>
#include <utility>

#include "bridge.hpp"
#include "error.hpp"

namespace lignor::python {

KeyTable::KeyTable() {
    for (std::size_t i = 0; i < key_count; ++i) {
        // The names are plain ASCII words, NUL-terminated as literals.
        keys_[i] = checked(PyUnicode_InternFromString(key_names[i].data()));
    }
}

namespace {

PyRef decoded(std::string_view text) {
    return checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

}  // namespace

TextMemo::~TextMemo() {
    for (std::size_t i = 0; i < slot_count; ++i) Py_XDECREF(slots_[i].text);
}

PyRef TextMemo::get(std::string_view text) {
    if (text.size() > longest) return decoded(text);
    Slot& slot = slots_[std::hash<std::string_view>{}(text) % slot_count];
    if (slot.text != nullptr && std::string_view(slot.bytes.data(), slot.size) == text) {
        slot.misses = 0;
        return PyRef::new_reference(slot.text);
    }
    PyRef made = decoded(text);
    if (slot.text != nullptr && ++slot.misses < misses_to_evict) return made;
    Py_XDECREF(slot.text);  // a str: its release runs no Python code
    slot.text = PyRef::new_reference(made.get()).release();
    slot.size = static_cast<std::uint8_t>(text.size());
    slot.misses = 0;
    std::copy(text.begin(), text.end(), slot.bytes.begin());
    return made;
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
    if (into.untrackable && PyType_IS_GC(Py_TYPE(value.get())) &&
        PyObject_GC_IsTracked(value.get())) {
        into.untrackable = false;
    }
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
    return put(texts_.get(text));
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

PyRef notes_to_py(ValueCache& cache, const std::vector<ConversionNote>& notes) {
    return list_to_py(cache, notes);
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
        state_of_module(module).cache = std::make_unique<ValueCache>().release();
        return Py_ssize_t{0};
    }));
}

void module_state_free(void* module) {
    auto* state = static_cast<ModuleState*>(PyModule_GetState(static_cast<PyObject*>(module)));
    if (state == nullptr) return;
    delete state->cache;
    state->cache = nullptr;
}

ValueCache& module_cache(PyObject* module) {
    ValueCache* cache = state_of_module(module).cache;
    if (cache == nullptr) throw InternalFailure("the module's cache was used before it was made");
    return *cache;
}

ValueCache& type_cache(PyTypeObject* type) {
    PyObject* module = PyType_GetModule(type);
    if (module == nullptr) throw PythonErrorSet{};
    return module_cache(module);
}

}  // namespace lignor::python
