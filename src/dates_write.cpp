// Writing dates: the English display text, GEDCOM 7.0's grammar and its
// fast path for dates already in that form, GEDCOM 5.5.1's grammar and its
// interpreted dates, and whether a reading keeps all of its text.
#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "ascii.hpp"
#include "dates_parts.hpp"
#include "unicode.hpp"
#include "v7defs.hpp"

namespace lignor {

namespace {

using ascii::is_digit;
using date_parts::append_number;
using date_parts::max_year;
using date_parts::months_of;

// The word version 7 writes before a date of the calendar, or nothing for
// the Gregorian calendar, which is the default.
std::string_view calendar_word_7(Calendar calendar) noexcept {
    switch (calendar) {
        case Calendar::Julian:
            return "JULIAN";
        case Calendar::Hebrew:
            return "HEBREW";
        case Calendar::FrenchRepublican:
            return "FRENCH_R";
        default:
            return "";
    }
}

// Whether the calendar counts years before an epoch, as the Gregorian and
// Julian calendars do ("BCE" in version 7, "B.C." in 5.5.1, whose grammar
// gives the era to the same two).
bool has_bce_epoch(Calendar calendar) noexcept {
    const std::string_view word = calendar_word_7(calendar);
    const std::string_view name = word.empty() ? "GREGORIAN" : word;
    for (const v7table::Calendar& standard : v7table::calendars())
        if (standard.name == name)
            return std::ranges::find(standard.epochs, "BCE") != standard.epochs.end();
    return false;
}

// Whether both grammars can write the point and it survives being read
// back: a calendar both know, an era only where the calendar has one, no day
// without a month, and years up to 9999 only, as the reader takes.
bool writable(const DatePoint& point) noexcept {
    if (point.calendar == Calendar::Roman || point.calendar == Calendar::Unknown) return false;
    if (point.year < 0 && !has_bce_epoch(point.calendar)) return false;
    if (point.year > max_year || point.year < -max_year) return false;
    const std::size_t months = months_of(point.calendar).codes.size();
    if (point.month && (*point.month < 1 || *point.month > months)) return false;
    if (point.day && (!point.month || *point.day < 1 || *point.day > 31)) return false;
    return true;
}

bool is_negative(const std::optional<DatePoint>& point) noexcept {
    return point && point->year < 0;
}

// Whether the reading has the points its kind's payload needs, all writable.
bool has_writable_points(const GedcomDate& date) {
    if ((date.earliest && !writable(*date.earliest)) || (date.latest && !writable(*date.latest)))
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

// Which point of the reading carries the dual year of the original text:
// the point whose year is the dual year's first, when the second is the next
// year ("1648/49", a year that began on 25 March or on 1 January) and the
// point's calendar is one that `counts` (5.5.1 knows dual years in the
// Gregorian calendar only, version 7 writes the later year of either). Any
// other dual year is lost: an exact date keeps it in 5.5.1 as INT with the
// text as its phrase; any other reading cannot be written at all.
template <typename Counts>
DualYearPlacement place_dual_year(const GedcomDate& date, Counts counts) {
    const auto dual = date_parts::dual_year(date.original);
    DualYearPlacement placement;
    if (!dual) return placement;
    // Only one point could carry it.
    const bool single = !date_parts::holds_several_dual_years(date.original);
    const bool negative = is_negative(date.earliest) || is_negative(date.latest);
    // "9/10" would read back as a day and a month.
    const bool readable = dual->first >= 100;
    const auto carries = [&](const std::optional<DatePoint>& point) {
        return point && point->year == dual->first && counts(point->calendar);
    };
    if (single && !negative && readable && dual->second == dual->first + 1) {
        placement.on_earliest = carries(date.earliest);
        placement.on_latest = !placement.on_earliest && carries(date.latest);
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

std::string DatePoint::display() const {
    std::string out;
    append_day_and_month(out, *this, months_of(calendar).names);
    append_number(out, year);
    return out;
}

std::string DatePoint::to_gedcom() const {
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
            return (earliest ? earliest : latest)->display();
        case DateKind::Between:
            if (earliest && latest)
                return "between " + earliest->display() + " and " + latest->display();
            return "between " + (earliest ? earliest : latest)->display();
        case DateKind::Period:
            if (earliest && latest)
                return "from " + earliest->display() + " to " + latest->display();
            return earliest ? "from " + earliest->display() : "to " + latest->display();
        default:
            return std::string(display_word(kind)) + " " +
                   (earliest ? earliest : latest)->display();
    }
}

std::optional<std::string> GedcomDate::to_gedcom_7() const {
    if (!has_writable_points(*this)) return std::nullopt;
    const DualYearPlacement dual = place_dual_year(*this, [](Calendar calendar) {
        return calendar == Calendar::Gregorian || calendar == Calendar::Julian;
    });
    if (dual.lost) return std::nullopt;

    const auto write_point = [&](const std::optional<DatePoint>& point, bool carries_dual) {
        if (!point) return std::string();
        std::string out(calendar_word_7(point->calendar));
        if (!out.empty()) out.push_back(' ');
        if (!carries_dual) return out + point->to_gedcom();
        DatePoint later = *point;
        later.year = dual.second;
        return out + later.to_gedcom();
    };
    return keyword_payload(kind, write_point(earliest, dual.on_earliest),
                           write_point(latest, dual.on_latest), earliest.has_value(),
                           latest.has_value());
}

std::optional<std::string> GedcomDate::to_gedcom_551() const {
    if (!has_writable_points(*this)) return std::nullopt;
    const DualYearPlacement dual =
        place_dual_year(*this, [](Calendar calendar) { return calendar == Calendar::Gregorian; });
    if (dual.lost && kind != DateKind::Exact) return std::nullopt;

    const auto write_point = [&](const std::optional<DatePoint>& point, bool carries_dual) {
        if (!point) return std::string();
        std::string out(escape_551(point->calendar));
        if (point->year < 0)
            return out +
                   DatePoint{-point->year, point->month, point->day, point->calendar}.to_gedcom() +
                   " B.C.";
        out += point->to_gedcom();
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

// One word of a date as `spelling_folded` keeps it: nothing for a name of
// the Gregorian calendar, which is the default; a number without leading zeros.
void append_folded_word(std::string& out, std::string_view word) {
    if (word == "@#dgregorian@" || word == "gregorian") return;
    if (std::ranges::all_of(word, is_digit))
        while (word.size() > 1 && word.front() == '0') word.remove_prefix(1);
    if (!out.empty()) out.push_back(' ');
    out.append(word);
}

// The words of a date, each run of white space between them as one space,
// ASCII letters in lower case, and spellings that change nothing dropped
// (`append_folded_word`).
std::string spelling_folded(std::string_view text) {
    std::string out;
    std::string word;
    for (std::size_t pos = 0; pos <= text.size();) {
        const std::size_t start = pos;
        if (pos == text.size() || unicode::is_white_space(unicode::next_code_point(text, pos))) {
            if (!word.empty()) append_folded_word(out, word);
            word.clear();
            if (pos == start) break;
            continue;
        }
        for (std::size_t i = start; i < pos; ++i) word.push_back(ascii::to_lower(text[i]));
    }
    return out;
}

}  // namespace

bool is_complete_reading(const GedcomDate& date) {
    if (date.phrase || date.kind == DateKind::Unparsed) return false;
    // Version 7 writes one year of a dual year, and no reading holds both.
    if (date_parts::dual_year(date.original)) return false;
    const std::string original = spelling_folded(date.original);
    for (const auto& written : {date.to_gedcom_551(), date.to_gedcom_7()})
        if (written && spelling_folded(*written) == original) return true;
    return false;
}

std::optional<std::string> to_interpreted_551(const GedcomDate& date, std::string_view phrase) {
    std::string out;
    if (!unicode::trim(date.original).empty()) {
        if (date.kind != DateKind::Exact || !is_complete_reading(date)) return std::nullopt;
        const auto written = date.to_gedcom_551();
        if (!written) return std::nullopt;
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
