// GEDCOM dates: reading payloads written in the GEDCOM date grammar and in
// the spellings people actually type (keywords and month names in several
// European languages, numeric dates, ordinal suffixes, dual years, era
// suffixes), and writing a reading back out for people, for GEDCOM 5.5.1 and
// for GEDCOM 7.0.
//
// Reading lives in dates_read.cpp, writing in dates_write.cpp, and what
// both share (the calendars' months, the names of the enumerations, the
// JSON form) in dates.cpp.
//
// Reading never fails: text that fits no rule comes back as `Unparsed` with
// the text kept as its phrase. Each GEDCOM writer returns nothing when its
// grammar cannot hold the reading without loss, so that the caller can keep
// the original text instead.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lignor {

class ValueWriter;

enum class Calendar : std::uint8_t { Gregorian, Julian, Hebrew, FrenchRepublican, Roman, Unknown };

enum class DateKind : std::uint8_t {
    Exact,
    About,
    Calculated,
    Estimated,
    Before,
    After,
    Between,
    Period,
    Interpreted,
    Unparsed,
};

// "Gregorian", "FrenchRepublican", ...: the names used in JSON.
std::string_view to_string(Calendar calendar) noexcept;
// "Exact", "About", ...: the names used in JSON.
std::string_view to_string(DateKind kind) noexcept;

// One point in time, in its own calendar: each date of a range or a period
// may name one ("FROM 1700 TO @#DJULIAN@ 1750").
struct DatePoint {
    std::int32_t year = 0;              // negative before the common era
    std::optional<std::uint8_t> month;  // 1 to 12 (13 in the calendars that have thirteen)
    std::optional<std::uint8_t> day;    // 1 to 31
    Calendar calendar = Calendar::Gregorian;

    // "5 January 1900", "January 1900" or "1900" (a day without a month is
    // not shown), the month named in the point's calendar ("29 Tammuz 4865").
    std::string display() const;
    // "5 JAN 1900", "JAN 1900", "1900", with " BCE" after a negative year,
    // the month as GEDCOM writes it in the point's calendar ("29 TMZ 4865");
    // the calendar itself is not written.
    std::string to_gedcom() const;

    // year, month, day, calendar.
    void write_value(ValueWriter& out) const;

    friend bool operator==(const DatePoint&, const DatePoint&) = default;
};

struct GedcomDate {
    std::string original;  // exactly as passed in, not trimmed
    // The first point's calendar; without a point, the one the text names
    // before its first keyword (Gregorian when it names none).
    Calendar calendar = Calendar::Gregorian;
    DateKind kind = DateKind::Unparsed;
    std::optional<DatePoint> earliest;
    std::optional<DatePoint> latest;
    std::optional<std::string> phrase;

    // Infallible and pure.
    static GedcomDate parse(std::string_view text);

    // An English sentence fragment ("about 5 January 1882"); the calendars
    // and the phrase are not shown.
    std::string display() const;
    // The payload in GEDCOM 5.5.1's grammar, each point after its calendar's
    // escape ("FROM 1689 TO @#DJULIAN@ 1690"), or nothing when it would lose
    // something.
    std::optional<std::string> to_gedcom_551() const;
    // The payload in GEDCOM 7.0's grammar, each point not of the Gregorian
    // calendar after its calendar's word ("FROM 1670 TO JULIAN 1800"), or
    // nothing when it would lose something. The phrase is not written
    // (version 7 keeps it in a PHRASE substructure), and a dual year is
    // written as its later year ("30 JAN 1648/49" as "30 JAN 1649"), as
    // version 7 has no dual years: the caller keeps the text as a PHRASE.
    std::optional<std::string> to_gedcom_7() const;
    // One year for sorting and quick display.
    std::optional<std::int32_t> year_hint() const;

    // The object's keys (original, calendar, kind, earliest, latest, phrase)
    // without the braces, so that a caller can append keys of its own.
    void write_value_fields(ValueWriter& out) const;
    void write_value(ValueWriter& out) const;

    friend bool operator==(const GedcomDate&, const GedcomDate&) = default;
};

// A reading as `parse_date` hands it out: the date's own keys followed by
// its written forms (display, gedcom551, gedcom7).
struct DateReading {
    GedcomDate date;

    void write_value(ValueWriter& out) const;
};

// Whether nothing of a date's text is lost when only its reading is kept:
// the text has no phrase and is the reading as GEDCOM 5.5.1 or 7.0 writes it,
// but for white space (around it, and runs of it, which count as one space),
// ASCII letter case, leading zeros and the Gregorian calendar named
// ("@#DGREGORIAN@", "GREGORIAN"): " 5 aug 1901", "bet 1900 and 1910",
// "03 SEP 1938", "@#DGREGORIAN@ 1700", "@#DJULIAN@ 1 JAN 1700" are complete;
// "abt. 1850", "5 JAN 1900 (ship's log)" are not, and nor is a dual year
// ("1700/01"), whose second year the reading does not hold.
bool is_complete_reading(const GedcomDate& date);

// GEDCOM 5.5.1's interpreted date "INT {date} ({phrase})", the date in 5.5.1's
// grammar, or its date phrase "({phrase})" alone when the date's text is
// blank. 5.5.1's INT takes one date (day, month, year, a calendar escape,
// B.C.), so a range, a period, an approximation, a date with a phrase of its
// own or one whose text is not complete (above) gives nothing. The phrase is
// written as it is, parentheses included: `read_interpreted_551` takes
// everything between the first "(" and the final ")", so none of it is lost.
std::optional<std::string> to_interpreted_551(const GedcomDate& date, std::string_view phrase);

// The date and the phrase of a payload in one of 5.5.1's two forms above,
// exactly: "INT {date} ({phrase})" (the keyword in any letter case) where the
// date is one complete exact date, or "({phrase})". The phrase is the text
// between the first "(" and the final ")" as written; white space around the
// payload is not part of it. Any other text gives nothing.
struct InterpretedDate {
    std::optional<GedcomDate> date;  // absent for "({phrase})"
    std::string phrase;

    friend bool operator==(const InterpretedDate&, const InterpretedDate&) = default;
};
std::optional<InterpretedDate> read_interpreted_551(std::string_view text);

}  // namespace lignor
