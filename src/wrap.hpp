// Bringing long lines under GEDCOM 5.5.1's line limit with CONC lines.
//
// Two edits share one cutting rule (`cut`): `wrap_long_lines` rewrites every
// structure of a document that has a line over the limit, and
// `fit_line_limit` re-splits the CONC runs of one record. Lines that already
// fit are left exactly as read. A structure is left as written, silently,
// when rewriting it would lose or break something:
// - a CONT or CONC line of it has substructures or an identifier of its own
//   (they would leave with the continuation line);
// - its continuation lines would sit deeper than the reader's depth limit,
//   so the written file could not be read back;
// - its payload is pointer-shaped (a pointer cut in two is no pointer);
// - its prefix leaves less than 4 bytes of room on a line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "node.hpp"
#include "queries.hpp"

namespace lignor {

class Document;
class ValueWriter;

// One structure that wrap_long_lines rewrote.
struct WrappedLine {
    std::string record;  // the record's identifier as written, or its tag
    StructurePath path;
    std::string tag;

    void write_value(ValueWriter& out) const;
    friend bool operator==(const WrappedLine&, const WrappedLine&) = default;
};

// Cuts `text` into pieces, the first at most `first` bytes, every other at
// most `rest` bytes, together exactly `text`. A UTF-8 character is never
// split, and a cut next to a space is avoided where the upper half of the
// width offers another place.
std::vector<std::string_view> cut(std::string_view text, std::size_t first, std::size_t rest);

// The length of `node`'s line at `level` without its terminator: its
// verbatim text while it keeps one, else its canonical rendering.
std::size_t line_length(const Node& node, std::size_t level) noexcept;

// Rewrites every structure with a line longer than `max_line_bytes - 1`
// bytes across CONC lines; the rewritten structures in document order.
// Refuses a version 7 document and a limit under 32 bytes, changing nothing.
Result<std::vector<WrappedLine>> wrap_long_lines(Document& document, std::size_t max_line_bytes);

// Rewrites `node` (at `level`) when its own line or one of its CONT/CONC
// lines is longer than `max` bytes, and then reports it in `out` under
// `record` and `path`. Its other substructures are not looked at.
void wrap_node(Node& node, std::size_t level, std::size_t max, std::string_view record,
               std::span<const std::size_t> path, std::vector<WrappedLine>& out);

// Re-splits the CONC runs of the record answering to `xref` (ignoring ASCII
// case) so that each line fits `max_line_bytes` with two bytes to spare for
// the terminator; true when anything changed. "no record {xref}" when no
// record answers.
Result<bool> fit_line_limit(Document& document, std::string_view xref, std::size_t max_line_bytes);

// The worker of fit_line_limit: re-splits the segments of `node` at `level`
// and, when `descend` is set, of every substructure after its leading
// continuation lines.
bool fit_node_inner(Node& node, std::size_t level, std::size_t max_line_bytes, bool descend);

}  // namespace lignor
