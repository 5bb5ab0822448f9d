// JSON writing and reading behind one door. The core's record types write
// themselves as compact JSON with keys in their declared order; node
// descriptions are read from JSON with every key checked. Callers never see
// the JSON library itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"

namespace lignor {

struct NodeSpec;

class JsonWriter {
  public:
    JsonWriter();
    ~JsonWriter();
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    JsonWriter& start_object();
    JsonWriter& end_object();
    JsonWriter& start_array();
    JsonWriter& end_array();
    JsonWriter& key(std::string_view name);
    JsonWriter& string(std::string_view text);
    JsonWriter& null();
    JsonWriter& boolean(bool value);
    JsonWriter& integer(std::int64_t value);
    JsonWriter& unsigned_integer(std::uint64_t value);
    // A string, or null when absent.
    JsonWriter& optional_string(std::optional<std::string_view> text);

    // The compact JSON text written so far.
    std::string take();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A value that writes itself as one JSON value: views, findings, date
// readings, unresolved pointers.
template <typename T>
concept WritesJson = requires(const T& value, JsonWriter& json) {
    value.write_json(json);
};

template <typename R>
concept RangeOfJson = std::ranges::input_range<R> && WritesJson<std::ranges::range_value_t<R>>;

// Writes the values as one JSON array, in order.
template <RangeOfJson Values>
void write_array(JsonWriter& json, const Values& values) {
    json.start_array();
    for (const auto& value : values) value.write_json(json);
    json.end_array();
}

// Strings, or unsigned numbers such as the indices of a structure path, as
// one JSON array.
void write_array(JsonWriter& json, std::span<const std::string> texts);
void write_array(JsonWriter& json, std::span<const std::size_t> numbers);

// The compact JSON text of one value, or of a list of values as an array.
template <WritesJson T>
std::string to_json(const T& value) {
    JsonWriter json;
    value.write_json(json);
    return json.take();
}
template <RangeOfJson Values>
std::string to_json(const Values& values) {
    JsonWriter json;
    write_array(json, values);
    return json.take();
}

// The deepest nesting of descriptions the reader accepts. Building refuses
// anything below level 64 anyway; this bound only keeps hostile input from
// growing an unbounded tree.
inline constexpr std::size_t max_description_depth = 1'000;

// Reads a JSON array of node descriptions. A description is an object with
// the keys `xref`, `tag`, `value` and `children` (only `tag` required; `xref`
// and `value` may be null) or an array of those four fields in that order
// (`value` and `children` may be left off). Unknown, missing and duplicate
// keys, values of the wrong type, lone surrogate escapes and malformed JSON
// are refused; every message ends with " at line {line} column {column}".
Result<std::vector<NodeSpec>> read_node_specs(std::string_view json);

}  // namespace lignor
