// Version 7's grammars: tags and identifiers, the characters banned
// anywhere, and every payload type's text (dates with their calendars, ages,
// times, names, coordinates, language tags, media types, URIs, file paths,
// enumerations, lists, tag definitions). The one reading of version 7 that
// the check, the conversion and the date writer all ask.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "schema.hpp"
#include "v7defs.hpp"

namespace lignor::v7 {

// stdTag: an upper-case letter, then upper-case letters, digits, underscores.
bool is_standard_tag(std::string_view tag) noexcept;
// extTag: an underscore, then one or more upper-case letters, digits, underscores.
bool is_extension_tag(std::string_view tag) noexcept;
bool is_tag(std::string_view tag) noexcept;
// "@" one or more tag characters "@": an identifier, or @VOID@.
bool is_xref_form(std::string_view text) noexcept;

namespace banned_detail {

inline constexpr std::uint64_t ones = 0x0101010101010101ULL;
inline constexpr std::uint64_t highs = 0x8080808080808080ULL;

constexpr std::uint64_t zero_bytes(std::uint64_t word) noexcept {
    return (word - ones) & ~word & highs;
}

// The high bit of each byte of `word` that may begin a banned character: a
// control byte, DEL, or the lead byte of a surrogate (0xED) or of
// U+FFFE/U+FFFF (0xEF); 0xED and 0xEF are the two bytes that give 0xEF when
// 0x02 is set.
constexpr std::uint64_t suspects(std::uint64_t word) noexcept {
    return ((word - ones * 0x20) & ~word & highs) | zero_bytes(word ^ (ones * 0x7F)) |
           zero_bytes((word | ones * 0x02) ^ (ones * 0xEF));
}

inline std::uint64_t word_at(std::string_view text, std::size_t at) noexcept {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, sizeof word);
    return word;
}

// Whether any byte of `text` may begin a banned character. A check calls
// this for every line, so it is inline and reads most payloads in one or
// two words without a loop: the first and last eight bytes (which may
// overlap), or for a short text its bytes padded with spaces, which are
// never banned.
inline bool may_hold(std::string_view text) noexcept {
    const std::size_t size = text.size();
    if (size >= 8) {
        std::uint64_t found = suspects(word_at(text, 0)) | suspects(word_at(text, size - 8));
        for (std::size_t at = 8; at + 8 < size; at += 8) found |= suspects(word_at(text, at));
        return found != 0;
    }
    if (size >= 4) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        std::memcpy(&low, text.data(), sizeof low);
        std::memcpy(&high, text.data() + size - sizeof high, sizeof high);
        return suspects(std::uint64_t{high} << 32 | low) != 0;
    }
    std::uint64_t word = ones * ' ';
    for (const char c : text) word = word << 8 | static_cast<unsigned char>(c);
    return suspects(word) != 0;
}

// The bytes may_hold looks for, one at a time.
inline constexpr std::array<bool, 256> may_begin = [] {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < 0x20; ++c) table[c] = true;
    table[0x7F] = table[0xED] = table[0xEF] = true;
    return table;
}();

std::size_t find_in(std::string_view text) noexcept;

}  // namespace banned_detail

// The offset in `text` (UTF-8) of the first character version 7 bans
// anywhere: C0 controls other than tab and line endings, DEL, surrogates,
// U+FFFE and U+FFFF; npos when there is none.
inline std::size_t find_banned(std::string_view text) noexcept {
    return banned_detail::may_hold(text) ? banned_detail::find_in(text) : std::string_view::npos;
}
// The banned character at `offset` as "U+0007".
std::string_view banned_name(std::string_view text, std::size_t offset, char (&buffer)[8]) noexcept;

// One `date` of a date value: [calendar] [[day] month] year [epoch]. Absent
// words are empty; `day` is 0 when absent.
struct DatePart {
    std::string_view calendar;  // as written; empty means GREGORIAN
    std::uint32_t day = 0;
    std::string_view month;
    std::string_view year;
    std::string_view epoch;
};

enum class DateForm : std::uint8_t {
    Empty,
    Date,
    Between,
    After,
    Before,
    About,
    Calculated,
    Estimated,
    From,
    To,
    FromTo,
};

// A date value read by version 7's grammar: its form and its one or two dates.
struct DateValue {
    DateForm form = DateForm::Empty;
    DatePart first;
    DatePart second;
};

// A document's extension declarations, sorted by tag (empty for none): an
// extension calendar or month declared with a standard calendar's or month's
// URI ("_JOUR https://gedcom.io/terms/v7/month-COMP") is that calendar or month.
using Declarations = std::span<const schema::Declaration>;

// `text` read as a date value of `type` (Date, DatePeriod or ExactDate),
// with each date held to its calendar (its months, its epochs and the days
// of its months); none when the text is not one.
std::optional<DateValue> read_date(std::string_view text, v7table::Payload type,
                                   Declarations declared = {}) noexcept;

// The same reading word by word, without the shortcut read_date takes for
// the common shapes: what the shortcut is held to.
std::optional<DateValue> read_date_by_words(std::string_view text, v7table::Payload type,
                                            Declarations declared = {}) noexcept;

// Whether `text` is a payload of `type`. Enumerations are held to their
// grammar only (their values are the table's); pointers and text always match.
bool matches(v7table::Payload type, std::string_view text, Declarations declared = {}) noexcept;

// What a payload of `type` looks like, for messages: "a date of version 7
// (expected forms such as ...)".
std::string_view expected_forms(v7table::Payload type) noexcept;

// Whether an empty payload is a payload of `type` (text, dates and ages may
// be empty; an enumeration, a pointer or a time may not).
bool allows_empty(v7table::Payload type) noexcept;

// Each item of a list payload ("a, b,c"), delimiters and the spaces around
// them taken away; false when an item begins or ends with a space.
template <typename Visit>
bool for_each_list_item(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        std::string_view item = text.substr(start, comma - start);
        // Spaces next to a comma are the delimiter's; any others are the item's.
        if (start > 0)
            while (item.starts_with(' ')) item.remove_prefix(1);
        if (comma != std::string_view::npos)
            while (item.ends_with(' ')) item.remove_suffix(1);
        if (item.starts_with(' ') || item.ends_with(' ')) return false;
        if (!visit(item)) return false;
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

}  // namespace lignor::v7
