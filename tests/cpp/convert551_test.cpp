// Tests of the conversion to 5.5.1: each rule's output lines and notes, as
// tables.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "convert.hpp"
#include "support.hpp"
#include "wrap.hpp"

namespace lignor {
namespace {

using std::string;
using test::note_keys;
using test::read;

using Case = test::ConversionCase;

class ToVersion551 : public testing::TestWithParam<Case> {};

TEST_P(ToVersion551, converts_a_copy_and_names_each_change) {
    test::check_conversion(
        GetParam(), [](const Document& document, const Case&) { return to_version_551(document); },
        "5.5.1");
}

const string trailer = "0 TRLR\n";
const string head7 = "0 HEAD\n1 GEDC\n2 VERS 7.0\n";
const string head551 = "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n";
// Converting a 7.0 header gives head551 and this note.
const string char_added = "-|CHAR|Converted";

// A text whose cut at 5.5.1's limit would fall inside "@@".
const string at_signs = string(240, 'a') + "@@b";

INSTANTIATE_TEST_SUITE_P(
    records, ToVersion551,
    testing::Values(
        // Only what version 7's percent-encoding of a path writes is undone.
        Case{"file_paths",
             head7 +
                 "0 @O1@ OBJE\n1 FILE c:%5Cme%5Cphoto%201.jpg\n1 FILE https://x.org/a%20b\n1 FILE "
                 "x%2541.jpg\n1 FILE %c3%a9.jpg\n" +
                 trailer,
             head551 +
                 "0 @O1@ OBJE\n1 FILE c:\\me\\photo 1.jpg\n1 FILE https://x.org/a%20b\n1 FILE "
                 "x%2541.jpg\n1 FILE %c3%a9.jpg\n" +
                 trailer,
             {char_added, "@O1@|FILE|Converted"}},
        Case{"no_cut_inside_at_signs",
             head7 + "0 @N1@ SNOTE " + at_signs + "\n" + trailer,
             head551 + "0 @N1@ NOTE " + string(240, 'a') + "\n1 CONC @@b\n" + trailer,
             {char_added, "@N1@|SNOTE|Converted"}},
        Case{"trailer_settled",
             head7 + trailer + "0 @I1@ INDI\n",
             head551 + "0 @I1@ INDI\n" + trailer,
             {char_added, "@I1@|INDI|Converted"}}),
    [](const auto& info) { return string(info.param.name); });

// Where 5.5.1 has a place for the words, they go there rather than into a
// PHRASE it lacks; a denial stays a denial.
INSTANTIATE_TEST_SUITE_P(
    words, ToVersion551,
    testing::Values(
        Case{"dates_whose_phrase_reads_as_them",
             head7 +
                 "0 @I1@ INDI\n1 BIRT\n2 DATE ABT 1279\n3 PHRASE abt. 1279 (or 1338?)\n1 DEAT\n2 "
                 "DATE 1224\n3 PHRASE 1224 (or '27)\n1 BURI\n2 DATE 1900\n3 PHRASE 1900\n" +
                 trailer,
             head551 +
                 "0 @I1@ INDI\n1 BIRT\n2 DATE abt. 1279 (or 1338?)\n1 DEAT\n2 DATE 1224 (or "
                 "'27)\n1 BURI\n2 DATE INT 1900 (1900)\n" +
                 trailer,
             {char_added, "@I1@|PHRASE|Converted", "@I1@|PHRASE|Converted",
              "@I1@|PHRASE|Converted"}},
        Case{"ages_and_enumerations",
             head7 +
                 "0 @I1@ INDI\n1 NAME A\n2 TYPE AKA\n1 NAME B\n2 TYPE OTHER\n3 PHRASE Stage\n1 "
                 "CHR\n2 AGE < 8y\n3 PHRASE Child\n1 DEAT\n2 AGE < 8y\n3 PHRASE young\n1 FAMC "
                 "@F1@\n2 PEDI FOSTER\n0 @S1@ SOUR\n1 REPO @R1@\n2 CALN 1\n3 MEDI BOOK\n4 "
                 "PHRASE Booklet\n2 CALN 2\n3 MEDI OTHER\n4 PHRASE Scroll\n" +
                 trailer,
             head551 +
                 "0 @I1@ INDI\n1 NAME A\n2 TYPE aka\n1 NAME B\n2 TYPE Stage\n1 CHR\n2 AGE "
                 "Child\n1 DEAT\n2 AGE < 8y\n3 PHRASE young\n1 FAMC @F1@\n2 PEDI foster\n0 @S1@ "
                 "SOUR\n1 REPO @R1@\n2 CALN 1\n3 MEDI book\n4 PHRASE Booklet\n2 CALN 2\n3 MEDI "
                 "Scroll\n" +
                 trailer,
             {char_added, "@I1@|TYPE|Converted", "@I1@|AGE|Converted", "@I1@|PEDI|Converted",
              "@S1@|MEDI|Converted"}},
        Case{"denials",
             head7 + "0 @F1@ FAM\n1 NO DIV\n2 NOTE n\n1 NO MARR\n2 DATE TO 1900\n" + trailer,
             head551 + "0 @F1@ FAM\n1 DIV N\n2 NOTE n\n1 NO MARR\n2 DATE TO 1900\n" + trailer,
             {char_added, "@F1@|NO|Kept", "@F1@|NO|Converted"}}),
    [](const auto& info) { return string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    header, ToVersion551,
    testing::Values(
        Case{"v7_with_schema",
             head7 + "1 SCHMA\n2 TAG _X https://example.org/x\n" + trailer,
             head551 + trailer,
             {char_added, "-|SCHMA|Dropped"}},
        Case{"no_gedc",
             "0 HEAD\n1 SOUR x\n" + trailer,
             "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 SOUR x\n1 CHAR UTF-8\n" +
                 trailer,
             {"-|GEDC|Converted", char_added}},
        // The character set a 5.5.x header declares stays; a GEDC without
        // VERS or FORM gains both.
        Case{"gedc_without_vers_and_char_kept",
             "0 HEAD\n1 GEDC\n1 CHAR ANSEL\n" + trailer,
             "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR ANSEL\n" + trailer,
             {}},
        // 5.5.1 to 5.5.1 changes only the declared version: its own role
        // descriptors, relations and continuation lines stay.
        Case{"from_5_5",
             "0 HEAD\n1 GEDC\n2 VERS 5.5\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n"
             "0 @I1@ INDI\n1 NOTE a\n2 CONC b\n1 ASSO @I2@\n2 RELA Godfather\n"
             "0 @S1@ SOUR\n1 EVEN\n2 ROLE (Godfather)\n1 DATA\n2 EVEN BIRT\n3 ROLE WIFE\n" +
                 trailer,
             head551 +
                 "0 @I1@ INDI\n1 NOTE a\n2 CONC b\n1 ASSO @I2@\n2 RELA Godfather\n"
                 "0 @S1@ SOUR\n1 EVEN\n2 ROLE (Godfather)\n1 DATA\n2 EVEN BIRT\n3 ROLE WIFE\n" +
                 trailer,
             {}},
        Case{"shared_note_record_and_pointer",
             head551 + "0 @N1@ SNOTE text\n1 CONT more\n0 @I1@ INDI\n1 SNOTE @N1@\n" + trailer,
             head551 + "0 @N1@ NOTE text\n1 CONT more\n0 @I1@ INDI\n1 NOTE @N1@\n" + trailer,
             {"@N1@|SNOTE|Converted", "@I1@|SNOTE|Converted"}},
        Case{"version_7_only_kept",
             head551 +
                 "0 @I1@ INDI\n1 CREA\n2 DATE 1 JAN 2000\n1 EXID 123\n2 TYPE u\n1 UID 3f2a\n" +
                 trailer,
             head551 +
                 "0 @I1@ INDI\n1 CREA\n2 DATE 1 JAN 2000\n1 EXID 123\n2 TYPE u\n1 _UID 3f2a\n" +
                 trailer,
             {"@I1@|CREA|Kept", "@I1@|EXID|Kept", "@I1@|UID|Converted"}}),
    [](const auto& info) { return string(info.param.name); });

const string kept_phrase = "@I1@|PHRASE|Kept";

INSTANTIATE_TEST_SUITE_P(
    dated_phrases, ToVersion551,
    testing::Values(
        Case{"interpreted",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE about then\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE INT 1900 (about then)\n" + trailer,
             {"@I1@|PHRASE|Converted"}},
        Case{"empty_date",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE\n3 PHRASE p\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE (p)\n" + trailer,
             {"@I1@|PHRASE|Converted"}},
        Case{"escaped_phrase_and_calendars",
             head551 +
                 "0 @I1@ INDI\n1 BIRT\n2 DATE\n3 PHRASE @@#DJULIAN@ x\n1 DEAT\n"
                 "2 DATE HEBREW 2 TVT 5758\n3 PHRASE a) (b\n1 BURI\n2 DATE 560 BCE\n" +
                 trailer,
             head551 +
                 "0 @I1@ INDI\n1 BIRT\n2 DATE (@#DJULIAN@ x)\n1 DEAT\n"
                 "2 DATE INT @#DHEBREW@ 2 TVT 5758 (a) (b)\n1 BURI\n2 DATE 560 B.C.\n" +
                 trailer,
             {"@I1@|PHRASE|Converted", "@I1@|PHRASE|Converted", "@I1@|DATE|Converted"}},
        Case{"range_keeps_its_phrase",
             head551 +
                 "0 @I1@ INDI\n1 BIRT\n2 DATE ABT 560 BCE\n3 PHRASE p\n1 DEAT\n"
                 "2 DATE FROM 1900 TO 1905\n3 PHRASE q\n" +
                 trailer,
             head551 +
                 "0 @I1@ INDI\n1 BIRT\n2 DATE ABT 560 B.C.\n3 PHRASE p\n1 DEAT\n"
                 "2 DATE FROM 1900 TO 1905\n3 PHRASE q\n" +
                 trailer,
             {"@I1@|DATE|Converted", kept_phrase, kept_phrase}},
        Case{"two_phrases",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n3 PHRASE b\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n3 PHRASE b\n" + trailer,
             {kept_phrase}},
        Case{"phrase_spans_lines",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n4 CONT b\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n4 CONT b\n" + trailer,
             {kept_phrase}},
        Case{"date_spans_lines",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 CONT x\n3 PHRASE a\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 CONT x\n3 PHRASE a\n" + trailer,
             {kept_phrase}},
        Case{"phrase_with_substructure",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n4 _X y\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n4 _X y\n" + trailer,
             {kept_phrase}},
        Case{"continuation_with_substructure",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n4 CONC b\n5 _X y\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n3 PHRASE a\n4 CONC b\n5 _X y\n" + trailer,
             {kept_phrase}}),
    [](const auto& info) { return string(info.param.name); });

const string sour = "0 @S1@ SOUR\n1 EVEN\n";
const string asso = "0 @I1@ INDI\n1 ASSO @I2@\n";

INSTANTIATE_TEST_SUITE_P(
    roles, ToVersion551,
    testing::Values(
        Case{"event_roles",
             head551 + sour + "2 ROLE WITN\n2 ROLE HUSB\n2 ROLE HUSB\n3 PHRASE the groom\n" +
                 "2 ROLE Godfather\n2 ROLE (Godfather)\n" + trailer,
             head551 + sour + "2 ROLE (Witness)\n2 ROLE HUSB\n2 ROLE (the groom)\n" +
                 "2 ROLE (Godfather)\n2 ROLE (Godfather)\n" + trailer,
             {"@S1@|ROLE|Converted", "@S1@|ROLE|Converted", "@S1@|ROLE|Converted"}},
        Case{"association_roles",
             head551 + asso + "2 ROLE GODP\n2 ROLE OTHER\n3 PHRASE Best man\n" + trailer,
             head551 + asso + "2 RELA Godparent\n2 RELA Best man\n" + trailer,
             {"@I1@|ROLE|Converted", "@I1@|ROLE|Converted"}},
        Case{"phrase_not_one_line",
             head551 + asso + "2 ROLE OTHER\n3 PHRASE a\n4 CONT b\n" + trailer,
             head551 + asso + "2 ROLE OTHER\n3 PHRASE a\n4 CONT b\n" + trailer,
             {"@I1@|ROLE|Kept"}},
        Case{"blank_phrase",
             head551 + sour + "2 ROLE OTHER\n3 PHRASE  \n" + trailer,
             head551 + sour + "2 ROLE OTHER\n3 PHRASE  \n" + trailer,
             {"@S1@|ROLE|Kept"}},
        Case{"two_phrases",
             head551 + sour + "2 ROLE OTHER\n3 PHRASE a\n3 PHRASE b\n" + trailer,
             head551 + sour + "2 ROLE OTHER\n3 PHRASE a\n3 PHRASE b\n" + trailer,
             {"@S1@|ROLE|Kept"}},
        Case{"continuation_guard",
             head551 + sour + "2 ROLE WIT\n3 CONC N\n4 _X y\n" + trailer,
             head551 + sour + "2 ROLE WIT\n3 CONC N\n4 _X y\n" + trailer,
             {"@S1@|ROLE|Kept"}},
        Case{"role_elsewhere_untouched",
             head551 + "0 @I1@ INDI\n1 BIRT\n2 ROLE WITN\n" + trailer,
             head551 + "0 @I1@ INDI\n1 BIRT\n2 ROLE WITN\n" + trailer,
             {}}),
    [](const auto& info) { return string(info.param.name); });

// Every line of `text` fits 5.5.1's 255 bytes, terminator included.
bool fits_255(const string& text) {
    std::istringstream lines(text);
    for (string line; std::getline(lines, line);) {
        if (line.size() + 1 > 255) return false;
    }
    return true;
}

// Rewritten and retagged lines are fitted with CONC lines and read back as
// the same text; lines no rule touched are only counted.
TEST(to_version_551, fits_every_line_it_can) {
    const string words = string(150, 'a') + " " + string(150, 'b');
    const Document original = read(head7 + "0 @N1@ SNOTE " + words + "\n0 @I1@ INDI\n1 UID " +
                                   words + "\n1 BIRT\n2 DATE 1900\n3 PHRASE " + words +
                                   "\n0 @S1@ SOUR\n1 EVEN\n2 ROLE OTHER\n3 PHRASE " + words +
                                   "\n0 @I2@ INDI\n1 NOTE " + words + "\n" + trailer);
    const Conversion conversion = to_version_551(original);
    const Document& converted = conversion.document;
    EXPECT_EQ(note_keys(conversion),
              (std::vector<string>{char_added, "@N1@|SNOTE|Converted", "@I1@|UID|Converted",
                                   "@I1@|PHRASE|Converted", "@S1@|ROLE|Converted",
                                   "@I2@|NOTE|Converted"}));
    // Lines no rule rewrote are split too: a 5.5.1 reader refuses longer ones.
    const string text = converted.to_text();
    EXPECT_TRUE(fits_255(text));
    const Document reread = read(text);
    EXPECT_EQ(reread.record("@I2@")->first("NOTE")->logical_value(), words);
    EXPECT_EQ(reread.record("@N1@")->logical_value(), words);
    EXPECT_EQ(reread.record("@I1@")->first("_UID")->logical_value(), words);
    EXPECT_EQ(reread.record("@I1@")->first("BIRT")->first("DATE")->logical_value(),
              "INT 1900 (" + words + ")");
    EXPECT_EQ(reread.record("@S1@")->first("EVEN")->first("ROLE")->logical_value(),
              "(" + words + ")");
}

// A long line no CONC line can carry (level 64) is named as staying long,
// and wrapping the converted document lists it rather than passing it over.
TEST(to_version_551, says_which_long_lines_wrapping_cannot_fit) {
    string deep = "0 @I1@ INDI\n";
    for (int level = 1; level < 64; ++level) deep += std::to_string(level) + " _X\n";
    deep += "64 NOTE " + string(300, 'a') + "\n";
    Conversion conversion = to_version_551(read(head7 + deep + trailer));
    EXPECT_EQ(conversion.notes.back().detail,
              "1 line(s) in this record stay longer than 5.5.1's 255 bytes, which no CONC line "
              "can split: its continuation lines would stand deeper than level 64");
    const auto report = wrap_long_lines(conversion.document, 255);
    ASSERT_EQ(report->size(), 1u);
    EXPECT_FALSE(report->front().wrapped);
}

TEST(to_version_551, names_the_source_version) {
    EXPECT_EQ(to_version_551(read("0 HEAD\n0 TRLR\n")).from_version, "unstated");
    EXPECT_EQ(to_version_551(read(head7 + trailer)).from_version, "7.0");
}

}  // namespace
}  // namespace lignor
