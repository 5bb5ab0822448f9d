// The GEDCOM line grammar: reading one line into its fields, writing one in
// its canonical form, and the tag and identifier rules.
#include "node_line.hpp"

#include <algorithm>
#include <array>

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {
namespace {

constexpr std::array<bool, 256> make_tag_table() {
    std::array<bool, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
    table['_'] = true;
    return table;
}
constexpr std::array<bool, 256> tag_bytes = make_tag_table();

GedcomError syntax(std::string message, std::uint64_t line) {
    return GedcomError::at_line(ErrorKind::Syntax, std::move(message), line);
}

void append_level(std::uint16_t level, std::string& out) {
    char digits[5];
    out.append(digits, write_level(level, digits));
}

}  // namespace

// ---- the line grammar ------------------------------------------------------

// Two memchr passes: find_first_of would call memchr once per byte of `text`.
bool has_line_break(std::string_view text) noexcept {
    return find_byte(text, '\n') != std::string_view::npos ||
           find_byte(text, '\r') != std::string_view::npos;
}

bool is_valid_tag(std::string_view tag) noexcept {
    if (tag.empty()) return false;
    for (char c : tag)
        if (!tag_bytes[static_cast<unsigned char>(c)]) return false;
    return true;
}

bool is_valid_xref(std::string_view xref) noexcept {
    if (xref.size() <= 2 || xref.front() != '@' || xref.back() != '@') return false;
    return find_byte(xref.substr(1, xref.size() - 2), '@') == std::string_view::npos;
}

bool is_writable_xref(std::string_view xref) noexcept {
    return is_valid_xref(xref) && std::none_of(xref.begin(), xref.end(), [](char c) {
               return c == ' ' || c == '\r' || c == '\n';
           });
}

GedcomError line_error(LineFault fault, std::uint64_t line) {
    switch (fault) {
        case LineFault::NoTag:
            return syntax("the line has no tag", line);
        case LineFault::NoLevel:
            return syntax("the line does not begin with a level", line);
        case LineFault::TooDeep:
            return GedcomError::at_line(ErrorKind::Limit,
                                        "the line is nested deeper than the limit", line);
        case LineFault::BadXref:
            return syntax("the cross-reference identifier is not closed, or contains a space",
                          line);
        case LineFault::XrefWithoutTag:
            return syntax("the record has an identifier but no tag", line);
        case LineFault::BadTag:
        case LineFault::None:
            break;
    }
    return syntax("a tag must be ASCII letters, digits, or underscore", line);
}

// Reads one line in a single forward pass. The level, the identifier and the
// tag are short, so they are scanned inline; the payload is never scanned.
[[gnu::hot]] LineFault read_line(std::string_view text, std::uint16_t max_depth, ParsedLine& out) {
    const char* p = text.data();
    const char* const end = p + text.size();
    // Whatever is wrong with the level, a line without any space has no tag.
    const auto level_fault = [&](const char* from) {
        return std::memchr(from, ' ', static_cast<std::size_t>(end - from)) ? LineFault::NoLevel
                                                                            : LineFault::NoTag;
    };
    const bool plus = p < end && *p == '+';
    const char* const digits = p + (plus ? 1 : 0);
    p = digits;
    std::uint32_t level = 0;
    while (p < end && static_cast<unsigned>(static_cast<unsigned char>(*p) - '0') <= 9) {
        level = std::min<std::uint32_t>(level * 10 + static_cast<unsigned>(*p - '0'), 65536);
        ++p;
    }
    if (p == end || *p != ' ') return level_fault(p);
    if (p == digits || level > 65535) return LineFault::NoLevel;
    if (level > max_depth) return LineFault::TooDeep;
    const char* const level_end = p++;
    const char* const rest = p;
    while (p < end && *p == ' ') ++p;
    if (p == end) return LineFault::NoTag;
    const bool extra_spaces = p != rest;

    out.xref.reset();
    if (*p == '@') {
        const char* const xref_start = p++;
        const char* first_inner_at = nullptr;
        while (p < end && *p != ' ') {
            if (*p == '@' && !first_inner_at) first_inner_at = p;
            ++p;
        }
        // Valid: more than two bytes, and the only '@' after the first is the last byte.
        if (p - xref_start <= 2 || first_inner_at != p - 1) return LineFault::BadXref;
        if (p >= end - 1) return LineFault::XrefWithoutTag;
        out.xref = std::string_view(xref_start, static_cast<std::size_t>(p - xref_start));
        ++p;
    }
    const char* const tag_start = p;
    while (p < end && *p != ' ') {
        if (!tag_bytes[static_cast<unsigned char>(*p)]) return LineFault::BadTag;
        ++p;
    }
    if (p == tag_start) return LineFault::BadTag;
    out.tag = std::string_view(tag_start, static_cast<std::size_t>(p - tag_start));
    out.value.reset();
    if (p < end) out.value = std::string_view(p + 1, static_cast<std::size_t>(end - p - 1));
    out.level = static_cast<std::uint16_t>(level);
    // Every other part of an accepted line renders back exactly as read, so
    // only the level's spelling and the spaces after it can differ.
    const bool padded_level = level_end - digits > 1 && *digits == '0';
    out.verbatim.reset();
    if (plus || padded_level || extra_spaces) out.verbatim = text;
    return LineFault::None;
}

Result<ParsedLine> parse_line(std::string_view text, std::uint64_t line_number,
                              std::uint16_t max_depth) {
    ParsedLine parsed;
    parsed.line = line_number;
    const LineFault fault = read_line(text, max_depth, parsed);
    if (fault != LineFault::None) return line_error(fault, line_number);
    return parsed;
}

void render_line(std::uint16_t level, std::optional<std::string_view> xref, std::string_view tag,
                 std::optional<std::string_view> value, std::string& out) {
    append_level(level, out);
    out.push_back(' ');
    if (xref) {
        out.append(*xref);
        out.push_back(' ');
    }
    out.append(tag);
    if (value) {
        out.push_back(' ');
        out.append(*value);
    }
}

}  // namespace lignor
