#include <gtest/gtest.h>

#include "convert.hpp"
#include "document.hpp"
#include "json.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;

Document read(string_view text) {
    auto document = Document::parse_with(text, ParseLimits{});
    EXPECT_TRUE(document) << document.error().display();
    return std::move(document).value();
}

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
    std::vector<string> details;
    for (const ConversionNote& note : pass.notes) details.push_back(note.detail);
    EXPECT_EQ(details, (std::vector<string>{
                           "\"a b\" is not a URI reference, which version 7 requires of a file "
                           "path; characters a URI cannot hold were percent-encoded",
                           "the file extension \"JPG\" became the media type \"image/jpeg\"",
                           "5.5.1's source medium under FORM is TYPE; version 7 calls it MEDI",
                           "the source medium \"stone\" matches none of version 7's enumerated "
                           "values; it became OTHER, with the original kept as a PHRASE",
                           "\"x\\\"y\" has no known version 7 media type, so it is kept rather "
                           "than guessed",
                       }));
}

}  // namespace
}  // namespace lignor
