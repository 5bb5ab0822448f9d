#include "document.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lignor {
namespace {

using std::nullopt;
using std::optional;
using std::string;
using std::string_view;

// ---- the line grammar --------------------------------------------------------

struct LineCase {
    const char* name;
    string_view text;
    unsigned level;
    optional<string_view> xref;
    string_view tag;
    optional<string_view> value;
    bool verbatim;
};

class line_grammar_reads : public testing::TestWithParam<LineCase> {};

TEST_P(line_grammar_reads, fields_and_verbatim) {
    const LineCase& c = GetParam();
    auto parsed = parse_line(c.text, 9, 64);
    ASSERT_TRUE(parsed) << parsed.error().display();
    EXPECT_EQ(parsed->level, c.level);
    EXPECT_EQ(parsed->xref, c.xref);
    EXPECT_EQ(parsed->tag, c.tag);
    EXPECT_EQ(parsed->value, c.value);
    EXPECT_EQ(parsed->line, 9u);
    EXPECT_EQ(parsed->verbatim.has_value(), c.verbatim);
    if (c.verbatim) {
        EXPECT_EQ(*parsed->verbatim, c.text);
    }
    // Canonical lines render back to themselves.
    string rendered;
    render_line(parsed->level, parsed->xref, parsed->tag, parsed->value, rendered);
    EXPECT_EQ(rendered == c.text, !c.verbatim);
}

INSTANTIATE_TEST_SUITE_P(
    cases, line_grammar_reads,
    testing::Values(
        LineCase{"header", "0 HEAD", 0, nullopt, "HEAD", nullopt, false},
        LineCase{"empty_payload", "0 HEAD ", 0, nullopt, "HEAD", "", false},
        LineCase{"record", "0 @I1@ INDI", 0, "@I1@", "INDI", nullopt, false},
        LineCase{"record_payload", "0 @N1@ NOTE a  b ", 0, "@N1@", "NOTE", "a  b ", false},
        LineCase{"two_spaces_after_level", "1  NAME John", 1, nullopt, "NAME", "John", true},
        LineCase{"leading_zero", "01 NAME x", 1, nullopt, "NAME", "x", true},
        LineCase{"plus_sign", "+1 NAME x", 1, nullopt, "NAME", "x", true},
        LineCase{"zero_padded_zero", "00 TRLR", 0, nullopt, "TRLR", nullopt, true},
        LineCase{"payload_leading_space", "1 NAME  John", 1, nullopt, "NAME", " John", false},
        LineCase{"pointer_payload", "1 NOTE @N1@", 1, nullopt, "NOTE", "@N1@", false},
        LineCase{"custom_tag", "1 _UID x", 1, nullopt, "_UID", "x", false},
        LineCase{"depth_limit", "64 X", 64, nullopt, "X", nullopt, false},
        LineCase{"tab_in_payload", "2 NOTE a\tb", 2, nullopt, "NOTE", "a\tb", false},
        LineCase{"double_at", "1 NOTE @@me", 1, nullopt, "NOTE", "@@me", false}),
    [](const auto& info) { return string(info.param.name); });

struct LineErrorCase {
    const char* name;
    string_view text;
    string_view message;
    ErrorKind kind;
};

class line_grammar_refuses : public testing::TestWithParam<LineErrorCase> {};

TEST_P(line_grammar_refuses, with_message_kind_and_line) {
    const LineErrorCase& c = GetParam();
    auto parsed = parse_line(c.text, 7, 64);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().message, c.message);
    EXPECT_EQ(parsed.error().kind, c.kind);
    EXPECT_EQ(parsed.error().line, 7u);
}

constexpr string_view no_tag = "the line has no tag";
constexpr string_view no_level = "the line does not begin with a level";
constexpr string_view too_deep = "the line is nested deeper than the limit";
constexpr string_view bad_xref =
    "the cross-reference identifier is not closed, or contains a space";
constexpr string_view xref_no_tag = "the record has an identifier but no tag";
constexpr string_view bad_tag = "a tag must be ASCII letters, digits, or underscore";

INSTANTIATE_TEST_SUITE_P(
    cases, line_grammar_refuses,
    testing::Values(LineErrorCase{"no_space", "0HEAD", no_tag, ErrorKind::Syntax},
                    LineErrorCase{"level_only", "0", no_tag, ErrorKind::Syntax},
                    LineErrorCase{"tag_only", "HEAD", no_tag, ErrorKind::Syntax},
                    LineErrorCase{"only_spaces_after_level", "1   ", no_tag, ErrorKind::Syntax},
                    LineErrorCase{"level_space_nothing", "1 ", no_tag, ErrorKind::Syntax},
                    LineErrorCase{"starts_with_space", " 0 HEAD", no_level, ErrorKind::Syntax},
                    LineErrorCase{"lone_plus", "+ HEAD", no_level, ErrorKind::Syntax},
                    LineErrorCase{"negative", "-1 HEAD", no_level, ErrorKind::Syntax},
                    LineErrorCase{"letter", "1a HEAD", no_level, ErrorKind::Syntax},
                    LineErrorCase{"overflow", "65536 X", no_level, ErrorKind::Syntax},
                    LineErrorCase{"huge_overflow", "99999999999999999999 X", no_level,
                                  ErrorKind::Syntax},
                    LineErrorCase{"byte_order_mark",
                                  "\xEF\xBB\xBF"
                                  "0 HEAD",
                                  no_level, ErrorKind::Syntax},
                    LineErrorCase{"spaces_only", "   ", no_level, ErrorKind::Syntax},
                    LineErrorCase{"past_depth", "65 X", too_deep, ErrorKind::Limit},
                    LineErrorCase{"max_level_past_depth", "65535 X", too_deep, ErrorKind::Limit},
                    LineErrorCase{"depth_before_tag", "65 @x", too_deep, ErrorKind::Limit},
                    LineErrorCase{"lone_at", "0 @ INDI", bad_xref, ErrorKind::Syntax},
                    LineErrorCase{"double_at", "0 @@ INDI", bad_xref, ErrorKind::Syntax},
                    LineErrorCase{"unclosed", "0 @I1 INDI", bad_xref, ErrorKind::Syntax},
                    LineErrorCase{"inner_at", "0 @I@1@ INDI", bad_xref, ErrorKind::Syntax},
                    LineErrorCase{"xref_with_space", "0 @I 1@ INDI", bad_xref, ErrorKind::Syntax},
                    LineErrorCase{"xref_alone", "0 @I1@", xref_no_tag, ErrorKind::Syntax},
                    LineErrorCase{"xref_space", "0 @I1@ ", xref_no_tag, ErrorKind::Syntax},
                    LineErrorCase{"xref_two_spaces", "0 @I1@  INDI", bad_tag, ErrorKind::Syntax},
                    LineErrorCase{"non_ascii_tag", "1 N\xC3\x84ME x", bad_tag, ErrorKind::Syntax},
                    LineErrorCase{"dash_tag", "1 NA-ME x", bad_tag, ErrorKind::Syntax},
                    LineErrorCase{"tab_after_tag", "1 NAME\tx", bad_tag, ErrorKind::Syntax}),
    [](const auto& info) { return string(info.param.name); });

TEST(line_grammar, renders_canonically) {
    string out;
    render_line(0, "@I1@", "INDI", nullopt, out);
    EXPECT_EQ(out, "0 @I1@ INDI");
    out.clear();
    render_line(2, nullopt, "CONT", "", out);
    EXPECT_EQ(out, "2 CONT ");
    out.clear();
    render_line(65535, nullopt, "NAME", "John /Doe/", out);
    EXPECT_EQ(out, "65535 NAME John /Doe/");
}

TEST(line_grammar, error_display_carries_the_line) {
    EXPECT_EQ(GedcomError::at_line(ErrorKind::Syntax, "the line has no tag", 7).display(),
              "GEDCOM line 7: the line has no tag");
    EXPECT_EQ(GedcomError::whole(ErrorKind::Limit, "the line has no tag").display(),
              "the line has no tag");
}

// ---- nodes -----------------------------------------------------------------

Node parse_node(string_view text) {
    auto loaded = Document::parse_with(text, ParseLimits{});
    EXPECT_TRUE(loaded) << loaded.error().display();
    return loaded->records.at(0);
}

Node node_from_line(string_view line) {
    auto parsed = parse_line(line, 1, 64);
    EXPECT_TRUE(parsed) << parsed.error().display();
    return Node(*parsed);
}

string render(const Node& node) {
    string out;
    node.render_into(0, out);
    return out;
}

TEST(node, verbatim_line_survives_until_edited) {
    Node node = node_from_line("1  NAME John");
    EXPECT_EQ(render(node), "1  NAME John\n");
    Node copy = node;
    copy.push(Node::with_value("GIVN", "John"));
    EXPECT_EQ(render(copy), "1  NAME John\n1 GIVN John\n") << "push keeps the line";
    node.set_value("Jim");
    EXPECT_EQ(render(node), "0 NAME Jim\n");
    EXPECT_FALSE(node.verbatim());
}

TEST(node, every_edit_drops_the_verbatim_line) {
    const Node original = node_from_line("01 @I1@ INDI");
    ASSERT_TRUE(original.verbatim());
    Node a = original;
    a.set_tag("FAM");
    EXPECT_EQ(render(a), "0 @I1@ FAM\n");
    Node b = original;
    b.forget_verbatim();
    EXPECT_EQ(render(b), "0 @I1@ INDI\n");
    Node c = original;
    c.set_logical_value("x");
    EXPECT_EQ(render(c), "0 @I1@ INDI x\n");
}

TEST(node, logical_value_joins_continuations) {
    Node note = Node::with_value("NOTE", "a");
    note.push(Node::with_value("CONC", "b"));
    note.push(Node::make("CONT"));
    note.push(Node::with_value("SOUR", "@S1@"));
    note.push(Node::with_value("CONT", "c"));
    EXPECT_EQ(note.logical_value(), "ab\n\nc");
    EXPECT_EQ(Node::make("NOTE").logical_value(), "");
}

TEST(node, set_logical_value_replaces_continuations) {
    Node note = Node::with_value("NOTE", "old");
    note.push(Node::with_value("CONC", "x"));
    note.push(Node::with_value("SOUR", "@S1@"));
    note.push(Node::with_value("CONT", "y"));
    note.set_logical_value("x\r\ny\rz");
    EXPECT_EQ(render(note), "0 NOTE x\n1 CONT y\n1 CONT z\n1 SOUR @S1@\n");
    note.set_logical_value("");
    EXPECT_EQ(render(note), "0 NOTE\n1 SOUR @S1@\n");
    note.set_logical_value("\nb");
    EXPECT_EQ(render(note), "0 NOTE\n1 CONT b\n1 SOUR @S1@\n");
    note.set_logical_value("a\n");
    EXPECT_EQ(render(note), "0 NOTE a\n1 CONT \n1 SOUR @S1@\n");
}

TEST(node, logical_value_round_trips_with_normalised_breaks) {
    for (string_view text : {"", "a", "a\nb", "\n\n", "x\r\ny\rz\r", "one\n\ntwo  \n"}) {
        Node node = Node::make("NOTE");
        node.set_logical_value(text);
        string expected(text);
        for (size_t p; (p = expected.find("\r\n")) != string::npos;) expected.replace(p, 2, "\n");
        for (char& ch : expected)
            if (ch == '\r') ch = '\n';
        EXPECT_EQ(node.logical_value(), expected);
    }
}

TEST(node, with_value_keeps_an_empty_payload_and_splits_breaks) {
    EXPECT_EQ(render(Node::with_value("NOTE", "")), "0 NOTE \n");
    EXPECT_EQ(render(Node::with_value("NOTE", "a\nb")), "0 NOTE a\n1 CONT b\n");
}

TEST(node, lookups_are_exact) {
    Node indi = parse_node("0 @I1@ INDI\n1 NAME A\n2 CONC b\n1 name B\n1 NAME C\n");
    ASSERT_NE(indi.first("NAME"), nullptr);
    EXPECT_EQ(indi.first("NAME")->value(), "A");
    EXPECT_EQ(indi.first("name")->value(), "B");
    EXPECT_EQ(indi.first("SEX"), nullptr);
    EXPECT_EQ(indi.value_of("NAME"), "Ab");
    EXPECT_EQ(indi.value_of("SEX"), nullopt);
    indi.first_mut("NAME")->set_value("Z");
    EXPECT_EQ(indi.children()[0].value(), "Z");
}

TEST(node, preconditions_fail_with_fixed_messages) {
    const auto message_of = [](auto&& action) -> string {
        try {
            action();
        } catch (const InternalFailure& failure) {
            return failure.what();
        }
        return "no failure";
    };
    EXPECT_EQ(message_of([] { Node::make("NA ME"); }),
              "\"NA ME\" is not a GEDCOM tag: ASCII letters, digits, or underscore");
    EXPECT_EQ(message_of([] { Node::record("I1", "INDI"); }),
              "\"I1\" is not a cross-reference identifier: the @I1@ shape");
    EXPECT_EQ(message_of([] { Node::record("@I1@", ""); }),
              "\"\" is not a GEDCOM tag: ASCII letters, digits, or underscore");
    EXPECT_EQ(message_of([] { Node::make("NOTE").set_tag("a\"b"); }),
              "\"a\\\"b\" is not a GEDCOM tag");
    EXPECT_EQ(message_of([] { Node::make("NOTE").set_value("a\rb"); }),
              "a single-line node payload cannot contain a line ending");
}

TEST(node, copies_are_deep) {
    Node original = parse_node("0 @I1@ INDI\n1  NAME a long name that lives on the heap\n");
    Node copy = original;
    copy.children_mut()[0].set_value("short");
    EXPECT_EQ(original.children()[0].value(), "a long name that lives on the heap");
    EXPECT_TRUE(original.children()[0].verbatim());
    EXPECT_EQ(copy.xref(), "@I1@");
}

// Reordering substructures moves a list's own element into it; the list may
// grow while it does (sizes 1 to 9 cross the growth at 4 and 8).
TEST(node_list, moves_its_own_elements_across_growth) {
    const auto tags = [](const NodeList& list) {
        std::vector<string> out;
        for (const Node& node : list) out.emplace_back(node.tag());
        return out;
    };
    for (std::size_t size = 1; size <= 9; ++size) {
        for (std::size_t from = 0; from < size; ++from) {
            NodeList list;
            for (std::size_t i = 0; i < size; ++i)
                list.push_back(Node::with_value("T" + std::to_string(i), string(40, 'x')));
            std::vector<string> model = tags(list);

            list.push_back(std::move(list[from]));  // move to the end
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(from));
            std::rotate(model.begin() + static_cast<std::ptrdiff_t>(from),
                        model.begin() + static_cast<std::ptrdiff_t>(from) + 1, model.end());
            ASSERT_EQ(tags(list), model) << size << " " << from;

            list.insert(list.begin(), std::move(list.back()));  // and back to the front
            list.erase(list.end() - 1);
            std::rotate(model.begin(), model.end() - 1, model.end());
            ASSERT_EQ(tags(list), model) << size << " " << from;

            list.push_back(list[from]);  // a copy of its own element
            model.push_back(model[from]);
            ASSERT_EQ(tags(list), model) << size << " " << from;
            EXPECT_EQ(list.back().value(), string(40, 'x'));
        }
    }
}

// ---- reading and writing documents ------------------------------------------

Result<Document> read(string_view text, const ParseLimits& limits = {}) {
    return Document::parse_with(text, limits);
}

void expect_error(const Result<Document>& result, string_view message, optional<uint64_t> line) {
    ASSERT_FALSE(result) << "expected: " << message;
    EXPECT_EQ(result.error().message, message);
    EXPECT_EQ(result.error().line, line);
}

TEST(document_read, empty_input_and_bare_line_breaks_give_no_records) {
    for (string_view text : {"", "\n", "\r\n\r\n", "\r\r\n\n"}) {
        auto document = read(text);
        ASSERT_TRUE(document);
        EXPECT_TRUE(document->records.empty());
    }
}

TEST(document_read, line_numbers_count_empty_lines_whatever_the_terminator) {
    for (string_view text :
         {"0 HEAD\r\n1 CHAR ANSEL\r\n\r\n0 TRLR x y", "0 HEAD\n1 CHAR ANSEL\n\n0 TRLR x y",
          "0 HEAD\r1 CHAR ANSEL\r\r0 TRLR x y"}) {
        auto ok = read(text);
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->records.size(), 2u);
        EXPECT_EQ(ok->to_text(), "0 HEAD\n1 CHAR ANSEL\n0 TRLR x y\n");
        string broken(text);
        broken.replace(broken.find("0 TRLR"), 1, "x");
        expect_error(read(broken), "the line does not begin with a level", 4);
    }
}

TEST(document_read, mixed_terminators_read_alike) {
    auto lf = read("0 A\n1 B\n0 C\n");
    auto mixed = read("0 A\r\n1 B\r0 C");
    ASSERT_TRUE(lf && mixed);
    EXPECT_EQ(lf->to_text(), mixed->to_text());
}

TEST(document_read, assembles_records_by_level) {
    auto document = read("0 A\n1 B\n2 C\n1 D\n0 E\n");
    ASSERT_TRUE(document);
    ASSERT_EQ(document->records.size(), 2u);
    const Node& a = document->records[0];
    ASSERT_EQ(a.children().size(), 2u);
    EXPECT_EQ(a.children()[0].tag(), "B");
    EXPECT_EQ(a.children()[0].children().at(0).tag(), "C");
    EXPECT_EQ(a.children()[1].tag(), "D");
    EXPECT_EQ(document->records[1].tag(), "E");
    auto jump = read("0 A\n1 B\n2 C\n3 D\n1 E\n");
    ASSERT_TRUE(jump);
    EXPECT_EQ(jump->records[0].children().size(), 2u);
}

TEST(document_read, structure_errors) {
    expect_error(read("1 HEAD\n"), "a record must begin at level 0", 1);
    expect_error(read("\n\n2 X\n"), "a record must begin at level 0", 3);
    expect_error(read("0 INDI\n2 NAME x\n"), "the line skips a nesting level", 2);
    EXPECT_EQ(read("1 HEAD\n").error().display(), "GEDCOM line 1: a record must begin at level 0");
    EXPECT_EQ(read("0 INDI\n2 NAME x\n").error().kind, ErrorKind::Structure);
}

TEST(document_read, every_line_is_checked_before_nesting) {
    // The nesting error comes first in the file, but line errors outrank it.
    expect_error(read("0 A\n2 B\n0 C\n0C\n"), "the line has no tag", 4);
    ParseLimits limits;
    limits.max_lines = 3;
    expect_error(read("0 A\n2 B\n0 C\n0 D\n", limits), "the file has too many lines", 4);
    limits = {};
    limits.max_records = 1;
    expect_error(read("0 A\n2 B\n0 C\n", limits), "the line skips a nesting level", 2);
    expect_error(read("0 A\n0 C\n2 B\n", limits), "the file has too many records", 2);
}

TEST(document_read, bounds_hold_at_the_limit_and_refuse_one_past) {
    ParseLimits limits;
    limits.max_records = 2;
    EXPECT_TRUE(read("0 A\n1 X\n0 B\n", limits));
    expect_error(read("0 A\n0 B\n\n0 C\n1 D\n", limits), "the file has too many records", 4);

    limits = {};
    limits.max_lines = 3;
    EXPECT_TRUE(read("0 A\n\n\n1 B\n\n0 C\n", limits));
    expect_error(read("0 A\n\n1 B\n\n0 C\n1 D\n", limits), "the file has too many lines", 6);

    limits = {};
    limits.max_line_length = 10;
    EXPECT_TRUE(read("0 A 678910\n", limits));
    expect_error(read("0 A\n0 A 6789101\n", limits), "the line is longer than the limit", 2);
    // The line count is checked before the length, the length before the grammar.
    limits.max_lines = 1;
    expect_error(read("0 A\nxxxxxxxxxxxxxxx\n", limits), "the file has too many lines", 2);
    limits.max_lines = 5;
    expect_error(read("0 A\nxxxxxxxxxxxxxxx\n", limits), "the line is longer than the limit", 2);

    limits = {};
    limits.max_depth = 3;
    EXPECT_TRUE(read("0 A\n1 B\n2 C\n3 D\n", limits));
    expect_error(read("0 A\n1 B\n2 C\n3 D\n4 E\n", limits),
                 "the line is nested deeper than the limit", 5);

    limits = {};
    limits.max_file_bytes = 8;
    EXPECT_TRUE(read("0 A\n0 B\n", limits));
    auto big = read("0 A\n0 BC\n", limits);
    ASSERT_FALSE(big);
    EXPECT_EQ(big.error().display(), "the file is 0 MB and the limit is 0 MB");
    EXPECT_EQ(big.error().kind, ErrorKind::Limit);
}

TEST(document_read, default_limits) {
    const ParseLimits limits;
    EXPECT_EQ(limits.max_file_bytes, 134'217'728u);
    EXPECT_EQ(limits.max_line_length, 16'777'216u);
    EXPECT_EQ(limits.max_records, 2'000'000u);
    EXPECT_EQ(limits.max_lines, 20'000'000u);
    EXPECT_EQ(limits.max_depth, 64u);
    const string oversized(134'217'729, '\n');
    EXPECT_EQ(read(oversized).error().message, "the file is 128 MB and the limit is 128 MB");
}

TEST(document_read, deep_nesting_to_the_depth_limit_does_not_recurse_unboundedly) {
    ParseLimits limits;
    limits.max_depth = 2000;
    string text;
    for (unsigned level = 0; level <= 2000; ++level) text += std::to_string(level) + " X\n";
    auto document = read(text, limits);
    ASSERT_TRUE(document);
    const Node* node = &document->records[0];
    unsigned depth = 0;
    while (!node->children().empty()) {
        node = &node->children()[0];
        ++depth;
    }
    EXPECT_EQ(depth, 2000u);
    EXPECT_EQ(document->to_text(), text);
    EXPECT_EQ(Document(*document).records.size(), 1u);
}

TEST(document_read, hostile_depth_stops_at_the_default_limit) {
    string text;
    for (unsigned level = 0; level < 100000; ++level)
        text += std::to_string(level % 65536) + " X\n";
    expect_error(read(text), "the line is nested deeper than the limit", 66);
}

TEST(document_read, a_leftover_byte_order_mark_is_not_skipped) {
    expect_error(read("\xEF\xBB\xBF"
                      "0 HEAD\n"),
                 "the line does not begin with a level", 1);
}

TEST(document_read, build_node_assembles_one_subtree_and_guards_its_level) {
    std::vector<string> texts = {"1 A", "2 B", "3 C", "2 D", "1 E"};
    std::vector<ParsedLine> lines;
    for (size_t i = 0; i < texts.size(); ++i) lines.push_back(*parse_line(texts[i], i + 1, 64));
    size_t cursor = 0;
    auto node = build_node(lines, cursor, 1);
    ASSERT_TRUE(node);
    EXPECT_EQ(cursor, 4u);
    EXPECT_EQ(node->children().size(), 2u);
    auto wrong = build_node(lines, cursor, 2);
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error().message, "the line is nested at the wrong level");
    EXPECT_EQ(wrong.error().line, 5u);
}

TEST(document_read, nodes_outlive_the_document_they_were_read_into) {
    const string long_value(100, 'x');
    Node kept = Node::make("X");
    std::vector<Node> copies;
    {
        auto document = read("0 @I1@ INDI\n1 NOTE " + long_value + "\n2 CONC " + long_value +
                             "\n0 @I2@ INDI\n");
        ASSERT_TRUE(document);
        kept = std::move(document->records[0]);
        copies.push_back(document->records[1]);
    }
    EXPECT_EQ(kept.children()[0].logical_value(), long_value + long_value);
    kept.children_mut()[0].set_value("short");
    kept.children_mut().push_back(Node::with_value("NOTE", long_value));
    EXPECT_EQ(render(kept),
              "0 @I1@ INDI\n1 NOTE short\n2 CONC " + long_value + "\n1 NOTE " + long_value + "\n");
    EXPECT_EQ(copies[0].xref(), "@I2@");
}

TEST(document_write, reading_writing_reading_is_stable) {
    const string_view text =
        "0 HEAD\r\n1 CHAR ANSEL\r\n01  NOTE  x \r\n0 @I1@ INDI\n1 NAME a /b/\n2 CONC c\n0 TRLR";
    auto first = read(text);
    ASSERT_TRUE(first);
    const string written = first->to_text();
    EXPECT_EQ(written,
              "0 HEAD\n1 CHAR ANSEL\n01  NOTE  x \n0 @I1@ INDI\n1 NAME a /b/\n2 CONC c\n0 TRLR\n");
    auto second = read(written);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->to_text(), written);
    EXPECT_EQ(second->records[0].children()[1].verbatim(), "01  NOTE  x ");
}

TEST(document_write, to_bytes_makes_char_truthful_on_a_copy) {
    auto ansel = read("0 HEAD\n1  SOUR x\n1 CHAR ANSEL\n2 VERS 1\n0 TRLR\n");
    ASSERT_TRUE(ansel);
    EXPECT_EQ(ansel->to_bytes(), "0 HEAD\n1  SOUR x\n1 CHAR UTF-8\n2 VERS 1\n0 TRLR\n");
    EXPECT_EQ(ansel->records[0].children()[1].value(), "ANSEL");

    for (string_view unchanged : {"0 HEAD\n1 CHAR utf-8 \n0 TRLR\n", "0 HEAD\n1 SOUR x\n0 TRLR\n",
                                  "0 HEAD\n1 CHAR \xE2\x80\x83UTF-8\n"}) {
        auto document = read(unchanged);
        ASSERT_TRUE(document);
        EXPECT_EQ(document->to_bytes(), document->to_text());
    }
    auto absent = read("0 HEAD\n1 CHAR\n1 CHAR ANSEL\n");
    ASSERT_TRUE(absent);
    EXPECT_EQ(absent->to_bytes(), "0 HEAD\n1 CHAR UTF-8\n1 CHAR ANSEL\n");
    auto verbatim_header = read("00 @H@ HEAD\n1 CHAR ASCII\n");
    ASSERT_TRUE(verbatim_header);
    EXPECT_EQ(verbatim_header->to_bytes(), "00 @H@ HEAD\n1 CHAR UTF-8\n");
    // The header is the first record tagged HEAD in any letter case, wherever it stands.
    auto later = read("0 @I1@ INDI\n0 Head\n1 CHAR ANSEL\n0 HEAD\n1 CHAR ANSEL\n");
    ASSERT_TRUE(later);
    EXPECT_EQ(later->to_bytes(), "0 @I1@ INDI\n0 Head\n1 CHAR UTF-8\n0 HEAD\n1 CHAR ANSEL\n");
    EXPECT_TRUE(later->declare_utf8_encoding());
    EXPECT_EQ(later->to_text(), later->to_bytes());
}

TEST(document_write, declare_utf8_encoding_finds_the_first_header_anywhere) {
    auto document = read("0 @I1@ INDI\n0 HEAD\n1 CHAR Utf-8\n");
    ASSERT_TRUE(document);
    EXPECT_FALSE(document->declare_utf8_encoding());
    document = read("0 @I1@ INDI\n0 HEAD\n1  CHAR ANSEL\n");
    EXPECT_TRUE(document->declare_utf8_encoding());
    EXPECT_EQ(document->to_text(), "0 @I1@ INDI\n0 HEAD\n1 CHAR UTF-8\n");
    document = read("0 HEAD\n1 SOUR x\n");
    EXPECT_FALSE(document->declare_utf8_encoding());
}

}  // namespace
}  // namespace lignor
