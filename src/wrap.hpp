// Bringing long lines under GEDCOM 5.5.1's line limit with CONC lines.
//
// Two edits share one cutting rule (`cut`): `wrap_long_lines` rewrites every
// structure of a document that has a line over the limit, and
// `fit_line_limit` re-splits the CONC runs of one record. Lines that already
// fit are left exactly as read. Both refuse a version 7 document and a limit
// under 32 bytes, and neither takes the document past the bounds it is kept
// within. A structure is left as written when rewriting it would lose or
// break something (both name each such long line and why):
// - a CONT or CONC line of it has substructures or an identifier of its own
//   (they would leave with the continuation line);
// - its continuation lines would sit deeper than the reader's depth limit,
//   so the written file could not be read back;
// - its payload is a pointer (a pointer cut in two is no pointer);
// - its prefix leaves less than 4 bytes of room on a line;
// - it stands under a CONT or CONC line, which belongs to the structure
//   above it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "limits.hpp"
#include "node.hpp"
#include "queries.hpp"

namespace lignor {

class Document;
class ValueWriter;

// One structure that wrap_long_lines or fit_line_limit rewrote, or one
// whose line stays over the limit, and why.
struct WrappedLine {
    std::string record;  // the record's identifier as written, or its tag
    StructurePath path;
    std::string tag;
    bool wrapped = true;
    std::string reason;  // why the line stays long; empty when wrapped

    void write_value(ValueWriter& out) const;
    friend bool operator==(const WrappedLine&, const WrappedLine&) = default;
};

// Cuts `text` into pieces, the first at most `first` bytes, every other at
// most `rest` bytes, together exactly `text`. A UTF-8 character is never
// split, and a cut next to a space is avoided where the upper half of the
// width offers another place.
std::vector<std::string_view> cut(std::string_view text, std::size_t first, std::size_t rest);

// Rewrites every structure with a line longer than `max_line_bytes - 1`
// bytes across CONC lines. The report lists, in document order, each
// structure rewritten and each line that stays over the limit with its
// reason. Refuses a version 7 document, a limit under 32 bytes, and a
// rewrite that would take the document past its bounds, changing nothing.
Result<std::vector<WrappedLine>> wrap_long_lines(Document& document, std::size_t max_line_bytes);

// What wrap_long_lines(max_line_bytes) would report for `record` alone,
// under the reader's default depth, changing nothing.
std::vector<WrappedLine> long_line_report(Node& record, std::size_t max_line_bytes);

// Re-splits the CONC runs of the record `address` names (addressed_record)
// so that each line fits `max_line_bytes` with two bytes to spare for the
// terminator. The report lists, in document order, each structure re-split
// and each whose line stays over that, with the reason: besides those above,
// a line still as read, which only wrap_long_lines rewrites. Refused as
// wrap_long_lines refuses, and with "no record {address}" when nothing
// answers.
Result<std::vector<WrappedLine>> fit_line_limit(Document& document, std::string_view address,
                                                std::size_t max_line_bytes);

// The worker of fit_line_limit: re-splits the segments of `node` at `level`
// and, when `descend` is set, of every substructure after its leading
// continuation lines.
// Nothing at or past `max_depth` gains continuation lines.
bool fit_node_inner(Node& node, std::size_t level, std::size_t max_line_bytes, bool descend,
                    std::size_t max_depth = ParseLimits{}.max_depth);

}  // namespace lignor
