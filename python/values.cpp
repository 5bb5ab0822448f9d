// The builder that turns core values into Python dicts, lists and strings,
// with the memo of strings it has already made.
#include "values.hpp"

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <unordered_map>
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

PyRef TextMemo::get(std::string_view text) {
    if (text.size() > longest) return decoded(text);
    Slot& slot = slots_[std::hash<std::string_view>{}(text) % slot_count];
    if (slot.text && std::string_view(slot.bytes.data(), slot.size) == text) {
        slot.misses = 0;
        return PyRef::new_reference(slot.text.get());
    }
    PyRef made = decoded(text);
    if (slot.text && ++slot.misses < misses_to_evict) return made;
    slot.text = PyRef::new_reference(made.get());  // the str let go runs no Python code
    slot.size = static_cast<std::uint8_t>(text.size());
    slot.misses = 0;
    std::copy(text.begin(), text.end(), slot.bytes.begin());
    return made;
}

PyRef IntegerMemo::get(std::int64_t value) {
    Slot& slot = slots_[static_cast<std::uint64_t>(value) % slot_count];
    if (!slot.object || slot.value != value) {
        slot.object = checked(PyLong_FromLongLong(value));  // the int let go runs no Python code
        slot.value = value;
    }
    return PyRef::new_reference(slot.object.get());
}

namespace {

std::size_t sequence_hash(std::span<const Key> keys) noexcept {
    std::size_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const Key key : keys) hash = (hash ^ static_cast<std::size_t>(key)) * 1099511628211ULL;
    return hash;
}

// Each key mapped to None; null when a key repeats.
//
// The template is the attribute dict of an instance of a class made for the
// shape, so that it and its copies share one table of keys and each copy
// holds only its values (a dict with its own table of 13 keys takes more
// than twice the memory). The interpreter sizes the values of such dicts by
// the room the class keeps for more attributes, which shrinks with every
// instance made; a few more instances leave it small.
PyRef make_template(std::span<const Key> keys, const KeyTable& names) {
    constexpr int instances_to_shrink = 32;
    const PyRef shape_class = checked(PyObject_CallFunction(
        reinterpret_cast<PyObject*>(&PyType_Type), "s()N", "shape", PyDict_New()));
    const PyRef instance = checked(PyObject_CallNoArgs(shape_class.get()));
    for (const Key key : keys) {
        if (PyObject_SetAttr(instance.get(), names[key], Py_None) < 0) throw PythonErrorSet{};
    }
    PyRef dict = checked(PyObject_GenericGetDict(instance.get(), nullptr));
    for (int i = 0; i < instances_to_shrink; ++i) checked(PyObject_CallNoArgs(shape_class.get()));
    if (!PyDict_CheckExact(dict.get()) ||
        PyDict_GET_SIZE(dict.get()) != static_cast<Py_ssize_t>(keys.size())) {
        return {};
    }
    return dict;
}

}  // namespace

PyObject* DictShapes::find(std::span<const Key> keys, const KeyTable& names) {
    const std::size_t start = sequence_hash(keys) % slot_count;
    for (std::size_t probe = 0; probe < slot_count; ++probe) {
        Slot& slot = slots_[(start + probe) % slot_count];
        if (!slot.taken) {
            slot.dict = make_template(keys, names);
            slot.keys.assign(keys.begin(), keys.end());
            slot.taken = true;
            return slot.dict.get();
        }
        if (std::ranges::equal(slot.keys, keys)) return slot.dict.get();
    }
    return nullptr;
}

PyRef PyBuilder::take() {
    if (!open_.empty() || !result_)
        throw InternalFailure("a value was taken before it was complete");
    return std::move(result_);
}

ValueWriter& PyBuilder::open(Open container) {
    open_.push_back(std::move(container));
    return *this;
}

ValueWriter& PyBuilder::start_object() {
    Open dict;
    dict.first = field_keys_.size();
    return open(std::move(dict));
}

ValueWriter& PyBuilder::start_array(std::size_t size) {
    const auto count = static_cast<Py_ssize_t>(size);
    Open list;
    list.list = checked(PyList_New(count));
    list.is_list = true;
    list.size = count;
    return open(std::move(list));
}

ValueWriter& PyBuilder::end_object() {
    return close(false);
}

ValueWriter& PyBuilder::end_array() {
    return close(true);
}

ValueWriter& PyBuilder::close(bool is_list) {
    if (open_.empty() || open_.back().is_list != is_list || open_.back().awaits ||
        open_.back().filled != open_.back().size) {
        throw InternalFailure("a value closed a container it did not open or fill");
    }
    Open done = std::move(open_.back());
    open_.pop_back();
    PyRef made = is_list ? std::move(done.list) : make_dict(done.first);
    if (done.untrackable) PyObject_GC_UnTrack(made.get());
    return put(std::move(made));
}

PyRef PyBuilder::make_dict(std::size_t first) {
    const std::span<const Key> keys(field_keys_.begin() + static_cast<std::ptrdiff_t>(first),
                                    field_keys_.end());
    PyObject* shape = shapes_.find(keys, keys_);
    PyRef dict = checked(shape != nullptr ? PyDict_Copy(shape) : PyDict_New());
    for (std::size_t i = first; i < field_keys_.size(); ++i) {
        PyObject* value = field_values_[i].get();
        if (shape != nullptr && value == Py_None) continue;  // as in the template
        if (PyDict_SetItem(dict.get(), keys_[field_keys_[i]], value) < 0) throw PythonErrorSet{};
    }
    field_keys_.resize(first);
    field_values_.resize(first);
    return dict;
}

ValueWriter& PyBuilder::key(Key name) {
    if (open_.empty() || open_.back().is_list || open_.back().awaits) {
        throw InternalFailure("a key was written outside an object");
    }
    open_.back().awaited = name;
    open_.back().awaits = true;
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
        PyList_SET_ITEM(into.list.get(), into.filled++, value.release());
        return *this;
    }
    if (!into.awaits) throw InternalFailure("an object value was written without a key");
    field_keys_.push_back(into.awaited);
    field_values_.push_back(std::move(value));
    into.awaits = false;
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
    return put(integers_.get(value));
}

ValueWriter& PyBuilder::unsigned_integer(std::uint64_t value) {
    if (value <= static_cast<std::uint64_t>(INT64_MAX)) {
        return put(integers_.get(static_cast<std::int64_t>(value)));
    }
    return put(checked(PyLong_FromUnsignedLongLong(value)));
}

namespace {

// A long list of flat objects (every field a string, an integer, null, or
// a list of integers) as Python dicts, for results that repeat themselves: a
// conversion's notes say one sentence for every record, and a record's
// identifier in each of its notes; a version 7 check says one message for
// every structure of one kind it finds wanting. Each text gets one `str`: a
// field that holds the text it held in the object before reuses its `str`,
// a longer text than TextMemo keeps finds it by content, a short one through
// TextMemo; an integer a field held in the object before reuses its `int`.
// Lists are mutable, so each object gets its own. The texts written must
// outlive the builder, which keeps views of them.
class FlatListBuilder final : public ValueWriter {
  public:
    explicit FlatListBuilder(ValueCache& cache) : cache_(cache) {}

    // The one complete list written.
    PyRef take() {
        if (!list_ || filled_ != size_ || in_object_)
            throw InternalFailure("a flat list was taken before it was complete");
        PyObject_GC_UnTrack(list_.get());  // it holds only untracked dicts
        return std::move(list_);
    }

    ValueWriter& start_array(std::size_t size) override {
        if (!list_) {
            size_ = static_cast<Py_ssize_t>(size);
            list_ = checked(PyList_New(size_));
            return *this;
        }
        if (!in_object_ || inner_ != nullptr)
            throw InternalFailure("a flat list holds no arrays but its objects' fields");
        Field& field = field_for_value();
        inner_size_ = static_cast<Py_ssize_t>(size);
        inner_filled_ = 0;
        field.fresh = checked(PyList_New(inner_size_));
        field.value = field.fresh.get();
        inner_ = field.value;
        return *this;
    }

    ValueWriter& end_array() override {
        if (inner_ == nullptr) return *this;  // the list itself, checked by take()
        if (inner_filled_ != inner_size_)
            throw InternalFailure("a field's list closed before it was filled");
        PyObject_GC_UnTrack(inner_);  // it holds only integers
        inner_ = nullptr;
        return *this;
    }

    ValueWriter& start_object() override {
        if (!list_ || in_object_ || filled_ == size_)
            throw InternalFailure("an object outside its flat list");
        in_object_ = true;
        fields_ = 0;
        return *this;
    }

    ValueWriter& end_object() override {
        if (!in_object_ || awaits_ || inner_ != nullptr)
            throw InternalFailure("an object closed before its value");
        in_object_ = false;
        PyList_SET_ITEM(list_.get(), filled_++, make_dict().release());
        return *this;
    }

    ValueWriter& key(Key name) override {
        if (!in_object_ || awaits_ || inner_ != nullptr || fields_ == max_fields)
            throw InternalFailure("a key outside a flat object");
        fields_keys_[fields_] = name;
        awaits_ = true;
        return *this;
    }

    ValueWriter& string(std::string_view text) override {
        Field& field = field_for_value();
        if (!field.text_object || field.text != text) {
            field.text_object = text_of(text);
            field.text = text;
        }
        field.value = field.text_object.get();
        return *this;
    }

    ValueWriter& null() override {
        field_for_value().value = Py_None;
        return *this;
    }

    ValueWriter& unsigned_integer(std::uint64_t value) override {
        if (inner_ != nullptr) return inner_item(checked(PyLong_FromUnsignedLongLong(value)));
        Field& field = field_for_value();
        if (!field.number_object || field.number != value) {
            field.number_object = checked(PyLong_FromUnsignedLongLong(value));
            field.number = value;
        }
        field.value = field.number_object.get();
        return *this;
    }

    ValueWriter& integer(std::int64_t value) override {
        if (value >= 0) return unsigned_integer(static_cast<std::uint64_t>(value));
        if (inner_ != nullptr) return inner_item(checked(PyLong_FromLongLong(value)));
        Field& field = field_for_value();
        field.fresh = checked(PyLong_FromLongLong(value));
        field.value = field.fresh.get();
        return *this;
    }

    ValueWriter& boolean(bool) override { throw InternalFailure("a flat list holds no booleans"); }

  private:
    static constexpr std::size_t max_fields = 8;

    // The value of one field in the object being made, and what the field
    // held in the objects before for the next to reuse.
    struct Field {
        std::string_view text;  // the last text, and its str
        PyRef text_object;
        std::uint64_t number = 0;  // the last integer of at least 0, and its int
        PyRef number_object;
        PyRef fresh;                // a value of this object's alone: a list, a negative int
        PyObject* value = nullptr;  // the object's value: one of the above, or None
    };

    Field& field_for_value() {
        if (!awaits_ || inner_ != nullptr)
            throw InternalFailure("an object value was written without a key");
        awaits_ = false;
        return fields_values_[fields_++];
    }

    ValueWriter& inner_item(PyRef item) {
        if (inner_filled_ == inner_size_)
            throw InternalFailure("a field's list got more items than announced");
        PyList_SET_ITEM(inner_, inner_filled_++, item.release());
        return *this;
    }

    PyRef text_of(std::string_view text) {
        if (text.size() <= TextMemo::longest) return cache_.texts.get(text);
        auto [it, added] = long_texts_.try_emplace(text);
        if (added) it->second = cache_.texts.get(text);
        return PyRef::new_reference(it->second.get());
    }

    // A copy of the shape's template holding the values, untracked: it
    // holds only strings, integers, None and untracked lists of integers.
    PyRef make_dict() {
        const std::span<const Key> keys(fields_keys_.data(), fields_);
        if (!template_ || !std::ranges::equal(keys, template_keys_)) {
            template_ = cache_.shapes.find(keys, cache_.keys);
            template_keys_.assign(keys.begin(), keys.end());
        }
        PyRef dict = checked(template_ != nullptr ? PyDict_Copy(template_) : PyDict_New());
        for (std::size_t i = 0; i < fields_; ++i) {
            PyObject* value = fields_values_[i].value;
            if (value == Py_None && template_ != nullptr) continue;  // as in the template
            if (PyDict_SetItem(dict.get(), cache_.keys[fields_keys_[i]], value) < 0)
                throw PythonErrorSet{};
        }
        PyObject_GC_UnTrack(dict.get());
        return dict;
    }

    ValueCache& cache_;
    PyRef list_;
    Py_ssize_t size_ = 0;
    Py_ssize_t filled_ = 0;
    bool in_object_ = false;
    bool awaits_ = false;
    std::size_t fields_ = 0;
    std::array<Key, max_fields> fields_keys_{};
    std::array<Field, max_fields> fields_values_;
    PyObject* inner_ = nullptr;  // a field's list being filled, owned by its field
    Py_ssize_t inner_size_ = 0;
    Py_ssize_t inner_filled_ = 0;
    PyObject* template_ = nullptr;  // the last shape's, owned by the cache
    std::vector<Key> template_keys_;
    std::unordered_map<std::string_view, PyRef> long_texts_;
};

}  // namespace

PyRef notes_to_py(ValueCache& cache, const std::vector<ConversionNote>& notes) {
    FlatListBuilder builder(cache);
    write_array(builder, notes);
    return builder.take();
}

PyRef problems_to_py(ValueCache& cache, const std::vector<Version7Problem>& problems) {
    FlatListBuilder builder(cache);
    write_array(builder, problems);
    return builder.take();
}

// Zeroed state reads as empty only while each member is a bare pointer.
static_assert(sizeof(PyRef) == sizeof(void*) &&
              sizeof(std::unique_ptr<ValueCache>) == sizeof(void*));

ModuleState* module_state(PyObject* module) noexcept {
    return static_cast<ModuleState*>(PyModule_GetState(module));
}

ModuleState* type_module_state(PyTypeObject* type) noexcept {
    PyObject* module = PyType_GetModule(type);
    return module != nullptr ? module_state(module) : nullptr;
}

int module_state_init(PyObject* module) noexcept {
    void* memory = PyModule_GetState(module);
    if (memory == nullptr) return -1;
    // No type to raise internal failures with until the first line is done.
    return static_cast<int>(size_boundary(nullptr, [&] {
        ModuleState& state = *new (memory) ModuleState{};
        state.internal_failure = make_internal_failure_type();
        state.cache = std::make_unique<ValueCache>();
        if (PyModule_AddObjectRef(module, "InternalFailure", state.internal_failure.get()) < 0) {
            throw PythonErrorSet{};
        }
        return Py_ssize_t{0};
    }));
}

int module_state_traverse(PyObject* module, visitproc visit, void* arg) {
    if (ModuleState* state = module_state(module)) Py_VISIT(state->internal_failure.get());
    return 0;
}

int module_state_clear(PyObject* module) {
    if (ModuleState* state = module_state(module)) state->internal_failure = PyRef();
    return 0;
}

void module_state_free(void* module) {
    if (ModuleState* state = module_state(static_cast<PyObject*>(module))) std::destroy_at(state);
}

}  // namespace lignor::python
