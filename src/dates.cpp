// What reading and writing dates share: the months of each calendar, digit
// helpers, dual years, the names of the enumerations, and the JSON form of a
// reading.
#include <charconv>
#include <cstdlib>

#include "ascii.hpp"
#include "dates_parts.hpp"
#include "value_writer.hpp"

namespace lignor {

namespace date_parts {

using ascii::is_digit;

namespace {

constexpr std::string_view display_months[] = {"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};

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

// The first dual year ("1700/01") at or after `pos`, which moves past it.
std::optional<DualYear> next_dual_year(std::string_view text, std::size_t& pos) {
    while (pos < text.size()) {
        if (!is_digit(text[pos])) {
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        const std::size_t run_end = digits_end(text, start);
        const std::size_t run_length = run_end - start;
        const std::size_t after_end = digits_end(text, run_end + 1);
        const std::size_t after_length = after_end - run_end - 1;
        pos = run_end;
        const bool shaped = (run_length == 3 || run_length == 4) && run_end < text.size() &&
                            text[run_end] == '/' && after_length > 0 &&
                            (after_end == text.size() || text[after_end] != '/');
        if (!shaped) continue;
        pos = after_end;
        const auto first =
            static_cast<std::int32_t>(digits_value(text.substr(start, run_length), 10000));
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
    return std::nullopt;
}

}  // namespace

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

std::size_t digits_end(std::string_view text, std::size_t pos) noexcept {
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    return pos;
}

std::uint32_t digits_value(std::string_view digits, std::uint32_t cap) noexcept {
    std::uint32_t value = 0;
    for (char c : digits) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value >= cap) return cap;
    }
    return value;
}

void append_number(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

std::optional<DualYear> dual_year(std::string_view text) {
    std::size_t pos = 0;
    return next_dual_year(text, pos);
}

bool holds_several_dual_years(std::string_view text) {
    std::size_t pos = 0;
    return next_dual_year(text, pos) && next_dual_year(text, pos);
}

}  // namespace date_parts

namespace {

using ascii::is_digit;
using date_parts::digits_end;
using date_parts::digits_value;

void write_point_value(ValueWriter& out, const std::optional<DatePoint>& point) {
    if (point)
        point->write_value(out);
    else
        out.null();
}

}  // namespace

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

void DatePoint::write_value(ValueWriter& out) const {
    out.start_object().key(Key::year).integer(year);
    out.key(Key::month).optional_integer(month);
    out.key(Key::day).optional_integer(day);
    out.key(Key::calendar).string(to_string(calendar));
    out.end_object();
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
    out.key(Key::gedcom551).optional_string(date.to_gedcom_551());
    out.key(Key::gedcom7).optional_string(date.to_gedcom_7());
    out.end_object();
}

}  // namespace lignor
