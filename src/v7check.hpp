// Whether the text a document writes is GEDCOM 7: every line that departs
// from version 7's line grammar, its tables of structures, cardinalities,
// payload types and enumerations, its payload grammars, its pointers, or its
// header and trailer, each named with the
// line it stands on and what version 7 expects there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queries.hpp"

namespace lignor {

class Document;
class ValueWriter;

enum class Version7ProblemKind : std::uint8_t {
    TrailingSpace,             // an empty payload written after a space
    LineForm,                  // a level, spacing, tag or identifier version 7 does not write
    IdentifierOnSubstructure,  // an identifier on a line that is not a record
    UnescapedAt,               // a payload beginning with one '@' where text is defined
    UndefinedStructure,        // a tag version 7 does not define under its parent
    Cardinality,               // too few or too many of one substructure
    Payload,                   // a payload not of its type, missing, or where none is defined
    Enumeration,               // a value outside the structure's enumeration set
    PointerType,               // a pointer to a record of the wrong type
    NoSuchRecord,              // a pointer to no record
    DuplicateIdentifier,       // a second record with an identifier (ignoring ASCII case)
    HeaderTrailer,             // HEAD first, TRLR last, each once; GEDC.VERS 7.x
    EmptyStructure,            // neither a payload nor a substructure
    Continuation,              // a CONT after a substructure, or with substructures
    BannedCharacter,           // a character version 7 bans anywhere
};

// The kind in kebab case: "trailing-space", "undefined-structure", ...
std::string_view to_string(Version7ProblemKind kind) noexcept;

struct Version7Problem {
    std::uint64_t line = 0;             // 1-based, in the text to_text() writes
    std::optional<std::string> record;  // the record's identifier, when it has one
    StructurePath path;                 // from the record, as node_at takes it
    std::string tag;                    // dotted, from the record down: "INDI.BIRT.DATE"
    Version7ProblemKind kind = Version7ProblemKind::Payload;
    std::string message;

    void write_value(ValueWriter& out) const;
    friend bool operator==(const Version7Problem&, const Version7Problem&) = default;
};

// Every problem of the version 7 text `document.to_text()` writes, in line
// order (problems of one line in the order found). Extension structures are
// allowed anywhere and their subtrees not examined; CONT lines are payload.
// Never fails and allocates nothing per line for a conforming document.
std::vector<Version7Problem> check_version_7(const Document& document);

}  // namespace lignor
