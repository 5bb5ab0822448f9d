// Reads arbitrary bytes (valid UTF-8 or not) as a GEDCOM date and writes the
// reading out every way there is. Any outcome is fine except a crash, and a
// GEDCOM form that does not read back as the same date: same calendar, same
// points and same kind, an exact date and an interpreted one counting as the
// same (5.5.1 writes an exact date with a phrase as INT, 7.0 drops INT), and
// a point's year one more in 7.0's form of a dual year (its later year);
// and a date the quick check calls version 7's own form that is not; a
// complete reading whose written forms are not complete; and an interpreted
// date, with the text as its phrase, that does not read back as the same
// date and exactly the same phrase.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "dates.hpp"
#include "dates_parts.hpp"
#include "json.hpp"
#include "unicode.hpp"
#include "v7grammar.hpp"

namespace {

lignor::DateKind plain(lignor::DateKind kind) {
    return kind == lignor::DateKind::Interpreted ? lignor::DateKind::Exact : kind;
}

bool same_point(const std::optional<lignor::DatePoint>& read,
                std::optional<lignor::DatePoint> wanted, bool later_year_allowed) {
    if (read && wanted && later_year_allowed && read->year == wanted->year + 1)
        wanted->year = read->year;
    return read == wanted;
}

void check_reads_back(const lignor::GedcomDate& date, const std::optional<std::string>& written,
                      bool later_year_allowed) {
    if (!written) return;
    const auto again = lignor::GedcomDate::parse(*written);
    if (plain(again.kind) != plain(date.kind) || again.calendar != date.calendar ||
        !same_point(again.earliest, date.earliest, later_year_allowed) ||
        !same_point(again.latest, date.latest, later_year_allowed))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto date = lignor::GedcomDate::parse(text);
    if (date.original != text) std::abort();
    if (date.display().empty() && !lignor::unicode::trim(text).empty()) std::abort();
    (void)date.year_hint();
    (void)to_json(date);
    (void)to_json(lignor::DateReading{date});
    check_reads_back(date, date.to_gedcom_551(), false);
    check_reads_back(date, date.to_gedcom_7(), lignor::date_parts::dual_year(text).has_value());
    if (lignor::is_complete_reading(date)) {
        for (const auto& written : {date.to_gedcom_551(), date.to_gedcom_7()})
            if (written && !lignor::is_complete_reading(lignor::GedcomDate::parse(*written)))
                std::abort();
    }
    if (const auto interpreted = lignor::to_interpreted_551(date, text)) {
        const auto read = lignor::read_interpreted_551(*interpreted);
        if (!read || read->phrase != text ||
            read->date.has_value() == lignor::unicode::trim(text).empty() ||
            (read->date && read->date->earliest != date.earliest))
            std::abort();
    }
    // The version 7 grammar's shortcut for common dates reads as its words do.
    for (const auto type : {lignor::v7table::Payload::Date, lignor::v7table::Payload::ExactDate}) {
        if (lignor::v7::read_date(text, type).has_value() !=
            lignor::v7::read_date_by_words(text, type).has_value())
            std::abort();
    }
    return 0;
}
