// The GEDCOM line grammar: one line read into its fields (level, optional
// identifier, tag, optional payload) and written back in its canonical form,
// and the rules for tags and identifiers.
//
// Design: a line is read in one forward pass and its fields borrow from the
// text. A line that renders back differently from how it was read (a level
// written "01" or "+1", extra spaces after the level) keeps its text as
// `verbatim`, so a node made from it can write it back byte for byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "error.hpp"

namespace lignor {

// One line as read, before records are assembled. The texts borrow from the
// line that was parsed and live as long as it does.
struct ParsedLine {
    std::uint16_t level = 0;
    std::optional<std::string_view> xref;
    std::string_view tag;
    std::optional<std::string_view> value;
    std::uint64_t line = 0;
    std::optional<std::string_view> verbatim;
};

// Reads one non-empty line (without its terminator).
Result<ParsedLine> parse_line(std::string_view text, std::uint64_t line_number,
                              std::uint16_t max_depth);

// Appends the canonical rendering of one line, without a terminator.
void render_line(std::uint16_t level, std::optional<std::string_view> xref, std::string_view tag,
                 std::optional<std::string_view> value, std::string& out);

// The tag rule: at least one byte, every byte an ASCII letter, digit or '_'.
bool is_valid_tag(std::string_view tag) noexcept;
// Whether `tag` is exactly `expected`: a length test and a compare of a
// size known when compiling, which the compiler does in a register or two,
// where `==` between two views calls memcmp. A walk over a large file
// compares tags tens of millions of times.
template <std::size_t N>
inline bool tag_is(std::string_view tag, const char (&expected)[N]) noexcept {
    return tag.size() == N - 1 && std::memcmp(tag.data(), expected, N - 1) == 0;
}

// CONT or CONC: a line that continues its parent's payload.
inline bool is_continuation_tag(std::string_view tag) noexcept {
    return tag_is(tag, "CONT") || tag_is(tag, "CONC");
}
// CR or LF anywhere: text that set_logical_value spreads over CONT lines.
bool has_line_break(std::string_view text) noexcept;
// The identifier rule: more than two bytes, '@' first and last, no other '@'.
bool is_valid_xref(std::string_view xref) noexcept;
// The identifier rule and none of the bytes that end a token or a line
// (space, CR, LF): an identifier the reader takes back from a written line,
// and a payload that reads as a pointer.
bool is_writable_xref(std::string_view xref) noexcept;

// What can be wrong with one line, in the order the checks run.
enum class LineFault : std::uint8_t {
    None,
    NoTag,
    NoLevel,
    TooDeep,
    BadXref,
    XrefWithoutTag,
    BadTag,
};

// parse_line without building a result, for a reader that reuses one
// ParsedLine: fills every field of `out` but `line`.
LineFault read_line(std::string_view text, std::uint16_t max_depth, ParsedLine& out);
// The error parse_line reports for `fault` on line `line`.
GedcomError line_error(LineFault fault, std::uint64_t line);

// Where the first `byte` at or after `from` stands, found with memchr.
inline std::size_t find_byte(std::string_view text, char byte, std::size_t from = 0) noexcept {
    if (from >= text.size()) return std::string_view::npos;
    const void* hit = std::memchr(text.data() + from, byte, text.size() - from);
    if (!hit) return std::string_view::npos;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

// The bytes a level takes written in decimal (1 to 5).
constexpr std::size_t level_width(std::uint16_t level) noexcept {
    return level >= 10000 ? 5 : level >= 1000 ? 4 : level >= 100 ? 3 : level >= 10 ? 2 : 1;
}

// Writes the level in decimal to `out` (room for 5 bytes); returns the width.
constexpr std::size_t write_level(std::uint16_t level, char* out) noexcept {
    const std::size_t width = level_width(level);
    for (std::size_t i = width; i > 0; --i) {
        out[i - 1] = static_cast<char>('0' + level % 10);
        level = static_cast<std::uint16_t>(level / 10);
    }
    return width;
}

}  // namespace lignor
