// Tests of dates: reading in every language and grammar, display, and both
// writers.
#include "dates.hpp"
#include "dates_parts.hpp"

#include "json.hpp"
#include "unicode.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lignor {

void PrintTo(const DatePoint& point, std::ostream* out) {
    *out << to_json(point);
}

namespace {

using date_parts::DualYear;
using std::nullopt;

DatePoint ymd(std::int32_t year, std::uint8_t month, std::uint8_t day) {
    return {year, month, day};
}
DatePoint ym(std::int32_t year, std::uint8_t month) {
    return {year, month, nullopt};
}
DatePoint y(std::int32_t year) {
    return {year, nullopt, nullopt};
}
DatePoint in(Calendar calendar, DatePoint point) {
    point.calendar = calendar;
    return point;
}

struct ReadCase {
    const char* name;
    std::string input;
    DateKind kind;
    std::optional<DatePoint> earliest;
    std::optional<DatePoint> latest;
    Calendar calendar = Calendar::Gregorian;
};

// Full Unicode upper-casing is not something the library needs, so the tests
// spell the few non-ASCII capitals out.
std::string upper(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= 'a' && c <= 'z')
            out.push_back(static_cast<char>(c - 32));
        else if (c == '\xC3' &&
                 i + 1 < text.size()) {  // é è ä û ô ...: Latin-1 supplement capitals
            out.push_back(c);
            out.push_back(static_cast<char>(text[++i] - 0x20));
        } else
            out.push_back(c);
    }
    return out;
}

void expect_reading(const ReadCase& c) {
    SCOPED_TRACE(std::string(c.name) + ": \"" + c.input + "\"");
    const GedcomDate date = GedcomDate::parse(c.input);
    EXPECT_EQ(date.original, c.input);
    EXPECT_EQ(to_string(date.kind), to_string(c.kind));
    EXPECT_EQ(to_string(date.calendar), to_string(c.calendar));
    EXPECT_EQ(date.earliest, c.earliest);
    EXPECT_EQ(date.latest, c.latest);
}

// Single-point kinds carry the same point as earliest and latest.
ReadCase single(const char* name, std::string input, DateKind kind, DatePoint point,
                Calendar calendar = Calendar::Gregorian) {
    return {name, std::move(input), kind, in(calendar, point), in(calendar, point), calendar};
}
ReadCase unparsed(const char* name, std::string input, Calendar calendar = Calendar::Gregorian) {
    return {name, std::move(input), DateKind::Unparsed, nullopt, nullopt, calendar};
}

TEST(dates_reading, reads_the_grammar_and_common_spellings) {
    const std::vector<ReadCase> cases = {
        single("gedcom exact", "5 JAN 1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("trailing dot", "5 jan 1900.", DateKind::Exact, ymd(1900, 1, 5)),
        single("month first with comma", "Jan 5, 1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("ordinal suffix", "January 5th, 1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("german day with dot", "5. Januar 1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("spanish fillers", "5 de enero de 1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("french article", "le 5 janvier 1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("french ordinal after the month", "janvier 1er 1900", DateKind::Exact,
               ymd(1900, 1, 1)),
        single("english of", "5 of January 1900", DateKind::Exact, ymd(1900, 1, 5)),
        // With four tokens the first number is taken as the month.
        unparsed("french ordinal first", "1er janvier 1900"),
        unparsed("ordinal first with of", "5th of January 1900"),
        single("glued runs", "5JAN1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("no-break spaces",
               "5\xC2\xA0JAN\xC2\xA0"
               "1900",
               DateKind::Exact, ymd(1900, 1, 5)),
        single("month and year", "MAR 1900", DateKind::Exact, ym(1900, 3)),
        single("year", "1900", DateKind::Exact, y(1900)),
        single("small year", "5 JAN 50", DateKind::Exact, ymd(50, 1, 5)),
        single("year zero", "0", DateKind::Exact, y(0)),
        single("blank around", "  \t5 JAN 1900\xE2\x80\x83 ", DateKind::Exact, ymd(1900, 1, 5)),
        single("both numbers, second a month", "05 01 1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("both numbers, second not a month", "01 25 1900", DateKind::Exact, ymd(1900, 1, 25)),
        single("iso", "1900-01-05", DateKind::Exact, ymd(1900, 1, 5)),
        single("iso with slashes", "1900/01/05", DateKind::Exact, ymd(1900, 1, 5)),
        single("iso with dots", "1900.01.05", DateKind::Exact, ymd(1900, 1, 5)),
        single("day.month.year", "05.01.1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("day-month-year", "05-01-1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("month/day/year", "01/05/1900", DateKind::Exact, ymd(1900, 1, 5)),
        single("numeric short year", "5.1.50", DateKind::Exact, ymd(50, 1, 5)),
        {"numeric month out of range keeps the day", "15/01/1900", DateKind::Exact,
         DatePoint{1900, nullopt, 1}, DatePoint{1900, nullopt, 1}},
        {"numeric day out of range keeps the month", "1900-02-45", DateKind::Exact, ym(1900, 2),
         ym(1900, 2)},
        unparsed("numeric year too large", "05.01.19000"),
        single("dual year", "1700/01", DateKind::Exact, y(1700)),
        single("dual year with day", "5 JAN 1700/01", DateKind::Exact, ymd(1700, 1, 5)),
        single("dual year four digits", "1699/1700", DateKind::Exact, y(1699)),
        single("three digit dual year", "999/1000", DateKind::Exact, y(999)),
        single("era BCE", "500 BCE", DateKind::Exact, y(-500)),
        single("era bce glued", "500bce", DateKind::Exact, y(-500)),
        single("era B.C.", "500 B.C.", DateKind::Exact, y(-500)),
        single("era b.c with date", "5 jan 500 b.c", DateKind::Exact, ymd(-500, 1, 5)),
        single("era BC", "ABT 500 BC", DateKind::About, y(-500)),
        unparsed("era twice", "500 BCE BCE"),
        unparsed("era alone", "BCE"),
        single("largest year", "9999", DateKind::Exact, y(9999)),
        unparsed("years past 9999", "10000"),
        unparsed("years past 9999 with a month", "JAN 12000"),
        unparsed("month alone", "JAN"),
        unparsed("day first, then the month as fourth word", "5th January 1900"),
        unparsed("too many words", "the 5 of JAN 1900 x"),
        unparsed("empty", ""),
        unparsed("blank", " \t "),
        unparsed("words", "sometime in spring"),
        single("angle brackets", "<1850>", DateKind::About, y(1850)),
        single("unclosed angle", "<1850", DateKind::Exact, y(1850)),
    };
    for (const ReadCase& c : cases) expect_reading(c);
}

TEST(dates_reading, reads_calendars_escapes_and_bare_words) {
    const std::vector<ReadCase> cases = {
        single("julian escape", "@#DJULIAN@ 1 JAN 1700", DateKind::Exact, ymd(1700, 1, 1),
               Calendar::Julian),
        single("gregorian escape", "@#DGREGORIAN@ 1700", DateKind::Exact, y(1700)),
        single("hebrew escape", "@#DHEBREW@ 5780", DateKind::Exact, y(5780), Calendar::Hebrew),
        single("french escape with a month of its own", "@#Dfrench r@ 1 VEND 1", DateKind::Exact,
               ymd(1, 1, 1), Calendar::FrenchRepublican),
        single("thirteenth french month", "@#DFRENCH R@ 5 COMP 2", DateKind::Exact, ymd(2, 13, 5),
               Calendar::FrenchRepublican),
        single("bare hebrew word", "HEBREW 29 TMZ 4865", DateKind::Exact, ymd(4865, 11, 29),
               Calendar::Hebrew),
        single("hebrew month codes ignore case", "ABT @#DHEBREW@ ads 5780", DateKind::About,
               ym(5780, 7), Calendar::Hebrew),
        unparsed("hebrew date with a gregorian month", "@#DHEBREW@ 5 JAN 5780", Calendar::Hebrew),
        unparsed("gregorian date with a hebrew month", "5 TSH 5780"),
        unparsed("hebrew numeric date", "@#DHEBREW@ 5.1.5780", Calendar::Hebrew),
        {"each point in its own calendar", "BET 1700 AND @#DJULIAN@ 1710", DateKind::Between,
         y(1700), in(Calendar::Julian, y(1710))},
        {"a version 7 calendar word on the second point", "FROM 1689 TO JULIAN 1690",
         DateKind::Period, y(1689), in(Calendar::Julian, y(1690))},
        {"an escape on the first point only", "FROM @#DJULIAN@ 1700 TO 1750", DateKind::Period,
         in(Calendar::Julian, y(1700)), y(1750), Calendar::Julian},
        single("an era after a calendar word", "JULIAN 1401 BCE", DateKind::Exact, y(-1401),
               Calendar::Julian),
        single("french underscore", "@#DFRENCH_R@ 12", DateKind::Exact, y(12),
               Calendar::FrenchRepublican),
        single("roman", "@#DROMAN@ 500", DateKind::Exact, y(500), Calendar::Roman),
        single("unknown", "@#DUNKNOWN@ 500", DateKind::Exact, y(500), Calendar::Unknown),
        single("any other name", "@#D MAYAN @ 500", DateKind::Exact, y(500), Calendar::Unknown),
        unparsed("unclosed escape", "@#DJULIAN 1700"),
        single("bare word", "JULIAN 1700", DateKind::Exact, y(1700), Calendar::Julian),
        single("bare french word", "FRENCH_R 12", DateKind::Exact, y(12),
               Calendar::FrenchRepublican),
        unparsed("bare word in lower case", "julian 1700"),
        single("escape before the keyword", "@#DJULIAN@ ABT 1700", DateKind::About, y(1700),
               Calendar::Julian),
        single("escape after the keyword", "ABT @#DJULIAN@ 1700", DateKind::About, y(1700),
               Calendar::Julian),
        single("bare word after the keyword", "BEF JULIAN 1700", DateKind::Before, y(1700),
               Calendar::Julian),
        {"escape on both points", "BET @#DJULIAN@ 1700 AND @#DJULIAN@ 1710", DateKind::Between,
         in(Calendar::Julian, y(1700)), in(Calendar::Julian, y(1710)), Calendar::Julian},
        {"escapes that differ", "FROM @#DJULIAN@ 1700 TO @#DHEBREW@ 5500", DateKind::Period,
         in(Calendar::Julian, y(1700)), in(Calendar::Hebrew, y(5500)), Calendar::Julian},
        {"an escape before the keyword for every point", "@#DJULIAN@ FROM 1700 TO @#DHEBREW@ 5500",
         DateKind::Period, in(Calendar::Julian, y(1700)), in(Calendar::Hebrew, y(5500)),
         Calendar::Julian},
        {"the first point's calendar is the date's", "TO @#DJULIAN@ 1750", DateKind::Period,
         nullopt, in(Calendar::Julian, y(1750)), Calendar::Julian},
        single("hebrew escape with its month", "@#DHEBREW@ 1 TSH 5780", DateKind::Exact,
               ymd(5780, 1, 1), Calendar::Hebrew),
    };
    for (ReadCase c : cases) {
        if (c.kind == DateKind::Before) c.earliest.reset();
        expect_reading(c);
    }
}

TEST(dates_reading, reads_ranges_periods_and_lone_keywords) {
    const std::vector<ReadCase> cases = {
        {"between", "BET 1900 AND 1910", DateKind::Between, y(1900), y(1910)},
        {"between, second unread", "BET 1900 AND sometime", DateKind::Between, y(1900), nullopt},
        {"between, first unread", "BET sometime AND 1910", DateKind::Between, nullopt, y(1910)},
        {"between, neither read", "BET sometime AND never", DateKind::Unparsed, nullopt, nullopt},
        {"french range", "entre 1900 et 1910", DateKind::Between, y(1900), y(1910)},
        {"german range", "zwischen 1900 und 1910", DateKind::Between, y(1900), y(1910)},
        {"norwegian range", "mellom 1900 og 1910", DateKind::Between, y(1900), y(1910)},
        {"long english range", "between 5 JAN 1900 and MAR 1910", DateKind::Between,
         ymd(1900, 1, 5), ym(1910, 3)},
        {"period", "FROM 1900 TO 1910", DateKind::Period, y(1900), y(1910)},
        {"german period", "von 1900 bis 1910", DateKind::Period, y(1900), y(1910)},
        {"french period", "du 1900 au 1910", DateKind::Period, y(1900), y(1910)},
        {"french period with de", "de 1900 au 1910", DateKind::Period, y(1900), y(1910)},
        {"danish period", "fra 1900 til 1910", DateKind::Period, y(1900), y(1910)},
        {"period, second unread", "FROM 1900 TO later", DateKind::Period, y(1900), nullopt},
        {"lone from", "FROM 1900", DateKind::Period, y(1900), nullopt},
        {"lone from, unread", "FROM sometime", DateKind::Period, nullopt, nullopt},
        {"since", "since 1900", DateKind::Period, y(1900), nullopt},
        {"lone to", "TO 1910", DateKind::Period, nullopt, y(1910)},
        {"until", "until JAN 1910", DateKind::Period, nullopt, ym(1910, 1)},
        {"before", "BEF 1900", DateKind::Before, nullopt, y(1900)},
        {"before in danish", "før 1900", DateKind::Before, nullopt, y(1900)},
        {"before in upper-case danish", "FØR 1900", DateKind::Before, nullopt, y(1900)},
        {"after", "AFT 1 JAN 1900", DateKind::After, ymd(1900, 1, 1), nullopt},
        {"after in french", "après 1900", DateKind::After, y(1900), nullopt},
        {"after in upper-case french", "APRÈS 1900", DateKind::After, y(1900), nullopt},
        {"after in german", "nach 1900", DateKind::After, y(1900), nullopt},
    };
    for (const ReadCase& c : cases) expect_reading(c);
}

// Queen.ged writes its years before the common era as "BC" (328 dates): each
// reads as it does with the era spelled "BCE", and all but a few (such as
// "abt. 824 BC or 620 BC") read as dates.
TEST(dates_reading, reads_bc_as_an_era_in_the_corpus) {
    std::ifstream file(std::filesystem::path(LIGNOR_CORPUS_DIR) / "Queen.ged");
    if (!file) GTEST_SKIP() << "no Queen.ged in the corpus";
    std::size_t with_bc = 0;
    std::size_t read = 0;
    for (std::string line; std::getline(file, line);) {
        if (!line.starts_with("2 DATE ") || !line.ends_with(" BC")) continue;
        const std::string text = line.substr(7);
        const GedcomDate date = GedcomDate::parse(text);
        const GedcomDate with_bce = GedcomDate::parse(text + "E");
        EXPECT_EQ(to_string(date.kind), to_string(with_bce.kind)) << text;
        EXPECT_EQ(date.earliest, with_bce.earliest) << text;
        EXPECT_EQ(date.latest, with_bce.latest) << text;
        ++with_bc;
        read += date.kind != DateKind::Unparsed;
    }
    EXPECT_GT(with_bc, 300u);
    EXPECT_GT(read, with_bc - 10);
}

TEST(dates_reading, tries_qualifiers_in_order_and_needs_a_separator) {
    const std::vector<ReadCase> cases = {
        single("abt", "ABT 1850", DateKind::About, y(1850)),
        single("abt with dot", "abt. 1850", DateKind::About, y(1850)),
        single("c glued by a dot", "c.1850", DateKind::About, y(1850)),
        single("glued digits", "ABT1850", DateKind::About, y(1850)),
        single("ca", "ca 1850", DateKind::About, y(1850)),
        single("circa", "circa 1850", DateKind::About, y(1850)),
        single("CA does not stop CAL", "CAL 1850", DateKind::Calculated, y(1850)),
        single("CA does not stop CALCULATED", "calculated 1850", DateKind::Calculated, y(1850)),
        single("APPROX does not stop APPROXIMATELY", "approximately 1850", DateKind::About,
               y(1850)),
        single("CIR does not stop CIRKA", "cirka 1850", DateKind::About, y(1850)),
        single("VERS after VERSO", "vers 1850", DateKind::About, y(1850)),
        single("EST does not stop ESTIMATED", "Estimated 1850", DateKind::Estimated, y(1850)),
        single("INT", "INT 1900", DateKind::Interpreted, y(1900)),
        single("INTERPRETED", "interpreted 5 JAN 1900", DateKind::Interpreted, ymd(1900, 1, 5)),
        // Full lower-casing: KELVIN SIGN lowers to "k"; DOTTED CAPITAL I to "i" and a combining
        // dot.
        single("keyword with a kelvin sign", "CIR\u212AA 1850", DateKind::About, y(1850)),
        unparsed("keyword with a dotted capital I", "\u0130NT 1850"),
        unparsed("qualifier with no point", "ABT sometime"),
        unparsed("a failed qualifier stops later lists", "C sometime"),
        unparsed("keyword needs a separator", "ABTX 1850"),
        unparsed("keyword alone", "ABT"),
        unparsed("keyword and a dot", "ABT ."),
    };
    for (const ReadCase& c : cases) expect_reading(c);
}

// Every keyword of every list, in its own spelling and in lower case.
// Every keyword of the reader's vocabulary reads as its kind, in upper and
// lower case.
TEST(dates_reading, reads_every_keyword_of_every_language) {
    const date_parts::Vocabulary& words = date_parts::vocabulary();
    for (const date_parts::Qualifier& list : words.qualifiers) {
        for (const std::string_view word : list.words) {
            for (const std::string& spelling : {std::string(word), unicode::to_lower(word)}) {
                const DatePoint point = ym(1850, 6);
                ReadCase c{"qualifier", spelling + " JUN 1850", list.kind, point, point};
                if (list.kind == DateKind::Before) c.earliest.reset();
                if (list.kind == DateKind::After) c.latest.reset();
                expect_reading(c);
            }
        }
    }
    for (const std::string_view bet : words.between)
        for (const std::string_view conjunction : words.and_words)
            expect_reading({"between",
                            std::string(bet) + " 1900 " + std::string(conjunction) + " 1910",
                            DateKind::Between, y(1900), y(1910)});
    for (const std::string_view from : words.from)
        for (const std::string_view to : words.to)
            expect_reading({"period", std::string(from) + " 1900 " + std::string(to) + " 1910",
                            DateKind::Period, y(1900), y(1910)});
}

TEST(dates_reading, keeps_the_phrase) {
    struct Case {
        const char* input;
        DateKind kind;
        std::optional<std::string> phrase;
    };
    const std::vector<Case> cases = {
        {"INT 1900 (about nineteen hundred)", DateKind::Interpreted, "about nineteen hundred"},
        {"(unknown)", DateKind::Unparsed, "unknown"},
        {"1900 (a note (with parentheses))", DateKind::Exact, "a note (with parentheses)"},
        {"5 (the fifth) JAN 1900", DateKind::Exact, "the fifth"},
        {"1900 ( )", DateKind::Exact, nullopt},
        {"1900 ) not a phrase (", DateKind::Unparsed, "1900 ) not a phrase ("},
        {"  sometime  ", DateKind::Unparsed, "sometime"},
        {"", DateKind::Unparsed, ""},
        {"\xFF\xFE garbage \xC3", DateKind::Unparsed, "\xFF\xFE garbage \xC3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const GedcomDate date = GedcomDate::parse(c.input);
        EXPECT_EQ(to_string(date.kind), to_string(c.kind));
        EXPECT_EQ(date.phrase, c.phrase);
    }
}

// Every month name of the reader's vocabulary reads as its month, upper
// case through full Unicode lower-casing ("FÉVRIER", "MÄRZ").
TEST(dates_months, reads_every_name_of_every_language) {
    for (const date_parts::MonthName& entry : date_parts::vocabulary().months) {
        const std::string name(entry.name);
        SCOPED_TRACE(name);
        EXPECT_EQ(date_parts::month_number(name), entry.month);
        EXPECT_EQ(date_parts::month_number(upper(name)), entry.month);
        expect_reading(single(name.c_str(), "7 " + name + " 1888", DateKind::Exact,
                              ymd(1888, entry.month, 7)));
    }
}

TEST(dates_months, reads_numbers_prefixes_and_trimmed_tokens) {
    struct Case {
        const char* token;
        std::optional<std::uint8_t> month;
    };
    const std::vector<Case> cases = {
        {"1", 1},
        {"01", 1},
        {"12", 12},
        {"13", nullopt},
        {"0", nullopt},
        {"0000000000000000000007", 7},
        {"sept", 9},
        {"octob", 10},
        {"decem", 12},
        {"Janua", 1},
        {"febr", 2},
        {"septembe", 9},
        {"ju", nullopt},
        {"ma", nullopt},
        {"Jan.", 1},
        {"(März)", 3},
        {"«août»", 8},
        {"mays", nullopt},
        {"augustus", nullopt},
        {"", nullopt},
        {"...", nullopt},
        {"5th", nullopt},
        {"abcdefghijklmnopq", nullopt},
        {"\xC3", nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(date_parts::month_number(c.token), c.month);
    }
}

TEST(dates_parts, reads_days_years_and_dual_years) {
    using date_parts::parse_day;
    using date_parts::parse_year;
    EXPECT_EQ(parse_day("5th"), 5);
    EXPECT_EQ(parse_day("1er"), 1);
    EXPECT_EQ(parse_day("3."), 3);
    EXPECT_EQ(parse_day("31"), 31);
    EXPECT_EQ(parse_day("32"), nullopt);
    EXPECT_EQ(parse_day("0"), nullopt);
    EXPECT_EQ(parse_day("261"), nullopt);
    EXPECT_EQ(parse_day("1a2"), nullopt);
    EXPECT_EQ(parse_year("1700/01"), 1700);
    EXPECT_EQ(parse_year("-500"), 500);
    EXPECT_EQ(parse_year("9999"), 9999);
    EXPECT_EQ(parse_year("10000"), nullopt);
    EXPECT_EQ(parse_year("99999999999999999999"), nullopt);
    EXPECT_EQ(parse_year("19a0"), nullopt);
    EXPECT_EQ(parse_year("JAN"), nullopt);

    EXPECT_EQ(date_parts::parse_dual_year("1700/01"), y(1700));
    EXPECT_EQ(date_parts::parse_dual_year("170/1"), y(170));
    EXPECT_EQ(date_parts::parse_dual_year("17/01"), nullopt);
    EXPECT_EQ(date_parts::parse_dual_year("1700/"), nullopt);
    EXPECT_EQ(date_parts::parse_dual_year("1900/01/05"), nullopt);

    using date_parts::dual_year;
    EXPECT_EQ(dual_year("1700/01"), (DualYear{1700, 1701}));
    EXPECT_EQ(dual_year("1699/00"), (DualYear{1699, 1700}));
    EXPECT_EQ(dual_year("1709/0"), (DualYear{1709, 1710}));
    EXPECT_EQ(dual_year("1699/1700"), (DualYear{1699, 1700}));
    EXPECT_EQ(dual_year("ABT 5 JAN 1700/05"), (DualYear{1700, 1705}));
    EXPECT_EQ(dual_year("12/05/1900"), nullopt);
    EXPECT_EQ(dual_year("1900/01/05"), nullopt);
    EXPECT_EQ(dual_year("12345/6"), nullopt);
    EXPECT_EQ(dual_year("1700/"), nullopt);
}

TEST(dates_parts, splits_runs_and_keywords) {
    const auto runs = [](std::string_view piece) {
        const auto list = date_parts::split_runs(piece);
        return std::vector<std::string_view>(list.stored().begin(), list.stored().end());
    };
    using Runs = std::vector<std::string_view>;
    EXPECT_EQ(runs("5JAN1900"), (Runs{"5", "JAN", "1900"}));
    EXPECT_EQ(runs("1er"), (Runs{"1", "er"}));
    EXPECT_EQ(runs("5."), (Runs{"5"}));
    EXPECT_EQ(runs("«août»"), (Runs{"«août»"}));
    EXPECT_EQ(runs("«»"), Runs{});

    constexpr std::string_view and_words[] = {"AND", "ET"};
    const auto split = date_parts::split_keyword("bet 1900 et 1910 and 1920", and_words);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->first, "bet 1900 et 1910");
    EXPECT_EQ(split->second, "1920");
    EXPECT_FALSE(date_parts::split_keyword("BETWEEN 1900AND 1910", and_words));

    constexpr std::string_view about[] = {"CA", "CAL", "C", "FØR"};
    EXPECT_EQ(date_parts::strip_keyword("  cal. 1900 ", about), "1900");
    EXPECT_EQ(date_parts::strip_keyword("c1900", about), "1900");
    EXPECT_EQ(date_parts::strip_keyword("FØR 1900", about), "1900");
    EXPECT_EQ(date_parts::strip_keyword("før1900", about), "1900");
    EXPECT_EQ(date_parts::strip_keyword("cx 1900", about), nullopt);
    EXPECT_EQ(date_parts::strip_keyword("ca", about), nullopt);
    EXPECT_EQ(date_parts::strip_keyword("ca.  ", about), nullopt);
}

struct WriteCase {
    const char* input;
    std::string display;
    std::optional<std::string> gedcom551;
    std::optional<std::string> gedcom7;
};

TEST(dates_writing, writes_display_text_and_both_grammars) {
    const std::vector<WriteCase> cases = {
        {"5 JAN 1900", "5 January 1900", "5 JAN 1900", "5 JAN 1900"},
        {"05.01.1900", "5 January 1900", "5 JAN 1900", "5 JAN 1900"},
        {"MAR 1900", "March 1900", "MAR 1900", "MAR 1900"},
        {"1900", "1900", "1900", "1900"},
        {"ABT 5 JAN 1882", "about 5 January 1882", "ABT 5 JAN 1882", "ABT 5 JAN 1882"},
        {"cal 1882", "calculated 1882", "CAL 1882", "CAL 1882"},
        {"est 1882", "estimated 1882", "EST 1882", "EST 1882"},
        {"før 1882", "before 1882", "BEF 1882", "BEF 1882"},
        {"après 1882", "after 1882", "AFT 1882", "AFT 1882"},
        {"<1850>", "about 1850", "ABT 1850", "ABT 1850"},
        {"entre 1900 et 1910", "between 1900 and 1910", "BET 1900 AND 1910", "BET 1900 AND 1910"},
        {"von 1900 bis 1910", "from 1900 to 1910", "FROM 1900 TO 1910", "FROM 1900 TO 1910"},
        {"FROM 1900 TO later", "from 1900", "FROM 1900", "FROM 1900"},
        {"TO 1910", "to 1910", "TO 1910", "TO 1910"},
        {"BET 1900 AND sometime", "between 1900", nullopt, nullopt},
        {"BET sometime AND 1910", "between 1910", nullopt, nullopt},
        {"FROM sometime", "FROM sometime", nullopt, nullopt},
        // INT and phrases.
        {"INT 1900 (nineteen hundred)", "interpreted as 1900", "INT 1900 (nineteen hundred)",
         "1900"},
        {"INT 1900", "interpreted as 1900", nullopt, "1900"},
        {"1900 (a note (with parentheses))", "1900", "INT 1900 (a note [with parentheses])",
         "1900"},
        {"ABT 1900 (maybe)", "about 1900", nullopt, "ABT 1900"},
        // Dual years: version 7 writes the later year (and the caller keeps the text).
        {"1700/01", "1700", "1700/01", "1701"},
        {"30 JAN 1648/49", "30 January 1648", "30 JAN 1648/49", "30 JAN 1649"},
        {"5 JAN 1699/00", "5 January 1699", "5 JAN 1699/00", "5 JAN 1700"},
        {"1700/05", "1700", "INT 1700 (1700/05)", nullopt},
        {"1700/05 (odd)", "1700", "INT 1700 (odd)", nullopt},
        {"ABT 1700/01", "about 1700", "ABT 1700/01", "ABT 1701"},
        {"ABT 1700/05", "about 1700", nullopt, nullopt},
        {"BEF 1700/01", "before 1700", "BEF 1700/01", "BEF 1701"},
        {"BET 1699 AND 1700/01", "between 1699 and 1700", "BET 1699 AND 1700/01",
         "BET 1699 AND 1701"},
        {"1900 (cf. 1700/01)", "1900", "INT 1900 (cf. 1700/01)", nullopt},
        {"FROM 1699/00 TO 1700/01", "from 1699 to 1700", nullopt, nullopt},
        {"MAY 009/10", "May 9", "INT MAY 9 (MAY 009/10)", nullopt},
        {"@#DJULIAN@ 1700/01", "1700", "INT @#DJULIAN@ 1700 (@#DJULIAN@ 1700/01)", "JULIAN 1701"},
        // Calendars.
        {"@#DJULIAN@ 5 JAN 1700", "5 January 1700", "@#DJULIAN@ 5 JAN 1700", "JULIAN 5 JAN 1700"},
        {"ABT @#DJULIAN@ 1700", "about 1700", "ABT @#DJULIAN@ 1700", "ABT JULIAN 1700"},
        {"@#DJULIAN@ BET 1700 AND 1710", "between 1700 and 1710",
         "BET @#DJULIAN@ 1700 AND @#DJULIAN@ 1710", "BET JULIAN 1700 AND JULIAN 1710"},
        {"@#DHEBREW@ 5780", "5780", "@#DHEBREW@ 5780", "HEBREW 5780"},
        {"@#DHEBREW@ 5 JAN 5780", "@#DHEBREW@ 5 JAN 5780", nullopt, nullopt},
        {"@#DHEBREW@ 29 tmz 4865", "29 Tammuz 4865", "@#DHEBREW@ 29 TMZ 4865",
         "HEBREW 29 TMZ 4865"},
        {"BET HEBREW ADR 5780 AND HEBREW ELL 5780", "between Adar 5780 and Elul 5780",
         "BET @#DHEBREW@ ADR 5780 AND @#DHEBREW@ ELL 5780",
         "BET HEBREW ADR 5780 AND HEBREW ELL 5780"},
        {"@#DFRENCH R@ 12", "12", "@#DFRENCH R@ 12", "FRENCH_R 12"},
        {"FRENCH_R 11 FRIM 13", "11 Frimaire 13", "@#DFRENCH R@ 11 FRIM 13", "FRENCH_R 11 FRIM 13"},
        {"@#DFRENCH R@ 5 COMP 2", "5 jours complémentaires 2", "@#DFRENCH R@ 5 COMP 2",
         "FRENCH_R 5 COMP 2"},
        {"@#DHEBREW@ 500 B.C.", "-500", nullopt, nullopt},
        // Each point in its own calendar.
        {"FROM 1700 TO @#DJULIAN@ 1750", "from 1700 to 1750", "FROM 1700 TO @#DJULIAN@ 1750",
         "FROM 1700 TO JULIAN 1750"},
        {"FROM @#DJULIAN@ 1700 TO 1750", "from 1700 to 1750", "FROM @#DJULIAN@ 1700 TO 1750",
         "FROM JULIAN 1700 TO 1750"},
        {"GREGORIAN 1601", "1601", "1601", "1601"},
        {"JULIAN 1401 BCE", "-1401", "@#DJULIAN@ 1401 B.C.", "JULIAN 1401 BCE"},
        {"BET HEBREW 5 TSH 5500 AND 1750", "between 5 Tishrei 5500 and 1750",
         "BET @#DHEBREW@ 5 TSH 5500 AND 1750", "BET HEBREW 5 TSH 5500 AND 1750"},
        {"BET 1700 AND @#DROMAN@ 5", "between 1700 and 5", nullopt, nullopt},
        // Spellings that change nothing.
        {"03 SEP 1938", "3 September 1938", "3 SEP 1938", "3 SEP 1938"},
        {"5 MAY 0005", "5 May 5", "5 MAY 5", "5 MAY 5"},
        {"@#DGREGORIAN@ 1700", "1700", "1700", "1700"},
        // A number is no month where a name is one, and nothing else is guessed.
        {"Monday, 3 JAN 1900", "Monday, 3 JAN 1900", nullopt, nullopt},
        {"Born 3 JAN 1900", "Born 3 JAN 1900", nullopt, nullopt},
        {"23/6 NOV 1907", "23/6 NOV 1907", nullopt, nullopt},
        {"age 5 in 1900", "age 5 in 1900", nullopt, nullopt},
        {"3 JAN 5 1900", "3 JAN 5 1900", nullopt, nullopt},
        {"janvier 1er 1900", "1 January 1900", "1 JAN 1900", "1 JAN 1900"},
        {"@#DROMAN@ 500", "500", nullopt, nullopt},
        {"@#DUNKNOWN@ 500", "500", nullopt, nullopt},
        // Eras.
        {"500 B.C.", "-500", "500 B.C.", "500 BCE"},
        {"25 BC", "-25", "25 B.C.", "25 BCE"},
        {"5 JAN 500 BCE", "5 January -500", "5 JAN 500 B.C.", "5 JAN 500 BCE"},
        {"ABT 500 BCE", "about -500", "ABT 500 B.C.", "ABT 500 BCE"},
        {"@#DJULIAN@ 500 B.C.", "-500", "@#DJULIAN@ 500 B.C.", "JULIAN 500 BCE"},
        {"HEBREW 500 BCE", "-500", nullopt, nullopt},
        {"500/01 BCE", "-500", "INT 500 B.C. (500/01 BCE)", nullopt},
        // A day without a month has no GEDCOM form; writing it would lose the day.
        {"15/01/1900", "1900", nullopt, nullopt},
        // Unparsed.
        {"  sometime in spring ", "sometime in spring", nullopt, nullopt},
        {"ABT sometime", "ABT sometime", nullopt, nullopt},
        {"", "", nullopt, nullopt},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.input);
        const GedcomDate date = GedcomDate::parse(c.input);
        EXPECT_EQ(date.display(), c.display);
        EXPECT_EQ(date.to_gedcom_551(), c.gedcom551);
        EXPECT_EQ(date.to_gedcom_7(), c.gedcom7);
    }
}

TEST(dates_writing, refuses_points_no_grammar_can_hold) {
    GedcomDate date;
    date.kind = DateKind::Exact;
    for (const DatePoint& point :
         {y(10000), y(-10000), DatePoint{1900, 13, nullopt}, DatePoint{1900, 0, 1},
          DatePoint{1900, 1, 32}, DatePoint{1900, nullopt, 5}}) {
        SCOPED_TRACE(point.year);
        date.earliest = date.latest = point;
        EXPECT_EQ(date.to_gedcom_551(), nullopt);
        EXPECT_EQ(date.to_gedcom_7(), nullopt);
    }
}

TEST(dates_writing, writes_points) {
    EXPECT_EQ(ymd(1900, 1, 5).display(), "5 January 1900");
    EXPECT_EQ(ym(1900, 12).display(), "December 1900");
    EXPECT_EQ((DatePoint{1900, nullopt, 5}).display(), "1900");
    EXPECT_EQ(y(-500).display(), "-500");
    EXPECT_EQ(ymd(1900, 9, 5).to_gedcom(), "5 SEP 1900");
    EXPECT_EQ(ymd(-500, 1, 5).to_gedcom(), "5 JAN 500 BCE");
    EXPECT_EQ((DatePoint{1900, nullopt, 5}).to_gedcom(), "1900");
}

TEST(dates_writing, hints_a_year) {
    struct Case {
        const char* input;
        std::optional<std::int32_t> year;
    };
    const std::vector<Case> cases = {
        {"5 JAN 1900", 1900},   {"BEF 1900", 1900},       {"TO 1910", 1910},
        {"in the 1890s", 1890}, {"19000", nullopt},       {"0999 or 1200", 1200},
        {"3000", 3000},         {"in 3000 AD", nullopt},  {"500 BCE", -500},
        {"sometime", nullopt},  {"BET x AND 1910", 1910},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(GedcomDate::parse(c.input).year_hint(), c.year);
    }
}

TEST(dates_json, writes_keys_in_order_with_nulls) {
    EXPECT_EQ(
        to_json(GedcomDate::parse("ABT 5 JAN 1882")),
        R"j({"original":"ABT 5 JAN 1882","calendar":"Gregorian","kind":"About",)j"
        R"j("earliest":{"year":1882,"month":1,"day":5,"calendar":"Gregorian"},)j"
        R"j("latest":{"year":1882,"month":1,"day":5,"calendar":"Gregorian"},"phrase":null})j");
    EXPECT_EQ(
        to_json(GedcomDate::parse(" @#DJULIAN@ BEF 1700 ")),
        R"j({"original":" @#DJULIAN@ BEF 1700 ","calendar":"Julian","kind":"Before","earliest":null,)j"
        R"j("latest":{"year":1700,"month":null,"day":null,"calendar":"Julian"},"phrase":null})j");
    EXPECT_EQ(
        to_json(GedcomDate::parse("(\"quoted\")")),
        R"j({"original":"(\"quoted\")","calendar":"Gregorian","kind":"Unparsed","earliest":null,)j"
        R"j("latest":null,"phrase":"\"quoted\""})j");
    EXPECT_EQ(
        to_json(DateReading{GedcomDate::parse("INT 1900 (x)")}),
        R"j({"original":"INT 1900 (x)","calendar":"Gregorian","kind":"Interpreted",)j"
        R"j("earliest":{"year":1900,"month":null,"day":null,"calendar":"Gregorian"},)j"
        R"j("latest":{"year":1900,"month":null,"day":null,"calendar":"Gregorian"},)j"
        R"j("phrase":"x","display":"interpreted as 1900","gedcom551":"INT 1900 (x)","gedcom7":"1900"})j");
    EXPECT_TRUE(
        to_json(DateReading{GedcomDate::parse("1700/05")})
            .ends_with(R"j("display":"1700","gedcom551":"INT 1700 (1700/05)","gedcom7":null})j"));
}

// Whenever a writer gives text, that text reads back as the same date: same
// calendars, same points, and the same kind, except that an exact date and an
// interpreted one are the same date in different clothes (5.5.1 writes an
// exact date with a phrase as INT, and 7.0 writes INT without its keyword),
// and that 7.0 writes a dual year as its later year (`later_year_allowed`).
::testing::AssertionResult reads_back_as(const GedcomDate& date, const std::string& written,
                                         bool later_year_allowed) {
    const GedcomDate again = GedcomDate::parse(written);
    const auto plain = [](DateKind kind) {
        return kind == DateKind::Interpreted ? DateKind::Exact : kind;
    };
    const auto same = [&](const std::optional<DatePoint>& read, std::optional<DatePoint> wanted) {
        if (read && wanted && later_year_allowed && read->year == wanted->year + 1)
            wanted->year = read->year;
        return read == wanted;
    };
    if (plain(again.kind) != plain(date.kind) || again.calendar != date.calendar ||
        !same(again.earliest, date.earliest) || !same(again.latest, date.latest))
        return ::testing::AssertionFailure() << "\"" << written << "\" reads as " << to_json(again);
    return ::testing::AssertionSuccess();
}

TEST(dates_round_trip, written_dates_read_back_the_same) {
    std::vector<std::string> inputs = {
        "5 JAN 1900",
        "Jan 5, 1900",
        "January 5th, 1900",
        "5. Januar 1900",
        "le 5 janvier 1900",
        "1900-01-05",
        "05.01.1900",
        "01/05/1900",
        "15/01/1900",
        "MAR 1900",
        "1900",
        "0",
        "9999",
        "5 JAN 50",
        "1700/01",
        "5 JAN 1700/01",
        "1700/05",
        "ABT 1700/01",
        "ABT 1700/05",
        "1699/1700",
        "BEF 1700/01",
        "BET 1700/01 AND 1710",
        "MAY 009/10",
        "099/100",
        "BET 1700 AND 1710/11",
        "FROM 1699/00 TO 1700/01",
        "500 BCE",
        "500 B.C.",
        "5 JAN 500 B.C.",
        "JAN 500 BCE",
        "ABT 500 BCE",
        "BET 500 BCE AND 400 BCE",
        "500/01 BCE",
        "INT 1900 (x)",
        "INT 1900",
        "1900 (a (nested) note)",
        "ABT 1900 (maybe)",
        "<1850>",
        "c.1850",
        "BET 1900 AND 1910",
        "BET 1900 AND sometime",
        "FROM 1900 TO 1910",
        "FROM 1900",
        "TO 1910",
        "FROM 1900 TO later",
        "since 1900",
        "until 1910",
        "entre 1900 et 1910",
        "von 1900 bis 1910",
        "@#DJULIAN@ 5 JAN 1700",
        "@#DJULIAN@ ABT 1700",
        "ABT @#DJULIAN@ 1700",
        "@#DJULIAN@ 1700/01",
        "@#DJULIAN@ FROM 1700 TO 1710",
        "JULIAN 1700",
        "@#DHEBREW@ 5780",
        "@#DHEBREW@ BEF 5780",
        "@#DFRENCH R@ 12",
        "FRENCH_R FROM 1 TO 12",
        "@#DFRENCH R@ 1 VEND 1",
        "FROM @#DFRENCH R@ THER 2 TO @#DFRENCH R@ 5 COMP 2",
        "INT @#DHEBREW@ 2 TVT 5758 (x)",
        "HEBREW ABT 13 ADS 5780",
        "@#DROMAN@ 500",
        "@#DJULIAN@ 500 B.C.",
        "INT @#DJULIAN@ 1700 (x)",
        "FROM 1700 TO @#DJULIAN@ 1750",
        "BET @#DHEBREW@ 5500 AND JULIAN 1401 BCE",
        "@#DJULIAN@ FROM 1700 TO GREGORIAN 1750",
        "30 JAN 1648/49",
        "25 BC",
        "AFT 1 JAN 1900",
        "CAL 1900",
        "EST 1900",
        "før 1900",
        "après 1900",
        "sometime",
        "",
    };
    for (const char* qualifier : {"ABT", "CAL", "EST", "BEF", "AFT", "INT", "FROM", "TO"})
        for (const char* point :
             {"1900", "MAR 1900", "5 MAR 1900", "5 MAR 1900 BCE", "1900/01", "7 DEC 99"})
            inputs.push_back(std::string(qualifier) + " " + point + " (phrase)"),
                inputs.push_back(std::string(qualifier) + " " + point);

    std::size_t written = 0;
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        const GedcomDate date = GedcomDate::parse(input);
        const bool dual = date_parts::dual_year(input).has_value();
        for (const auto& [text, later_year_allowed] :
             {std::pair(date.to_gedcom_551(), false), std::pair(date.to_gedcom_7(), dual)}) {
            if (!text) continue;
            ++written;
            EXPECT_TRUE(reads_back_as(date, *text, later_year_allowed));
        }
    }
    // The table is meant to exercise the property, not to be refused wholesale.
    EXPECT_GT(written, inputs.size());
}

}  // namespace
}  // namespace lignor

namespace lignor {
namespace {

TEST(dates_complete, holds_only_where_the_reading_keeps_every_word) {
    for (const std::string_view text :
         {"2 Oct 1822", " 5 AUG 1901", "@#DJULIAN@ 1 JAN 1700", "bet 1900 and 1910",
          "@#DHEBREW@  29 tmz\t4865 ", "JULIAN 1700", "560 B.C.", "ABT 560 BCE", "03 SEP 1938",
          "5 MAY 0005", "@#DGREGORIAN@ 1700", "GREGORIAN 1601", "FROM 1689 TO JULIAN 1690",
          "JULIAN 1401 BCE", "BET @#DJULIAN@ 1700 AND 1710", "00"})
        EXPECT_TRUE(is_complete_reading(GedcomDate::parse(text))) << text;
    for (const std::string_view text :
         {"abt. 1850", "5JAN1900", "Jan 5, 1900", "5 JAN 1900 (ship's log)", "INT 1900 (then)",
          "1700/05", "1700/01", "2 TVT 5758", "@#DROMAN@ 500", "", "1900 GREGORIAN"})
        EXPECT_FALSE(is_complete_reading(GedcomDate::parse(text))) << text;
}

// Every date and phrase written as 5.5.1's interpreted form reads back as the
// same date and exactly the same phrase, by `read_interpreted_551` and as a
// date like any other; dates 5.5.1's INT cannot hold give nothing.
TEST(dates_interpreted, written_forms_read_back_exactly) {
    const std::vector<std::string> phrases = {"a (nested) note", "ends early) here", "(",
                                              "  spaced  ",      "@#DJULIAN@ x",     ""};
    for (const std::string_view text :
         {"ABT 1900", "BET 1900 AND 1910", "FROM 1900 TO 1905", "abt. 1900", "1900 (its own)",
          "sometime", "@#DROMAN@ 5", "1 JAN 1700/01"})
        EXPECT_EQ(to_interpreted_551(GedcomDate::parse(text), "p"), nullopt) << text;
    for (const std::string_view text : {"", "5 JAN 1900", "@#DJULIAN@ 1 JAN 1700",
                                        "HEBREW 29 TMZ 4865", "560 BCE", "JULIAN 1401 BCE"}) {
        const GedcomDate date = GedcomDate::parse(text);
        for (const std::string& phrase : phrases) {
            SCOPED_TRACE(std::string(text) + " with " + phrase);
            const auto written = to_interpreted_551(date, phrase);
            ASSERT_TRUE(written);
            const auto read = read_interpreted_551(*written);
            ASSERT_TRUE(read);
            EXPECT_EQ(read->phrase, phrase);
            const GedcomDate again = GedcomDate::parse(*written);
            EXPECT_EQ(again.kind, text.empty() ? DateKind::Unparsed : DateKind::Interpreted);
            EXPECT_EQ(again.earliest, date.earliest);
            EXPECT_EQ(read->date.has_value(), !text.empty());
            if (read->date) {
                EXPECT_EQ(read->date->to_gedcom_551(), date.to_gedcom_551());
            }
        }
    }
    EXPECT_EQ(to_interpreted_551(GedcomDate::parse("HEBREW 2 TVT 5758"), "p"),
              "INT @#DHEBREW@ 2 TVT 5758 (p)");
}

TEST(dates_interpreted, reads_only_the_two_forms_whole) {
    const auto date_of = [](std::string_view text) {
        const auto read = read_interpreted_551(text);
        return read && read->date ? read->date->to_gedcom_7() : std::nullopt;
    };
    EXPECT_EQ(date_of(" int  @#DJULIAN@ 1700 (x) "), "JULIAN 1700");
    EXPECT_EQ(read_interpreted_551(" ( about 1900 ) \t")->phrase, " about 1900 ");
    for (const std::string_view text :
         {"INT 2 TVT 5758 (interpreted Hebrew date)", "INT abt. 1900 (x)", "INT ABT 1900 (x)",
          "1900 (x)", "INT 1900", "INTERPRETED 1900 (x)", "INT 1900 (x) and more", "INT(x)",
          "abt. 777 BC (or abt. 580 BC)", "INT 1900 x)"})
        EXPECT_EQ(read_interpreted_551(text), std::nullopt) << text;
}

}  // namespace
}  // namespace lignor
