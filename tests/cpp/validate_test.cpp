// Plausibility findings from small hand-made families: each check with its
// exact message, the dates that take no part, and the order of the findings.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "document.hpp"
#include "json.hpp"
#include "validate.hpp"

namespace lignor {

void PrintTo(const Finding& finding, std::ostream* out) {
    *out << to_json(finding);
}

namespace {

using Findings = std::vector<Finding>;

Document parsed(const std::string& text) {
    auto document = Document::parse_with(text, ParseLimits{});
    if (!document) throw std::runtime_error(document.error().display());
    return std::move(*document);
}

// An individual that cites a source, so that only the checks under test speak.
std::string person(const std::string& xref, const std::string& lines) {
    return "0 " + xref + " INDI\n1 SOUR @S1@\n" + lines;
}
std::string event(const std::string& tag, const std::string& date) {
    return "1 " + tag + "\n2 DATE " + date + "\n";
}
std::string born(const std::string& date) {
    return event("BIRT", date);
}
std::string died(const std::string& date) {
    return event("DEAT", date);
}

Finding contradiction(const char* record, const char* check, const char* message) {
    return {record, check, Severity::Contradiction, message};
}
Finding question(const char* record, const char* check, const char* message) {
    return {record, check, Severity::Question, message};
}

struct Case {
    const char* name;
    std::string text;
    Findings expected;
};

class validate_inspect : public testing::TestWithParam<Case> {};

TEST_P(validate_inspect, reports_exactly_these_findings) {
    EXPECT_EQ(inspect(parsed(GetParam().text)), GetParam().expected);
}

std::string name_of(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// ---- Individuals ------------------------------------------------------------------------

INSTANTIATE_TEST_SUITE_P(
    validate_individuals, validate_inspect,
    testing::Values(
        Case{"death_before_birth",
             person("@I1@", born("1900") + died("1850")),
             {contradiction("@I1@", "died-before-born", "born 1900 and died 1850")}},
        Case{"death_before_birth_gives_no_lifespan_finding",
             person("@I1@", born("1900") + died("1700")),
             {contradiction("@I1@", "died-before-born", "born 1900 and died 1700")}},
        Case{"lifespan_of_126_years",
             person("@I1@", born("1700") + died("1826")),
             {question("@I1@", "improbable-lifespan",
                       "born 1700 and died 1826, which is 126 years")}},
        Case{"lifespan_of_125_years", person("@I1@", born("1700") + died("1825")), {}},
        Case{"open_ended_lifespan",
             person("@I1@", born("ABT 1700") + died("AFT 1830")),
             {question("@I1@", "improbable-lifespan",
                       "born 1700 and died after 1830, which is at least 130 years")}},
        Case{"ranged_birth",
             person("@I1@", born("BET 1700 AND 1705") + died("1840")),
             {question("@I1@", "improbable-lifespan",
                       "born between 1700 and 1705 and died 1840, which is at least 135 years")}},
        Case{"burial_not_compared_with_death_bounded_above",
             person("@I1@", died("BEF 1900") + event("BURI", "1850")),
             {}},
        Case{"burial_before_death",
             person("@I1@", died("AFT 1900") + event("BURI", "BEF 1890")),
             {contradiction("@I1@", "buried-before-died",
                            "died after 1900 and buried before 1890")}},
        Case{"undated_first_birth_hides_later_ones",
             person("@I1@", "1 BIRT\n" + born("1950") + died("1900")),
             {}},
        Case{"unreadable_first_birth_hides_later_ones",
             person("@I1@", born("sometime") + born("1950") + died("1900")),
             {}},
        Case{"events_after_death",
             person("@I1@", died("1900") + event("RESI", "1950") + event("PROB", "1950") +
                                event("WILL", "1950") + event("BURI", "1901") +
                                "1 EVEN\n2 TYPE Graduation\n2 DATE BET 1890 AND 1910\n" +
                                "1 EVEN\n2 TYPE Reunion\n2 DATE AFT 1920\n"),
             {contradiction("@I1@", "event-after-death", "died 1900, and Residence is dated 1950"),
              contradiction("@I1@", "event-after-death",
                            "died 1900, and Reunion is dated after 1920")}},
        Case{"event_after_death_bounded_below",
             person("@I1@", died("AFT 1900") + event("RESI", "1950")),
             {}},
        Case{"no_source",
             "0 @I1@ INDI\n1 NAME A\n1 NOTE @S1@\n",
             {{"@I1@", "no-source", Severity::Missing, "nothing on this record cites a source"}}},
        Case{"no_source_names_a_record_without_identifier",
             "0 INDI\n",
             {{"INDI", "no-source", Severity::Missing, "nothing on this record cites a source"}}},
        Case{"source_text_deep_down_counts", "0 @I1@ INDI\n1 BIRT\n2 NOTE x\n3 SOUR a book\n", {}},
        Case{"hebrew_and_french_dates_take_no_part",
             person("@I1@", born("@#DHEBREW@ 5700") + died("1850")) +
                 person("@I2@", born("1900") + died("@#DFRENCH R@ 1 VEND 12")),
             {}},
        Case{"julian_dates_take_part",
             person("@I1@", born("@#DJULIAN@ 1900") + died("1850")),
             {contradiction("@I1@", "died-before-born", "born 1900 and died 1850")}},
        Case{"findings_of_one_person_in_check_order",
             "0 @I1@ INDI\n" + born("1900") + died("1850") + event("BURI", "1800") +
                 event("OCCU", "1860"),
             {contradiction("@I1@", "died-before-born", "born 1900 and died 1850"),
              contradiction("@I1@", "buried-before-died", "died 1850 and buried 1800"),
              contradiction("@I1@", "event-after-death", "died 1850, and Occupation is dated 1860"),
              {"@I1@", "no-source", Severity::Missing, "nothing on this record cites a source"}}},
        Case{"shared_identifier_keeps_each_persons_own_dates",
             person("@I1@", born("1900") + died("1850")) + person("@I1@", ""),
             {contradiction("@I1@", "died-before-born", "born 1900 and died 1850")}}),
    name_of);

// ---- Families ---------------------------------------------------------------------------

std::string family(const std::string& lines) {
    return "0 @F1@ FAM\n" + lines;
}

INSTANTIATE_TEST_SUITE_P(
    validate_families, validate_inspect,
    testing::Values(
        Case{"old_mother",
             person("@I2@", born("1800")) + person("@I3@", born("1860")) +
                 family("1 WIFE @I2@\n1 CHIL @I3@\n"),
             {question("@F1@", "parent-too-old",
                       "a parent born 1800 with a child born 1860, at 60")}},
        Case{"old_father_within_limit",
             person("@I1@", born("1800")) + person("@I3@", born("1860")) +
                 family("1 HUSB @I1@\n1 CHIL @I3@\n"),
             {}},
        Case{"old_father_past_limit",
             person("@I1@", born("1800")) + person("@I3@", born("BET 1881 AND 1885")) +
                 family("1 HUSB @I1@\n1 CHIL @I3@\n"),
             {question("@F1@", "parent-too-old",
                       "a parent born 1800 with a child born between 1881 and 1885, at 81 to 85")}},
        Case{
            "child_before_parent",
            person("@I1@", born("1800")) + person("@I3@", born("1790")) +
                family("1 HUSB @I1@\n1 CHIL @I3@\n"),
            {contradiction(
                "@F1@", "parent-too-young",
                "a parent born 1800 with a child born 1790, 10 years before the parent was born")}},
        Case{"child_of_a_ten_year_old",
             person("@I1@", born("1800")) + person("@I3@", born("1810")) +
                 family("1 HUSB @I1@\n1 CHIL @I3@\n"),
             {contradiction("@F1@", "parent-too-young",
                            "a parent born 1800 with a child born 1810, at 10 years old")}},
        Case{"child_of_a_parent_at_most_eleven",
             person("@I1@", born("1800")) + person("@I3@", born("BET 1805 AND 1811")) +
                 family("1 HUSB @I1@\n1 CHIL @I3@\n"),
             {contradiction("@F1@", "parent-too-young",
                            "a parent born 1800 with a child born between 1805 and 1811, at most "
                            "11 years old")}},
        Case{"child_of_a_twelve_year_old",
             person("@I1@", born("1800")) + person("@I3@", born("1812")) +
                 family("1 HUSB @I1@\n1 CHIL @I3@\n"),
             {}},
        Case{"child_after_mothers_death",
             person("@I2@", born("1820") + died("1850")) + person("@I3@", born("1855")) +
                 family("1 WIFE @i2@\n1 CHIL @I3@\n"),
             {contradiction("@F1@", "child-born-after-mother-died",
                            "a mother who died 1850 with a child born 1855")}},
        Case{"father_is_never_the_mother",
             person("@I1@", born("1820") + died("1850")) + person("@I3@", born("1855")) +
                 family("1 HUSB @I1@\n1 CHIL @I3@\n"),
             {}},
        Case{"pointerless_first_wife_means_no_mother",
             person("@I2@", born("1820") + died("1850")) + person("@I3@", born("1855")) +
                 family("1 WIFE\n1 WIFE @I2@\n1 CHIL @I3@\n"),
             {}},
        Case{"marriage_before_birth",
             person("@I1@", born("1800")) + family("1 HUSB @I1@\n" + event("MARR", "1790")),
             {contradiction("@F1@", "married-before-born",
                            "a marriage in 1790 for somebody born 1800")}},
        Case{"marriage_as_a_child",
             person("@I2@", born("1800")) + family("1 WIFE @I2@\n" + event("MARR", "ABT 1810")),
             {question("@F1@", "married-as-a-child", "married in 1810 at 10, born 1800")}},
        Case{"ranged_marriage_as_a_child",
             person("@I2@", born("BET 1798 AND 1800")) +
                 family("1 WIFE @I2@\n" + event("MARR", "BET 1805 AND 1810")),
             {question("@F1@", "married-as-a-child",
                       "married between 1805 and 1810 at 5 to 12, born between 1798 and 1800")}},
        Case{"marriage_at_thirteen",
             person("@I2@", born("1800")) + family("1 WIFE @I2@\n" + event("MARR", "1813")),
             {}},
        Case{"child_listed_twice_is_checked_twice",
             person("@I1@", born("1800")) + person("@I3@", born("1810")) +
                 family("1 HUSB @I1@\n1 CHIL @I3@\n1 CHIL @i3@\n"),
             {contradiction("@F1@", "parent-too-young",
                            "a parent born 1800 with a child born 1810, at 10 years old"),
              contradiction("@F1@", "parent-too-young",
                            "a parent born 1800 with a child born 1810, at 10 years old"),
              question("@F1@", "child-listed-twice",
                       "@i3@ is listed as a child of this family more than once")}},
        Case{"unknown_pointers_are_skipped",
             family("1 HUSB @X1@\n1 CHIL @X2@\n" + event("MARR", "1790")),
             {}},
        Case{"empty_family",
             family(""),
             {question("@F1@", "empty-family", "this family records nobody at all")}},
        Case{"family_with_only_a_marriage",
             family(event("MARR", "1900") + "1 HUSB\n1 CHIL\n"),
             {question("@F1@", "empty-family", "this family records nobody at all")}},
        Case{"individuals_before_families",
             family("") + "0 @I1@ INDI\n",
             {{"@I1@", "no-source", Severity::Missing, "nothing on this record cites a source"},
              question("@F1@", "empty-family", "this family records nobody at all")}}),
    name_of);

// ---- Texts ------------------------------------------------------------------------------

struct YearsCase {
    Years years;
    const char* display;
    const char* in_year;
};

class validate_years : public testing::TestWithParam<YearsCase> {};

TEST_P(validate_years, are_shown_as_words) {
    EXPECT_EQ(GetParam().years.display(), GetParam().display);
    EXPECT_EQ(in_year(GetParam().years), GetParam().in_year);
}

INSTANTIATE_TEST_SUITE_P(
    validate_texts, validate_years,
    testing::Values(YearsCase{{}, "undated", "undated"},
                    YearsCase{{std::nullopt, 1850}, "before 1850", "before 1850"},
                    YearsCase{{1850, std::nullopt}, "after 1850", "after 1850"},
                    YearsCase{{1850, 1850}, "1850", "in 1850"},
                    YearsCase{{1850, 1855}, "between 1850 and 1855", "between 1850 and 1855"}));

TEST(validate_texts, age_spans_every_bound) {
    EXPECT_EQ(age({1800, 1800}, {1830, 1830}), "at 30");
    EXPECT_EQ(age({1800, 1802}, {1830, 1831}), "at 28 to 31");
    EXPECT_EQ(age({1800, 1800}, {1830, std::nullopt}), "at least 30");
    EXPECT_EQ(age({1800, 1800}, {std::nullopt, 1830}), "at most 30");
    EXPECT_EQ(age({std::nullopt, 1800}, {std::nullopt, 1830}), "at an unknown age");
}

struct DateYearsCase {
    const char* date;
    std::optional<Years> years;
};

class validate_date_years : public testing::TestWithParam<DateYearsCase> {};

TEST_P(validate_date_years, come_from_readable_gregorian_or_julian_dates) {
    EXPECT_EQ(Years::from_date(GedcomDate::parse(GetParam().date)), GetParam().years)
        << GetParam().date;
}

INSTANTIATE_TEST_SUITE_P(
    validate_dates, validate_date_years,
    testing::Values(DateYearsCase{"ABT 1850", Years{1850, 1850}},
                    DateYearsCase{"BET 1850 AND 1855", Years{1850, 1855}},
                    DateYearsCase{"AFT 1850", Years{1850, std::nullopt}},
                    DateYearsCase{"BEF 1850", Years{std::nullopt, 1850}},
                    DateYearsCase{"5 JAN 1882", Years{1882, 1882}},
                    DateYearsCase{"@#DJULIAN@ 1700", Years{1700, 1700}},
                    DateYearsCase{"@#DHEBREW@ 5600", std::nullopt},
                    DateYearsCase{"BET 1850 AND @#DHEBREW@ 5600", std::nullopt},
                    DateYearsCase{"@#DFRENCH R@ 1 VEND 12", std::nullopt},
                    DateYearsCase{"some time ago", std::nullopt}, DateYearsCase{"", std::nullopt}));

TEST(validate_json, findings_serialise_in_key_order) {
    const Findings findings{contradiction("@I1@", "died-before-born", "born 1900 and died 1850"),
                            {"INDI", "no-source", Severity::Missing, "nothing \"here\""}};
    EXPECT_EQ(to_json(findings[0]),
              R"({"record":"@I1@","check":"died-before-born","severity":"Contradiction",)"
              R"("message":"born 1900 and died 1850"})");
    EXPECT_EQ(
        to_json(findings),
        R"([{"record":"@I1@","check":"died-before-born","severity":"Contradiction",)"
        R"("message":"born 1900 and died 1850"},)"
        R"({"record":"INDI","check":"no-source","severity":"Missing","message":"nothing \"here\""}])");
}

}  // namespace
}  // namespace lignor
