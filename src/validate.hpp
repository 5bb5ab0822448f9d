// Plausibility findings: what cannot be true, or is hard to believe, about
// the people and families of a document.
//
// Checks read individuals and families through their views and compare years
// only: every date is reduced to the range of years it allows (`Years`), and
// a date that gives no years (unreadable, in a calendar other than Gregorian
// or Julian, or without a point) takes part in no check. Each finding quotes
// the years it was drawn from so that a person can judge it. Nothing here
// changes the document or fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dates.hpp"
#include "queries.hpp"
#include "views.hpp"

namespace lignor {

class ValueWriter;

enum class Severity : std::uint8_t {
    Contradiction,  // the data contradicts itself
    Question,       // improbable; worth a look
    Missing,        // something expected is absent
};

// "Contradiction", "Question", "Missing".
std::string_view to_string(Severity severity) noexcept;

struct Finding {
    std::string record;  // the record's identifier as written, or its tag
    std::string check;   // a kebab-case code such as "died-before-born"
    Severity severity = Severity::Question;
    std::string message;

    void write_value(ValueWriter& out) const;

    friend bool operator==(const Finding&, const Finding&) = default;
};

// The earliest and latest year an event can fall in.
struct Years {
    std::optional<std::int32_t> lo;
    std::optional<std::int32_t> hi;

    // Nothing for an unparsed reading, a calendar other than Gregorian or
    // Julian, or a reading without any point.
    static std::optional<Years> from_date(const GedcomDate& date);
    // "undated", "before 1850", "after 1850", "1850", "between 1850 and 1855".
    std::string display() const;

    friend bool operator==(const Years&, const Years&) = default;
};

// "in 1850" for a single year; otherwise the display form.
std::string in_year(const Years& years);
// The age at `other` of somebody born `birth`: "at 30", "at 29 to 31",
// "at least 30", "at most 30" or "at an unknown age".
std::string age(const Years& birth, const Years& other);

// The years of an individual's first birth, death and burial.
struct Life {
    std::optional<Years> birth;
    std::optional<Years> death;
    std::optional<Years> burial;
};

Life life_of(const IndividualView& individual);

// Appends a finding about `record`.
void add(std::vector<Finding>& findings, const Node& record, std::string_view check,
         Severity severity, std::string message);

// Every finding about the document's individuals (in record order), then
// about its families.
std::vector<Finding> inspect(const Document& document);

}  // namespace lignor
