// The version 7 conformance check: line syntax, one walk over each record
// against the standard's tables, the payload grammars, and the document-wide
// checks of identifiers, pointers, header and trailer.
#include "v7check.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ascii.hpp"
#include "document.hpp"
#include "error.hpp"
#include "v7defs.hpp"
#include "value_writer.hpp"

namespace lignor {
namespace {

using v7table::Payload;
using v7table::TypeFacts;
using Kind = Version7ProblemKind;

constexpr std::string_view type_prefix = "https://gedcom.io/terms/v7/";

// ----- version 7's tags and identifiers ---------------------------------------

constexpr bool is_tag_char(char c) noexcept {
    return ascii::is_upper(c) || ascii::is_digit(c) || c == '_';
}

bool all_tag_chars(std::string_view text) noexcept {
    return std::ranges::all_of(text, is_tag_char);
}

bool is_standard_tag(std::string_view tag) noexcept {
    return !tag.empty() && ascii::is_upper(tag.front()) && all_tag_chars(tag);
}

bool is_extension_tag(std::string_view tag) noexcept {
    return tag.size() > 1 && tag.front() == '_' && all_tag_chars(tag.substr(1));
}

bool is_tag(std::string_view tag) noexcept {
    return is_standard_tag(tag) || is_extension_tag(tag);
}

// `@` one or more tag characters `@`: an identifier, or the void pointer.
bool is_xref_form(std::string_view text) noexcept {
    return text.size() > 2 && text.front() == '@' && text.back() == '@' &&
           all_tag_chars(text.substr(1, text.size() - 2));
}

bool all_digits(std::string_view text) noexcept {
    return !text.empty() && std::ranges::all_of(text, ascii::is_digit);
}

// ----- payload grammars ---------------------------------------------------------

// Up to `N` words separated by single spaces; false for more, or for an
// empty word (a doubled, leading or trailing space).
template <std::size_t N>
struct Words {
    std::array<std::string_view, N> words{};
    std::size_t count = 0;

    bool split(std::string_view text) noexcept {
        count = 0;
        while (true) {
            const std::size_t space = text.find(' ');
            const std::string_view word = text.substr(0, space);
            if (word.empty() || count == N) return false;
            words[count++] = word;
            if (space == std::string_view::npos) return true;
            text.remove_prefix(space + 1);
        }
    }
    std::span<const std::string_view> all() const noexcept { return {words.data(), count}; }
};

using WordSpan = std::span<const std::string_view>;

bool is_calendar(std::string_view word) noexcept {
    return word == "GREGORIAN" || word == "JULIAN" || word == "FRENCH_R" || word == "HEBREW" ||
           is_extension_tag(word);
}

// [[day D] month D] year [D epoch], the calendar already taken.
bool is_calendar_date(WordSpan w) noexcept {
    if (w.empty()) return false;
    const bool epoch = w.size() > 1 && (w.back() == "BCE" || is_extension_tag(w.back()));
    // With and without the last word as the epoch, since a month may look like one.
    for (const WordSpan rest : {w, epoch ? w.first(w.size() - 1) : WordSpan{}}) {
        if (rest.empty() || !all_digits(rest.back())) continue;
        if (rest.size() == 1) return true;
        if (!is_tag(rest[rest.size() - 2])) continue;
        if (rest.size() == 2 || (rest.size() == 3 && all_digits(rest[0]))) return true;
    }
    return false;
}

// date = [calendar D] [[day D] month D] year [D epoch]
bool is_date(WordSpan w) noexcept {
    return is_calendar_date(w) ||
           (!w.empty() && is_calendar(w[0]) && is_calendar_date(w.subspan(1)));
}

// `first` date, the word `joint`, `second` date, for some place of the joint.
bool is_date_pair(WordSpan w, std::string_view joint) noexcept {
    for (std::size_t at = 1; at + 1 < w.size(); ++at) {
        if (w[at] == joint && is_date(w.first(at)) && is_date(w.subspan(at + 1))) return true;
    }
    return false;
}

// DatePeriod = [ "TO" D date ] / "FROM" D date [ D "TO" D date ], on words.
bool is_period_words(WordSpan w) noexcept {
    if (w.empty()) return true;
    if (w[0] == "TO") return is_date(w.subspan(1));
    if (w[0] != "FROM") return false;
    return is_date(w.subspan(1)) || is_date_pair(w.subspan(1), "TO");
}

constexpr std::size_t date_words = 16;

bool is_date_value(std::string_view text) noexcept {
    if (text.empty()) return true;
    Words<date_words> split;
    if (!split.split(text)) return false;
    const WordSpan w = split.all();
    if (is_date(w) || is_period_words(w)) return true;
    const std::string_view first = w[0];
    if (first == "BET") return is_date_pair(w.subspan(1), "AND");
    if (first == "AFT" || first == "BEF" || first == "ABT" || first == "CAL" || first == "EST")
        return is_date(w.subspan(1));
    return false;
}

bool is_date_period(std::string_view text) noexcept {
    if (text.empty()) return true;
    Words<date_words> split;
    return split.split(text) && is_period_words(split.all());
}

// DateExact = day D month D year
bool is_exact_date(std::string_view text) noexcept {
    Words<3> split;
    return split.split(text) && split.count == 3 && all_digits(split.words[0]) &&
           is_tag(split.words[1]) && all_digits(split.words[2]);
}

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

// TagDef = extTag D URI-reference
bool is_tag_definition(std::string_view text) noexcept {
    const std::size_t space = text.find(' ');
    return space != std::string_view::npos && is_extension_tag(text.substr(0, space)) &&
           text.find_first_of(" \t", space + 1) == std::string_view::npos;
}

bool is_non_negative_integer(std::string_view text) noexcept {
    if (text.starts_with('+')) text.remove_prefix(1);
    return all_digits(text);
}

// What the matcher of `payload` accepts, and forms to show when it does not.
bool matches(Payload payload, std::string_view text) noexcept {
    switch (payload) {
        case Payload::Age:
            return is_age(text);
        case Payload::Date:
            return is_date_value(text);
        case Payload::ExactDate:
            return is_exact_date(text);
        case Payload::DatePeriod:
            return is_date_period(text);
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
        case Payload::TagDefinition:
            return "a tag definition (expected an extension tag and a URI, such as "
                   "\"_LOC https://example.org/LOC\")";
        default:
            return "of its type";
    }
}

// Payload text as messages show it: quoted, and cut after 80 bytes.
std::string shown(std::string_view text) {
    constexpr std::size_t most = 80;
    if (text.size() <= most) return quoted(text);
    std::size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return quoted(text.substr(0, cut)) + "...";
}

// The record tag a pointer type leads to: "record-FAM" is FAM.
std::string_view record_tag(std::string_view type) noexcept {
    return type.substr(type.find('-') + 1);
}

std::string join(std::span<const std::string_view> values) {
    std::string text;
    for (const std::string_view value : values) {
        if (!text.empty()) text += ", ";
        text += value;
    }
    return text;
}

// ----- identifiers --------------------------------------------------------------

// Identifier to the first record holding it, ignoring ASCII case, and that
// record's type. A pointer check looks up nearly every pointer of a file, so
// the look-up must touch little memory: identifiers of the usual numbered
// form ("@I123@": a short prefix and a number written without leading
// zeros) go to one dense array per prefix, indexed by the number, when the
// numbers are dense enough; the others to an open-addressed table whose
// slots hold short identifiers themselves.
class IdentifierIndex {
  public:
    struct Found {
        std::uint32_t record = 0;  // position + 1, 0 when no record has the identifier
        std::uint16_t type = v7table::no_type;
    };

    void reserve(std::size_t records) { types_.assign(records, v7table::no_type); }

    // Adds the identifier of the record at `position` (ascending), of `type`.
    void add(std::string_view xref, std::uint32_t position, std::uint16_t type) {
        types_[position] = type;
        if (const auto number = numbered(xref)) {
            if (Numbered* group = group_of(number->first)) {
                group->members.push_back({number->second, position});
                return;
            }
        }
        others_.push_back(position);
    }

    // Builds the look-ups once every record is added; returns each later
    // record holding an identifier already taken, with the first, in order.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> finish(const std::vector<Node>& records) {
        records_ = &records;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> duplicates;
        build_dense(duplicates);
        build_slots(duplicates);
        std::ranges::sort(duplicates);
        return duplicates;
    }

    Found find(std::string_view xref) const noexcept {
        if (const auto number = numbered(xref)) {
            if (const Dense* dense = dense_of(number->first)) {
                return number->second < dense->records.size() ? dense->records[number->second]
                                                              : Found{};
            }
        }
        const Slot* slot = slot_of(xref);
        return slot == nullptr ? Found{} : Found{slot->record, types_[slot->record - 1]};
    }

  private:
    // The numbered identifiers of one prefix, in record order.
    struct Numbered {
        struct Member {
            std::uint32_t number;
            std::uint32_t position;
        };
        std::uint32_t prefix;
        std::vector<Member> members;
    };
    // A file uses a handful of prefixes; the identifiers of any beyond
    // these go to the table.
    static constexpr std::size_t most_prefixes = 16;
    struct Dense {
        std::uint32_t prefix;
        std::vector<Found> records;  // by number
    };
    struct Slot {
        static constexpr std::uint8_t elsewhere = UINT8_MAX;
        std::uint32_t record = 0;       // position + 1, 0 for an empty slot
        std::uint8_t size = elsewhere;  // of `text`, or elsewhere when it does not fit
        std::array<char, 11> text{};    // the identifier between its two '@'
    };
    static_assert(sizeof(Slot) == 16);

    // "@I123@" as its prefix (up to four letters or '_', upper-cased, packed)
    // and its number, when written in that form without leading zeros.
    static std::optional<std::pair<std::uint32_t, std::uint32_t>> numbered(
        std::string_view xref) noexcept {
        if (xref.size() < 4) return std::nullopt;
        const std::string_view inner = xref.substr(1, xref.size() - 2);
        std::uint32_t prefix = 0;
        std::size_t at = 0;
        for (; at < inner.size() && !ascii::is_digit(inner[at]); ++at) {
            const char c = ascii::to_upper(inner[at]);
            if (at == 4 || !(ascii::is_upper(c) || c == '_')) return std::nullopt;
            prefix = prefix << 8U | static_cast<unsigned char>(c);
        }
        const std::string_view digits = inner.substr(at);
        if (at == 0 || digits.empty() || digits.size() > 7 ||
            (digits[0] == '0' && digits.size() > 1))
            return std::nullopt;
        std::uint32_t number = 0;
        for (const char c : digits) {
            if (!ascii::is_digit(c)) return std::nullopt;
            number = number * 10 + static_cast<std::uint32_t>(c - '0');
        }
        return std::pair{prefix, number};
    }

    // The group of `prefix`, made when there is room for one more; the
    // previous identifier's group is tried first, since records of one kind
    // tend to follow one another.
    Numbered* group_of(std::uint32_t prefix) {
        if (last_group_ < numbered_.size() && numbered_[last_group_].prefix == prefix)
            return &numbered_[last_group_];
        const auto found = std::ranges::find(numbered_, prefix, &Numbered::prefix);
        if (found == numbered_.end() && numbered_.size() == most_prefixes) return nullptr;
        last_group_ = static_cast<std::size_t>(found - numbered_.begin());
        if (found == numbered_.end()) numbered_.push_back({prefix, {}});
        return &numbered_[last_group_];
    }

    const Dense* dense_of(std::uint32_t prefix) const noexcept {
        for (const Dense& dense : dense_)
            if (dense.prefix == prefix) return &dense;
        return nullptr;
    }

    // One array per prefix whose numbers are dense enough to pay for it; the
    // identifiers of any other prefix join the table.
    void build_dense(std::vector<std::pair<std::uint32_t, std::uint32_t>>& duplicates) {
        for (const Numbered& group : numbered_) {
            const std::uint32_t most =
                std::ranges::max(group.members, {}, &Numbered::Member::number).number;
            if (most > 4 * group.members.size() + 64) {
                for (const Numbered::Member& each : group.members) others_.push_back(each.position);
                continue;
            }
            Dense& dense = dense_.emplace_back(Dense{group.prefix, {}});
            dense.records.assign(most + std::size_t{1}, Found{});
            // Positions ascend within a prefix: the first holder comes first.
            for (const Numbered::Member& each : group.members) {
                Found& entry = dense.records[each.number];
                if (entry.record == 0) {
                    entry = {each.position + 1, types_[each.position]};
                } else {
                    duplicates.emplace_back(each.position, entry.record - 1);
                }
            }
        }
        numbered_ = {};
    }

    void build_slots(std::vector<std::pair<std::uint32_t, std::uint32_t>>& duplicates) {
        std::ranges::sort(others_);  // the first record holding an identifier comes first
        slots_.assign(std::bit_ceil(others_.size() + others_.size() / 2 + 2), Slot{});
        const std::size_t mask = slots_.size() - 1;
        for (const std::uint32_t position : others_) {
            const std::string_view xref = *(*records_)[position].xref();
            std::size_t at = hash(xref) & mask;
            while (slots_[at].record != 0 && !holds(slots_[at], xref)) at = (at + 1) & mask;
            Slot& slot = slots_[at];
            if (slot.record != 0) {
                duplicates.emplace_back(position, slot.record - 1);
                continue;
            }
            slot.record = position + 1;
            const std::string_view inner = xref.substr(1, xref.size() - 2);
            if (inner.size() <= slot.text.size()) {
                slot.size = static_cast<std::uint8_t>(inner.size());
                std::ranges::copy(inner, slot.text.begin());
            }
        }
        others_ = {};
    }

    static std::uint64_t hash(std::string_view xref) noexcept {
        std::uint64_t hash = 0xCBF29CE484222325u;
        for (const char c : xref)
            hash = (hash ^ static_cast<unsigned char>(ascii::to_upper(c))) * 0x100000001B3u;
        return hash;
    }

    // Whether a filled slot holds `xref`.
    bool holds(const Slot& slot, std::string_view xref) const noexcept {
        if (slot.size == Slot::elsewhere)
            return same_xref(*(*records_)[slot.record - 1].xref(), xref);
        return ascii::iequals(std::string_view(slot.text.data(), slot.size),
                              xref.substr(1, xref.size() - 2));
    }

    const Slot* slot_of(std::string_view xref) const noexcept {
        if (slots_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash(xref) & mask; slots_[at].record != 0; at = (at + 1) & mask) {
            if (holds(slots_[at], xref)) return &slots_[at];
        }
        return nullptr;
    }

    const std::vector<Node>* records_ = nullptr;
    std::vector<std::uint16_t> types_;  // by record position
    std::vector<Numbered> numbered_;    // by prefix, while adding
    std::size_t last_group_ = 0;
    std::vector<std::uint32_t> others_;  // positions, while adding
    std::vector<Dense> dense_;
    std::vector<Slot> slots_;
};

// ----- the walk -------------------------------------------------------------------

class Checker {
  public:
    explicit Checker(const Document& document)
        : records_(document.records),
          index_(v7table::row_index()),
          rows_(v7table::rows()),
          types_(v7table::types()) {
        read_declarations(document);
        index_identifiers();
        version_type_ = v7table::type_named("GEDC-VERS");
        // Room for a problem every other record, so that the list seldom
        // moves: each move copies every problem into fresh memory, whose
        // pages cost a fault and their clearing, while room never written
        // costs address space only.
        problems_.reserve(records_.size() / 2);
    }

    std::vector<Version7Problem> run() {
        walk(std::span<const Node>(records_),
             [&](const Node& node, std::span<const std::size_t> path) {
                 visit(node, path.size(), path.empty() ? 0 : path.back());
             });
        close_to(0);
        if (records_.empty()) {
            add_at(1, std::nullopt, {}, "HEAD", Kind::HeaderTrailer,
                   "the document has no records; a version 7 file begins with HEAD and ends with "
                   "TRLR");
        } else if (!seen_trailer_) {
            const Node& last = records_.back();
            const auto xref = last.xref();
            add_at(last_record_line_, xref ? std::optional<std::string>(*xref) : std::nullopt, {},
                   std::string(last.tag()), Kind::HeaderTrailer,
                   "no TRLR record follows this last record; a version 7 file ends with TRLR");
        }
        return std::move(problems_);
    }

  private:
    struct Frame {
        const Node* node = nullptr;
        std::uint32_t row = v7table::no_row;  // no_row when not examined
        std::uint32_t counts_at = 0;          // where its children's counts start
        std::uint64_t line = 0;
        std::size_t index = 0;  // among its parent's substructures
        std::string_view tag;
        bool continued = false;    // a CONT line has been met under it
        bool excess = false;       // some child type has more than its most
        std::uint64_t opened = 0;  // its number among structures opened, for its counts
    };

    // ----- before the walk

    void read_declarations(const Document& document) {
        const Node* head = header(document);
        if (head == nullptr) return;
        for (const Node& schema : head->children()) {
            if (!tag_is(schema.tag(), "SCHMA")) continue;
            for (const Node& tag : schema.children()) {
                if (!tag_is(tag.tag(), "TAG")) continue;
                const std::string_view text = tag.value().value_or("");
                const std::size_t space = text.find(' ');
                std::string_view uri =
                    space == std::string_view::npos ? "" : text.substr(space + 1);
                declared_.emplace_back(text.substr(0, space), uri);
            }
        }
        std::ranges::sort(declared_);
    }

    const std::pair<std::string_view, std::string_view>* declaration(std::string_view tag) const {
        const auto found = std::ranges::lower_bound(declared_, tag, {}, &Declared::first);
        return found != declared_.end() && found->first == tag ? &*found : nullptr;
    }

    // Each record's identifier into the index, and each later record holding
    // an identifier already taken into duplicates_, with the first.
    void index_identifiers() {
        identifiers_.reserve(records_.size());
        constexpr std::size_t ahead = 8;
        for (std::uint32_t at = 0; at < records_.size(); ++at) {
            if (at + ahead < records_.size()) records_[at + ahead].prefetch_xref();
            if (const auto xref = records_[at].xref())
                identifiers_.add(*xref, at, record_type(records_[at]));
        }
        duplicates_ = identifiers_.finish(records_);
    }

    // ----- problems

    void add_at(std::uint64_t line, std::optional<std::string> record, StructurePath path,
                std::string tag, Kind kind, std::string message) {
        Version7Problem problem{line, std::move(record), std::move(path), std::move(tag),
                                kind, std::move(message)};
        // A structure's counts and its payload below substructures are
        // checked as it closes, after the problems of the lines below it:
        // such a problem goes before those, so the list stays in line order
        // (after any of its own line, so that a line's problems keep the
        // order found).
        if (problems_.empty() || problems_.back().line <= line) {
            problems_.push_back(std::move(problem));
            return;
        }
        const auto after = std::ranges::upper_bound(problems_, line, {}, &Version7Problem::line);
        problems_.insert(after, std::move(problem));
    }

    // A problem of the structure open at `depth`.
    void add(std::size_t depth, Kind kind, std::string message) {
        StructurePath path;
        std::string tags;
        for (std::size_t d = 0; d <= depth; ++d) {
            if (d > 0) {
                path.push_back(frames_[d].index);
                tags += '.';
            }
            tags += frames_[d].tag;
        }
        const auto xref = records_[record_].xref();
        add_at(frames_[depth].line, xref ? std::optional<std::string>(*xref) : std::nullopt,
               std::move(path), std::move(tags), kind, std::move(message));
    }

    // ----- the walk

    void close_to(std::size_t depth) {
        while (open_ > depth) {
            --open_;
            const Frame& frame = frames_[open_];
            if (frame.row != v7table::no_row) {
                const TypeFacts& facts = types_[rows_[frame.row].type];
                // A structure with substructures has its payload checked
                // here, once its CONT lines are known.
                if (!frame.node->children().empty()) check_payload(*frame.node, open_, facts);
                if (frame.excess) {
                    for (std::size_t slot = 0; slot < facts.limits.size(); ++slot)
                        check_count(open_, facts, slot);
                } else {
                    for (const std::uint16_t slot : facts.required) check_count(open_, facts, slot);
                }
            }
            counts_end_ = frame.counts_at;
        }
    }

    void check_count(std::size_t depth, const TypeFacts& facts, std::size_t slot) {
        const Frame& frame = frames_[depth];
        const v7table::ChildLimit& limit = facts.limits[slot];
        const std::uint32_t count = count_at(frame, slot);
        if (count >= limit.least && (limit.most == 0 || count <= limit.most)) return;
        const std::string expected =
            limit.most == limit.least ? "exactly " + std::to_string(limit.least)
            : count < limit.least     ? "at least " + std::to_string(limit.least)
                                      : "at most " + std::to_string(limit.most);
        add(depth, Kind::Cardinality,
            std::string(frame.tag) + " has " + std::to_string(count) + " " +
                std::string(limit.tag) + ", but version 7 requires " + expected + " there");
    }

    void visit(const Node& node, std::size_t depth, std::size_t index) {
        close_to(depth);
        ++line_;
        if (depth == 0) {
            record_ = depth_zero_records_++;
            last_record_line_ = line_;
        }
        if (frames_.size() <= depth) frames_.resize(depth + 1);
        Frame& frame = frames_[depth];
        frame = Frame{&node, v7table::no_row, counts_end_, line_, index, node.tag()};
        open_ = depth + 1;
        const std::string_view tag = node.tag();
        const Frame* parent = depth > 0 ? &frames_[depth - 1] : nullptr;

        check_line(node, depth);
        if (depth == 0) check_record(node);
        if (is_extension_tag(tag)) {
            // Undocumented extension tags are allowed, if discouraged: the
            // standard's own samples use them.
            check_unexamined_payload(node, depth);
            return;
        }
        if (tag_is(tag, "CONT") && depth > 0) {
            frames_[depth - 1].continued = true;
            check_text_at(node, depth);
            return;
        }
        if (parent != nullptr && parent->row == v7table::no_row) {
            check_tag(tag, depth);
            check_unexamined_payload(node, depth);
            return;
        }
        const std::uint32_t row =
            parent == nullptr ? index_.record(tag) : index_.child(parent->row, tag);
        if (row == v7table::no_row) {
            check_tag(tag, depth);
            add(depth, Kind::UndefinedStructure,
                parent == nullptr ? joined({"version 7 does not define a ", tag, " record"})
                                  : joined({"version 7 does not define ", tag, " under ",
                                            parent->tag, "; use an extension tag such as _", tag,
                                            ", or a structure version 7 defines there"}));
            check_unexamined_payload(node, depth);
            return;
        }
        const v7table::Row& facts_row = rows_[row];
        if (parent != nullptr && facts_row.slot != v7table::no_type) {
            Frame& above = frames_[depth - 1];
            Count& entry = counts_[above.counts_at + facts_row.slot];
            if (entry.opened != above.opened) entry = {above.opened, 0};
            const std::uint32_t count = ++entry.count;
            if (facts_row.most != 0 && count > facts_row.most) above.excess = true;
        }
        frame.row = row;
        const TypeFacts& facts = types_[facts_row.type];
        const std::size_t counts_end = counts_end_ + facts.limits.size();
        if (counts_.size() < counts_end) counts_.resize(counts_end);
        frame.opened = ++opened_;
        counts_end_ = static_cast<std::uint32_t>(counts_end);
        if (node.children().empty()) check_payload(node, depth, facts);
        if (facts_row.type == version_type_) check_version(node, depth);
    }

    void check_line(const Node& node, std::size_t depth) {
        const std::string_view tag = node.tag();
        if (node.verbatim()) {
            add(depth, Kind::LineForm,
                "the line " + shown(*node.verbatim()) +
                    " is not in version 7's line form: a level without leading zeros or "
                    "plus sign, then single spaces between level, identifier, tag and payload");
        }
        if (const auto xref = node.xref()) {
            if (depth > 0) {
                add(depth, Kind::IdentifierOnSubstructure,
                    std::string(tag) + " carries identifier " + std::string(*xref) +
                        ", but in version 7 only records (level 0) have identifiers");
            } else if (!is_xref_form(*xref) || *xref == "@VOID@") {
                add(depth, Kind::LineForm,
                    "identifier " + shown(*xref) +
                        " is not an identifier of version 7: upper-case letters, digits and "
                        "underscores between two \"@\", and not @VOID@");
            }
        }
        if (const auto value = node.value(); value && value->empty()) {
            add(depth, Kind::TrailingSpace,
                std::string(tag) +
                    " has an empty payload written after a space; version 7 writes the line "
                    "without the trailing space");
        }
    }

    // A tag the standard's table does not hold: is it a tag at all?
    void check_tag(std::string_view tag, std::size_t depth) {
        if (is_tag(tag)) return;
        add(depth, Kind::LineForm,
            "tag " + shown(tag) +
                " is not a tag of version 7: upper-case letters, digits and underscores, "
                "beginning with a letter, or with an underscore for an extension");
    }

    // A payload that must be text: a leading '@' doubled.
    void check_text_at(const Node& node, std::size_t depth) {
        const std::string_view value = node.value().value_or("");
        if (value.starts_with('@') && !value.starts_with("@@")) {
            add(depth, Kind::UnescapedAt,
                std::string(node.tag()) + " payload " + shown(value) +
                    " begins with a single \"@\"; version 7 writes a leading \"@\" as \"@@\" "
                    "in text, and a pointer only where one is defined");
        }
    }

    // An extension or undefined structure: its payload may be a pointer.
    void check_unexamined_payload(const Node& node, std::size_t depth) {
        const std::string_view value = node.value().value_or("");
        if (is_xref_form(value)) return;
        check_text_at(node, depth);
    }

    void check_record(const Node& node) {
        const std::string_view tag = node.tag();
        if (seen_trailer_) {
            add(0, Kind::HeaderTrailer,
                std::string(tag) +
                    " stands after the TRLR record; version 7 has TRLR as the last record");
        } else if (tag_is(tag, "TRLR")) {
            seen_trailer_ = true;
        }
        if (tag_is(tag, "HEAD") && record_ != 0) {
            add(0, Kind::HeaderTrailer,
                "a second HEAD record; version 7 has one HEAD, as the first record");
        } else if (record_ == 0 && !tag_is(tag, "HEAD")) {
            add(0, Kind::HeaderTrailer,
                "the first record is " + std::string(tag) + "; a version 7 file begins with HEAD");
        }
        if (next_duplicate_ < duplicates_.size() && duplicates_[next_duplicate_].first == record_) {
            const std::uint32_t first = duplicates_[next_duplicate_++].second;
            add(0, Kind::DuplicateIdentifier,
                "identifier " + std::string(node.xref().value_or("")) +
                    " is used by an earlier record too (" + std::string(records_[first].tag()) +
                    "); identifiers must be unique, ignoring letter case");
        }
    }

    void check_version(const Node& node, std::size_t depth) {
        const std::string_view value = node.value().value_or("");
        const std::size_t dot = value.find('.');
        const std::string_view minor =
            value.substr(dot == std::string_view::npos ? value.size() : dot + 1);
        const std::size_t second = minor.find('.');
        const bool ok = value.starts_with("7.") && all_digits(minor.substr(0, second)) &&
                        (second == std::string_view::npos || all_digits(minor.substr(second + 1)));
        if (!ok) {
            add(depth, Kind::HeaderTrailer,
                "GEDC.VERS " + shown(value) +
                    " is not a version 7 number; expected \"7.0\" or another \"7.x\"");
        }
    }

    // The payload with its CONT lines joined, or none when it has neither
    // text nor continuation (an empty payload counts as none).
    std::optional<std::string_view> logical(const Node& node, bool continued) {
        const std::string_view first = node.value().value_or("");
        if (!continued) return first.empty() ? std::nullopt : std::optional(first);
        joined_.assign(first);
        for (const Node& child : node.children()) {
            if (!tag_is(child.tag(), "CONT")) continue;
            joined_ += '\n';
            joined_ += child.value().value_or("");
        }
        return std::string_view(joined_);
    }

    void check_payload(const Node& node, std::size_t depth, const TypeFacts& facts) {
        const std::string_view tag = node.tag();
        const auto payload = logical(node, frames_[depth].continued);
        const Payload type = facts.payload;
        if (type != Payload::Pointer) check_text_at(node, depth);
        switch (type) {
            case Payload::None:
                if (payload) {
                    add(depth, Kind::Payload,
                        std::string(tag) + " has payload " + shown(*payload) +
                            ", but version 7 defines no payload for it here");
                }
                return;
            case Payload::YesOrEmpty:
                if (payload && *payload != "Y") {
                    add(depth, Kind::Payload,
                        std::string(tag) + " has payload " + shown(*payload) +
                            ", but version 7 allows only \"Y\" or no payload here; move the "
                            "text into a NOTE");
                }
                return;
            case Payload::Pointer:
                check_pointer(depth, facts, payload);
                return;
            case Payload::Text:
                if (!payload) missing(depth, "text");
                return;
            case Payload::Enumeration:
            case Payload::EnumerationList:
                if (!payload) {
                    missing(depth, "one of " + join(facts.values));
                } else {
                    check_enumeration(depth, facts, *payload);
                }
                return;
            default:
                break;
        }
        if (!payload) {
            if (!matches(type, "")) missing(depth, expected_forms(type));
            return;
        }
        if (!matches(type, *payload)) {
            add(depth, Kind::Payload,
                std::string(tag) + " " + shown(*payload) + " is not " +
                    std::string(expected_forms(type)));
        }
    }

    void missing(std::size_t depth, std::string_view expected) {
        add(depth, Kind::Payload,
            joined({frames_[depth].tag, " has no payload, but version 7 requires ", expected,
                    " here"}));
    }

    bool in_set(const TypeFacts& facts, std::string_view value) const noexcept {
        return std::ranges::binary_search(facts.values, value) || is_extension_tag(value);
    }

    void check_enumeration(std::size_t depth, const TypeFacts& facts, std::string_view payload) {
        std::string_view rest = payload;
        const bool list = facts.payload == Payload::EnumerationList;
        while (true) {
            const std::size_t comma = list ? rest.find(',') : std::string_view::npos;
            std::string_view item = rest.substr(0, comma);
            if (list) {
                while (item.starts_with(' ')) item.remove_prefix(1);
                while (item.ends_with(' ')) item.remove_suffix(1);
            }
            if (!in_set(facts, item)) {
                add(depth, Kind::Enumeration,
                    std::string(frames_[depth].tag) + " " + shown(item) +
                        " is not one of version 7's values here (" + join(facts.values) +
                        ") or an extension value such as \"_X\"");
                return;
            }
            if (comma == std::string_view::npos) return;
            rest.remove_prefix(comma + 1);
        }
    }

    void check_pointer(std::size_t depth, const TypeFacts& facts,
                       std::optional<std::string_view> payload) {
        const std::string_view tag = frames_[depth].tag;
        const auto wanted = [&] { return std::string(record_tag(types_[facts.target].type)); };
        if (!payload) {
            missing(depth, "a pointer to a " + wanted() + " record (or @VOID@)");
            return;
        }
        if (*payload == "@VOID@") return;
        if (!is_xref_form(*payload)) {
            add(depth, Kind::Payload,
                std::string(tag) + " payload " + shown(*payload) +
                    " is not a pointer; version 7 expects \"@XREF@\" naming a " + wanted() +
                    " record, or \"@VOID@\"");
            return;
        }
        const IdentifierIndex::Found found = identifiers_.find(*payload);
        if (found.record == 0) {
            add(depth, Kind::NoSuchRecord,
                std::string(tag) + " points to " + std::string(*payload) +
                    ", but no record has that identifier; point to an existing " + wanted() +
                    " record or write @VOID@");
            return;
        }
        if (found.type == facts.target || found.type == extension_record) return;
        add(depth, Kind::PointerType,
            std::string(tag) + " points to " + std::string(*payload) + ", a " +
                std::string(records_[found.record - 1].tag()) +
                " record, but version 7 expects a " + wanted() + " record here");
    }

    // The type of a record for pointers: its standard type, the standard
    // type its extension tag is declared with, `extension_record` for any
    // other extension, or no_type.
    std::uint16_t record_type(const Node& record) const noexcept {
        const std::string_view tag = record.tag();
        if (is_extension_tag(tag)) {
            const auto* declared = declaration(tag);
            if (declared != nullptr && declared->second.starts_with(type_prefix)) {
                const std::uint16_t type =
                    v7table::type_named(declared->second.substr(type_prefix.size()));
                if (type != v7table::no_type) return type;
            }
            return extension_record;
        }
        const std::uint32_t row = v7table::record_row(tag);
        return row == v7table::no_row ? v7table::no_type : rows_[row].type;
    }

    static constexpr std::uint16_t extension_record = v7table::no_type - 1;

    using Declared = std::pair<std::string_view, std::string_view>;

    const std::vector<Node>& records_;
    const v7table::RowIndex& index_;
    std::span<const v7table::Row> rows_;
    std::span<const TypeFacts> types_;
    std::vector<Declared> declared_;  // HEAD.SCHMA.TAG: tag and URI, sorted
    IdentifierIndex identifiers_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> duplicates_;  // (record, first), in order
    std::size_t next_duplicate_ = 0;
    std::uint16_t version_type_ = v7table::no_type;

    std::vector<Frame> frames_;
    std::size_t open_ = 0;
    // How many children of each type the open structures have. An entry
    // counts for the structure whose number it holds, and is 0 for any
    // other: a structure opened starts with all its counts at 0 without
    // clearing them, which was a memset at nearly every structure. The
    // numbers are 64-bit, so they never run out.
    struct Count {
        std::uint64_t opened = 0;
        std::uint32_t count = 0;
    };
    std::uint32_t count_at(const Frame& frame, std::size_t slot) const noexcept {
        const Count& entry = counts_[frame.counts_at + slot];
        return entry.opened == frame.opened ? entry.count : 0;
    }
    std::vector<Count> counts_;  // grown only
    std::uint32_t counts_end_ = 0;
    std::uint64_t opened_ = 0;
    std::string joined_;
    std::uint64_t line_ = 0;
    std::uint64_t last_record_line_ = 0;
    std::uint32_t record_ = 0;
    std::uint32_t depth_zero_records_ = 0;
    bool seen_trailer_ = false;
    std::vector<Version7Problem> problems_;
};

}  // namespace

std::string_view to_string(Version7ProblemKind kind) noexcept {
    switch (kind) {
        case Kind::TrailingSpace:
            return "trailing-space";
        case Kind::LineForm:
            return "line-form";
        case Kind::IdentifierOnSubstructure:
            return "identifier-on-substructure";
        case Kind::UnescapedAt:
            return "unescaped-at";
        case Kind::UndefinedStructure:
            return "undefined-structure";
        case Kind::Cardinality:
            return "cardinality";
        case Kind::Payload:
            return "payload";
        case Kind::Enumeration:
            return "enumeration";
        case Kind::PointerType:
            return "pointer-type";
        case Kind::NoSuchRecord:
            return "no-such-record";
        case Kind::DuplicateIdentifier:
            return "duplicate-identifier";
        case Kind::HeaderTrailer:
            return "header-trailer";
    }
    return "payload";
}

void Version7Problem::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::line).unsigned_integer(line);
    out.key(Key::record).optional_string(record);
    out.key(Key::path);
    write_array(out, std::span<const std::size_t>(path));
    out.key(Key::tag).string(tag);
    out.key(Key::kind).string(to_string(kind));
    out.key(Key::message).string(message);
    out.end_object();
}

std::vector<Version7Problem> check_version_7(const Document& document) {
    return Checker(document).run();
}

}  // namespace lignor
