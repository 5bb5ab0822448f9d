#include "dates.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "ascii.hpp"
#include "unicode.hpp"
#include "value_writer.hpp"

namespace lignor {

namespace {

using Keywords = std::span<const std::string_view>;

// Keyword lists, each in the order its keywords are tried. Longer words that
// begin with a shorter one (CAL after CA, APPROXIMATELY after APPROX) still
// match, because a keyword only counts when a space, "." or digit follows it.
constexpr std::string_view and_words[] = {"AND", "ET", "UND", "OG"};
constexpr std::string_view bet_words[] = {"BET", "BETWEEN", "ENTRE", "ZWISCHEN", "MELLOM"};
constexpr std::string_view to_words[] = {"TO", "AU", "BIS", "TIL"};
constexpr std::string_view from_words[] = {"FROM", "DE", "DU", "VON", "FRA"};
constexpr std::string_view opening_words[] = {"FROM", "SINCE"};
constexpr std::string_view closing_words[] = {"TO", "UNTIL"};
constexpr std::string_view about_words[] = {
    "ABT",    "ABOUT",         "CIRCA",           "CA",      "APPROX", "ENVIRON",
    "UM",     "RUNDT",         "OMKRING",         "CERCA",   "VERSO",  "VERS",
    "AROUND", "APPROXIMATELY", "APROXIMADAMENTE", "OMTRENT", "CIRKA",  "CIR",
    "C",      "PROBABLY",      "PROBABLEMENT"};
constexpr std::string_view calculated_words[] = {"CAL", "CALCULATED"};
constexpr std::string_view estimated_words[] = {"EST", "ESTIMATED"};
constexpr std::string_view before_words[] = {"BEF",   "BEFORE", "AVANT", "VOR",
                                             "PRIMA", "ANTES",  "FØR"};
constexpr std::string_view after_words[] = {"AFT",  "AFTER",   "APRES", "APRÈS", "NACH",
                                            "DOPO", "DESPUES", "ETTER", "EFTER"};
constexpr std::string_view interpreted_words[] = {"INT", "INTERPRETED"};

struct Qualifier {
    DateKind kind;
    Keywords words;
};
constexpr Qualifier qualifier_lists[] = {
    {DateKind::About, about_words},         {DateKind::Calculated, calculated_words},
    {DateKind::Estimated, estimated_words}, {DateKind::Before, before_words},
    {DateKind::After, after_words},         {DateKind::Interpreted, interpreted_words},
};

// Words that sit between the parts of a spelled-out date ("5 de enero de
// 1900", "le 5 janvier 1900") and are not parts themselves.
constexpr std::string_view filler_words[] = {"de", "of", "le", "den"};

struct MonthName {
    std::string_view name;  // lower case, as full lower-casing produces it
    std::uint8_t month;
};
constexpr MonthName month_names[] = {
    {"jan", 1},       {"janv", 1},      {"enero", 1},      {"januar", 1},     {"january", 1},
    {"janvier", 1},   {"januari", 1},   {"gennaio", 1},    {"jänner", 1},     {"feb", 2},
    {"fév", 2},       {"févr", 2},      {"february", 2},   {"février", 2},    {"februari", 2},
    {"febbraio", 2},  {"fevrier", 2},   {"februar", 2},    {"febrero", 2},    {"mar", 3},
    {"mars", 3},      {"marz", 3},      {"march", 3},      {"märz", 3},       {"maerz", 3},
    {"marzo", 3},     {"marts", 3},     {"apr", 4},        {"avr", 4},        {"april", 4},
    {"avril", 4},     {"abril", 4},     {"aprile", 4},     {"may", 5},        {"mai", 5},
    {"mei", 5},       {"mayo", 5},      {"maggio", 5},     {"jun", 6},        {"june", 6},
    {"juin", 6},      {"juni", 6},      {"junio", 6},      {"giugno", 6},     {"jul", 7},
    {"july", 7},      {"juil", 7},      {"juli", 7},       {"julio", 7},      {"luglio", 7},
    {"juillet", 7},   {"aug", 8},       {"aout", 8},       {"août", 8},       {"august", 8},
    {"agosto", 8},    {"augusti", 8},   {"sep", 9},        {"sept", 9},       {"september", 9},
    {"septembre", 9}, {"settembre", 9}, {"septiembre", 9}, {"oct", 10},       {"okt", 10},
    {"october", 10},  {"octobre", 10},  {"oktober", 10},   {"ottobre", 10},   {"octubre", 10},
    {"nov", 11},      {"november", 11}, {"novembre", 11},  {"noviembre", 11}, {"dec", 12},
    {"des", 12},      {"déc", 12},      {"december", 12},  {"decembre", 12},  {"décembre", 12},
    {"dezember", 12}, {"desember", 12}, {"dicembre", 12},  {"diciembre", 12},
};

// English month names of which any prefix of three or more letters names the
// month ("sept", "octob"). May is absent: "may" is in the table above.
constexpr std::pair<std::string_view, std::uint8_t> english_months[] = {
    {"january", 1},  {"february", 2},  {"march", 3},     {"april", 4},
    {"june", 6},     {"july", 7},      {"august", 8},    {"september", 9},
    {"october", 10}, {"november", 11}, {"december", 12},
};

// No month name is longer than this many bytes, even lower-cased.
constexpr std::size_t longest_month_name = 12;

constexpr std::string_view display_months[] = {"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
constexpr std::string_view gedcom_months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// The months of the Hebrew and French Republican calendars, in order, as
// GEDCOM writes them and as they are displayed. Both calendars have thirteen.
constexpr std::string_view hebrew_codes[] = {"TSH", "CSH", "KSL", "TVT", "SHV", "ADR", "ADS",
                                             "NSN", "IYR", "SVN", "TMZ", "AAV", "ELL"};
constexpr std::string_view hebrew_names[] = {"Tishrei", "Cheshvan",   "Kislev", "Tevet", "Shevat",
                                             "Adar",    "Adar Sheni", "Nisan",  "Iyar",  "Sivan",
                                             "Tammuz",  "Av",         "Elul"};
constexpr std::string_view french_codes[] = {"VEND", "BRUM", "FRIM", "NIVO", "PLUV", "VENT", "GERM",
                                             "FLOR", "PRAI", "MESS", "THER", "FRUC", "COMP"};
constexpr std::string_view french_names[] = {"Vendémiaire",
                                             "Brumaire",
                                             "Frimaire",
                                             "Nivôse",
                                             "Pluviôse",
                                             "Ventôse",
                                             "Germinal",
                                             "Floréal",
                                             "Prairial",
                                             "Messidor",
                                             "Thermidor",
                                             "Fructidor",
                                             "jours complémentaires"};

struct MonthTable {
    std::span<const std::string_view> codes;  // as GEDCOM writes them
    std::span<const std::string_view> names;  // for display
};

// A calendar's months; the Gregorian twelve for every calendar without months of its own.
MonthTable months_of(Calendar calendar) noexcept {
    switch (calendar) {
        case Calendar::Hebrew:
            return {hebrew_codes, hebrew_names};
        case Calendar::FrenchRepublican:
            return {french_codes, french_names};
        default:
            return {gedcom_months, display_months};
    }
}

bool has_own_months(Calendar calendar) noexcept {
    return calendar == Calendar::Hebrew || calendar == Calendar::FrenchRepublican;
}

constexpr std::int32_t max_year = 9999;

// ---------------------------------------------------------------------------
// Small byte helpers.

using ascii::is_ascii;
using ascii::is_digit;

// Where the run of ASCII digits that starts at `pos` ends.
std::size_t digits_end(std::string_view text, std::size_t pos) noexcept {
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    return pos;
}

bool all_digits(std::string_view text) noexcept {
    if (text.empty()) return false;
    for (char c : text)
        if (!is_digit(c)) return false;
    return true;
}

bool all_ascii(std::string_view text) noexcept {
    for (char c : text)
        if (!is_ascii(c)) return false;
    return true;
}

// The value of a run of ASCII digits, stopping at `cap` so that long runs of
// digits cannot overflow; callers compare against limits below the cap.
std::uint32_t digits_value(std::string_view digits, std::uint32_t cap) noexcept {
    std::uint32_t value = 0;
    for (char c : digits) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value >= cap) return cap;
    }
    return value;
}

std::string_view trim_non_digits(std::string_view text) noexcept {
    while (!text.empty() && !is_digit(text.front())) text.remove_prefix(1);
    while (!text.empty() && !is_digit(text.back())) text.remove_suffix(1);
    return text;
}

bool is_alphanumeric_at(std::string_view text, std::size_t start, std::size_t& next) noexcept {
    next = start;
    const char32_t cp = unicode::next_code_point(text, next);
    return cp != unicode::replacement_character && unicode::is_alphanumeric(cp);
}

// Removes everything that is not a letter or digit from both ends.
std::string_view trim_non_alphanumeric(std::string_view text) noexcept {
    std::size_t start = 0;
    while (start < text.size()) {
        if (is_ascii(text[start])) {
            if (ascii::is_alnum(text[start])) break;
            ++start;
            continue;
        }
        std::size_t next = 0;
        if (is_alphanumeric_at(text, start, next)) break;
        start = next;
    }
    std::size_t end = text.size();
    while (end > start) {
        if (is_ascii(text[end - 1])) {
            if (ascii::is_alnum(text[end - 1])) break;
            --end;
            continue;
        }
        const std::size_t cp_start = unicode::previous_code_point_start(text, end);
        std::size_t next = 0;
        if (is_alphanumeric_at(text, cp_start, next) && next == end) break;
        end = cp_start;
    }
    return text.substr(start, end - start);
}

bool has_alphanumeric(std::string_view run) noexcept {
    bool ascii = true;
    for (char c : run) {
        if (ascii::is_alnum(c)) return true;
        ascii = ascii && is_ascii(c);
    }
    if (ascii) return false;
    for (std::size_t pos = 0; pos < run.size();) {
        std::size_t next = 0;
        if (is_alphanumeric_at(run, pos, next)) return true;
        pos = next;
    }
    return false;
}

void append_number(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

// ---------------------------------------------------------------------------
// Keyword matching.

// The first code points of a text that does not begin with plain ASCII, each
// lower-cased on its own, with the offset in the text where each one ends.
// Built at most once per keyword search, and only on the slow path.
class LoweredPrefix {
  public:
    explicit LoweredPrefix(std::string_view text) {
        std::size_t pos = 0;
        while (pos < text.size() && cuts_count_ < cuts_.size() &&
               lowered_.size() <= longest_keyword) {
            const std::size_t start = pos;
            const char32_t cp = unicode::next_code_point(text, pos);
            if (cp < 0x80) {
                lowered_.push_back(ascii::to_lower(static_cast<char>(cp)));
            } else if (cp == unicode::replacement_character) {
                unicode::append_utf8(lowered_, cp);
            } else {
                lowered_ += unicode::to_lower(text.substr(start, pos - start));
            }
            cuts_[cuts_count_++] = {lowered_.size(), pos};
        }
    }

    // Where the keyword ends in the text, when the text's lower-cased
    // beginning is exactly the lower-cased keyword.
    std::optional<std::size_t> match(std::string_view lowered_keyword) const {
        for (std::size_t i = 0; i < cuts_count_; ++i) {
            const auto [lowered_length, text_offset] = cuts_[i];
            if (lowered_length > lowered_keyword.size()) break;
            if (lowered_length == lowered_keyword.size())
                return lowered_.compare(0, lowered_length, lowered_keyword) == 0
                           ? std::optional<std::size_t>(text_offset)
                           : std::nullopt;
        }
        return std::nullopt;
    }

    static constexpr std::size_t longest_keyword = 16;

  private:
    std::string lowered_;
    std::array<std::pair<std::size_t, std::size_t>, longest_keyword + 1> cuts_{};
    std::size_t cuts_count_ = 0;
};

// A keyword list together with the keywords' full lower-case forms.
class KeywordList {
  public:
    explicit KeywordList(Keywords words) : words_(words) {
        for (std::string_view word : words) {
            lowered_.push_back(unicode::to_lower(word));
            const char first = lowered_.back().front();
            if (is_ascii(first)) ascii_starts_[static_cast<unsigned char>(first)] = true;
        }
    }
    std::size_t size() const noexcept { return words_.size(); }
    std::string_view lowered(std::size_t i) const noexcept { return lowered_[i]; }
    // False when no keyword can begin a text that begins with this ASCII byte,
    // which settles most dates ("5 JAN 1900") without looking at a keyword.
    bool may_start(char c) const noexcept {
        return !is_ascii(c) || ascii_starts_[static_cast<unsigned char>(ascii::to_lower(c))];
    }

  private:
    Keywords words_;
    std::vector<std::string> lowered_;
    std::array<bool, 128> ascii_starts_{};
};

// Where `lowered_keyword` ends when the text begins with it. Texts whose
// first bytes are ASCII are compared byte by byte; others go through ICU.
std::optional<std::size_t> keyword_end(std::string_view text, std::string_view lowered_keyword,
                                       std::optional<LoweredPrefix>& slow) {
    const std::string_view head = text.substr(0, lowered_keyword.size());
    if (all_ascii(head)) {
        if (head.size() < lowered_keyword.size()) return std::nullopt;
        for (std::size_t i = 0; i < head.size(); ++i)
            if (ascii::to_lower(head[i]) != lowered_keyword[i]) return std::nullopt;
        return head.size();
    }
    if (!slow) slow.emplace(text);
    return slow->match(lowered_keyword);
}

std::optional<std::string_view> strip_keyword_in(std::string_view text,
                                                 const KeywordList& keywords) {
    text = unicode::trim(text);
    if (text.empty() || !keywords.may_start(text.front())) return std::nullopt;
    std::optional<LoweredPrefix> slow;
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        const auto end = keyword_end(text, keywords.lowered(i), slow);
        if (!end || *end >= text.size()) continue;
        const char next = text[*end];
        if (next == ' ' || next == '.') {
            const std::string_view rest = unicode::trim(text.substr(*end + 1));
            if (!rest.empty()) return rest;
        } else if (is_digit(next)) {
            return text.substr(*end);
        }
    }
    return std::nullopt;
}

// The keyword lists in their matching form, built once.
struct KeywordTables {
    KeywordList bet{bet_words};
    KeywordList from{from_words};
    KeywordList opening{opening_words};
    KeywordList closing{closing_words};
    std::vector<KeywordList> qualifiers;

    KeywordTables() {
        for (const Qualifier& qualifier : qualifier_lists) qualifiers.emplace_back(qualifier.words);
    }
};

const KeywordTables& keyword_tables() {
    static const KeywordTables tables;
    return tables;
}

// ---------------------------------------------------------------------------
// Points.

// Drops the surrounding white space and any trailing ";", "," and ".".
std::string_view trim_point(std::string_view text) {
    text = unicode::trim(text);
    while (!text.empty() && (text.back() == ';' || text.back() == ',' || text.back() == '.'))
        text.remove_suffix(1);
    return unicode::trim(text);
}

// The text before an era suffix ("500 BCE", "500 B.C"), when it has one.
std::optional<std::string_view> strip_era(std::string_view text) {
    if (text.size() <= 2) return std::nullopt;
    for (std::string_view suffix : {"BCE", "bce", "B.C", "b.c"}) {
        if (text.ends_with(suffix))
            return unicode::trim_end(text.substr(0, text.size() - suffix.size()));
    }
    return std::nullopt;
}

std::optional<std::uint8_t> small_number_in(std::string_view digits, std::uint32_t low,
                                            std::uint32_t high) {
    const std::uint32_t value = digits_value(digits, 256);
    if (value < low || value > high) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

struct NumericReading {
    bool shaped = false;  // whether the text has the shape of a numeric date at all
    std::optional<DatePoint> point;
};

// A numeric date ("1900-01-05", "05.01.1900", "01/05/1900").
NumericReading read_numeric(std::string_view text) {
    // Every byte of a numeric date is a digit or a separator; checking that
    // first spares most dates the splitting below.
    for (char c : text)
        if (!is_digit(c) && c != '.' && c != '/' && c != '-') return {};
    for (char separator : {'.', '/', '-'}) {
        const std::size_t first_cut = text.find(separator);
        if (first_cut == std::string_view::npos) continue;
        const std::size_t second_cut = text.find(separator, first_cut + 1);
        if (second_cut == std::string_view::npos) continue;
        const std::string_view a = text.substr(0, first_cut);
        const std::string_view b = text.substr(first_cut + 1, second_cut - first_cut - 1);
        const std::string_view c = text.substr(second_cut + 1);
        if (!all_digits(a) || !all_digits(b) || !all_digits(c)) continue;

        DatePoint point;
        std::string_view month_part = b;
        std::string_view day_part = c;
        if (a.size() == 4) {
            point.year = static_cast<std::int32_t>(digits_value(a, 10000));
        } else {
            const auto year = date_parts::parse_year(c);
            if (!year) return {true, std::nullopt};
            point.year = *year;
            month_part = separator == '/' ? a : b;
            day_part = separator == '/' ? b : a;
        }
        point.month = small_number_in(month_part, 1, 12);
        point.day = small_number_in(day_part, 1, 31);
        return {true, point};
    }
    return {};
}

bool is_filler(std::string_view token) noexcept {
    for (std::string_view word : filler_words)
        if (ascii::iequals(token, word)) return true;
    return false;
}

void append_runs(std::string_view piece, date_parts::TokenList& tokens, bool drop_fillers) {
    std::size_t start = 0;
    while (start < piece.size()) {
        const bool digits = is_digit(piece[start]);
        std::size_t end = start + 1;
        while (end < piece.size() && is_digit(piece[end]) == digits) ++end;
        const std::string_view run = piece.substr(start, end - start);
        if (has_alphanumeric(run) && !(drop_fillers && is_filler(run))) tokens.push(run);
        start = end;
    }
}

// Splits a point at spaces, no-break spaces and commas, then into runs.
date_parts::TokenList tokens_of(std::string_view text) {
    date_parts::TokenList tokens;
    constexpr std::string_view no_break_space = "\xC2\xA0";
    std::size_t start = 0;
    for (std::size_t pos = 0; pos <= text.size();) {
        std::size_t width = 0;
        if (pos == text.size() || text[pos] == ' ' || text[pos] == ',')
            width = 1;
        else if (text.substr(pos, 2) == no_break_space)
            width = 2;
        if (width == 0) {
            ++pos;
            continue;
        }
        append_runs(text.substr(start, pos - start), tokens, true);
        pos += width;
        start = pos;
        if (tokens.size() > 4) break;  // no point has more than four tokens
    }
    return tokens;
}

// A month of the calendar: its own codes for the Hebrew and French Republican
// calendars (ignoring ASCII case), any spelling `month_number` knows otherwise.
std::optional<std::uint8_t> month_in(Calendar calendar, std::string_view token) {
    if (!has_own_months(calendar)) return date_parts::month_number(token);
    token = trim_non_alphanumeric(token);
    const auto codes = months_of(calendar).codes;
    for (std::size_t i = 0; i < codes.size(); ++i)
        if (ascii::iequals(token, codes[i])) return static_cast<std::uint8_t>(i + 1);
    return std::nullopt;
}

std::optional<DatePoint> point_from_tokens(const date_parts::TokenList& tokens, Calendar calendar) {
    using namespace date_parts;
    std::optional<std::int32_t> year;
    std::optional<std::uint8_t> month;
    std::optional<std::uint8_t> day;
    switch (tokens.size()) {
        case 1:
            year = parse_year(tokens[0]);
            if (!year) return std::nullopt;
            return DatePoint{*year, std::nullopt, std::nullopt};
        case 2:
            year = parse_year(tokens[1]);
            month = month_in(calendar, tokens[0]);
            if (!year || !month) return std::nullopt;
            return DatePoint{*year, month, std::nullopt};
        case 3: {
            year = parse_year(tokens[2]);
            if (!year) return std::nullopt;
            const bool second_is_number = all_digits(tokens[1]);
            if (!second_is_number || (all_digits(tokens[0]) && month_in(calendar, tokens[1]))) {
                month = month_in(calendar, tokens[1]);  // "5 JAN 1900", "05 01 1900"
                day = parse_day(tokens[0]);
            } else {
                month = month_in(calendar, tokens[0]);  // "JAN 5 1900"
                day = parse_day(tokens[1]);
            }
            break;
        }
        case 4:
            year = parse_year(tokens[3]);  // "January 5th, 1900"
            month = month_in(calendar, tokens[0]);
            if (!month) month = month_in(calendar, tokens[1]);
            day = parse_day(tokens[1]);
            if (!day) day = parse_day(tokens[2]);
            break;
        default:
            return std::nullopt;
    }
    if (!year || !month || !day) return std::nullopt;
    return DatePoint{*year, month, day};
}

std::optional<DatePoint> read_point(std::string_view text, bool era_allowed, Calendar calendar);

// "5 JAN 1700/01" reads as "5 JAN 1700".
std::optional<DatePoint> read_trailing_dual_year(std::string_view text, bool era_allowed,
                                                 Calendar calendar) {
    const std::size_t space = text.rfind(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const auto dual = date_parts::parse_dual_year(text.substr(space + 1));
    if (!dual) return std::nullopt;
    std::string rewritten(text.substr(0, space));
    rewritten.push_back(' ');
    append_number(rewritten, dual->year);
    return read_point(rewritten, era_allowed, calendar);
}

// An era suffix is read once: "500 BCE BCE" is not a year of the common era.
// The months are the calendar's; a calendar with months of its own has no
// numeric dates, whose month numbers would be ambiguous.
std::optional<DatePoint> read_point(std::string_view text, bool era_allowed, Calendar calendar) {
    text = trim_point(text);
    if (text.empty()) return std::nullopt;
    if (era_allowed) {
        if (const auto before_era = strip_era(text)) {
            auto point = read_point(*before_era, false, calendar);
            if (point) point->year = -point->year;
            return point;
        }
    }
    if (auto numeric = read_numeric(text); numeric.shaped)
        return has_own_months(calendar) ? std::nullopt : numeric.point;
    if (auto dual = date_parts::parse_dual_year(text)) return dual;
    if (text.rfind(' ') != std::string_view::npos) {
        if (auto point = read_trailing_dual_year(text, era_allowed, calendar)) return point;
    }
    return point_from_tokens(tokens_of(text), calendar);
}

std::optional<std::uint8_t> month_from_name(std::string_view lowered) {
    if (lowered.empty()) return std::nullopt;
    for (const MonthName& entry : month_names)
        if (entry.name.front() == lowered.front() && entry.name == lowered) return entry.month;
    if (lowered.size() < 3) return std::nullopt;
    for (const auto& [name, month] : english_months)
        if (name.starts_with(lowered)) return month;
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Calendars.

Calendar calendar_named(std::string_view name) {
    using ascii::iequals;
    if (iequals(name, "GREGORIAN")) return Calendar::Gregorian;
    if (iequals(name, "JULIAN")) return Calendar::Julian;
    if (iequals(name, "HEBREW")) return Calendar::Hebrew;
    if (iequals(name, "FRENCH R") || iequals(name, "FRENCH_R")) return Calendar::FrenchRepublican;
    if (iequals(name, "ROMAN")) return Calendar::Roman;
    return Calendar::Unknown;
}

struct CalendarPrefix {
    Calendar calendar;
    std::string_view rest;
};

// A calendar escape ("@#DJULIAN@ ") or a bare calendar word in upper case
// ("JULIAN ") at the start of a text.
std::optional<CalendarPrefix> read_calendar_prefix(std::string_view text) {
    if (text.empty() || is_digit(text.front())) return std::nullopt;
    if (text.starts_with("@#D")) {
        const std::size_t close = text.find('@', 3);
        if (close != std::string_view::npos) {
            const Calendar calendar = calendar_named(unicode::trim(text.substr(3, close - 3)));
            return CalendarPrefix{calendar, unicode::trim(text.substr(close + 1))};
        }
    }
    constexpr std::pair<std::string_view, Calendar> words[] = {
        {"GREGORIAN ", Calendar::Gregorian}, {"JULIAN ", Calendar::Julian},
        {"HEBREW ", Calendar::Hebrew},       {"FRENCH_R ", Calendar::FrenchRepublican},
        {"ROMAN ", Calendar::Roman},
    };
    for (const auto& [word, calendar] : words)
        if (text.starts_with(word))
            return CalendarPrefix{calendar, unicode::trim(text.substr(word.size()))};
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Reading a whole date.

struct Reading {
    DateKind kind = DateKind::Unparsed;
    std::optional<DatePoint> earliest;
    std::optional<DatePoint> latest;
};

// Reads the body of a date (calendar escape and phrase already taken off).
// GEDCOM 5.5.1 writes the calendar escape of each date after its keyword
// ("ABT @#DJULIAN@ 1700", "BET @#DJULIAN@ 1700 AND @#DJULIAN@ 1710") and
// GEDCOM 7 does the same with bare words ("ABT JULIAN 1700"), so every point
// may carry one; a point whose calendar contradicts one already given does
// not read.
class BodyReader {
  public:
    BodyReader(Calendar calendar, bool calendar_given)
        : calendar_(calendar), calendar_given_(calendar_given) {}

    Calendar calendar() const noexcept { return calendar_; }

    Reading read(std::string_view body) {
        const KeywordTables& tables = keyword_tables();
        if (auto range = read_pair(body, and_words, tables.bet, DateKind::Between)) return *range;
        if (auto period = read_pair(body, to_words, tables.from, DateKind::Period)) return *period;
        if (const auto rest = strip_keyword_in(body, tables.opening))
            return {DateKind::Period, point(*rest), std::nullopt};
        if (const auto rest = strip_keyword_in(body, tables.closing))
            return {DateKind::Period, std::nullopt, point(*rest)};
        for (std::size_t i = 0; i < tables.qualifiers.size(); ++i) {
            const auto rest = strip_keyword_in(body, tables.qualifiers[i]);
            if (!rest) continue;
            return qualified(qualifier_lists[i].kind, point(*rest));
        }
        return read_plain(body);
    }

  private:
    std::optional<DatePoint> point(std::string_view text) {
        const auto prefix = read_calendar_prefix(text);
        if (!prefix) {
            auto read = read_point(text, true, calendar_);
            // A point without an escape is in the date's calendar, so a later
            // point may not name another one.
            if (read) calendar_given_ = true;
            return read;
        }
        if (calendar_given_ && prefix->calendar != calendar_) return std::nullopt;
        auto read = read_point(prefix->rest, true, prefix->calendar);
        if (read) {
            calendar_ = prefix->calendar;
            calendar_given_ = true;
        }
        return read;
    }

    // "BET x AND y", "FROM x TO y" and their translations.
    std::optional<Reading> read_pair(std::string_view body, Keywords separators,
                                     const KeywordList& openers, DateKind kind) {
        const auto parts = date_parts::split_keyword(body, separators);
        if (!parts) return std::nullopt;
        const auto first = strip_keyword_in(parts->first, openers);
        if (!first) return std::nullopt;
        Reading reading{kind, point(*first), point(parts->second)};
        if (!reading.earliest && !reading.latest) return std::nullopt;
        return reading;
    }

    static Reading qualified(DateKind kind, std::optional<DatePoint> read) {
        if (!read) return {};
        switch (kind) {
            case DateKind::Before:
                return {kind, std::nullopt, read};
            case DateKind::After:
                return {kind, read, std::nullopt};
            default:
                return {kind, read, read};
        }
    }

    Reading read_plain(std::string_view body) {
        if (body.size() > 1 && body.front() == '<' && body.back() == '>') {
            if (auto inner = point(body.substr(1, body.size() - 2)))
                return {DateKind::About, inner, inner};
        }
        if (auto whole = point(body)) return {DateKind::Exact, whole, whole};
        return {};
    }

    Calendar calendar_;
    bool calendar_given_;
};

// Takes a parenthesised phrase out of the body. The phrase runs from the
// first "(" to the last ")", so that phrases may nest parentheses.
std::string_view cut_phrase(std::string_view body, std::optional<std::string>& phrase,
                            std::string& storage) {
    const std::size_t open = body.find('(');
    const std::size_t close = body.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return body;
    const std::string_view inside = unicode::trim(body.substr(open + 1, close - open - 1));
    if (!inside.empty()) phrase.emplace(inside);
    storage.assign(body.substr(0, open));
    storage.push_back(' ');
    storage.append(body.substr(close + 1));
    return unicode::trim(storage);
}

// ---------------------------------------------------------------------------
// Writing.

// Whether the point survives being written and read back: a GEDCOM date has
// no day without a month, and the reader takes years up to 9999 only.
bool writable(const DatePoint& point, Calendar calendar) noexcept {
    if (point.year > max_year || point.year < -max_year) return false;
    const std::size_t months = months_of(calendar).codes.size();
    if (point.month && (*point.month < 1 || *point.month > months)) return false;
    if (point.day && (!point.month || *point.day < 1 || *point.day > 31)) return false;
    return true;
}

bool is_negative(const std::optional<DatePoint>& point) noexcept {
    return point && point->year < 0;
}

// Whether the reading has the points its kind's payload needs, all writable.
bool has_writable_points(const GedcomDate& date) {
    if ((date.earliest && !writable(*date.earliest, date.calendar)) ||
        (date.latest && !writable(*date.latest, date.calendar)))
        return false;
    switch (date.kind) {
        case DateKind::Unparsed:
            return false;
        case DateKind::Between:
            return date.earliest && date.latest;
        case DateKind::Before:
            return date.latest.has_value();
        case DateKind::Period:
            return date.earliest || date.latest;
        default:
            return date.earliest.has_value();
    }
}

// The payload of every kind but `Unparsed`, from its points already written.
std::string keyword_payload(DateKind kind, const std::string& earliest, const std::string& latest,
                            bool has_earliest, bool has_latest) {
    switch (kind) {
        case DateKind::About:
            return "ABT " + earliest;
        case DateKind::Calculated:
            return "CAL " + earliest;
        case DateKind::Estimated:
            return "EST " + earliest;
        case DateKind::Before:
            return "BEF " + latest;
        case DateKind::After:
            return "AFT " + earliest;
        case DateKind::Between:
            return "BET " + earliest + " AND " + latest;
        case DateKind::Period:
            if (has_earliest && has_latest) return "FROM " + earliest + " TO " + latest;
            return has_earliest ? "FROM " + earliest : "TO " + latest;
        default:
            return earliest;
    }
}

struct DualYearPlacement {
    bool on_earliest = false;
    bool on_latest = false;
    bool lost = false;  // the text holds a dual year that cannot be written
    std::int32_t second = 0;
};

// Where GEDCOM 5.5.1 writes the dual year of the original text: on the point
// whose year it is, and only in the form 5.5.1 knows (the next year, two
// digits, after a year the reader takes as a dual year's first). A dual year
// that cannot be written leaves an exact date to be written as INT with the
// text as its phrase; any other reading cannot be written at all.
DualYearPlacement place_dual_year(const GedcomDate& date) {
    const auto dual = date_parts::dual_year(date.original);
    DualYearPlacement placement;
    if (!dual) return placement;
    const bool negative = is_negative(date.earliest) || is_negative(date.latest);
    // "9/10" would read back as a day and a month.
    const bool readable = dual->first >= 100;
    if (!negative && readable && date.calendar == Calendar::Gregorian &&
        dual->second == dual->first + 1) {
        placement.on_earliest = date.earliest && date.earliest->year == dual->first;
        placement.on_latest =
            !placement.on_earliest && date.latest && date.latest->year == dual->first;
        placement.second = dual->second;
    }
    placement.lost = !placement.on_earliest && !placement.on_latest;
    return placement;
}

// GEDCOM 5.5.1's calendar escape before each point, with its space; none for
// the Gregorian calendar, which is the default.
std::string_view escape_5_5_1(Calendar calendar) noexcept {
    switch (calendar) {
        case Calendar::Julian:
            return "@#DJULIAN@ ";
        case Calendar::Hebrew:
            return "@#DHEBREW@ ";
        case Calendar::FrenchRepublican:
            return "@#DFRENCH R@ ";
        default:
            return "";
    }
}

std::string bracketed(std::string_view phrase) {
    std::string out(phrase);
    for (char& c : out) {
        if (c == '(')
            c = '[';
        else if (c == ')')
            c = ']';
    }
    return out;
}

std::string_view display_word(DateKind kind) {
    switch (kind) {
        case DateKind::About:
            return "about";
        case DateKind::Calculated:
            return "calculated";
        case DateKind::Estimated:
            return "estimated";
        case DateKind::Before:
            return "before";
        case DateKind::After:
            return "after";
        case DateKind::Interpreted:
            return "interpreted as";
        default:
            return {};
    }
}

void write_point_value(ValueWriter& out, const std::optional<DatePoint>& point) {
    if (point)
        point->write_value(out);
    else
        out.null();
}

}  // namespace

// ---------------------------------------------------------------------------
// Public reading interface.

std::string_view to_string(Calendar calendar) noexcept {
    switch (calendar) {
        case Calendar::Gregorian:
            return "Gregorian";
        case Calendar::Julian:
            return "Julian";
        case Calendar::Hebrew:
            return "Hebrew";
        case Calendar::FrenchRepublican:
            return "FrenchRepublican";
        case Calendar::Roman:
            return "Roman";
        case Calendar::Unknown:
            return "Unknown";
    }
    return "Unknown";
}

std::string_view to_string(DateKind kind) noexcept {
    switch (kind) {
        case DateKind::Exact:
            return "Exact";
        case DateKind::About:
            return "About";
        case DateKind::Calculated:
            return "Calculated";
        case DateKind::Estimated:
            return "Estimated";
        case DateKind::Before:
            return "Before";
        case DateKind::After:
            return "After";
        case DateKind::Between:
            return "Between";
        case DateKind::Period:
            return "Period";
        case DateKind::Interpreted:
            return "Interpreted";
        case DateKind::Unparsed:
            return "Unparsed";
    }
    return "Unparsed";
}

GedcomDate GedcomDate::parse(std::string_view text) {
    GedcomDate date;
    date.original.assign(text);
    const std::string_view trimmed = unicode::trim(text);
    std::string_view body = trimmed;
    bool calendar_given = false;
    if (const auto prefix = read_calendar_prefix(trimmed)) {
        date.calendar = prefix->calendar;
        calendar_given = true;
        body = prefix->rest;
    }
    std::string joined;
    body = cut_phrase(body, date.phrase, joined);

    BodyReader reader(date.calendar, calendar_given);
    const Reading reading = body.empty() ? Reading{} : reader.read(body);
    date.calendar = reader.calendar();
    date.kind = reading.kind;
    if (reading.kind == DateKind::Unparsed) {
        if (!date.phrase) date.phrase.emplace(trimmed);
        return date;
    }
    date.earliest = reading.earliest;
    date.latest = reading.latest;
    return date;
}

namespace date_parts {

std::optional<DatePoint> parse_point(std::string_view text) {
    return read_point(text, true, Calendar::Gregorian);
}

std::optional<std::uint8_t> month_number(std::string_view token) {
    token = trim_non_alphanumeric(token);
    if (token.empty()) return std::nullopt;
    if (all_digits(token)) return small_number_in(token, 1, 12);
    if (all_ascii(token)) {
        if (token.size() > longest_month_name) return std::nullopt;
        char lowered[longest_month_name];
        for (std::size_t i = 0; i < token.size(); ++i) lowered[i] = ascii::to_lower(token[i]);
        return month_from_name({lowered, token.size()});
    }
    return month_from_name(unicode::to_lower(token));
}

std::optional<std::uint8_t> parse_day(std::string_view token) {
    token = trim_non_digits(token);
    if (!all_digits(token)) return std::nullopt;
    return small_number_in(token, 1, 31);
}

std::optional<std::int32_t> parse_year(std::string_view token) {
    token = trim_non_digits(token);
    token = token.substr(0, token.find('/'));
    if (!all_digits(token)) return std::nullopt;
    const std::uint32_t value = digits_value(token, max_year + 1);
    if (value > max_year) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<DatePoint> parse_dual_year(std::string_view text) {
    const std::size_t slash = text.substr(0, 5).find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view first = text.substr(0, slash);
    if (first.size() < 3 || first.size() > 4 || !all_digits(first)) return std::nullopt;
    if (!all_digits(text.substr(slash + 1))) return std::nullopt;
    return DatePoint{static_cast<std::int32_t>(digits_value(first, 10000)), std::nullopt,
                     std::nullopt};
}

std::optional<std::pair<std::string_view, std::string_view>> split_keyword(std::string_view text,
                                                                           Keywords keywords) {
    // One pass over the words between two spaces, keeping the first
    // occurrence of the earliest keyword in list order.
    std::size_t best_keyword = keywords.size();
    std::size_t best_space = 0;
    for (std::size_t space = text.find(' '); space != std::string_view::npos;) {
        const std::size_t next_space = text.find(' ', space + 1);
        if (next_space == std::string_view::npos) break;
        const std::string_view word = text.substr(space + 1, next_space - space - 1);
        for (std::size_t i = 0; i < best_keyword; ++i) {
            if (ascii::iequals(word, keywords[i])) {
                best_keyword = i;
                best_space = space;
                break;
            }
        }
        if (best_keyword == 0) break;
        space = next_space;
    }
    if (best_keyword == keywords.size()) return std::nullopt;
    const std::size_t after = best_space + keywords[best_keyword].size() + 2;
    return std::pair(text.substr(0, best_space), text.substr(after));
}

std::optional<std::string_view> strip_keyword(std::string_view text, Keywords keywords) {
    return strip_keyword_in(text, KeywordList(keywords));
}

TokenList split_runs(std::string_view piece) {
    TokenList runs;
    append_runs(piece, runs, false);
    return runs;
}

std::optional<DualYear> dual_year(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (!is_digit(text[pos])) {
            ++pos;
            continue;
        }
        const std::size_t run_end = digits_end(text, pos);
        const std::size_t run_length = run_end - pos;
        const std::size_t after_end = digits_end(text, run_end + 1);
        const std::size_t after_length = after_end - run_end - 1;
        const bool shaped = (run_length == 3 || run_length == 4) && run_end < text.size() &&
                            text[run_end] == '/' && after_length > 0 &&
                            (after_end == text.size() || text[after_end] != '/');
        if (shaped) {
            const auto first =
                static_cast<std::int32_t>(digits_value(text.substr(pos, run_length), 10000));
            const std::string_view after = text.substr(run_end + 1, after_length);
            if (after_length >= run_length)
                return DualYear{first, static_cast<std::int32_t>(digits_value(after, 1000000000))};
            std::int32_t scale = 1;
            for (std::size_t i = 0; i < after_length; ++i) scale *= 10;
            std::int32_t second =
                first - first % scale + static_cast<std::int32_t>(digits_value(after, 10000));
            if (second <= first) second += scale;
            return DualYear{first, second};
        }
        pos = run_end;
    }
    return std::nullopt;
}

}  // namespace date_parts

// ---------------------------------------------------------------------------
// Writing.

namespace {

// "5 January " or "January " with the month named from `months`; nothing
// without a month (a day alone is not shown).
void append_day_and_month(std::string& out, const DatePoint& point,
                          std::span<const std::string_view> months) {
    if (!point.month || *point.month < 1 || *point.month > months.size()) return;
    if (point.day) {
        append_number(out, *point.day);
        out.push_back(' ');
    }
    out.append(months[*point.month - 1]);
    out.push_back(' ');
}

}  // namespace

std::string DatePoint::display(Calendar calendar) const {
    std::string out;
    append_day_and_month(out, *this, months_of(calendar).names);
    append_number(out, year);
    return out;
}

std::string DatePoint::to_gedcom(Calendar calendar) const {
    std::string out;
    append_day_and_month(out, *this, months_of(calendar).codes);
    append_number(out, std::llabs(static_cast<long long>(year)));
    if (year < 0) out.append(" BCE");
    return out;
}

void DatePoint::write_value(ValueWriter& out) const {
    out.start_object().key(Key::year).integer(year);
    out.key(Key::month).optional_integer(month);
    out.key(Key::day).optional_integer(day);
    out.end_object();
}

std::string GedcomDate::display() const {
    if (kind == DateKind::Unparsed || (!earliest && !latest))
        return std::string(unicode::trim(original));
    switch (kind) {
        case DateKind::Exact:
            return (earliest ? earliest : latest)->display(calendar);
        case DateKind::Between:
            if (earliest && latest)
                return "between " + earliest->display(calendar) + " and " +
                       latest->display(calendar);
            return "between " + (earliest ? earliest : latest)->display(calendar);
        case DateKind::Period:
            if (earliest && latest)
                return "from " + earliest->display(calendar) + " to " + latest->display(calendar);
            return earliest ? "from " + earliest->display(calendar)
                            : "to " + latest->display(calendar);
        default:
            return std::string(display_word(kind)) + " " +
                   (earliest ? earliest : latest)->display(calendar);
    }
}

std::optional<std::string> GedcomDate::to_gedcom_7() const {
    if (calendar == Calendar::Roman || calendar == Calendar::Unknown) return std::nullopt;
    if ((is_negative(earliest) || is_negative(latest)) && calendar != Calendar::Gregorian)
        return std::nullopt;
    if (date_parts::dual_year(original)) return std::nullopt;
    if (!has_writable_points(*this)) return std::nullopt;

    std::string_view prefix;
    if (calendar == Calendar::Julian)
        prefix = "JULIAN ";
    else if (calendar == Calendar::Hebrew)
        prefix = "HEBREW ";
    else if (calendar == Calendar::FrenchRepublican)
        prefix = "FRENCH_R ";
    const auto write_point = [&](const std::optional<DatePoint>& point) {
        return point ? std::string(prefix) + point->to_gedcom(calendar) : std::string();
    };
    return keyword_payload(kind, write_point(earliest), write_point(latest), earliest.has_value(),
                           latest.has_value());
}

namespace {

// Reads `word` off the front of `text` when a space or the end follows it,
// and that space.
bool take_word(std::string_view& text, std::string_view word) noexcept {
    if (!text.starts_with(word)) return false;
    const std::string_view rest = text.substr(word.size());
    if (!rest.empty() && rest.front() != ' ') return false;
    text = rest.empty() ? rest : rest.substr(1);
    return true;
}

// Reads a number of 1 to `digits` digits, with no leading zero and at most
// `largest`, and the space after it.
bool take_number(std::string_view& text, std::size_t digits, int largest) noexcept {
    std::size_t length = 0;
    int value = 0;
    while (length < text.size() && length <= digits && is_digit(text[length]))
        value = value * 10 + (text[length++] - '0');
    if (length == 0 || length > digits || text.front() == '0' || value > largest) return false;
    return take_word(text, text.substr(0, length));
}

// One Gregorian point in the shape the version 7 writer gives it: "YEAR",
// "MON YEAR" or "D MON YEAR". Days stop at 28, so that every day read here
// exists in every month.
bool take_plain_point(std::string_view& text) noexcept {
    std::string_view rest = text;
    const bool has_day = take_number(rest, 2, 28);
    // Month names are three letters, compared as such rather than by memcmp.
    const bool month_read =
        rest.size() >= 3 && (rest.size() == 3 || rest[3] == ' ') &&
        std::any_of(std::begin(gedcom_months), std::end(gedcom_months), [&](std::string_view name) {
            return rest[0] == name[0] && rest[1] == name[1] && rest[2] == name[2];
        });
    if (month_read) rest.remove_prefix(rest.size() == 3 ? 3 : 4);
    if (has_day && !month_read) return false;
    if (!take_number(rest, 4, 9999)) return false;
    text = rest;
    return true;
}

}  // namespace

bool is_plain_gedcom_7_date(std::string_view text) noexcept {
    if (text.empty() || text.back() == ' ') return false;
    if (take_word(text, "BET"))
        return take_plain_point(text) && take_word(text, "AND") && take_plain_point(text) &&
               text.empty();
    if (take_word(text, "FROM")) {
        if (!take_plain_point(text)) return false;
        return text.empty() || (take_word(text, "TO") && take_plain_point(text) && text.empty());
    }
    for (const std::string_view qualifier : {"ABT", "CAL", "EST", "BEF", "AFT", "TO"}) {
        if (take_word(text, qualifier)) break;
    }
    return take_plain_point(text) && text.empty();
}

bool is_exact_date_7(std::string_view text) noexcept {
    const auto is_integer = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), is_digit);
    };
    const std::size_t first = text.find(' ');
    const std::size_t last = text.rfind(' ');
    if (first == std::string_view::npos || first == last) return false;
    const std::string_view month = text.substr(first + 1, last - first - 1);
    return is_integer(text.substr(0, first)) && is_integer(text.substr(last + 1)) &&
           std::find(std::begin(gedcom_months), std::end(gedcom_months), month) !=
               std::end(gedcom_months);
}

std::optional<std::string> GedcomDate::to_gedcom_5_5_1() const {
    if (calendar == Calendar::Roman || calendar == Calendar::Unknown) return std::nullopt;
    if (!has_writable_points(*this)) return std::nullopt;
    if ((is_negative(earliest) || is_negative(latest)) && calendar != Calendar::Gregorian)
        return std::nullopt;
    const DualYearPlacement dual = place_dual_year(*this);
    if (dual.lost && kind != DateKind::Exact) return std::nullopt;

    const std::string_view prefix = escape_5_5_1(calendar);
    const auto write_point = [&](const std::optional<DatePoint>& point, bool carries_dual) {
        if (!point) return std::string();
        if (point->year < 0)
            return DatePoint{-point->year, point->month, point->day}.to_gedcom(calendar) + " B.C.";
        std::string out = std::string(prefix) + point->to_gedcom(calendar);
        if (carries_dual) {
            const std::int32_t last_two = dual.second % 100;
            out.push_back('/');
            if (last_two < 10) out.push_back('0');
            append_number(out, last_two);
        }
        return out;
    };
    const std::string first = write_point(earliest, dual.on_earliest);
    const std::string second = write_point(latest, dual.on_latest);

    std::optional<std::string_view> int_phrase = phrase;
    if (dual.lost && !int_phrase) int_phrase = unicode::trim(original);
    if (kind == DateKind::Exact || kind == DateKind::Interpreted) {
        if (int_phrase) return "INT " + first + " (" + bracketed(*int_phrase) + ")";
        if (kind == DateKind::Interpreted) return std::nullopt;
        return first;
    }
    if (phrase) return std::nullopt;
    return keyword_payload(kind, first, second, earliest.has_value(), latest.has_value());
}

namespace {

// The text with white space around it dropped, each run of it inside as one
// space, and ASCII letters in lower case.
std::string words_folded(std::string_view text) {
    std::string out;
    bool space = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t cp = unicode::next_code_point(text, pos);
        if (unicode::is_white_space(cp)) {
            space = !out.empty();
            continue;
        }
        if (space) out.push_back(' ');
        space = false;
        for (std::size_t i = start; i < pos; ++i) out.push_back(ascii::to_lower(text[i]));
    }
    return out;
}

}  // namespace

bool is_complete_reading(const GedcomDate& date) {
    if (date.phrase || date.kind == DateKind::Unparsed) return false;
    const std::string original = words_folded(date.original);
    for (const auto& written : {date.to_gedcom_5_5_1(), date.to_gedcom_7()})
        if (written && words_folded(*written) == original) return true;
    return false;
}

std::optional<std::string> to_interpreted_5_5_1(const GedcomDate& date, std::string_view phrase) {
    std::string out;
    if (!unicode::trim(date.original).empty()) {
        if (date.kind != DateKind::Exact || !is_complete_reading(date)) return std::nullopt;
        // A complete exact date is written as its point, dual year included.
        const auto written = date.to_gedcom_5_5_1();
        if (!written || written->starts_with("INT")) return std::nullopt;
        out.append("INT ").append(*written).push_back(' ');
    }
    out.push_back('(');
    out.append(phrase).push_back(')');
    return out;
}

std::optional<InterpretedDate> read_interpreted_5_5_1(std::string_view text) {
    text = unicode::trim(text);
    if (text.size() < 2 || text.back() != ')') return std::nullopt;
    if (text.front() == '(')
        return InterpretedDate{std::nullopt, std::string(text.substr(1, text.size() - 2))};
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos || open < 4 || !ascii::iequals(text.substr(0, 3), "INT") ||
        (text[3] != ' ' && text[3] != '\t'))
        return std::nullopt;
    GedcomDate date = GedcomDate::parse(unicode::trim(text.substr(3, open - 3)));
    if (date.kind != DateKind::Exact || !is_complete_reading(date)) return std::nullopt;
    return InterpretedDate{std::move(date),
                           std::string(text.substr(open + 1, text.size() - open - 2))};
}

std::optional<std::int32_t> GedcomDate::year_hint() const {
    if (earliest) return earliest->year;
    std::size_t pos = 0;
    while (pos < original.size()) {
        if (!is_digit(original[pos])) {
            ++pos;
            continue;
        }
        const std::size_t end = digits_end(original, pos);
        if (end - pos == 4) {
            const auto value = static_cast<std::int32_t>(
                digits_value(std::string_view(original).substr(pos, 4), 10000));
            if (value >= 1000 && value <= 2999) return value;
        }
        pos = end;
    }
    return std::nullopt;
}

void GedcomDate::write_value_fields(ValueWriter& out) const {
    out.key(Key::original).string(original);
    out.key(Key::calendar).string(to_string(calendar));
    out.key(Key::kind).string(to_string(kind));
    out.key(Key::earliest);
    write_point_value(out, earliest);
    out.key(Key::latest);
    write_point_value(out, latest);
    out.key(Key::phrase).optional_string(phrase);
}

void GedcomDate::write_value(ValueWriter& out) const {
    out.start_object();
    write_value_fields(out);
    out.end_object();
}

void DateReading::write_value(ValueWriter& out) const {
    out.start_object();
    date.write_value_fields(out);
    out.key(Key::display).string(date.display());
    out.key(Key::gedcom551).optional_string(date.to_gedcom_5_5_1());
    out.key(Key::gedcom7).optional_string(date.to_gedcom_7());
    out.end_object();
}

}  // namespace lignor
