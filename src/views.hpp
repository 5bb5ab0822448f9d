// Read-only, display-ready views of records and their structures.
//
// A view is an owned copy of what one record (or one structure, or one
// individual, family or event) shows: it holds no reference into the
// document, is built fresh on every call and never fails, however malformed
// its input. Serialised, every view is a JSON object whose keys always appear,
// in a fixed order, with absent values written as null and empty lists as [].
//
// Two rules are shared by every view here:
// - a payload is "pointer-shaped" when it has at least three bytes, '@' first
//   and last and no other '@'. Unlike the document's pointer test this counts
//   "@VOID@", which a view shows like any other pointer;
// - a structure's citation list is the pointer-shaped payloads of its direct
//   SOUR substructures, in document order (SOUR lines holding source text are
//   not listed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queries.hpp"

namespace lignor {

class ValueWriter;

bool is_pointer_shaped(std::string_view payload) noexcept;
// The node's own payload when it is pointer-shaped.
std::optional<std::string> pointer_of(const Node& node);
std::vector<std::string> citation_list(const Node& node);

// ---- Generic views ----------------------------------------------------------

struct StructureView {
    StructurePath path;
    std::uint16_t level = 1;
    std::string tag;
    std::string label;
    std::string kind;
    std::string value;
    std::optional<std::string> pointer;
    bool extension = false;
    std::vector<StructureView> children;

    // The view of `node` and, recursively, of its substructures other than
    // CONT and CONC. `path` addresses `node` inside its record.
    static StructureView from_node(const Node& node, std::uint16_t level, StructurePath path);

    void write_value(ValueWriter& out) const;
};

struct RecordView {
    std::optional<std::string> xref;
    std::string tag;
    std::string label;
    std::string title;
    std::vector<StructureView> structures;
    std::string raw;

    static RecordView from_node(const Node& record);

    void write_value(ValueWriter& out) const;
};

// The one-line heading of a record, at most 90 characters.
std::string record_title(const Node& record);
// The text unchanged when it has at most 90 characters (Unicode scalar
// values); else its first 87 characters and "…".
std::string truncate_heading(std::string text);
// The record's lines as the document writes them, each ending in LF.
std::string raw_lines(const Node& record);

// ---- Individuals, families and events -----------------------------------------

struct NameView {
    std::string display;
    std::string sort;  // "Surname, Given", or whichever of the two exists
    std::string original;
    std::optional<std::string> kind;
    std::vector<std::string> citations;

    static NameView from_node(const Node& name);

    void write_value(ValueWriter& out) const;
};

struct FamilyLinkView {
    std::string family;
    std::optional<std::string> pedigree;  // FAMC links only

    void write_value(ValueWriter& out) const;
};

struct IdentifierView {
    std::string tag;
    std::string label;
    std::string value;
    std::optional<std::string> kind;

    void write_value(ValueWriter& out) const;
};

struct EventView {
    std::string tag;
    std::string label;
    std::optional<std::string> date;
    std::optional<std::string> date_display;
    std::optional<std::int32_t> year;
    std::optional<std::int64_t> sort_key;
    std::optional<std::string> place;
    std::optional<std::string> age;
    std::optional<std::string> cause;
    bool attribute = false;
    std::optional<std::string> value;
    std::vector<std::string> citations;
    StructurePath path;

    // The view of one event or attribute structure; `path` is its one-entry
    // address inside its record.
    static EventView from_node(const Node& node, StructurePath path);

    void write_value(ValueWriter& out) const;
};

struct IndividualView {
    std::string xref;  // empty when the record has none
    std::vector<NameView> names;
    std::optional<std::string> sex;
    std::vector<EventView> events;
    std::vector<FamilyLinkView> child_in;
    std::vector<FamilyLinkView> partner_in;
    std::vector<std::string> citations;
    std::vector<std::string> media;
    std::vector<IdentifierView> identifiers;

    static IndividualView from_node(const Node& record);

    void write_value(ValueWriter& out) const;
};

struct FamilyView {
    std::string xref;  // empty when the record has none
    std::optional<std::string> husband;
    std::optional<std::string> wife;
    std::vector<std::string> children;
    std::vector<EventView> events;  // events only; attributes are not listed

    static FamilyView from_node(const Node& record);

    // The husband's pointer, then the wife's, each only when present.
    std::vector<std::string> partners() const;

    void write_value(ValueWriter& out) const;
};

}  // namespace lignor
