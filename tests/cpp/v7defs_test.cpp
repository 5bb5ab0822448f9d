// Tests of the GEDCOM 7 table lookups.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert7_rules.hpp"
#include "document.hpp"
#include "v7defs.hpp"

namespace lignor {
namespace {

using std::string;

std::vector<string> undefined_notes(const Document& document) {
    Pass pass;
    for (const Node& record : document.records) note_undefined_structures(record, pass);
    std::vector<string> shown;
    for (const auto& note : pass.notes) {
        EXPECT_EQ(note.kind, NoteKind::Kept);
        shown.push_back(note.tag + ": " + note.detail);
    }
    return shown;
}

TEST(v7defs, tags_are_looked_up_under_their_parent_type) {
    EXPECT_EQ(v7_structure_type("", "INDI"), "record-INDI");
    EXPECT_EQ(v7_structure_type("record-INDI", "NAME"), "INDI-NAME");
    EXPECT_EQ(v7_structure_type("record-FAM", "NAME"), std::nullopt);
    EXPECT_EQ(v7_structure_type("record-INDI", "name"), std::nullopt);
    EXPECT_TRUE(v7_defines("record-FAM", "_NAME"));
    EXPECT_FALSE(v7_defines("", "SUBN"));
}

TEST(v7defs, every_undefined_tag_path_is_noted_once_per_record_with_its_count) {
    struct Case {
        string text;
        std::vector<string> notes;
    };
    const string kept = " structure(s) kept as written, so the output is not valid version 7";
    const std::vector<Case> cases = {
        {"0 HEAD\n1 GEDC\n2 VERS 7.0\n1 FILE x.ged\n0 TRLR\n",
         {"HEAD.FILE: version 7 does not define FILE here; 1" + kept}},
        // Counted per path, in the order first met; nothing beneath an
        // undefined structure is examined; an extension and its subtree are
        // allowed anywhere; CONT and CONC are payload lines.
        {"0 HEAD\n0 @I1@ INDI\n1 RIN 1\n1 BIRT\n2 QUAY 3\n3 RIN x\n2 DATE 1 JAN 1900\n"
         "3 QUAY 1\n1 DEAT\n2 QUAY 2\n1 _X y\n2 RIN z\n1 NOTE a\n2 CONC b\n2 CONT c\n"
         "1 RIN 2\n0 TRLR\n",
         {"INDI.RIN: version 7 does not define RIN here; 2" + kept,
          "BIRT.QUAY: version 7 does not define QUAY here; 1" + kept,
          "DATE.QUAY: version 7 does not define QUAY here; 1" + kept,
          "DEAT.QUAY: version 7 does not define QUAY here; 1" + kept}},
        // A record version 7 lacks is named by its tag alone.
        {"0 HEAD\n0 @S1@ SUBN\n1 FAMF x\n0 @X1@ _LOC\n1 NAME n\n0 TRLR\n",
         {"SUBN: version 7 does not define SUBN here; 1" + kept}},
        // The same tag is defined under one structure type and not another.
        {"0 HEAD\n0 @O1@ OBJE\n1 FILE a.jpg\n2 FORM image/jpeg\n0 @I1@ INDI\n1 OBJE @O1@\n"
         "1 OBJE\n2 FILE b.jpg\n0 TRLR\n",
         {"OBJE.FILE: version 7 does not define FILE here; 1" + kept}},
    };
    for (const auto& [text, notes] : cases) {
        auto document = Document::parse_with(text, ParseLimits{});
        ASSERT_TRUE(document) << document.error().display();
        EXPECT_EQ(undefined_notes(*document), notes) << text;
    }
}

TEST(v7defs, the_standards_maximal_sample_defines_every_structure) {
    const std::filesystem::path path = std::filesystem::path(LIGNOR_CORPUS_DIR) / "maximal70.ged";
    std::ifstream file(path, std::ios::binary);
    if (!file) GTEST_SKIP() << "no " << path;
    const string bytes{std::istreambuf_iterator<char>(file), {}};
    auto loaded = Document::from_bytes(bytes);
    ASSERT_TRUE(loaded) << loaded.error().display();
    EXPECT_EQ(undefined_notes(loaded->document), std::vector<string>{});
}

}  // namespace
}  // namespace lignor
