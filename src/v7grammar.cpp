// Version 7's grammars, after the standard's ABNF and the rules its text
// adds: calendars, months, epochs and the days of each month for dates; the
// characters banned anywhere; URI references and file paths.
#include "v7grammar.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "ascii.hpp"

namespace lignor::v7 {
namespace {

using v7table::Payload;

constexpr bool is_tag_char(char c) noexcept {
    return ascii::is_upper(c) || ascii::is_digit(c) || c == '_';
}

bool all_tag_chars(std::string_view text) noexcept {
    return std::ranges::all_of(text, is_tag_char);
}

bool all_digits(std::string_view text) noexcept {
    return !text.empty() && std::ranges::all_of(text, ascii::is_digit);
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

// ----- dates ------------------------------------------------------------------------

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

// A word of up to eight bytes as one number, for comparing the short words
// of dates (calendars, months) without a call; 0 for a longer word.
std::uint64_t packed(std::string_view word) noexcept {
    if (word.size() > 8) return 0;
    std::uint64_t value = 0;
    std::memcpy(&value, word.data(), word.size());
    return value;
}

// The standard calendars with their months packed, built once from the
// generated tables. A date without a calendar word is Gregorian: the first.
enum class MonthLengths : std::uint8_t { Gregorian, Julian, Thirty };

struct PackedCalendar {
    const v7table::Calendar* calendar;
    MonthLengths lengths;
    std::vector<std::uint64_t> months;
};

// The Gregorian and Julian months by their leap years; any month of the
// others 30 days, as the standard's own date file writes them (days up to
// 30 in the Hebrew calendar's lunar months and in the French Republican
// complementary days alike).
MonthLengths lengths_of(std::string_view calendar) noexcept {
    if (calendar == "GREGORIAN") return MonthLengths::Gregorian;
    if (calendar == "JULIAN") return MonthLengths::Julian;
    return MonthLengths::Thirty;
}

const std::vector<PackedCalendar>& packed_calendars() noexcept {
    static const std::vector<PackedCalendar> all = [] {
        std::vector<PackedCalendar> out;
        for (const v7table::Calendar& calendar : v7table::calendars()) {
            PackedCalendar& entry =
                out.emplace_back(PackedCalendar{&calendar, lengths_of(calendar.name), {}});
            for (const std::string_view month : calendar.months)
                entry.months.push_back(packed(month));
        }
        // The Gregorian calendar first: most dates name none.
        std::ranges::stable_partition(
            out, [](const PackedCalendar& entry) { return entry.calendar->name == "GREGORIAN"; });
        return out;
    }();
    return all;
}

const PackedCalendar* standard_calendar(std::string_view name) noexcept {
    for (const PackedCalendar& entry : packed_calendars())
        if (entry.calendar->name == name) return &entry;
    return nullptr;
}

bool is_calendar_word(std::string_view word) noexcept {
    return is_extension_tag(word) || standard_calendar(word) != nullptr;
}

// The position of `month` among the calendar's months, or none.
std::optional<std::size_t> month_index(const PackedCalendar& calendar,
                                       std::string_view month) noexcept {
    const std::uint64_t key = packed(month);
    for (std::size_t at = 0; key != 0 && at < calendar.months.size(); ++at)
        if (calendar.months[at] == key) return at;
    return std::nullopt;
}

// A month of some standard calendar: what an extension calendar may use
// besides extension months.
bool is_standard_month(std::string_view month) noexcept {
    return std::ranges::any_of(packed_calendars(), [&](const PackedCalendar& calendar) {
        return month_index(calendar, month).has_value();
    });
}

// The number `digits` stands for, up to a bound past any day of a month.
std::uint32_t small_number(std::string_view digits) noexcept {
    std::uint32_t value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 1000) return 1000;
    }
    return value;
}

// The year as the proleptic calendars count it (1 BCE is 0), modulo 400:
// all that February's length depends on.
std::uint32_t astronomical_year_mod_400(std::string_view year, bool before_common_era) noexcept {
    std::uint32_t value = 0;
    for (const char c : year) value = (value * 10 + static_cast<std::uint32_t>(c - '0')) % 400;
    return before_common_era ? (401 - value) % 400 : value;
}

// The most days month number `month` (0-based, in the appendix's order) of
// a standard calendar has in `year`.
std::uint32_t days_in_month(MonthLengths lengths, std::size_t month, std::string_view year,
                            bool before_common_era) noexcept {
    static constexpr std::array<std::uint8_t, 12> solar = {31, 28, 31, 30, 31, 30,
                                                           31, 31, 30, 31, 30, 31};
    if (lengths == MonthLengths::Thirty) return 30;
    if (month >= solar.size()) return 31;
    if (month != 1) return solar[month];
    const std::uint32_t y = astronomical_year_mod_400(year, before_common_era);
    const bool leap = y % 4 == 0 && (lengths == MonthLengths::Julian || y % 100 != 0 || y == 0);
    return leap ? 29 : 28;
}

constexpr std::string_view standard_prefix = "https://gedcom.io/terms/v7/";

// The standard word an extension tag is declared as, by the URI's `kind`
// ("cal-", "month-"): "_JOUR" declared with ".../v7/month-COMP" is COMP.
std::string_view declared_as(std::string_view tag, std::string_view kind,
                             Declarations declared) noexcept {
    if (declared.empty() || !is_extension_tag(tag)) return tag;
    const auto found = std::ranges::lower_bound(declared, tag, {}, &schema::Declaration::tag);
    if (found == declared.end() || found->tag != tag) return tag;
    const std::string_view uri = found->uri;
    if (!uri.starts_with(standard_prefix) || !uri.substr(standard_prefix.size()).starts_with(kind))
        return tag;
    return uri.substr(standard_prefix.size() + kind.size());
}

// Whether the words of one date, read as `part`, keep to its calendar.
bool keeps_to_calendar(const DatePart& part, Declarations declared) noexcept {
    if (!all_digits(part.year)) return false;
    const PackedCalendar* calendar =
        part.calendar.empty() ? &packed_calendars().front()
                              : standard_calendar(declared_as(part.calendar, "cal-", declared));
    if (calendar == nullptr) {
        // An extension calendar: any month of a standard calendar or an
        // extension month, BCE or an extension epoch.
        if (!is_extension_tag(part.calendar)) return false;
        return (part.month.empty() || is_standard_month(part.month) ||
                is_extension_tag(part.month)) &&
               (part.epoch.empty() || part.epoch == "BCE" || is_extension_tag(part.epoch));
    }
    const std::vector<std::string_view>& epochs = calendar->calendar->epochs;
    if (!part.epoch.empty() && std::ranges::find(epochs, part.epoch) == epochs.end()) return false;
    if (part.month.empty()) return true;
    const auto month = month_index(*calendar, declared_as(part.month, "month-", declared));
    if (!month) return false;
    return part.day == 0 ||
           part.day <= days_in_month(calendar->lengths, *month, part.year, !part.epoch.empty());
}

// date = [calendar D] [[day D] month D] year [D epoch]
bool read_part(WordSpan w, DatePart& out, Declarations declared) noexcept {
    if (w.empty() || w.size() > 5) return false;
    const bool may_have_calendar = w.size() > 1 && is_calendar_word(w.front());
    const bool may_have_epoch = w.size() > 1 && (w.back() == "BCE" || is_extension_tag(w.back()));
    for (const bool calendar : {true, false}) {
        if (calendar && !may_have_calendar) continue;
        for (const bool epoch : {true, false}) {
            if (epoch && !may_have_epoch) continue;
            const WordSpan rest =
                w.subspan(calendar ? 1 : 0, w.size() - (calendar ? 1 : 0) - (epoch ? 1 : 0));
            if (rest.empty() || rest.size() > 3) continue;
            DatePart part;
            part.calendar = calendar ? w.front() : std::string_view();
            part.epoch = epoch ? w.back() : std::string_view();
            part.year = rest.back();
            if (rest.size() >= 2) part.month = rest[rest.size() - 2];
            if (rest.size() == 3) {
                if (!all_digits(rest[0])) continue;
                part.day = small_number(rest[0]);
                if (part.day == 0) continue;
            }
            if (!keeps_to_calendar(part, declared)) continue;
            out = part;
            return true;
        }
    }
    return false;
}

// `first` date, the word `joint`, `second` date, for some place of the joint.
bool read_pair(WordSpan w, std::string_view joint, DateValue& out, Declarations declared) noexcept {
    for (std::size_t at = 1; at + 1 < w.size(); ++at) {
        if (w[at] == joint && read_part(w.first(at), out.first, declared) &&
            read_part(w.subspan(at + 1), out.second, declared))
            return true;
    }
    return false;
}

// DatePeriod = [ "TO" D date ] / "FROM" D date [ D "TO" D date ], on words.
bool read_period(WordSpan w, DateValue& out, Declarations declared) noexcept {
    if (w[0] == "TO") {
        out.form = DateForm::To;
        return read_part(w.subspan(1), out.first, declared);
    }
    if (w[0] != "FROM") return false;
    out.form = DateForm::From;
    if (read_part(w.subspan(1), out.first, declared)) return true;
    out.form = DateForm::FromTo;
    return read_pair(w.subspan(1), "TO", out, declared);
}

// The shapes most dates have, "D MON YEAR", "MON YEAR" and "YEAR" in the
// Gregorian calendar, read off the front of `text` without splitting it into
// words: the bytes read, up to a space or the end, or 0 where the text does
// not begin with one (it may still begin with a date of another shape).
std::size_t read_common_point(std::string_view text, DatePart& out) noexcept {
    const auto digits_from = [&](std::size_t at) {
        std::size_t end = at;
        while (end < text.size() && ascii::is_digit(text[end])) ++end;
        return end;
    };
    const auto is_month_at = [&](std::size_t at) {
        return at + 5 <= text.size() && text[at + 3] == ' ' && ascii::is_upper(text[at]);
    };
    DatePart part;
    std::size_t end = digits_from(0);
    if (end > 0 && end < text.size() && text[end] == ' ' && is_month_at(end + 1)) {
        part.day = small_number(text.substr(0, end));
        if (part.day == 0) return 0;
        part.month = text.substr(end + 1, 3);
        const std::size_t year_end = digits_from(end + 5);
        part.year = text.substr(end + 5, year_end - end - 5);
        end = year_end;
    } else if (end == 0 && is_month_at(0)) {
        part.month = text.substr(0, 3);
        end = digits_from(4);
        part.year = text.substr(4, end - 4);
    } else {
        part.year = text.substr(0, end);
    }
    if (end < text.size() && text[end] != ' ') return 0;
    if (!keeps_to_calendar(part, {})) return 0;
    out = part;
    return end;
}

bool read_common_date(std::string_view text, DatePart& out) noexcept {
    return !text.empty() && read_common_point(text, out) == text.size();
}

struct Keyword {
    std::string_view word;
    DateForm form;
};
constexpr std::array<Keyword, 5> single_date_keywords = {{
    {"AFT", DateForm::After},
    {"BEF", DateForm::Before},
    {"ABT", DateForm::About},
    {"CAL", DateForm::Calculated},
    {"EST", DateForm::Estimated},
}};

// Takes `word` and the space after it off the front of `text`: a compare
// of a size known when compiling, done without a call.
template <std::size_t N>
bool take_word(std::string_view& text, const char (&word)[N]) noexcept {
    constexpr std::size_t size = N - 1;
    if (text.size() <= size || text[size] != ' ' || std::memcmp(text.data(), word, size) != 0)
        return false;
    text.remove_prefix(size + 1);
    return true;
}

// `first` JOINT `second`, each of a common shape; `joint` has its spaces.
template <std::size_t N>
bool read_common_pair(std::string_view text, const char (&joint)[N], DateValue& out) noexcept {
    const std::size_t at = read_common_point(text, out.first);
    if (at == 0) return false;
    text.remove_prefix(at);
    constexpr std::size_t size = N - 1;
    if (text.size() <= size || std::memcmp(text.data(), joint, size) != 0) return false;
    return read_common_date(text.substr(size), out.second);
}

// A date value whose dates all have the common shapes, after any keyword:
// most of a file's dates, read without splitting the text into words. False
// says nothing: the text may still be a date value of another shape.
bool read_common_value(std::string_view text, Payload type, DateValue& out) noexcept {
    if (take_word(text, "FROM")) {
        out.form = DateForm::From;
        if (read_common_date(text, out.first)) return true;
        out.form = DateForm::FromTo;
        return read_common_pair(text, " TO ", out);
    }
    if (take_word(text, "TO")) {
        out.form = DateForm::To;
        return read_common_date(text, out.first);
    }
    if (type == Payload::DatePeriod) return false;
    if (take_word(text, "BET")) {
        out.form = DateForm::Between;
        return read_common_pair(text, " AND ", out);
    }
    out.form = DateForm::Date;
    if (text.size() > 4 && text[3] == ' ') {
        for (const Keyword& keyword : single_date_keywords) {
            if (std::memcmp(text.data(), keyword.word.data(), 3) == 0) {
                out.form = keyword.form;
                text.remove_prefix(4);
                break;
            }
        }
    }
    return read_common_date(text, out.first);
}

bool read_date_value(WordSpan w, DateValue& out, Declarations declared) noexcept {
    if (read_period(w, out, declared)) return true;
    if (w[0] == "BET") {
        out.form = DateForm::Between;
        return read_pair(w.subspan(1), "AND", out, declared);
    }
    for (const Keyword& keyword : single_date_keywords) {
        if (w[0] == keyword.word) {
            out.form = keyword.form;
            return read_part(w.subspan(1), out.first, declared);
        }
    }
    out.form = DateForm::Date;
    return read_part(w, out.first, declared);
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

std::optional<DateValue> read_date(std::string_view text, Payload type,
                                   Declarations declared) noexcept {
    DateValue value;
    if (type == Payload::ExactDate ? read_common_date(text, value.first) && value.first.day != 0
                                   : read_common_value(text, type, value)) {
        if (type == Payload::ExactDate) value.form = DateForm::Date;
        return value;
    }
    return read_date_by_words(text, type, declared);
}

std::optional<DateValue> read_date_by_words(std::string_view text, Payload type,
                                            Declarations declared) noexcept {
    DateValue value;
    if (text.empty()) {
        if (type == Payload::ExactDate) return std::nullopt;
        return value;
    }
    Words<16> split;
    if (!split.split(text)) return std::nullopt;
    const WordSpan w = split.all();
    if (type == Payload::ExactDate) {
        // DateExact = day D month D year, in the Gregorian calendar.
        if (w.size() != 3 || !all_digits(w[0])) return std::nullopt;
        value.form = DateForm::Date;
        value.first = {{}, small_number(w[0]), w[1], w[2], {}};
        if (value.first.day == 0 || !keeps_to_calendar(value.first, {})) return std::nullopt;
        return value;
    }
    const bool read = type == Payload::DatePeriod ? read_period(w, value, declared)
                                                  : read_date_value(w, value, declared);
    if (!read) return std::nullopt;
    return value;
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
