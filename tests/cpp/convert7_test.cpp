// Tests of the conversion to 7.0: each rule's output lines and notes, as
// tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
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

using Case = test::ConversionCase;

class ToVersion7 : public testing::TestWithParam<Case> {};

TEST_P(ToVersion7, converts_a_copy_and_names_each_change) {
    test::check_conversion(
        GetParam(),
        [](const Document& document, const Case& c) {
            return to_version_7_with(document, c.owned);
        },
        "7.0");
}

const string trailer = "0 TRLR\n";
const string head7 = "0 HEAD\n1 GEDC\n2 VERS 7.0\n";
// The declaration of an undocumented extension: a URI of its own, naming it.
string undocumented(std::string_view tag) {
    return "2 TAG " + string(tag) + " " + string(undocumented_extension_uri) + "#" + string(tag) +
           "\n";
}

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
             "0 @I1@ INDI\n1 SEX M\n0 Head\n1 GEDC\n2 VERS 5.5.1\n" + trailer,
             "0 @I1@ INDI\n1 SEX M\n0 Head\n1 GEDC\n2 VERS 7.0\n" + trailer,
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
             head7 + "1 _HDR only here\n1 SCHMA\n" + undocumented("_BAR") + undocumented("_FOO") +
                 extension_records,
             {"-|_BAR|Kept", "-|_FOO|Kept"}},
        Case{"owned",
             head7 + extension_records,
             head7 + "1 SCHMA\n" + undocumented("_BAR") + "2 TAG _FOO https://example.org/foo\n" +
                 extension_records,
             {"-|_BAR|Kept", "-|_FOO|Converted"},
             {{"_foo", "https://example.org/wrong-case"}, {"_FOO", "https://example.org/foo"}}},
        Case{"already_declared",
             head7 + "1 SCHMA\n2 TAG _FOO x\n" + extension_records,
             head7 + "1 SCHMA\n2 TAG _FOO x\n" + undocumented("_BAR") + extension_records,
             {"-|_BAR|Kept"}}),
    [](const auto& info) { return string(info.param.name); });

const string head551 = "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n";

INSTANTIATE_TEST_SUITE_P(
    records, ToVersion7,
    testing::Values(
        // The new identifier is used by no record and no pointer, in any case.
        // The title goes under the record's FILE, where 5.5.1 reads it; an
        // object written alike again is the same record.
        Case{"embedded_object",
             head551 +
                 "0 @X1@ INDI\n1 OBJE\n2 FILE a b.jpg\n2 FORM jpg\n2 TITL Portrait\n2 NOTE n\n1 "
                 "NOTE @x2@\n1 OBJE\n2 FILE a b.jpg\n2 FORM jpg\n2 TITL Portrait\n2 NOTE n\n" +
                 trailer,
             head7 +
                 "0 @X1@ INDI\n1 OBJE @X3@\n1 NOTE @x2@\n1 OBJE @X3@\n0 @X3@ OBJE\n1 FILE "
                 "a%20b.jpg\n2 TITL Portrait\n2 FORM image/jpeg\n1 NOTE n\n" +
                 trailer,
             {"@X1@|OBJE|Converted", "@X1@|OBJE|Converted", "@X3@|OBJE.FORM|Converted",
              "@X3@|FILE|Converted", "@X3@|FILE.FORM|Converted", "@X1@|NOTE|Kept"}},
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
             head551 + trailer + "0 @I1@ INDI\n1 SOUR text\n0 Trlr\n0 @I2@ INDI\n1 SEX M\n",
             head7 + "0 @I1@ INDI\n1 SOUR @X1@\n0 @I2@ INDI\n1 SEX M\n0 @X1@ SOUR\n1 TITL text\n" +
                 trailer + "0 Trlr\n",
             {"@I1@|SOUR|Converted", "-|Trlr|Kept", "@I1@|INDI|Converted", "@I2@|INDI|Converted",
              "-|Trlr|Kept"}},
        Case{"no_trailer", head551, head7 + trailer, {"-|TRLR|Converted"}},
        // A pointer, and text with nothing to cite, stay; so does the header's SOUR.
        Case{"citations_left",
             head551 +
                 "1 SOUR app\n0 @I1@ INDI\n1 SOUR @S1@\n1 SOUR\n2 NOTE n\n0 @S1@ SOUR\n1 TITL t\n" +
                 trailer,
             head7 +
                 "1 SOUR app\n0 @I1@ INDI\n1 SOUR @S1@\n1 SOUR\n2 NOTE n\n0 @S1@ SOUR\n1 TITL t\n" +
                 trailer,
             {"@I1@|SOUR|Kept"}}),
    [](const auto& info) { return string(info.param.name); });

// Values version 7 spells otherwise, each rewritten losslessly or left as
// written: one note per record and kind of change.
const string individual = head7 + "0 @I1@ INDI\n";
const string nested_to_63 = [] {
    string lines;
    for (int level = 1; level < 64; ++level) lines += std::to_string(level) + " _X\n";
    return lines;
}();

INSTANTIATE_TEST_SUITE_P(
    values, ToVersion7,
    testing::Values(
        Case{"empty_payloads",
             individual + "1 RESI\n2 ADDR \n3 CONT \n3 CONT x\n" + trailer,
             individual + "1 RESI\n2 ADDR\n3 CONT\n3 CONT x\n" + trailer,
             {"@I1@|ADDR|Converted", "@I1@|CONT|Converted"}},
        Case{"continuation_identifiers",
             head7 + "0 @N1@ NOTE a\n1 @n1@ CONT b\n1 @N2@ CONC c\n" + trailer,
             head7 + "0 @N1@ SNOTE a\n1 CONT b\n1 @N2@ CONC c\n" + trailer,
             {"@N1@|NOTE|Converted", "@N1@|SNOTE|Kept", "@N1@|CONT|Converted", "@N1@|CONC|Kept",
              "@N1@|CONC|Kept"}},
        Case{"enumerations",
             individual +
                 "1 SEX m\n1 SEX Male\n1 RESN locked, privacy\n1 FAMC @F1@\n2 PEDI adopted\n1 "
                 "FAMC @F2@\n2 PEDI step\n1 NAME A\n2 TYPE maiden\n1 BAPL\n2 STAT PRE-1970\n"
                 "0 @S1@ SOUR\n1 REPO @R1@\n2 CALN 12\n3 MEDI book\n" +
                 trailer,
             individual +
                 "1 SEX M\n1 SEX Male\n1 RESN LOCKED, PRIVACY\n1 FAMC @F1@\n2 PEDI ADOPTED\n1 "
                 "FAMC @F2@\n2 PEDI OTHER\n3 PHRASE step\n1 NAME A\n2 TYPE MAIDEN\n1 BAPL\n2 "
                 "STAT PRE_1970\n0 @S1@ SOUR\n1 REPO @R1@\n2 CALN 12\n3 MEDI BOOK\n" +
                 trailer,
             {"@I1@|SEX|Converted", "@I1@|RESN|Converted", "@I1@|PEDI|Converted",
              "@I1@|PEDI|Converted", "@I1@|TYPE|Converted", "@I1@|STAT|Converted",
              "@S1@|MEDI|Converted", "@I1@|INDI|Kept", "@I1@|SEX|Kept", "@I1@|FAMC|Kept",
              "@S1@|REPO|Kept"}},
        Case{"ages",
             individual +
                 "1 DEAT\n2 AGE 76\n1 BURI\n2 AGE <5M\n1 CHR\n2 AGE Child\n1 RESI\n2 "
                 "AGE old\n1 CENS\n2 AGE 76\n" +
                 trailer,
             individual +
                 "1 DEAT\n2 AGE 76y\n1 BURI\n2 AGE < 5m\n1 CHR\n2 AGE < 8y\n3 PHRASE "
                 "Child\n1 RESI\n2 AGE old\n1 CENS\n2 AGE 76y\n" +
                 trailer,
             {"@I1@|AGE|Converted", "@I1@|AGE|Converted", "@I1@|RESI.AGE|Kept"}},
        Case{"aliases",
             individual + "1 ALIA John /Doe/\n1 ALIA @I2@\n" + trailer,
             individual + "1 NAME John /Doe/\n2 TYPE AKA\n1 ALIA @I2@\n" + trailer,
             {"@I1@|ALIA|Converted", "@I1@|ALIA|Kept"}},
        Case{"event_texts",
             individual +
                 "1 DEAT Whitesides Cemetery\n1 BURI y\n0 @F1@ FAM\n1 DIV N\n1 ANUL N\n2 DATE "
                 "1900\n" +
                 trailer,
             individual +
                 "1 DEAT Y\n2 NOTE Whitesides Cemetery\n1 BURI Y\n0 @F1@ FAM\n1 NO DIV\n1 "
                 "ANUL\n2 DATE 1900\n2 NOTE N\n" +
                 trailer,
             {"@I1@|DEAT|Converted", "@I1@|BURI|Converted", "@F1@|NO|Converted",
              "@F1@|ANUL|Converted"}},
        Case{"sex_with_more_text",
             individual + "1 SEX f\n2 CONT @born male\n1 NAME A\n" + trailer,
             individual + "1 SEX F\n1 NOTE @@born male\n1 NAME A\n" + trailer,
             {"@I1@|SEX|Converted", "@I1@|SEX|Converted"}},
        // Nothing is written below the reader's deepest level.
        Case{"deepest_level",
             individual + nested_to_63 + "64 DATE Christmas 1900\n" + trailer,
             head7 + "1 SCHMA\n" + undocumented("_X") + "0 @I1@ INDI\n" + nested_to_63 +
                 "64 DATE Christmas 1900\n" + trailer,
             {"@I1@|DATE|Kept", "-|_X|Kept"}}),
    [](const auto& info) { return string(info.param.name); });

// Each rule that rewrites a payload is held to the walk's guard by its row
// in the table: a structure whose continuation line carries a substructure
// of its own stays as written, that substructure with it, and a Kept note
// names the structure.
TEST(to_version_7, no_rule_deletes_what_a_continuation_line_carries) {
    const std::vector<std::pair<string, string>> cases = {
        {"DATE", "1 BIRT\n2 DATE 1 jan 1900\n3 CONT\n4 _X kept\n"},
        {"AGE", "1 DEAT\n2 AGE 76\n3 CONT\n4 _X kept\n"},
        {"PEDI", "1 FAMC @F1@\n2 PEDI adopted\n3 CONT\n4 _X kept\n"},
        {"DEAT", "1 DEAT Whitesides Cemetery\n2 CONT\n3 _X kept\n"},
        {"ALIA", "1 ALIA John /Doe/\n2 CONT\n3 _X kept\n"},
        {"SEX", "1 SEX M and more\n2 CONT\n3 _X kept\n"},
        {"ASSO.RELA", "1 ASSO @I2@\n2 RELA Godfather\n3 CONT\n4 _X kept\n"},
        {"ROLE", "1 BIRT\n2 SOUR @S1@\n3 EVEN BIRT\n4 ROLE Godfather\n5 CONT\n6 _X kept\n"},
        {"SOUR", "1 BIRT\n2 SOUR Parish book\n3 CONT\n4 _X kept\n"},
        {"FILE", "0 @M1@ OBJE\n1 FILE a b.jpg\n2 CONT\n3 _X kept\n"},
        {"FILE.FORM", "0 @M1@ OBJE\n1 FILE a.jpg\n2 FORM jpg\n3 CONT\n4 _X kept\n"},
        {"FORM.MEDI",
         "0 @M1@ OBJE\n1 FILE a.jpg\n2 FORM image/jpeg\n3 TYPE photo\n4 CONT\n5 _X kept\n"},
    };
    for (const auto& [tag, lines] : cases) {
        const Conversion conversion = to_version_7_with(read(individual + lines + trailer), {});
        EXPECT_NE(conversion.document.to_text().find("_X kept\n"), string::npos) << tag;
        EXPECT_TRUE(std::any_of(conversion.notes.begin(), conversion.notes.end(),
                                [&](const ConversionNote& note) {
                                    return note.tag == tag && note.kind == NoteKind::Kept &&
                                           note.detail.starts_with("a continuation line of");
                                }))
            << tag;
    }
}

TEST(to_version_7, counts_each_kind_of_change_once_per_record) {
    const Conversion conversion = to_version_7_with(
        read(individual + "1 DEAT\n2 AGE 76\n1 BURI\n2 AGE 76\n1 CHR\n2 AGE 3\n" + trailer), {});
    ASSERT_EQ(conversion.notes.size(), 1U);
    EXPECT_EQ(conversion.notes[0].detail,
              "3 age(s) written with version 7's units: \"76\" as \"76y\"; \"3\" as \"3y\"");
}

TEST(to_version_7, names_the_source_version) {
    EXPECT_EQ(to_version_7_with(read("0 HEAD\n0 TRLR\n"), {}).from_version, "unstated");
    EXPECT_EQ(to_version_7_with(read("0 HEAD\n1 GEDC\n2 VERS 5.5\n0 TRLR\n"), {}).from_version,
              "5.5");
}

TEST(to_version_7, sums_up_folded_lines_once_per_record) {
    const Document original = read(head7 +
                                   "0 @I1@ INDI\n1 NOTE a\n2 CONC b\n2 CONC c\n1 TITL\n2 CONC "
                                   "d\n0 @I2@ INDI\n1 SEX M\n" +
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
