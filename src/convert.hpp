// Conversion between GEDCOM versions: the result and the notes that say what
// happened to each construct.
//
// A conversion prefers keeping to dropping: what the target version cannot
// express stays as written and is named in a note of kind Kept; whatever is
// removed is named in a note of kind Dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "document.hpp"

namespace lignor {

class ValueWriter;

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
    void write_value(ValueWriter& out) const;

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

// An extension tag the caller documents itself, with the URI of its
// documentation.
struct OwnedExtension {
    std::string tag;
    std::string uri;
};

// Where the conversion to version 7 says an extension it found in a file is
// documented when the caller did not name it: nowhere, by design.
inline constexpr std::string_view undocumented_extension_uri =
    "https://lignor.example.org/undocumented";

// Converts a copy of `document` to GEDCOM 7.0: the header declares 7.0 and
// no character set, note records become shared notes, every structure is
// rewritten into version 7's form, structures version 7 does not define are
// named, and every extension the records use is declared in HEAD.SCHMA
// (with the caller's URI for those in `owned`, as undocumented otherwise).
// Never fails; what cannot be expressed is kept and named in a note.
Conversion to_version_7_with(const Document& document, std::span<const OwnedExtension> owned);

// Converts a copy of `document` to GEDCOM 5.5.1: the header declares 5.5.1,
// its lineage-linked form and a character set, and loses its extension
// declarations; shared note records become note records, fitted to 255-byte
// lines; every structure is rewritten into 5.5.1's form; and a record that
// still has lines over 255 bytes is named. Never fails.
Conversion to_version_551(const Document& document);

}  // namespace lignor
