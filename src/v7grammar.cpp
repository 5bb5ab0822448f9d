// Version 7's grammars, after the standard's ABNF and the rules its text
// adds: tags, the characters banned anywhere, ages, times, names,
// coordinates, language tags, media types, URI references and file paths
// (dates are v7grammar_dates.cpp's).
#include "v7grammar.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "ascii.hpp"
#include "v7grammar_parts.hpp"

namespace lignor::v7 {
namespace {

using parts::all_digits;
using parts::Words;
using parts::WordSpan;
using v7table::Payload;

constexpr bool is_tag_char(char c) noexcept {
    return ascii::is_upper(c) || ascii::is_digit(c) || c == '_';
}

bool all_tag_chars(std::string_view text) noexcept {
    return std::ranges::all_of(text, is_tag_char);
}

// ----- banned characters ----------------------------------------------------------

bool is_banned_at(std::string_view text, std::size_t at) noexcept {
    const auto byte = [&](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
    };
    const unsigned c = byte(at);
    if (c < 0x20) return c != '\t' && c != '\n' && c != '\r';
    if (c == 0x7F) return true;
    if (c == 0xED) return byte(at + 1) >= 0xA0 && byte(at + 1) <= 0xBF;
    if (c == 0xEF) return byte(at + 1) == 0xBF && (byte(at + 2) == 0xBE || byte(at + 2) == 0xBF);
    return false;
}

// ----- other payloads ----------------------------------------------------------------

// Age = [[ageBound D] ageDuration]; a duration is numbers with the units
// y, m, w, d, each at most once and in that order.
bool is_age(std::string_view text) noexcept {
    if (text.empty()) return true;
    if (text.starts_with("< ") || text.starts_with("> ")) text.remove_prefix(2);
    Words<4> split;
    if (!split.split(text)) return false;
    constexpr std::string_view units = "ymwd";
    std::size_t next_unit = 0;
    for (const std::string_view word : split.all()) {
        const std::size_t unit = units.find(word.back());
        if (unit == std::string_view::npos || unit < next_unit ||
            !all_digits(word.substr(0, word.size() - 1)))
            return false;
        next_unit = unit + 1;
    }
    return true;
}

bool is_digit_below(char c, char limit) noexcept {
    return ascii::is_digit(c) && c < limit;
}

// Time = hour ":" minute [":" second ["." fraction]] ["Z"]
bool is_time(std::string_view text) noexcept {
    if (text.ends_with('Z')) text.remove_suffix(1);
    const std::size_t colon = text.find(':');
    const std::string_view hour = text.substr(0, colon);
    const bool hour_ok =
        (hour.size() == 1 && ascii::is_digit(hour[0])) ||
        (hour.size() == 2 && ((is_digit_below(hour[0], '2') && ascii::is_digit(hour[1])) ||
                              (hour[0] == '2' && is_digit_below(hour[1], '4'))));
    if (!hour_ok || colon == std::string_view::npos) return false;
    text.remove_prefix(colon + 1);
    const auto sixty = [](std::string_view two) {
        return two.size() == 2 && is_digit_below(two[0], '6') && ascii::is_digit(two[1]);
    };
    if (!sixty(text.substr(0, 2))) return false;
    text.remove_prefix(2);
    if (text.empty()) return true;
    if (text[0] != ':' || !sixty(text.substr(1, 2))) return false;
    text.remove_prefix(3);
    return text.empty() || (text[0] == '.' && all_digits(text.substr(1)));
}

// PersonalName = nameStr / [nameStr] "/" [nameStr] "/" [nameStr], where a
// name character is anything but '/' and the C0 controls.
bool is_personal_name(std::string_view text) noexcept {
    if (std::ranges::any_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return false;
    const auto slashes = std::ranges::count(text, '/');
    return slashes == 2 || (slashes == 0 && !text.empty());
}

// ("N" / "S") upto90 ["." 1*digit], and the same to 180 for longitudes.
bool is_coordinate(std::string_view text, std::string_view directions, int most) noexcept {
    if (text.empty() || directions.find(text[0]) == std::string_view::npos) return false;
    text.remove_prefix(1);
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    if (point != std::string_view::npos && !all_digits(text.substr(point + 1))) return false;
    if (!all_digits(whole) || whole.size() > (most == 90 ? 2U : 3U)) return false;
    int degrees = 0;
    for (const char c : whole) degrees = degrees * 10 + (c - '0');
    // upto180 spells three digits only as "180", "1" 0-7 digit, or "0" digit digit.
    if (whole.size() == 3 && whole[0] != '0' && whole[0] != '1') return false;
    return degrees <= most;
}

bool all_alpha(std::string_view text) noexcept {
    return std::ranges::all_of(text, [](char c) { return ascii::is_upper(ascii::to_upper(c)); });
}

bool all_alnum(std::string_view text) noexcept {
    return std::ranges::all_of(text, ascii::is_alnum);
}

bool sized(std::string_view text, std::size_t least, std::size_t most) noexcept {
    return text.size() >= least && text.size() <= most;
}

// Language-Tag: langtag / privateuse / grandfathered, letters in any case.
bool is_language(std::string_view text) noexcept {
    static constexpr std::string_view grandfathered[] = {
        "en-GB-oed", "i-ami",     "i-bnn",     "i-default",  "i-enochian",  "i-hak",  "i-klingon",
        "i-lux",     "i-mingo",   "i-navajo",  "i-pwn",      "i-tao",       "i-tay",  "i-tsu",
        "sgn-BE-FR", "sgn-BE-NL", "sgn-CH-DE", "art-lojban", "cel-gaulish", "no-bok", "no-nyn",
        "zh-guoyu",  "zh-hakka",  "zh-min",    "zh-min-nan", "zh-xiang"};
    for (const std::string_view tag : grandfathered)
        if (ascii::iequals(tag, text)) return true;
    Words<64> parts;
    std::string_view rest = text;
    parts.count = 0;
    while (true) {
        const std::size_t dash = rest.find('-');
        const std::string_view part = rest.substr(0, dash);
        if (part.empty() || parts.count == parts.words.size() || !all_alnum(part)) return false;
        parts.words[parts.count++] = part;
        if (dash == std::string_view::npos) break;
        rest.remove_prefix(dash + 1);
    }
    const WordSpan p = parts.all();
    std::size_t at = 0;
    const auto is_x = [](std::string_view part) { return part == "x" || part == "X"; };
    // privateuse = "x" 1*("-" (1*8alphanum))
    const auto private_use_from = [&](std::size_t from) {
        return from + 1 < p.size() && is_x(p[from]) &&
               std::ranges::all_of(p.subspan(from + 1),
                                   [](std::string_view part) { return sized(part, 1, 8); });
    };
    if (private_use_from(0)) return true;
    // language = 2*3ALPHA ["-" extlang] / 4ALPHA / 5*8ALPHA; extlang = 1 to 3 of 3ALPHA
    if (!all_alpha(p[0]) || !sized(p[0], 2, 8)) return false;
    ++at;
    if (p[0].size() <= 3) {
        for (std::size_t n = 0; n < 3 && at < p.size() && p[at].size() == 3 && all_alpha(p[at]);
             ++n)
            ++at;
    }
    if (at < p.size() && p[at].size() == 4 && all_alpha(p[at])) ++at;  // script
    if (at < p.size() &&
        ((p[at].size() == 2 && all_alpha(p[at])) || (p[at].size() == 3 && all_digits(p[at]))))
        ++at;  // region
    while (at < p.size() &&
           (sized(p[at], 5, 8) || (p[at].size() == 4 && ascii::is_digit(p[at][0]))))
        ++at;  // variants
    // extension = singleton 1*("-" (2*8alphanum)), a singleton any but "x"
    while (at + 1 < p.size() && p[at].size() == 1 && !is_x(p[at]) && sized(p[at + 1], 2, 8)) {
        at += 2;
        while (at < p.size() && sized(p[at], 2, 8)) ++at;
    }
    return at == p.size() || private_use_from(at);
}

bool is_token_char(char c) noexcept {
    return ascii::is_alnum(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// restricted-name, or "x-" token: a media type's type or subtype.
bool is_media_name(std::string_view name) noexcept {
    if (name.size() > 2 && ascii::iequals(name.substr(0, 2), "x-") &&
        std::ranges::all_of(name.substr(2), is_token_char))
        return true;
    return sized(name, 1, 127) && ascii::is_alnum(name[0]) &&
           std::ranges::all_of(name.substr(1), [](char c) {
               return ascii::is_alnum(c) ||
                      std::string_view("!#$&-^_.+").find(c) != std::string_view::npos;
           });
}

// MediaType = type "/" subtype *( OWS ";" OWS [ token "=" ( token / quoted-string ) ] )
bool is_media_type(std::string_view text) noexcept {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos || !is_media_name(text.substr(0, slash))) return false;
    text.remove_prefix(slash + 1);
    std::size_t end = 0;
    while (end < text.size() && text[end] != ';' && text[end] != ' ' && text[end] != '\t') ++end;
    if (!is_media_name(text.substr(0, end))) return false;
    text.remove_prefix(end);
    const auto skip_space = [&] {
        while (!text.empty() && (text[0] == ' ' || text[0] == '\t')) text.remove_prefix(1);
    };
    const auto token = [&] {
        std::size_t n = 0;
        while (n < text.size() && is_token_char(text[n])) ++n;
        text.remove_prefix(n);
        return n > 0;
    };
    while (true) {
        skip_space();
        if (text.empty()) return true;
        if (text[0] != ';') return false;
        text.remove_prefix(1);
        skip_space();
        if (text.empty() || text[0] == ';') continue;
        if (!token() || text.empty() || text[0] != '=') return false;
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '"') {
            std::size_t n = 1;
            for (; n < text.size() && text[n] != '"'; ++n) {
                const auto c = static_cast<unsigned char>(text[n]);
                if (c == '\\')
                    ++n;
                else if (c < 0x20 && c != '\t')
                    return false;
            }
            if (n >= text.size()) return false;
            text.remove_prefix(n + 1);
        } else if (!token()) {
            return false;
        }
    }
}

bool is_non_negative_integer(std::string_view text) noexcept {
    if (text.starts_with('+')) text.remove_prefix(1);
    return all_digits(text);
}

// ----- URIs and file paths --------------------------------------------------------

constexpr bool is_hex_digit(char c) noexcept {
    return ascii::is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// RFC 3986's unreserved, gen-delims and sub-delims but "#", "[" and "]",
// which only some places allow.
bool is_uri_char(char c) noexcept {
    return ascii::is_alnum(c) ||
           std::string_view("-._~:/?@!$&'()*+,;=").find(c) != std::string_view::npos;
}

// A scheme: a letter, then letters, digits, "+", "-" and ".".
bool is_scheme(std::string_view text) noexcept {
    return !text.empty() && ascii::is_upper(ascii::to_upper(text[0])) &&
           std::ranges::all_of(
               text, [](char c) { return ascii::is_alnum(c) || c == '+' || c == '-' || c == '.'; });
}

// The characters of a URI reference (RFC 3986) or, with `non_ascii`, of a
// URL string, whose code points past ASCII need no escape: percent escapes
// whole, one "#" at most, "[" and "]" only in the authority.
bool has_uri_characters(std::string_view text, bool non_ascii) noexcept {
    const std::size_t authority_end = text.find("//") == std::string_view::npos
                                          ? 0
                                          : text.find_first_of("/?#", text.find("//") + 2);
    bool fragment = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '%') {
            if (at + 2 >= text.size() || !is_hex_digit(text[at + 1]) || !is_hex_digit(text[at + 2]))
                return false;
            at += 2;
        } else if (c == '#') {
            if (fragment) return false;
            fragment = true;
        } else if (c == '[' || c == ']') {
            if (at >= authority_end) return false;
        } else if (!is_uri_char(c) && !(non_ascii && !ascii::is_ascii(c))) {
            return false;
        }
    }
    return true;
}

// The scheme of a reference, or empty when it has none ("a:b/c" has "a"; a
// colon after the first "/", "?" or "#" is part of a path or a query).
std::string_view scheme_of(std::string_view text) noexcept {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon > text.find_first_of("/?#")) return {};
    return text.substr(0, colon);
}

// URI-reference = URI / relative-ref (RFC 3986); a relative reference's
// first segment has no colon.
bool is_uri_reference(std::string_view text) noexcept {
    if (!has_uri_characters(text, false)) return false;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon > text.find_first_of("/?#")) return true;
    return is_scheme(text.substr(0, colon));
}

// A URL string of a kind version 7 supports: ftp, http, https or file, or
// a local file: a relative path, not from the root, with no ".." segment,
// no backslash (escaped or not), no query and no fragment.
bool is_file_path(std::string_view text) noexcept {
    if (!has_uri_characters(text, true)) return false;
    const std::string_view scheme = scheme_of(text);
    if (!scheme.empty()) {
        return is_scheme(scheme) &&
               std::ranges::any_of(
                   std::array<std::string_view, 4>{"ftp", "http", "https", "file"},
                   [&](std::string_view known) { return ascii::iequals(known, scheme); });
    }
    if (text.starts_with('/') || text.find_first_of("?#") != std::string_view::npos) return false;
    for (std::size_t at = 0; at + 2 < text.size(); ++at) {
        if (text[at] == '%' && text[at + 1] == '5' && ascii::to_upper(text[at + 2]) == 'C')
            return false;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t slash = text.find('/', start);
        const std::string_view segment = text.substr(start, slash - start);
        if (segment == ".." || ascii::iequals(segment, "%2e%2e") ||
            ascii::iequals(segment, ".%2e") || ascii::iequals(segment, "%2e."))
            return false;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return true;
}

// TagDef = extTag D URI-reference
bool is_tag_definition(std::string_view text) noexcept {
    const std::size_t space = text.find(' ');
    return space != std::string_view::npos && is_extension_tag(text.substr(0, space)) &&
           is_uri_reference(text.substr(space + 1));
}

}  // namespace

bool is_standard_tag(std::string_view tag) noexcept {
    return !tag.empty() && ascii::is_upper(tag.front()) && all_tag_chars(tag);
}

bool is_extension_tag(std::string_view tag) noexcept {
    return tag.size() > 1 && tag.front() == '_' && all_tag_chars(tag.substr(1));
}

bool is_tag(std::string_view tag) noexcept {
    return is_standard_tag(tag) || is_extension_tag(tag);
}

bool is_xref_form(std::string_view text) noexcept {
    return text.size() > 2 && text.front() == '@' && text.back() == '@' &&
           all_tag_chars(text.substr(1, text.size() - 2));
}

std::size_t banned_detail::find_in(std::string_view text) noexcept {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (banned_detail::may_begin[static_cast<unsigned char>(text[at])] &&
            is_banned_at(text, at))
            return at;
    }
    return std::string_view::npos;
}

std::string_view banned_name(std::string_view text, std::size_t offset,
                             char (&buffer)[8]) noexcept {
    static constexpr std::string_view hex = "0123456789ABCDEF";
    const auto byte = [&](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
    };
    unsigned code = byte(offset);
    if (code >= 0xE0)
        code = (code & 0x0FU) << 12 | (byte(offset + 1) & 0x3FU) << 6 | (byte(offset + 2) & 0x3FU);
    buffer[0] = 'U';
    buffer[1] = '+';
    for (int digit = 0; digit < 4; ++digit)
        buffer[2 + digit] = hex[(code >> (12 - 4 * digit)) & 0x0FU];
    return {buffer, 6};
}

bool allows_empty(Payload type) noexcept {
    switch (type) {
        case Payload::None:
        case Payload::YesOrEmpty:
        case Payload::Text:
        case Payload::TextList:
        case Payload::Uri:
        case Payload::FilePath:
        case Payload::Date:
        case Payload::DatePeriod:
        case Payload::Age:
            return true;
        default:
            return false;
    }
}

bool matches(Payload payload, std::string_view text, Declarations declared) noexcept {
    if (text.empty()) return allows_empty(payload);
    switch (payload) {
        case Payload::Age:
            return is_age(text);
        case Payload::Date:
        case Payload::ExactDate:
        case Payload::DatePeriod:
            return read_date(text, payload, declared).has_value();
        case Payload::Time:
            return is_time(text);
        case Payload::PersonalName:
            return is_personal_name(text);
        case Payload::Latitude:
            return is_coordinate(text, "NS", 90);
        case Payload::Longitude:
            return is_coordinate(text, "EW", 180);
        case Payload::Language:
            return is_language(text);
        case Payload::MediaType:
            return is_media_type(text);
        case Payload::NonNegativeInteger:
            return is_non_negative_integer(text);
        case Payload::TagDefinition:
            return is_tag_definition(text);
        case Payload::Uri:
            return is_uri_reference(text);
        case Payload::FilePath:
            return is_file_path(text);
        case Payload::TextList:
            return for_each_list_item(text, [](std::string_view) { return true; });
        default:
            return true;
    }
}

std::string_view expected_forms(Payload payload) noexcept {
    switch (payload) {
        case Payload::Age:
            return "an age of version 7 (expected forms such as \"76y\", \"< 3m 2d\")";
        case Payload::Date:
            return "a date of version 7 (expected forms such as \"2 OCT 1822\", \"ABT JULIAN "
                   "1700\", \"BET 1900 AND 1905\", \"FROM 1900 TO 1905\")";
        case Payload::ExactDate:
            return "an exact date of version 7 (expected a day, month and year such as "
                   "\"2 OCT 1822\")";
        case Payload::DatePeriod:
            return "a date period of version 7 (expected forms such as \"FROM 1900 TO 1905\", "
                   "\"TO 1905\")";
        case Payload::Time:
            return "a time of version 7 (expected forms such as \"14:05\", \"09:30:15.5Z\")";
        case Payload::PersonalName:
            return "a personal name of version 7 (expected text with no slash, or one surname "
                   "between two slashes such as \"John /Smith/\")";
        case Payload::Latitude:
            return "a latitude of version 7 (expected forms such as \"N50.9\", \"S12\")";
        case Payload::Longitude:
            return "a longitude of version 7 (expected forms such as \"E10.5\", \"W122\")";
        case Payload::Language:
            return "a language tag (expected forms such as \"en\", \"de-AT\", \"zh-Hant\")";
        case Payload::MediaType:
            return "a media type (expected forms such as \"image/jpeg\", \"text/html\")";
        case Payload::NonNegativeInteger:
            return "a non-negative integer (expected digits such as \"3\")";
        case Payload::Uri:
            return "a URI reference (expected forms such as \"https://example.org/x\", "
                   "\"urn:uuid:...\"), with no spaces and any other character percent-encoded";
        case Payload::FilePath:
            return "a file path of version 7: an ftp, http, https or file URL, or a relative "
                   "path such as \"media/photo%20one.jpg\" (no spaces, no backslashes, not from "
                   "the root, no \"..\")";
        case Payload::TextList:
            return "a list of version 7 (items separated by commas, none beginning or ending "
                   "with a space)";
        case Payload::TagDefinition:
            return "a tag definition (expected an extension tag and a URI, such as "
                   "\"_LOC https://example.org/LOC\")";
        default:
            return "of its type";
    }
}

}  // namespace lignor::v7
