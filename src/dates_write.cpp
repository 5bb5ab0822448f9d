// Writing dates: the English display text, GEDCOM 7.0's grammar and its
// fast path for dates already in that form, GEDCOM 5.5.1's grammar and its
// interpreted dates, and whether a reading keeps all of its text.
#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "ascii.hpp"
#include "dates_parts.hpp"
#include "unicode.hpp"
#include "v7grammar.hpp"

namespace lignor {

namespace {

using ascii::is_digit;
using date_parts::append_number;
using date_parts::max_year;
using date_parts::months_of;

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
std::string_view escape_551(Calendar calendar) noexcept {
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

// A date of the Gregorian calendar as the version 7 writer gives it: no
// calendar word, no epoch, a year of up to four digits.
bool is_plain_point(const v7::DatePart& part) noexcept {
    return part.calendar.empty() && part.epoch.empty() && part.year.size() <= 4;
}

}  // namespace

bool is_plain_gedcom_7_date(std::string_view text) noexcept {
    const auto date = v7::read_date(text, v7table::Payload::Date);
    if (!date || date->form == v7::DateForm::Empty || !is_plain_point(date->first)) return false;
    const bool pair = date->form == v7::DateForm::Between || date->form == v7::DateForm::FromTo;
    if (pair && !is_plain_point(date->second)) return false;
    // The writer gives numbers without leading zeros.
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool word_start = at == 0 || text[at - 1] == ' ';
        if (word_start && text[at] == '0') return false;
    }
    return true;
}

bool is_exact_date_7(std::string_view text) noexcept {
    return v7::read_date(text, v7table::Payload::ExactDate).has_value();
}

std::optional<std::string> GedcomDate::to_gedcom_551() const {
    if (calendar == Calendar::Roman || calendar == Calendar::Unknown) return std::nullopt;
    if (!has_writable_points(*this)) return std::nullopt;
    if ((is_negative(earliest) || is_negative(latest)) && calendar != Calendar::Gregorian)
        return std::nullopt;
    const DualYearPlacement dual = place_dual_year(*this);
    if (dual.lost && kind != DateKind::Exact) return std::nullopt;

    const std::string_view prefix = escape_551(calendar);
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
    for (const auto& written : {date.to_gedcom_551(), date.to_gedcom_7()})
        if (written && words_folded(*written) == original) return true;
    return false;
}

std::optional<std::string> to_interpreted_551(const GedcomDate& date, std::string_view phrase) {
    std::string out;
    if (!unicode::trim(date.original).empty()) {
        if (date.kind != DateKind::Exact || !is_complete_reading(date)) return std::nullopt;
        // A complete exact date is written as its point, dual year included.
        const auto written = date.to_gedcom_551();
        if (!written || written->starts_with("INT")) return std::nullopt;
        out.append("INT ").append(*written).push_back(' ');
    }
    out.push_back('(');
    out.append(phrase).push_back(')');
    return out;
}

std::optional<InterpretedDate> read_interpreted_551(std::string_view text) {
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

}  // namespace lignor
