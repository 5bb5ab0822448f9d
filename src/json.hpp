// JSON writing and reading behind one door. The core's record types write
// themselves (value_writer.hpp) as compact JSON with keys in their declared
// order; node
// descriptions are read from JSON with every key checked. Callers never see
// the JSON library itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "value_writer.hpp"

namespace lignor {

struct NodeSpec;

// Compact JSON text: no spaces or line breaks between tokens, keys in the
// order they are written.
class JsonWriter final : public ValueWriter {
  public:
    JsonWriter();
    ~JsonWriter() override;
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

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

    // The compact JSON text written so far.
    std::string take();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The compact JSON text of one value, or of a list of values as an array.
template <WritesValue T>
std::string to_json(const T& value) {
    JsonWriter json;
    value.write_value(json);
    return json.take();
}
template <RangeOfValues Values>
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
