// Conversion between GEDCOM versions: the result, the notes that say what
// happened to each construct, and the state one conversion run carries.
//
// A conversion prefers keeping to dropping: what the target version cannot
// express stays as written and is named in a note of kind Kept; whatever is
// removed is named in a note of kind Dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document.hpp"

namespace lignor {

class JsonWriter;

enum class NoteKind : std::uint8_t {
    Converted,  // rewritten into the target version's form
    Dropped,    // removed: the target version has no place for it
    Kept,       // left as written although the target version does not define it
};

// "Converted", "Dropped", "Kept".
std::string_view to_string(NoteKind kind) noexcept;

// One construct a conversion converted, dropped or kept.
struct ConversionNote {
    std::optional<std::string> record;  // the record's identifier; none for the header
    std::string tag;                    // a tag, or a dotted path such as "FILE.FORM"
    NoteKind kind = NoteKind::Converted;
    std::string detail;  // why, as one English sentence fragment

    // {"record": ..., "tag": ..., "kind": ..., "detail": ...}, record null when absent.
    void write_json(JsonWriter& json) const;

    friend bool operator==(const ConversionNote&, const ConversionNote&) = default;
};

// A converted document and the notes of what the conversion did, in the
// order it met the constructs.
struct Conversion {
    Document document;
    std::string from_version;  // the source's GEDC.VERS, or "unstated"
    std::string to_version;    // "7.0" or "5.5.1"
    std::vector<ConversionNote> notes;
};

// The state of one conversion run, lent to the structure rewriters.
struct Pass {
    std::vector<ConversionNote> notes;
    std::optional<std::string> record;  // the record being converted, copied into each note
    // CONC folding in the current record (version 7 only), summed up in one
    // note per record by the driver.
    std::size_t folded_lines = 0;
    std::size_t folded_structures = 0;
    std::size_t folded_without_payload = 0;

    // Appends a note about the current record; the detail fixed or composed.
    void note(std::string_view tag, NoteKind kind, const char* detail);
    void note(std::string_view tag, NoteKind kind, std::string detail);
};

}  // namespace lignor
