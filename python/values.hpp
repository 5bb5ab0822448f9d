// Core values straight into Python objects: the builder that every result
// of the module goes through (views, findings, unresolved pointers, date
// readings, wrapped lines, conversion notes).
//
// A value describes itself to a `ValueWriter` (value_writer.hpp); `PyBuilder`
// makes the dicts, lists, `str`s and `int`s as the description goes, with
// the same keys in the same order, the same types and the same `None`s as
// the value's JSON form read by `json.loads`. Strings are decoded from UTF-8
// with "surrogatepass", so that a lone surrogate a caller's text carried in
// comes back as that surrogate.
//
// Equal short strings share one `str` where the builder still holds it
// (tags, labels, places, dates and pointers repeat from record to record),
// and equal integers one `int` (years, sort keys), which only `is` tells
// from equal copies, both being immutable.
//
// Dicts of one shape (the same keys in the same order) start as a copy of
// one template that already holds every key, so that each is made at its
// final size in one step instead of growing as its keys arrive; the values
// are gathered first and stored once the shape is known.
//
// The garbage collector: a dict or list whose every item is a string, a
// number, None or a container already left untracked cannot be part of a
// reference cycle as built, so the builder takes it off the collector's
// lists. A dict tracks itself again as soon as a container is stored in it;
// a list does not, so a cycle a caller makes through a returned list (by
// storing a container in it) is left to reference counting, which never
// frees it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert.hpp"
#include "pyref.hpp"
#include "v7check.hpp"
#include "value_writer.hpp"

namespace lignor::python {

// One interned `str` per key, made once for the module's life.
class KeyTable {
  public:
    // Throws PythonErrorSet when a string cannot be made.
    KeyTable();

    PyObject* operator[](Key key) const noexcept {
        return keys_[static_cast<std::size_t>(key)].get();
    }

  private:
    std::array<PyRef, key_count> keys_;
};

// The `str`s of often met short texts, shared by every result of the
// module: one slot per hash, taken over by a newcomer only after several
// misses in a row, so that texts met once (names) neither evict the ones
// that repeat (tags, labels) nor cost a release each. Nothing in it runs
// Python code, so a result built from a finaliser in the middle of another
// finds it consistent.
class TextMemo {
  public:
    // Texts longer than this are made afresh: they rarely repeat.
    static constexpr std::size_t longest = 40;

    TextMemo() : slots_(std::make_unique<Slot[]>(slot_count)) {}
    TextMemo(const TextMemo&) = delete;
    TextMemo& operator=(const TextMemo&) = delete;

    // The `str` of `text`, shared when it has at most `longest` bytes.
    PyRef get(std::string_view text);

  private:
    static constexpr std::size_t slot_count = 1024;
    static constexpr std::uint8_t misses_to_evict = 4;

    struct Slot {
        PyRef text;
        std::uint8_t size = 0;
        std::uint8_t misses = 0;
        std::array<char, longest> bytes;
    };

    std::unique_ptr<Slot[]> slots_;
};

// The `int`s of integers met before (years and sort keys repeat from event
// to event), one slot per value's remainder, the newest value keeping it.
class IntegerMemo {
  public:
    IntegerMemo() : slots_(std::make_unique<Slot[]>(slot_count)) {}
    IntegerMemo(const IntegerMemo&) = delete;
    IntegerMemo& operator=(const IntegerMemo&) = delete;

    PyRef get(std::int64_t value);

  private:
    static constexpr std::size_t slot_count = 4096;

    struct Slot {
        std::int64_t value = 0;
        PyRef object;
    };

    std::unique_ptr<Slot[]> slots_;
};

// One template dict per key sequence met, each key mapped to None.
class DictShapes {
  public:
    DictShapes() : slots_(std::make_unique<Slot[]>(slot_count)) {}
    DictShapes(const DictShapes&) = delete;
    DictShapes& operator=(const DictShapes&) = delete;

    // The template of a dict with `keys` in this order (made on first
    // request); null when no more shapes fit or a key repeats, and the dict
    // is then made key by key.
    PyObject* find(std::span<const Key> keys, const KeyTable& names);

  private:
    static constexpr std::size_t slot_count = 256;

    struct Slot {
        std::vector<Key> keys;
        PyRef dict;  // null in a slot of a sequence that repeats a key
        bool taken = false;
    };

    std::unique_ptr<Slot[]> slots_;
};

// What every result of the module reuses.
struct ValueCache {
    KeyTable keys;
    TextMemo texts;
    IntegerMemo integers;
    DictShapes shapes;
};

class PyBuilder final : public ValueWriter {
  public:
    explicit PyBuilder(ValueCache& cache)
        : keys_(cache.keys),
          texts_(cache.texts),
          integers_(cache.integers),
          shapes_(cache.shapes) {}

    // The one complete value written.
    PyRef take();

    ValueWriter& start_object() override;
    ValueWriter& end_object() override;
    ValueWriter& start_array(std::size_t size) override;
    ValueWriter& end_array() override;
    ValueWriter& key(Key name) override;
    ValueWriter& string(std::string_view text) override;
    ValueWriter& null() override;
    ValueWriter& boolean(bool value) override;
    ValueWriter& integer(std::int64_t value) override;
    ValueWriter& unsigned_integer(std::uint64_t value) override;

  private:
    // A dict or list being filled.
    struct Open {
        PyRef list;  // lists only: dicts are made when they close
        bool is_list = false;
        Py_ssize_t size = 0;      // lists: the items announced
        Py_ssize_t filled = 0;    // lists: the items stored
        std::size_t first = 0;    // dicts: where their fields start
        Key awaited{};            // dicts: the key of the value awaited
        bool awaits = false;      // dicts: a key was written, its value not yet
        bool untrackable = true;  // nothing tracked stored so far
    };

    ValueWriter& open(Open container);
    ValueWriter& close(bool is_list);
    ValueWriter& put(PyRef value);
    // The dict of the fields from `first` on, which it takes off the stacks.
    PyRef make_dict(std::size_t first);

    const KeyTable& keys_;
    TextMemo& texts_;
    IntegerMemo& integers_;
    DictShapes& shapes_;
    std::vector<Open> open_;
    // The keys and values of the dicts being filled, innermost last, each
    // key stored with its value.
    std::vector<Key> field_keys_;
    std::vector<PyRef> field_values_;
    PyRef result_;
};

// One value as Python objects.
template <WritesValue T>
PyRef to_py(ValueCache& cache, const T& value) {
    PyBuilder builder(cache);
    value.write_value(builder);
    return builder.take();
}

// A list of values as a Python list of their objects, in order.
template <RangeOfValues Values>
PyRef list_to_py(ValueCache& cache, const Values& values) {
    PyBuilder builder(cache);
    write_array(builder, values);
    return builder.take();
}

// The notes of a conversion, for every conversion method: a repeated text
// (a sentence said of every record, a record's identifier in each of its
// notes) is one `str` however long, and every dict a copy of one template.
PyRef notes_to_py(ValueCache& cache, const std::vector<ConversionNote>& notes);

// The problems of a version 7 check, made the same way: a check says one
// message for every structure of a kind it finds wanting.
PyRef problems_to_py(ValueCache& cache, const std::vector<Version7Problem>& problems);

// What the module keeps for its life, made by its exec slot and released
// by its `m_free`. CPython hands the state over zeroed, which both members
// read as empty, so the collector may visit it before the exec slot ran.
struct ModuleState {
    PyRef internal_failure;  // `lignor.InternalFailure`, also added to the module
    std::unique_ptr<ValueCache> cache;
};

// Makes the state of a freshly made `module` and adds `InternalFailure` to
// it; -1 with a Python error set.
int module_state_init(PyObject* module) noexcept;
// The module's `m_traverse`, `m_clear` and `m_free`.
int module_state_traverse(PyObject* module, visitproc visit, void* arg);
int module_state_clear(PyObject* module);
void module_state_free(void* module);
// The state of the module that `module` is, or that defined `type`; null
// with a Python error set when there is none.
ModuleState* module_state(PyObject* module) noexcept;
ModuleState* type_module_state(PyTypeObject* type) noexcept;

}  // namespace lignor::python
