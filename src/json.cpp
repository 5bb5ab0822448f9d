#include "json.hpp"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace lignor {

struct JsonWriter::Impl {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer{buffer};
};

JsonWriter::JsonWriter() : impl_(std::make_unique<Impl>()) {}
JsonWriter::~JsonWriter() = default;

JsonWriter& JsonWriter::start_object() {
    impl_->writer.StartObject();
    return *this;
}
JsonWriter& JsonWriter::end_object() {
    impl_->writer.EndObject();
    return *this;
}
JsonWriter& JsonWriter::start_array() {
    impl_->writer.StartArray();
    return *this;
}
JsonWriter& JsonWriter::end_array() {
    impl_->writer.EndArray();
    return *this;
}
JsonWriter& JsonWriter::key(std::string_view name) {
    impl_->writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
    return *this;
}
JsonWriter& JsonWriter::string(std::string_view text) {
    impl_->writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return *this;
}
JsonWriter& JsonWriter::null() {
    impl_->writer.Null();
    return *this;
}
JsonWriter& JsonWriter::boolean(bool value) {
    impl_->writer.Bool(value);
    return *this;
}
JsonWriter& JsonWriter::integer(std::int64_t value) {
    impl_->writer.Int64(value);
    return *this;
}
JsonWriter& JsonWriter::unsigned_integer(std::uint64_t value) {
    impl_->writer.Uint64(value);
    return *this;
}
JsonWriter& JsonWriter::optional_string(std::optional<std::string_view> text) {
    return text ? string(*text) : null();
}
JsonWriter& JsonWriter::raw(std::string_view json) {
    impl_->writer.RawValue(json.data(), json.size(), rapidjson::kObjectType);
    return *this;
}

std::string JsonWriter::take() {
    std::string out(impl_->buffer.GetString(), impl_->buffer.GetSize());
    impl_->buffer.Clear();
    impl_->writer.Reset(impl_->buffer);
    return out;
}

}  // namespace lignor
