// Tests of version 7's grammars beyond what the check's own tests reach.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "v7grammar.hpp"

namespace lignor {
namespace {

using v7table::Payload;

bool same_reading(const std::optional<v7::DateValue>& a, const std::optional<v7::DateValue>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    const auto same_part = [](const v7::DatePart& x, const v7::DatePart& y) {
        return x.calendar == y.calendar && x.day == y.day && x.month == y.month &&
               x.year == y.year && x.epoch == y.epoch;
    };
    return a->form == b->form && same_part(a->first, b->first) && same_part(a->second, b->second);
}

// The shortcut for the common date shapes gives the word-by-word reading,
// over every run of up to four words from the vocabulary of dates and its
// near misses, as a date value, a period and an exact date.
TEST(v7grammar, the_common_date_shortcut_reads_as_the_words_do) {
    const std::vector<std::string> words = {
        "BET", "AND", "FROM", "TO",   "ABT",  "JAN", "FEB",    "TSH", "Jan", "1",    "29",
        "31",  "0",   "01",   "1900", "2000", "BCE", "JULIAN", "_X",  "",    "1900x"};
    std::vector<std::size_t> pick;
    std::size_t dates = 0;
    for (std::size_t count = 1; count <= 4; ++count) {
        pick.assign(count, 0);
        for (;;) {
            std::string text;
            for (std::size_t i = 0; i < count; ++i) text += (i ? " " : "") + words[pick[i]];
            for (const Payload type : {Payload::Date, Payload::DatePeriod, Payload::ExactDate}) {
                const auto quick = v7::read_date(text, type);
                dates += quick.has_value();
                EXPECT_TRUE(same_reading(quick, v7::read_date_by_words(text, type)))
                    << '"' << text << '"';
            }
            std::size_t i = 0;
            while (i < count && ++pick[i] == words.size()) pick[i++] = 0;
            if (i == count) break;
        }
    }
    EXPECT_GT(dates, 1000u);
}

// Each banned character is found where it stands, whatever the length of the
// text around it (the scan reads whole words, then bytes).
TEST(v7grammar, banned_characters_are_found_wherever_they_stand) {
    for (const std::string banned : {"\x01", "\x1F", "\x7F", "\xED\xA0\x80", "\xEF\xBF\xBE"}) {
        for (std::size_t before = 0; before < 20; ++before) {
            const std::string text = std::string(before, 'a') + banned + "bc";
            EXPECT_EQ(v7::find_banned(text), before) << before;
        }
    }
    for (const std::string allowed : {"\t", "\xC2\x85", "\xEF\xBB\xBF", "\xED\x9F\xBF", "é"}) {
        for (std::size_t before = 0; before < 20; ++before)
            EXPECT_EQ(v7::find_banned(std::string(before, 'a') + allowed), std::string::npos);
    }
}

}  // namespace
}  // namespace lignor
