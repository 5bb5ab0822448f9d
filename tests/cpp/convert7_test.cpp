#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert.hpp"
#include "document.hpp"
#include "json.hpp"
#include "support.hpp"

namespace lignor {
namespace {

using std::string;
using test::note_keys;
using test::read;

struct Case {
    const char* name;
    string input;
    string output;
    std::vector<string> notes;
    std::vector<OwnedExtension> owned = {};
};

class ToVersion7 : public testing::TestWithParam<Case> {};

TEST_P(ToVersion7, converts_a_copy_and_names_each_change) {
    const Case& c = GetParam();
    const Document original = read(c.input);
    const Conversion conversion = to_version_7_with(original, c.owned);
    EXPECT_EQ(conversion.document.to_text(), c.output);
    EXPECT_EQ(note_keys(conversion), c.notes);
    EXPECT_EQ(conversion.to_version, "7.0");
    EXPECT_EQ(original.to_text(), c.input);  // the caller's document is untouched
}

const string trailer = "0 TRLR\n";
const string head7 = "0 HEAD\n1 GEDC\n2 VERS 7.0\n";
const string undocumented = string(" ") + string(undocumented_extension_uri) + "\n";

INSTANTIATE_TEST_SUITE_P(
    header, ToVersion7,
    testing::Values(
        Case{"v551",
             "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n" + trailer,
             head7 + trailer,
             {"-|GEDC.FORM|Dropped", "-|CHAR|Dropped"}},
        Case{"no_gedc",
             "0 HEAD\n1 SOUR x\n1 CHAR ANSEL\n1 CHAR UTF-8\n" + trailer,
             head7 + "1 SOUR x\n" + trailer,
             {"-|GEDC|Converted", "-|CHAR|Dropped"}},
        Case{"gedc_without_vers",
             "0 HEAD\n1 GEDC\n2 _X y\n" + trailer,
             "0 HEAD\n1 GEDC\n2 _X y\n2 VERS 7.0\n" + trailer,
             {}},
        Case{"already_7", head7 + "1 SOUR x\n" + trailer, head7 + "1 SOUR x\n" + trailer, {}},
        // The header every part of the library agrees on: not first, any case.
        Case{"header_not_first_in_other_case",
             "0 @I1@ INDI\n0 Head\n1 GEDC\n2 VERS 5.5.1\n" + trailer,
             "0 @I1@ INDI\n0 Head\n1 GEDC\n2 VERS 7.0\n" + trailer,
             {"-|Head|Kept", "@I1@|INDI|Kept"}},
        Case{"no_header",
             "0 @I1@ INDI\n1 _FOO a\n" + trailer,
             "0 @I1@ INDI\n1 _FOO a\n" + trailer,
             {"@I1@|INDI|Kept"}}),
    [](const auto& info) { return string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    note_records, ToVersion7,
    testing::Values(
        Case{"record_and_pointers_in_any_case",
             head7 + "0 @n1@ NOTE text\n1 CONT more\n0 @I1@ INDI\n1 NOTE @N1@\n1 NOTE inline\n" +
                 trailer,
             head7 + "0 @n1@ SNOTE text\n1 CONT more\n0 @I1@ INDI\n1 SNOTE @N1@\n1 NOTE inline\n" +
                 trailer,
             {"@n1@|NOTE|Converted", "@I1@|NOTE|Converted", "@n1@|SNOTE|Kept"}},
        Case{"only_exact_note_tag_with_identifier",
             head7 + "0 NOTE loose\n" + trailer,
             head7 + "0 NOTE loose\n" + trailer,
             {"-|NOTE|Kept"}}),
    [](const auto& info) { return string(info.param.name); });

const string extension_records =
    "0 @I1@ INDI\n1 _FOO a\n0 @I2@ INDI\n1 BIRT\n2 _FOO b\n0 @I3@ INDI\n1 _BAR c\n" + trailer;

INSTANTIATE_TEST_SUITE_P(
    extensions, ToVersion7,
    testing::Values(
        Case{"sorted_and_undocumented",
             head7 + "1 _HDR only here\n" + extension_records,
             head7 + "1 _HDR only here\n1 SCHMA\n2 TAG _BAR" + undocumented + "2 TAG _FOO" +
                 undocumented + extension_records,
             {"-|_BAR|Kept", "-|_FOO|Kept"}},
        Case{"owned",
             head7 + extension_records,
             head7 + "1 SCHMA\n2 TAG _BAR" + undocumented + "2 TAG _FOO https://example.org/foo\n" +
                 extension_records,
             {"-|_BAR|Kept", "-|_FOO|Converted"},
             {{"_foo", "https://example.org/wrong-case"}, {"_FOO", "https://example.org/foo"}}},
        Case{"already_declared",
             head7 + "1 SCHMA\n2 TAG _FOO x\n" + extension_records,
             head7 + "1 SCHMA\n2 TAG _FOO x\n2 TAG _BAR" + undocumented + extension_records,
             {"-|_BAR|Kept"}}),
    [](const auto& info) { return string(info.param.name); });

const string head551 = "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n";

INSTANTIATE_TEST_SUITE_P(
    records, ToVersion7,
    testing::Values(
        // The new identifier is used by no record and no pointer, in any case.
        Case{"embedded_object",
             head551 +
                 "0 @X1@ INDI\n1 OBJE\n2 FILE a b.jpg\n2 FORM jpg\n2 TITL Portrait\n2 NOTE n\n1 "
                 "NOTE @x2@\n" +
                 trailer,
             head7 +
                 "0 @X1@ INDI\n1 OBJE @X3@\n2 TITL Portrait\n1 NOTE @x2@\n0 @X3@ OBJE\n1 FILE "
                 "a%20b.jpg\n2 FORM image/jpeg\n1 NOTE n\n" +
                 trailer,
             {"@X1@|OBJE|Converted", "@X3@|OBJE.FORM|Converted", "@X3@|FILE|Converted",
              "@X3@|FILE.FORM|Converted", "@X1@|NOTE|Kept"}},
        Case{"embedded_source",
             head551 +
                 "0 @I1@ INDI\n1 BIRT\n2 SOUR Parish book,\n3 CONC  p. 4\n3 CONT line two\n3 "
                 "TEXT Baptised\n4 CONT on Sunday\n3 QUAY 2\n3 AUTH The vicar\n" +
                 trailer,
             head7 +
                 "0 @I1@ INDI\n1 BIRT\n2 SOUR @X1@\n3 QUAY 2\n3 DATA\n4 TEXT Baptised\n5 CONT "
                 "on Sunday\n0 @X1@ SOUR\n1 TITL Parish book, p. 4\n2 CONT line two\n1 AUTH The "
                 "vicar\n" +
                 trailer,
             {"@I1@|SOUR|Converted", "@I1@|CONC|Converted"}},
        // Records after the trailer move before it, the added ones after them.
        Case{"records_after_the_trailer",
             head551 + trailer + "0 @I1@ INDI\n1 SOUR text\n0 Trlr\n0 @I2@ INDI\n",
             head7 + "0 @I1@ INDI\n1 SOUR @X1@\n0 @I2@ INDI\n0 @X1@ SOUR\n1 TITL text\n" + trailer +
                 "0 Trlr\n",
             {"@I1@|SOUR|Converted", "-|Trlr|Kept", "@I1@|INDI|Converted", "@I2@|INDI|Converted",
              "-|Trlr|Kept"}},
        Case{"no_trailer", head551, head7 + trailer, {"-|TRLR|Converted"}},
        // A pointer, and text with nothing to cite, stay; so does the header's SOUR.
        Case{"citations_left",
             head551 + "1 SOUR app\n0 @I1@ INDI\n1 SOUR @S1@\n1 SOUR\n2 NOTE n\n0 @S1@ SOUR\n" +
                 trailer,
             head7 + "1 SOUR app\n0 @I1@ INDI\n1 SOUR @S1@\n1 SOUR\n2 NOTE n\n0 @S1@ SOUR\n" +
                 trailer,
             {"@I1@|SOUR|Kept"}}),
    [](const auto& info) { return string(info.param.name); });

TEST(to_version_7, names_the_source_version) {
    EXPECT_EQ(to_version_7_with(read("0 HEAD\n0 TRLR\n"), {}).from_version, "unstated");
    EXPECT_EQ(to_version_7_with(read("0 HEAD\n1 GEDC\n2 VERS 5.5\n0 TRLR\n"), {}).from_version,
              "5.5");
}

TEST(to_version_7, sums_up_folded_lines_once_per_record) {
    const Document original = read(head7 +
                                   "0 @I1@ INDI\n1 NOTE a\n2 CONC b\n2 CONC c\n1 TITL\n2 CONC "
                                   "d\n0 @I2@ INDI\n" +
                                   trailer);
    const Conversion conversion = to_version_7_with(original, {});
    ASSERT_EQ(note_keys(conversion), std::vector<string>{"@I1@|CONC|Converted"});
    EXPECT_EQ(conversion.notes[0].detail,
              "version 7 has no CONC; 3 continuation line(s) in 2 structure(s) were folded into "
              "the text they continued, which reads exactly as before; 1 of those structure(s) "
              "had no payload, so the folded text became it");
}

}  // namespace
}  // namespace lignor
