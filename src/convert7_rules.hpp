// What the files of the conversion to version 7 share, private to them:
// where a structure stands while the walk rewrites it, the helpers several
// rules use, each rule's entry point, and the walk over one record.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ascii.hpp"
#include "convert_pass.hpp"
#include "v7defs.hpp"

namespace lignor::to7 {

// Where a structure stands while the walk rewrites it: its depth (0 for a
// record) and its row in the standard's table and its parent's (no_row
// where version 7 does not define it).
struct Place {
    std::size_t depth;
    std::uint32_t row;
    std::uint32_t parent_row;
    const v7table::TypeFacts* facts;  // of the row's structure type; null without a row
    bool in_header;                   // below the header, in whatever letter case
};

inline const v7table::TypeFacts& facts_of(std::uint32_t row) noexcept {
    return v7table::types()[v7table::rows()[row].type];
}

// Whether version 7 defines `tag` under a structure of row `row`.
inline bool defines_under(std::uint32_t row, std::string_view tag) noexcept {
    return row != v7table::no_row && v7table::child_row(row, tag) != v7table::no_row;
}

inline bool in_values(std::span<const std::string_view> values, std::string_view value) noexcept {
    return std::binary_search(values.begin(), values.end(), value);
}

// `word` as one of `values` spells it: upper case, and hyphens and spaces
// as underscores (5.5.1's PRE-1970); none when it is none of them.
std::optional<std::string> enumerated_spelling(std::string_view word,
                                               std::span<const std::string_view> values);

// A PHRASE's text as version 7 writes a payload: a leading @ doubled.
std::string escaped_phrase(std::string_view text);

// A structure at the reader's deepest level that a rule would give a new
// substructure: left as written, and counted for the record's Kept note.
bool kept_at_depth_limit(const Node& node, std::string_view note_tag, Pass& pass);

// ---- the rules, each in the file of its area ----

// CONC lines (convert7_conc.cpp).
bool has_conc_lines(const Node& node) noexcept;
bool fold_continuations(Node& node, Pass& pass);
bool repeats_record_identifier(const Node& node, const Pass& pass) noexcept;
bool repeated_identifiers_to_7(Node& node, Pass& pass);

// Dates (convert7_dates.cpp).
std::optional<std::string> date_text_to_rewrite(const Node& date, bool exact_only);
bool date_to_7(Node& date, const std::string& text, bool exact_only, std::size_t depth, Pass& pass);

// Roles (convert7_roles.cpp).
bool roles_to_7(Node& holder, std::size_t depth, Pass& pass);

// Values (convert7_values.cpp).
bool uid_to_7(Node& node, Pass& pass);
bool points_to_note_record(const Node& note, const NoteRecordIds& note_records);
bool note_pointer_to_7(Node& note, const NoteRecordIds& note_records, Pass& pass);
bool enumeration_to_7(Node& node, const v7table::TypeFacts& facts, bool phrase_allowed,
                      std::size_t depth, std::string_view note_tag, Pass& pass);
bool age_to_7(Node& age, const Place& place, Pass& pass);
bool event_payload_to_7(Node& event, const Place& place, Pass& pass);
bool alias_name_to_7(Node& alias, const Place& place, Pass& pass);
bool sex_texts_to_7(Node& individual, std::uint32_t row, Pass& pass);
bool has_empty_payload(const Node& node) noexcept;
bool empty_payload_to_7(Node& node, Pass& pass);
bool settled(const Node& node, const v7table::TypeFacts& facts) noexcept;

// Names every problem of the converted text that no Kept note names already
// (convert7_remaining.cpp).
void note_remaining_problems(Conversion& conversion);

// One structure's own rewrites, where it stands at `place` (convert7_dispatch.cpp).
bool structure_to_7(Rewritable& structure, const Place& place, const NoteRecordIds& note_records,
                    Pass& pass);

// structures_to_7_node, with `visit` a template parameter so that the
// driver's visit, called at every structure, is inlined.
template <class Visit>
bool structures_to_7_with(Node& record, const NoteRecordIds& note_records, Pass& pass,
                          Visit&& visit) {
    // The rows of the structures above the one visited, the record's first:
    // each looked up once its structure is rewritten, under its new tag.
    std::vector<std::uint32_t> rows;
    rows.reserve(16);
    const bool in_header = ascii::iequals(record.tag(), "HEAD");
    const std::span<const v7table::Row> table = v7table::rows();
    const std::span<const v7table::TypeFacts> types = v7table::types();
    const v7table::RowIndex& index = v7table::row_index();
    const auto row_of = [&](std::string_view tag) {
        if (rows.empty()) return index.record(tag);
        return rows.back() == v7table::no_row ? v7table::no_row : index.child(rows.back(), tag);
    };
    return rewrite_structures(
        record,
        [&](Rewritable& node, std::span<const std::size_t> path) {
            rows.resize(path.size());
            const std::uint32_t row = row_of(node.get().tag());
            const Place place{path.size(), row, rows.empty() ? v7table::no_row : rows.back(),
                              row == v7table::no_row ? nullptr : &types[table[row].type],
                              in_header};
            // A structure retagged (_UID as UID, ALIA as NAME) has changed.
            const bool rewritten = structure_to_7(node, place, note_records, pass);
            rows.push_back(rewritten ? row_of(node.get().tag()) : row);
            return rewritten;
        },
        [&](const Node& node, std::span<const std::size_t> path) {
            visit(node, path.size(), rows.back());
        });
}

}  // namespace lignor::to7
