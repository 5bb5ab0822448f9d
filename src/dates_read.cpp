// Reading dates: the GEDCOM grammar and the spellings people type, with
// keywords and month names in nine languages, numeric dates, ordinal
// suffixes, dual years, era suffixes and calendar escapes.
#include <algorithm>
#include <vector>

#include "ascii.hpp"
#include "dates_parts.hpp"
#include "unicode.hpp"

namespace lignor {

namespace {

using date_parts::append_number;
using date_parts::digits_end;
using date_parts::digits_value;
using date_parts::has_own_months;
using date_parts::max_year;
using date_parts::months_of;

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

using date_parts::MonthName;
using date_parts::Qualifier;

constexpr Qualifier qualifier_lists[] = {
    {DateKind::About, about_words},         {DateKind::Calculated, calculated_words},
    {DateKind::Estimated, estimated_words}, {DateKind::Before, before_words},
    {DateKind::After, after_words},         {DateKind::Interpreted, interpreted_words},
};

// Words that sit between the parts of a spelled-out date ("5 de enero de
// 1900", "le 5 janvier 1900") and are not parts themselves.
constexpr std::string_view filler_words[] = {"de", "of", "le", "den"};

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

// ---------------------------------------------------------------------------
// Small byte helpers.

using ascii::is_ascii;
using ascii::is_digit;

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

// The text before an era suffix ("500 BCE", "500 B.C", "500 BC"), when it has one.
std::optional<std::string_view> strip_era(std::string_view text) {
    if (text.size() <= 2) return std::nullopt;
    for (std::string_view suffix : {"BCE", "bce", "B.C", "b.c", "BC", "bc"}) {
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

// A month the token names in words; a number is not one.
std::optional<std::uint8_t> month_name_in(Calendar calendar, std::string_view token) {
    return all_digits(token) ? std::nullopt : month_in(calendar, token);
}

// "January 5th, 1900": a month's name, a day, one word more that is no
// number, and the year. So no number is a month here, and none is passed
// over: "Monday, 3 JAN 1900", "23/6 NOV 1907", "3 JAN 5 1900" and "age 5 in
// 1900" do not read.
std::optional<DatePoint> point_from_four_tokens(const date_parts::TokenList& tokens,
                                                Calendar calendar) {
    std::size_t month_at = 0;
    auto month = month_name_in(calendar, tokens[0]);
    if (!month) {
        month_at = 1;
        month = month_name_in(calendar, tokens[1]);
    }
    std::size_t day_at = 1;
    auto day = date_parts::parse_day(tokens[1]);
    if (!day) {
        day_at = 2;
        day = date_parts::parse_day(tokens[2]);
    }
    const auto year = date_parts::parse_year(tokens[3]);
    // Of tokens 0, 1 and 2, the one that is neither month nor day.
    const std::string_view other = tokens[3 - month_at - day_at];
    if (!year || !month || !day || all_digits(other)) return std::nullopt;
    return DatePoint{*year, month, day};
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
            return point_from_four_tokens(tokens, calendar);
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
    // Most dates name their months as GEDCOM does: those twelve first.
    if (lowered.size() == 3) {
        for (std::size_t i = 0; i < std::size(date_parts::gedcom_months); ++i)
            if (ascii::iequals(lowered, date_parts::gedcom_months[i]))
                return static_cast<std::uint8_t>(i + 1);
    }
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

// Reads the body of a date (the calendar named before it and the phrase
// already taken off) into its kind and points. Each point is in the calendar
// its own escape or word names (GEDCOM 5.5.1 writes "BET @#DJULIAN@ 1700 AND
// @#DJULIAN@ 1710", GEDCOM 7 "FROM 1670 TO JULIAN 1800"), or else in the one
// named before the whole date ("@#DJULIAN@ BET 1700 AND 1710"). The points
// are written where they belong, as copies of them cost more than reading.
class BodyReader {
  public:
    BodyReader(Calendar calendar, GedcomDate& date) : calendar_(calendar), date_(date) {}

    void read(std::string_view body) const {
        const KeywordTables& tables = keyword_tables();
        if (read_pair(body, and_words, tables.bet, DateKind::Between)) return;
        if (read_pair(body, to_words, tables.from, DateKind::Period)) return;
        if (const auto rest = strip_keyword_in(body, tables.opening))
            return set(DateKind::Period, point(*rest), std::nullopt);
        if (const auto rest = strip_keyword_in(body, tables.closing))
            return set(DateKind::Period, std::nullopt, point(*rest));
        for (std::size_t i = 0; i < tables.qualifiers.size(); ++i) {
            const auto rest = strip_keyword_in(body, tables.qualifiers[i]);
            if (!rest) continue;
            return qualified(qualifier_lists[i].kind, point(*rest));
        }
        read_plain(body);
    }

  private:
    std::optional<DatePoint> point(std::string_view text) const {
        const auto prefix = read_calendar_prefix(text);
        const Calendar calendar = prefix ? prefix->calendar : calendar_;
        auto read = read_point(prefix ? prefix->rest : text, true, calendar);
        if (read) read->calendar = calendar;
        return read;
    }

    void set(DateKind kind, const std::optional<DatePoint>& earliest,
             const std::optional<DatePoint>& latest) const {
        date_.kind = kind;
        date_.earliest = earliest;
        date_.latest = latest;
    }

    // "BET x AND y", "FROM x TO y" and their translations.
    bool read_pair(std::string_view body, Keywords separators, const KeywordList& openers,
                   DateKind kind) const {
        const auto parts = date_parts::split_keyword(body, separators);
        if (!parts) return false;
        const auto first = strip_keyword_in(parts->first, openers);
        if (!first) return false;
        const auto earliest = point(*first);
        const auto latest = point(parts->second);
        if (!earliest && !latest) return false;
        set(kind, earliest, latest);
        return true;
    }

    void qualified(DateKind kind, const std::optional<DatePoint>& read) const {
        if (!read) return;
        switch (kind) {
            case DateKind::Before:
                return set(kind, std::nullopt, read);
            case DateKind::After:
                return set(kind, read, std::nullopt);
            default:
                return set(kind, read, read);
        }
    }

    void read_plain(std::string_view body) const {
        if (body.size() > 1 && body.front() == '<' && body.back() == '>') {
            if (const auto inner = point(body.substr(1, body.size() - 2)))
                return set(DateKind::About, inner, inner);
        }
        if (const auto whole = point(body)) set(DateKind::Exact, whole, whole);
    }

    Calendar calendar_;
    GedcomDate& date_;
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

}  // namespace

GedcomDate GedcomDate::parse(std::string_view text) {
    GedcomDate date;
    date.original.assign(text);
    const std::string_view trimmed = unicode::trim(text);
    std::string_view body = trimmed;
    if (const auto prefix = read_calendar_prefix(trimmed)) {
        date.calendar = prefix->calendar;
        body = prefix->rest;
    }
    std::string joined;
    body = cut_phrase(body, date.phrase, joined);

    if (!body.empty()) BodyReader(date.calendar, date).read(body);
    if (date.kind == DateKind::Unparsed) {
        if (!date.phrase) date.phrase.emplace(trimmed);
        return date;
    }
    if (const auto& first = date.earliest ? date.earliest : date.latest)
        date.calendar = first->calendar;
    return date;
}

namespace date_parts {

const Vocabulary& vocabulary() noexcept {
    static constexpr Vocabulary words{qualifier_lists, bet_words, and_words,
                                      from_words,      to_words,  month_names};
    return words;
}

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

}  // namespace date_parts

}  // namespace lignor
