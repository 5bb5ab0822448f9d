#include "convert.hpp"

#include <utility>

#include "json.hpp"

namespace lignor {

std::string_view to_string(NoteKind kind) noexcept {
    switch (kind) {
        case NoteKind::Converted:
            return "Converted";
        case NoteKind::Dropped:
            return "Dropped";
        case NoteKind::Kept:
            return "Kept";
    }
    return "Kept";
}

void ConversionNote::write_json(JsonWriter& json) const {
    json.start_object();
    json.key("record").optional_string(record);
    json.key("tag").string(tag);
    json.key("kind").string(to_string(kind));
    json.key("detail").string(detail);
    json.end_object();
}

void Pass::note(std::string_view tag, NoteKind kind, const char* detail) {
    note(tag, kind, std::string(detail));
}

void Pass::note(std::string_view tag, NoteKind kind, std::string detail) {
    notes.push_back({record, std::string(tag), kind, std::move(detail)});
}

}  // namespace lignor
