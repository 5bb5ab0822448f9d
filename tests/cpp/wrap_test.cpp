// Tests of wrapping and fitting long lines.
#include <gtest/gtest.h>

#include "document.hpp"
#include "json.hpp"
#include "support.hpp"
#include "wrap.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;

using test::read;

const string head551 = "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n";

struct CutCase {
    string text;
    size_t first, rest;
    std::vector<string> pieces;
};

TEST(wrap, cut_keeps_characters_whole_and_avoids_spaces) {
    const string e = "\xC3\xA9";  // two bytes
    const std::vector<CutCase> cases = {
        {"abcdefghij", 4, 3, {"abcd", "efg", "hij"}},
        {"abc", 4, 4, {"abc"}},
        {"", 4, 4, {""}},
        // The cut moves back to a place between two letters.
        {"ab cd ef gh", 5, 5, {"ab c", "d e", "f gh"}},
        {"aaaa bbbb cccc", 6, 6, {"aaaa b", "bbb cc", "cc"}},
        // Spaces fill the upper half: first a cut with no space before it,
        // and only when there is none, a cut at the width.
        {"ab   cdefg", 4, 6, {"ab", "   cde", "fg"}},
        {"a    bcdef", 4, 6, {"a   ", " bcdef"}},
        // A two-byte character is never split: the piece ends before it.
        {"abc" + e + "def", 4, 4, {"abc", e + "de", "f"}},
        {e + e + e, 3, 3, {e, e, e}},
        // No cut falls between the two '@' of an "@@", even in a run of them.
        {"ab@@cd", 3, 3, {"ab", "@@c", "d"}},
        {"@@@@@@", 3, 3, {"@@", "@@", "@@"}},
        // Bytes that start no character still come out in pieces.
        {"\x80\x80\x80\x80\x80", 2, 2, {"\x80\x80", "\x80\x80", "\x80"}},
    };
    for (const CutCase& c : cases) {
        const auto pieces = cut(c.text, c.first, c.rest);
        EXPECT_EQ(std::vector<string>(pieces.begin(), pieces.end()), c.pieces) << c.text;
    }
}

TEST(wrap, a_300_letter_note_keeps_247_bytes_and_moves_53_to_a_conc) {
    Document document = read(head551 + "0 @I1@ INDI\n1 NOTE " + string(300, 'a') + "\n0 TRLR\n");
    const auto wrapped = wrap_long_lines(document, 255);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(to_json(wrapped.value()),
              R"([{"record":"@I1@","path":[0],"tag":"NOTE","wrapped":true,"reason":null}])");
    EXPECT_EQ(document.to_text(), head551 + "0 @I1@ INDI\n1 NOTE " + string(247, 'a') +
                                      "\n2 CONC " + string(53, 'a') + "\n0 TRLR\n");
    EXPECT_TRUE(wrap_long_lines(document, 255)->empty());
}

TEST(wrap, a_long_conc_line_moves_the_run_ahead_of_other_substructures) {
    Document document = read(head551 + "0 @N1@ NOTE a\n1 SOUR @S1@\n1 CONC " + string(300, 'b') +
                             "\n1 CONT c\n0 TRLR\n");
    const string logical = document.records[1].logical_value();
    const auto wrapped = wrap_long_lines(document, 255);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(to_json(wrapped.value()),
              R"([{"record":"@N1@","path":[],"tag":"NOTE","wrapped":true,"reason":null}])");
    const Node& note = document.records[1];
    EXPECT_EQ(note.logical_value(), logical);
    EXPECT_EQ(note.children().back().tag(), "SOUR");
    EXPECT_EQ(note.children()[note.children().size() - 2].tag(), "CONT");
}

TEST(wrap, refusals_check_the_version_first_and_change_nothing) {
    const string long_note = "0 @N1@ NOTE " + string(300, 'x') + "\n";
    const string v7 = "0 HEAD\n1 GEDC\n2 VERS 7.0\n" + long_note;
    const struct {
        string text;
        size_t limit;
        string message;
    } cases[] = {
        {v7, 31, "version 7 has no CONC and no line limit, so there is nothing to wrap"},
        {v7, 255, "version 7 has no CONC and no line limit, so there is nothing to wrap"},
        {head551 + long_note, 31, "a line limit under 32 bytes leaves no room for a payload"},
    };
    for (const auto& c : cases) {
        Document document = read(c.text);
        const auto wrapped = wrap_long_lines(document, c.limit);
        ASSERT_FALSE(wrapped);
        EXPECT_EQ(wrapped.error().display(), c.message);
        EXPECT_EQ(document.to_text(), c.text);
    }
    Document document = read(head551 + long_note);
    EXPECT_EQ(fit_line_limit(document, "@X9@", 255).error().display(), "no record @X9@");
}

TEST(wrap, fit_splits_an_edited_600_letter_note_into_246_246_108) {
    Document document = read(head551 + "0 @I1@ INDI\n1 NOTE short\n1 NAME @N1@\n0 TRLR\n");
    EXPECT_TRUE(fit_line_limit(document, "@i1@", 255)->empty());
    document.records[1].children_mut()[0].set_logical_value(string(600, 'a'));
    EXPECT_EQ(to_json(*fit_line_limit(document, "@I1@", 255)),
              R"([{"record":"@I1@","path":[0],"tag":"NOTE","wrapped":true,"reason":null}])");
    EXPECT_EQ(document.to_text(), head551 + "0 @I1@ INDI\n1 NOTE " + string(246, 'a') +
                                      "\n2 CONC " + string(246, 'a') + "\n2 CONC " +
                                      string(108, 'a') + "\n1 NAME @N1@\n0 TRLR\n");
    EXPECT_TRUE(fit_line_limit(document, "@I1@", 255)->empty());
}

// Structures both edits must leave exactly as written, each with a line over
// the limit that a rewrite would otherwise split; both say so alike.
TEST(wrap, structures_left_as_written) {
    string deep;
    for (int level = 1; level < 64; ++level) deep += std::to_string(level) + " _X\n";
    const string letters(300, 'a');
    const string cases[] = {
        // A continuation line with substructures of its own, which a rebuilt
        // run would drop.
        "1 NOTE " + letters + "\n2 CONC b\n3 _KEEP this\n4 _AND this\n",
        "1 NOTE a\n2 CONT " + letters + "\n3 SOUR @S1@\n",
        // A continuation line with an identifier, which a rebuilt run would drop.
        "1 NOTE " + letters + "\n2 @C1@ CONC b\n",
        // A CONC run would sit on level 65, which the reader refuses.
        deep + "64 NOTE " + letters + "\n",
        // A pointer cut in two is no pointer.
        "1 NOTE @" + letters + "@\n",
    };
    for (const string& body : cases) {
        const string text = head551 + "0 @I1@ INDI\n" + body + "0 TRLR\n";
        Document document = read(text);
        auto report = wrap_long_lines(document, 255);
        ASSERT_EQ(report->size(), 1u) << body;
        EXPECT_FALSE(report->front().wrapped) << body;
        EXPECT_EQ(*fit_line_limit(document, "@I1@", 255), *report) << body;
        EXPECT_EQ(document.to_text(), text);
    }
}

// A payload with '@' at both ends and a space inside is text, not a pointer.
TEST(wrap, an_at_sign_letter_is_wrapped_and_fitted) {
    const string letter = "@ a letter " + string(300, 'a') + " @";
    for (const bool fitting : {false, true}) {
        Document document = read(head551 + "0 @I1@ INDI\n1 NOTE x\n0 TRLR\n");
        ASSERT_TRUE(document.set_logical_value_at(document.records[1], {{0}}, letter));
        if (fitting) {
            EXPECT_TRUE(fit_line_limit(document, "@I1@", 255)->front().wrapped);
        } else {
            EXPECT_TRUE(wrap_long_lines(document, 255)->front().wrapped);
        }
        EXPECT_EQ(document.records[1].children()[0].logical_value(), letter);
    }
}

TEST(wrap, level_63_is_still_wrapped_and_reads_back) {
    string text = head551 + "0 @I1@ INDI\n";
    for (int level = 1; level < 63; ++level) text += std::to_string(level) + " _X\n";
    text += "63 NOTE " + string(300, 'a') + "\n0 TRLR\n";
    Document document = read(text);
    EXPECT_EQ(wrap_long_lines(document, 255)->size(), 1u);
    EXPECT_TRUE(Document::parse_with(document.to_text(), ParseLimits{}));
}

}  // namespace
}  // namespace lignor
