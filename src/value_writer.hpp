// The one shape every structured result writes itself in: objects whose keys
// come from one fixed list, arrays, strings, integers, booleans and null.
//
// A result describes itself once, in `write_value(ValueWriter&)`, and each
// writer turns that description into its own form: `JsonWriter` (json.hpp)
// into compact JSON text, the Python module's builder straight into dicts
// and lists. Keys are named by `Key` rather than by text so that a writer can
// make each key's object once and reuse it.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <string_view>

namespace lignor {

// Every key of every result, each spelled as it appears in the output.
// clang-format off
#define LIGNOR_VALUE_KEYS(X) \
    X(age) X(attribute) X(calendar) X(cause) X(check) X(childIn) X(children) X(citations) \
    X(date) X(dateDisplay) X(day) X(detail) X(display) X(earliest) X(events) X(extension) \
    X(family) X(gedcom551) X(gedcom7) X(husband) X(identifiers) X(kind) X(label) X(latest) \
    X(level) X(line) X(media) X(message) X(month) X(names) X(original) X(partnerIn) X(path) \
    X(pedigree) X(phrase) X(place) X(pointer) X(raw) X(reason) X(record) X(severity) X(sex) X(sort) \
    X(sortKey) X(structures) X(tag) X(title) X(value) X(wife) X(wrapped) X(xref) X(year)
// clang-format on

#define LIGNOR_KEY_ENUMERATOR(name) name,
enum class Key : std::uint8_t { LIGNOR_VALUE_KEYS(LIGNOR_KEY_ENUMERATOR) };
#undef LIGNOR_KEY_ENUMERATOR

// Each name is a literal, so its `data()` is NUL-terminated too.
#define LIGNOR_KEY_NAME(name) std::string_view(#name),
inline constexpr std::array key_names = {LIGNOR_VALUE_KEYS(LIGNOR_KEY_NAME)};
#undef LIGNOR_KEY_NAME

inline constexpr std::size_t key_count = key_names.size();

constexpr std::string_view key_name(Key key) noexcept {
    return key_names[static_cast<std::size_t>(key)];
}

class ValueWriter {
  public:
    virtual ~ValueWriter() = default;

    virtual ValueWriter& start_object() = 0;
    virtual ValueWriter& end_object() = 0;
    // `size` is the number of values the array will hold, exactly.
    virtual ValueWriter& start_array(std::size_t size) = 0;
    virtual ValueWriter& end_array() = 0;
    virtual ValueWriter& key(Key name) = 0;
    // UTF-8 text, which may carry a lone surrogate from the caller's own text.
    virtual ValueWriter& string(std::string_view text) = 0;
    virtual ValueWriter& null() = 0;
    virtual ValueWriter& boolean(bool value) = 0;
    virtual ValueWriter& integer(std::int64_t value) = 0;
    virtual ValueWriter& unsigned_integer(std::uint64_t value) = 0;

    // A string, or null when absent.
    ValueWriter& optional_string(std::optional<std::string_view> text) {
        return text ? string(*text) : null();
    }
    // An integer, or null when absent.
    ValueWriter& optional_integer(std::optional<std::int64_t> value) {
        return value ? integer(*value) : null();
    }
};

// A value that writes itself as one value: views, findings, date readings,
// unresolved pointers, conversion notes, wrapped lines.
template <typename T>
concept WritesValue = requires(const T& value, ValueWriter& out) {
    value.write_value(out);
};

template <typename R>
concept RangeOfValues = std::ranges::sized_range<R> && WritesValue<std::ranges::range_value_t<R>>;

// Writes the values as one array, in order.
template <RangeOfValues Values>
void write_array(ValueWriter& out, const Values& values) {
    out.start_array(std::ranges::size(values));
    for (const auto& value : values) value.write_value(out);
    out.end_array();
}

// Strings, or unsigned numbers such as the indices of a structure path, as
// one array.
inline void write_array(ValueWriter& out, std::span<const std::string> texts) {
    out.start_array(texts.size());
    for (const std::string& text : texts) out.string(text);
    out.end_array();
}
inline void write_array(ValueWriter& out, std::span<const std::size_t> numbers) {
    out.start_array(numbers.size());
    for (const std::size_t number : numbers) out.unsigned_integer(number);
    out.end_array();
}

}  // namespace lignor
