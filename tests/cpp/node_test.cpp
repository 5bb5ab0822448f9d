// Tests of the line grammar and the tree of nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document.hpp"
#include "queries.hpp"

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

// Copies share lists and long texts until one side changes: whichever side
// an edit reaches, through whichever path, the other keeps its text, and
// either outlives the other.
TEST(node, copies_share_until_either_side_changes) {
    const string text =
        "0 @I1@ INDI\n1 NAME a long name that lives on the heap /Surname/\n2  GIVN a\n"
        "1 BIRT\n2 DATE 1 JAN 1900\n2 PLAC a place name long enough for the heap\n"
        "1 NOTE first\n2 CONT second\n";
    const std::vector<std::function<void(Node&)>> edits = {
        [](Node& r) { r.children_mut()[1].children_mut()[0].set_value("2 JAN 1900"); },
        [](Node& r) { r.first_mut("BIRT")->first_mut("PLAC")->set_tag("ADDR"); },
        [](Node& r) { r.children_mut().erase(r.children_mut().begin()); },
        [](Node& r) { r.children_mut()[2].set_logical_value("one line"); },
        [](Node& r) {
            node_at_mut(r, std::vector<std::size_t>{0, 0})->push(Node::make("SOUR"));
        },
        [](Node& r) { std::reverse(r.children_mut().begin(), r.children_mut().end()); },
        [](Node& r) { r.children_mut().clear(); },
        [](Node& r) { r.children_mut()[0].children_mut()[0].set_value("b"); },  // a verbatim line
    };
    for (std::size_t index = 0; index < edits.size(); ++index) {
        for (const bool edit_the_copy : {true, false}) {
            auto original = std::make_unique<Node>(parse_node(text));
            auto copy = std::make_unique<Node>(*original);
            Node& edited = edit_the_copy ? *copy : *original;
            std::unique_ptr<Node>& other = edit_the_copy ? original : copy;
            edits[index](edited);
            EXPECT_NE(render(edited), text) << index;
            EXPECT_EQ(render(*other), text) << index << " " << edit_the_copy;
            const string edited_text = render(edited);
            other.reset();
            EXPECT_EQ(render(edited), edited_text) << index;
        }
    }
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

TEST(node, outlives_the_document_it_was_read_into) {
    const string long_value(100, 'x');
    Node kept = Node::make("X");
    std::vector<Node> copies;
    {
        auto document = Document::parse_with(
            "0 @I1@ INDI\n1 NOTE " + long_value + "\n2 CONC " + long_value + "\n0 @I2@ INDI\n",
            ParseLimits{});
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

// ---- assembling records ------------------------------------------------------

TEST(tree_builder, hands_each_record_over_when_the_next_one_begins) {
    const std::vector<string> texts = {"0 A", "1 B", "2 C", "1 D", "0 E"};
    TreeBuilder builder(UINT64_MAX, nullptr);
    std::vector<Node> records;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_TRUE(builder.add(*parse_line(texts[i], i + 1, 64), records));
        EXPECT_EQ(records.size(), i + 1 == texts.size() ? 1u : 0u) << texts[i];
    }
    builder.finish(records);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(render(records[0]), "0 A\n1 B\n2 C\n1 D\n");
    EXPECT_EQ(render(records[1]), "0 E\n");
}

}  // namespace
}  // namespace lignor
