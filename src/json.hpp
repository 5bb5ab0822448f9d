// JSON writing (and, later, reading) behind one door. The core's record types
// write themselves as compact JSON with keys in their declared order; callers
// never see the JSON library itself.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lignor {

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
    // Writes already-serialised JSON text as one value.
    JsonWriter& raw(std::string_view json);

    // The compact JSON text written so far.
    std::string take();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lignor
