// Tests of what both conversion directions share: notes, file paths, media
// forms and CONC folding.
#include <gtest/gtest.h>

#include "convert7_rules.hpp"
#include "convert_pass.hpp"
#include "document.hpp"
#include "json.hpp"
#include "support.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;

using test::read;

TEST(convert, notes_carry_the_current_record_and_serialise_in_key_order) {
    Pass pass;
    pass.note("CHAR", NoteKind::Dropped, "fixed");
    pass.record = "@I1@";
    pass.note("FILE.FORM", NoteKind::Kept, string("composed \"x\""));
    pass.note("_UID", NoteKind::Converted, "c");
    EXPECT_EQ(to_json(pass.notes),
              R"([{"record":null,"tag":"CHAR","kind":"Dropped","detail":"fixed"},)"
              R"({"record":"@I1@","tag":"FILE.FORM","kind":"Kept","detail":"composed \"x\""},)"
              R"({"record":"@I1@","tag":"_UID","kind":"Converted","detail":"c"}])");
}

TEST(convert, paths_become_uri_references_with_existing_escapes_kept) {
    const std::vector<std::pair<string, string>> cases = {
        {"C:\\photos\\a%20b.jpg", "C:%5Cphotos%5Ca%20b.jpg"},
        {"photo one.JPG", "photo%20one.JPG"},
        {"caf\xC3\xA9.png", "caf%C3%A9.png"},
        {"50%", "50%25"},
        {"a%2", "a%252"},
        {"a%zz%4a", "a%25zz%4a"},
        {"line\nbreak\"x\"", "line%0Abreak%22x%22"},
        {"https://host/p?q=1&r=[2]#f~!$'()*+,;=-_.@", "https://host/p?q=1&r=[2]#f~!$'()*+,;=-_.@"},
    };
    for (const auto& [path, reference] : cases) EXPECT_EQ(uri_reference(path), reference) << path;
}

struct MediaCase {
    string object;  // the lines under `0 @O1@ OBJE`
    string converted;
    std::vector<string> notes;  // "TAG Kind" of each note, in order
};

TEST(convert, media_objects_take_version_7_form) {
    const std::vector<MediaCase> cases = {
        {"1 FILE photo one.JPG\n1 FORM jpg\n",
         "1 FILE photo%20one.JPG\n2 FORM image/jpeg\n",
         {"OBJE.FORM Converted", "FILE Converted", "FILE.FORM Converted"}},
        // A file's own FORM outranks the object's, which goes all the same;
        // an untouched line keeps its bytes, a moved copy is written fresh.
        {"01 FILE a.png\n2 FORM png\n1 FILE b.xyz\n01 FORM gif\n02 _X n\n1 FORM tif\n",
         "01 FILE a.png\n2 FORM image/png\n1 FILE b.xyz\n2 FORM image/gif\n3 _X n\n",
         {"OBJE.FORM Converted", "FILE.FORM Converted", "FILE.FORM Converted"}},
        {"1 FILE a.png\n2 FORM image/png\n1 FILE b.png\n2 FORM\n1 FILE\n", "", {}},
        {"1 FILE a.xyz\n2 FORM  xyz \n", "", {"FILE.FORM Kept"}},
        // The medium under the object's FORM is rewritten once it has moved.
        {"1 FILE a.jpg\n1 FORM JPG\n2 TYPE photo\n",
         "1 FILE a.jpg\n2 FORM image/jpeg\n3 MEDI PHOTO\n",
         {"OBJE.FORM Converted", "FILE.FORM Converted", "FORM.MEDI Converted",
          "FORM.MEDI Converted"}},
        {"1 FILE a.jpg\n2 FORM image/jpeg\n3 TYPE Gravestone\n",
         "1 FILE a.jpg\n2 FORM image/jpeg\n3 MEDI OTHER\n4 PHRASE Gravestone\n",
         {"FORM.MEDI Converted", "FORM.MEDI Converted"}},
        {"1 FILE a.jpg\n2 FORM image/jpeg\n3 MEDI book \n",
         "1 FILE a.jpg\n2 FORM image/jpeg\n3 MEDI BOOK\n",
         {"FORM.MEDI Converted"}},
        {"1 FILE a.jpg\n2 FORM image/jpeg\n3 MEDI OTHER\n4 PHRASE x\n3 MEDI BOOK\n", "", {}},
        {"1 FILE a.jpg\n2 FORM image/jpeg\n3 MEDI Stone\n4 PHRASE x\n", "", {"FORM.MEDI Kept"}},
        // A MEDI that is not directly under a file's FORM is not touched.
        {"1 FILE a.jpg\n2 FORM image/jpeg\n3 _X\n4 MEDI photo\n2 MEDI photo\n", "", {}},
        // A continuation line with substructures guards the text it continues.
        {"1 FILE a b\n2 CONC .jpg\n3 SOUR @S1@\n2 FORM jpg\n3 TYPE photo\n4 CONC x\n5 NOTE n\n",
         "1 FILE a b\n2 CONC .jpg\n3 SOUR @S1@\n2 FORM image/jpeg\n3 MEDI photo\n4 CONC x\n"
         "5 NOTE n\n",
         {"FILE Kept", "FILE.FORM Converted", "FORM.MEDI Converted", "FORM.MEDI Kept"}},
        {"1 FILE a\n2 CONT b.jpg\n", "1 FILE a%0Ab.jpg\n", {"FILE Converted"}},
    };
    for (const MediaCase& c : cases) {
        Document document = read("0 @O1@ OBJE\n" + c.object);
        Pass pass;
        const bool changed = media_form_to_7(document.records[0], pass);
        pass.note_tallies();
        const string expected = c.converted.empty() ? c.object : c.converted;
        EXPECT_EQ(document.to_text(), "0 @O1@ OBJE\n" + expected) << c.object;
        EXPECT_EQ(changed, !c.converted.empty()) << c.object;
        std::vector<string> notes;
        for (const ConversionNote& note : pass.notes) {
            notes.push_back(note.tag + " " + string(to_string(note.kind)));
        }
        EXPECT_EQ(notes, c.notes) << c.object;
    }
}

TEST(convert, media_notes_quote_what_they_found) {
    Document document =
        read("0 @O1@ OBJE\n1 FILE a b\n2 FORM JPG\n3 TYPE stone\n1 FILE c\n2 FORM x\"y\n");
    Pass pass;
    media_form_to_7(document.records[0], pass);
    pass.note_tallies();
    std::vector<string> details;
    for (const ConversionNote& note : pass.notes) details.push_back(note.detail);
    EXPECT_EQ(details, (std::vector<string>{
                           "\"a b\" is not a URI reference, which version 7 requires of a file "
                           "path; characters a URI cannot hold were percent-encoded",
                           "the file extension \"JPG\" became the media type \"image/jpeg\"",
                           "5.5.1's source medium under FORM is TYPE; version 7 calls it MEDI",
                           "\"x\\\"y\" has no known version 7 media type, so it is kept rather "
                           "than guessed",
                           "1 value(s) outside version 7's enumeration, now OTHER with the "
                           "original kept as a PHRASE: \"stone\"",
                       }));
}

struct Converted {
    string text;
    std::vector<string> notes;  // "TAG Kind"
    std::vector<string> details;
    Pass pass;
    bool changed = false;
};

// Every record of `text` through structures_to_7_node, as the driver runs it.
Converted structures_to_7(string_view text) {
    Document document = read(text);
    const NoteRecordIds note_records(document.records);
    Converted out;
    for (Node& record : document.records) {
        out.changed = structures_to_7_node(record, note_records, out.pass) || out.changed;
    }
    out.text = document.to_text();
    for (const ConversionNote& note : out.pass.notes) {
        out.notes.push_back(note.tag + " " + string(to_string(note.kind)));
        out.details.push_back(note.detail);
    }
    return out;
}

struct StructureCase {
    string record;     // a whole record, or more than one
    string converted;  // empty: left as written
    std::vector<string> notes;
};

void expect_converted(const std::vector<StructureCase>& cases) {
    for (const StructureCase& c : cases) {
        const Converted out = structures_to_7(c.record);
        EXPECT_EQ(out.text, c.converted.empty() ? c.record : c.converted) << c.record;
        EXPECT_EQ(out.changed, !c.converted.empty()) << c.record;
        EXPECT_EQ(out.notes, c.notes) << c.record;
    }
}

TEST(convert, conc_lines_fold_unless_folding_would_change_the_text) {
    const string kept = "; the output is therefore not valid version 7";
    const string big(8U << 20U, 'a');
    struct Case {
        string record;
        string converted;                   // empty: left as written
        string detail;                      // of the one Kept note, if any
        std::array<std::size_t, 3> folded;  // lines, structures, without payload
    };
    const std::vector<Case> cases = {
        {"0 @I1@ INDI\n1 NOTE abc\n2 CONC def\n2 CONT ghi\n2 CONC jkl\n2 CONT m\n",
         "0 @I1@ INDI\n1 NOTE abcdef\n2 CONT ghijkl\n2 CONT m\n",
         "",
         {2, 1, 0}},
        {"0 @I1@ INDI\n1 NOTE\n2 CONC text\n1 TITL a\n2 CONC b\n",
         "0 @I1@ INDI\n1 NOTE text\n1 TITL ab\n",
         "",
         {2, 2, 1}},
        {"0 @I1@ INDI\n1 NOTE @N1@\n2 CONC x\n",
         "",
         "1 CONC line(s) kept as written because it continues a pointer payload, which joining "
         "would turn into other text" +
             kept,
         {}},
        {"0 @I1@ INDI\n1 NOTE\n2 CONC @x\n",
         "",
         "1 CONC line(s) kept as written because joining would make the text begin with @, which "
         "version 7 reads as a pointer or an escape" +
             kept,
         {}},
        {"0 @I1@ INDI\n1 NOTE @\n2 CONC N1@\n",
         "",
         "1 CONC line(s) kept as written because joining would make the text begin with @, which "
         "version 7 reads as a pointer or an escape" +
             kept,
         {}},
        // Text that already begins with @ says nothing new once joined.
        {"0 @I1@ INDI\n1 NOTE a\n2 CONT @@b\n2 CONC c\n",
         "0 @I1@ INDI\n1 NOTE a\n2 CONT @@bc\n",
         "",
         {1, 1, 0}},
        // One refused segment keeps its lines; the others still fold.
        {"0 @I1@ INDI\n1 NOTE a\n2 CONC b\n2 CONT\n2 CONC @c\n2 CONC d\n",
         "0 @I1@ INDI\n1 NOTE ab\n2 CONT\n2 CONC @c\n2 CONC d\n",
         "2 CONC line(s) kept as written because joining would make the text begin with @, which "
         "version 7 reads as a pointer or an escape" +
             kept,
         {1, 1, 0}},
        {"0 @I1@ INDI\n1 NOTE a\n2 CONC b\n3 SOUR @S1@\n2 CONT c\n2 CONC d\n",
         "",
         "2 CONC line(s) kept as written because a CONC line carries an identifier or "
         "substructures of its own" +
             kept,
         {}},
        {"0 @I1@ INDI\n1 NOTE a\n2 CONT b\n3 CONC c\n",
         "",
         "1 CONC line(s) kept as written because it is under a continuation line, not a "
         "payload" +
             kept,
         {}},
        {"0 @I1@ INDI\n1 NOTE\n2 CONC @x\n2 CONT " + big + "\n2 CONC " + big + "\n",
         "",
         "2 CONC line(s) kept as written because joining would make the text begin with @, "
         "which version 7 reads as a pointer or an escape and the joined line would be longer "
         "than this library reads back" +
             kept,
         {}},
    };
    for (const Case& c : cases) {
        const Converted out = structures_to_7(c.record);
        const string label = c.record.substr(0, 80);
        EXPECT_EQ(out.text, c.converted.empty() ? c.record : c.converted) << label;
        EXPECT_EQ(out.details,
                  c.detail.empty() ? std::vector<string>{} : std::vector<string>{c.detail})
            << label;
        EXPECT_EQ((std::array{out.pass.folded_lines, out.pass.folded_structures,
                              out.pass.folded_without_payload}),
                  c.folded)
            << label;
    }
}

TEST(convert, dates_outside_version_7_grammar_keep_the_original_as_a_phrase) {
    expect_converted({
        {"0 @I1@ INDI\n1 BIRT\n2 DATE 12 MAY 1900\n1 DEAT\n2 DATE\n1 BURI\n2 DATE  \n", "", {}},
        // A date whose reading loses nothing is respelled, without a PHRASE.
        {"0 @I1@ INDI\n1 BIRT\n2 DATE 12 may 1900\n1 DEAT\n2 DATE @#DHEBREW@  29 TMZ 4865 \n",
         "0 @I1@ INDI\n1 BIRT\n2 DATE 12 MAY 1900\n1 DEAT\n2 DATE HEBREW 29 TMZ 4865\n",
         {"DATE Converted", "DATE Converted"}},
        // Any other text is kept whole, white space around it included.
        {"0 @I1@ INDI\n1 BIRT\n2 DATE  abt. 1850 \n1 DEAT\n2 DATE abt. 777 BC (or abt. 580 BC)\n",
         "0 @I1@ INDI\n1 BIRT\n2 DATE ABT 1850\n3 PHRASE  abt. 1850 \n1 DEAT\n2 DATE ABT 777 BCE\n"
         "3 PHRASE abt. 777 BC (or abt. 580 BC)\n",
         {"DATE Converted", "DATE Converted"}},
        // 5.5.1's interpreted date keeps its words as the PHRASE only beside
        // the exact date it names.
        {"0 @I1@ INDI\n1 BIRT\n2 DATE INT 2 oct 1822 (a guess)\n1 DEAT\n"
         "2 DATE INT 2 TVT 5758 (interpreted Hebrew date)\n",
         "0 @I1@ INDI\n1 BIRT\n2 DATE 2 OCT 1822\n3 PHRASE a guess\n1 DEAT\n2 DATE\n"
         "3 PHRASE INT 2 TVT 5758 (interpreted Hebrew date)\n",
         {"DATE Converted", "DATE Converted"}},
        {"0 @I1@ INDI\n1 BIRT\n2 DATE (about 1900)\n",
         "0 @I1@ INDI\n1 BIRT\n2 DATE\n3 PHRASE about 1900\n",
         {"DATE Converted"}},
        // A DATE is exempt from the @ rule of folding; its phrase is escaped.
        {"0 @I1@ INDI\n1 BIRT\n2 DATE\n3 CONC @#DROMAN@ 1700\n",
         "0 @I1@ INDI\n1 BIRT\n2 DATE\n3 PHRASE @@#DROMAN@ 1700\n",
         {"DATE Converted"}},
        // The CONC line that folding keeps goes with the date's rewrite, and
        // so does the note that said it was kept.
        {"0 @I1@ INDI\n1 BIRT\n2 DATE @#DROMAN@\n3 CONC  1700\n",
         "0 @I1@ INDI\n1 BIRT\n2 DATE\n3 PHRASE @@#DROMAN@ 1700\n",
         {"DATE Converted"}},
        {"0 @I1@ INDI\n1 BIRT\n2 DATE @#DROMAN@\n3 CONC  1700\n3 PHRASE x\n",
         "",
         {"DATE Kept", "DATE Kept"}},
        {"0 @I1@ INDI\n1 BIRT\n2 DATE 12 may 1900.\n3 PHRASE x\n", "", {"DATE Kept"}},
        {"0 @I1@ INDI\n1 BIRT\n2 DATE ABT 560 B.C.\n3 PHRASE x\n",
         "0 @I1@ INDI\n1 BIRT\n2 DATE ABT 560 BCE\n3 PHRASE x\n",
         {"DATE Converted"}},
        {"0 @I1@ INDI\n1 BIRT\n2 DATE 12 may\n3 CONT 1900\n4 NOTE n\n", "", {"DATE Kept"}},
        // Where version 7 requires an exact date, no PHRASE may stand beside it.
        {"0 HEAD\n1 DATE 5 JAN 1900\n1 SOUR x\n2 DATA\n3 DATE 05 JAN 1900\n0 @I1@ INDI\n1 CHAN\n"
         "2 DATE 1 MAR 2000\n",
         "",
         {}},
        {"0 HEAD\n1 DATE 5 Jan 1900\n1 SOUR x\n2 DATA\n3 DATE ABT 1900\n0 @I1@ INDI\n1 CHAN\n"
         "2 DATE 1 MAR 2000 \n1 CREA\n2 DATE JAN 2000\n1 BAPL\n2 STAT COMPLETED\n3 DATE 2000\n",
         "0 HEAD\n1 DATE 5 JAN 1900\n1 SOUR x\n2 DATA\n3 DATE ABT 1900\n0 @I1@ INDI\n1 CHAN\n"
         "2 DATE 1 MAR 2000\n1 CREA\n2 DATE JAN 2000\n1 BAPL\n2 STAT COMPLETED\n3 DATE 2000\n",
         {"DATE Converted", "DATE Kept", "DATE Converted", "DATE Kept", "DATE Kept"}},
    });
}

TEST(convert, roles_become_version_7_enumerated_values) {
    expect_converted({
        {"0 @I1@ INDI\n1 EVEN\n2 ROLE  witn \n",
         "0 @I1@ INDI\n1 EVEN\n2 ROLE WITN\n",
         {"ROLE Converted"}},
        {"0 @I1@ INDI\n1 EVEN\n2 ROLE (Godfather)\n2 ROLE (Best man)\n2 ROLE Priest\n",
         "0 @I1@ INDI\n1 EVEN\n2 ROLE GODP\n3 PHRASE Godfather\n2 ROLE OTHER\n3 PHRASE Best man\n"
         "2 ROLE CLERGY\n3 PHRASE Priest\n",
         {"ROLE Converted", "ROLE Converted", "ROLE Converted"}},
        {"0 @I1@ INDI\n1 EVEN\n2 ROLE ()\n2 ROLE WITN\n2 ROLE\n", "", {"ROLE Kept", "ROLE Kept"}},
        {"0 @I1@ INDI\n1 EVEN\n2 ROLE best\n3 PHRASE x\n", "", {"ROLE Kept"}},
        {"0 @I1@ INDI\n1 EVEN\n2 ROLE wi\n3 CONC tn\n4 NOTE n\n", "", {"ROLE Kept", "ROLE Kept"}},
        {"0 @I1@ INDI\n1 ASSO @I2@\n2 RELA Godmother\n2 RELA WITN\n",
         "0 @I1@ INDI\n1 ASSO @I2@\n2 ROLE GODP\n3 PHRASE Godmother\n2 ROLE OTHER\n3 PHRASE WITN\n",
         {"ASSO.RELA Converted", "ASSO.RELA Converted"}},
        {"0 @I1@ INDI\n1 ASSO @I2@\n2 ROLE (mother)\n",
         "0 @I1@ INDI\n1 ASSO @I2@\n2 ROLE MOTH\n3 PHRASE mother\n",
         {"ROLE Converted"}},
        {"0 @I1@ INDI\n1 BIRT\n2 RELA friend\n2 ROLE friend\n", "", {}},
    });
}

TEST(convert, uid_note_pointers_and_media_take_version_7_form) {
    expect_converted({
        {"0 @N1@ NOTE text\n0 @I1@ INDI\n1 _UID 1234\n1 NOTE @n1@\n1 NOTE @N2@\n1 NOTE @N1@ x\n"
         "1 OBJE\n2 FILE a b.jpg\n",
         "0 @N1@ NOTE text\n0 @I1@ INDI\n1 UID 1234\n1 SNOTE @n1@\n1 NOTE @N2@\n1 NOTE @N1@ x\n"
         "1 OBJE\n2 FILE a%20b.jpg\n",
         {"_UID Converted", "NOTE Converted", "FILE Converted"}},
    });
}

TEST(convert, role_and_date_notes_quote_what_they_found) {
    const Converted out = structures_to_7(
        "0 HEAD\n1 DATE 5 Jan. 1900\n0 @I1@ INDI\n1 BIRT\n2 DATE x\"y\n1 EVEN\n2 ROLE wItn\n"
        "2 ROLE (Best man)\n1 ASSO @I2@\n2 RELA Godmother\n");
    EXPECT_EQ(out.details,
              (std::vector<string>{
                  "\"5 Jan. 1900\" is not version 7's exact date (day, month and year), the only "
                  "form a DATE takes here, where no PHRASE may keep the original; it is left as "
                  "written, so the output is not valid version 7",
                  "version 7's date grammar cannot hold \"x\\\"y\"; the DATE is left empty and "
                  "the whole original kept as a PHRASE",
                  "the role \"wItn\" is version 7's enumerated value WITN",
                  "the role \"(Best man)\" became OTHER, with the words kept as a PHRASE",
                  "an association's relation \"Godmother\" is version 7's ROLE GODP, with the "
                  "words kept as a PHRASE",
              }));
}

}  // namespace
}  // namespace lignor
