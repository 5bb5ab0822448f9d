// Tests of edits: appended records and structures, logical values set in place,
// refusals that change nothing, and the running totals that keep a document
// within its bounds.
#include "build.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "document.hpp"
#include "json.hpp"
#include "support.hpp"
#include "wrap.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;

using test::read;

std::vector<NodeSpec> specs_of(string_view json) {
    auto specs = read_node_specs(json);
    EXPECT_TRUE(specs) << json << ": " << specs.error().display();
    return specs ? std::move(specs).value() : std::vector<NodeSpec>{};
}

// Builds every description (records, or substructures when `records` is
// false) and renders the nodes as lines at their level, or gives the first
// refusal's display text.
string built(string_view json, bool records, const ParseLimits& limits = {}) {
    string out;
    for (NodeSpec& spec : specs_of(json)) {
        auto node =
            records ? std::move(spec).into_node(limits) : std::move(spec).into_substructure(limits);
        if (!node) return node.error().display();
        node->render_into(records ? 0 : 1, out);
    }
    return out;
}

// A chain of `levels` descriptions, each the only child of the one above;
// the deepest carries `value` (JSON text) when one is given.
string chain(std::size_t levels, string_view value = {}) {
    string json = "[";
    for (std::size_t i = 0; i < levels; ++i) {
        json += R"({"tag":"NOTE",)";
        if (i + 1 == levels && !value.empty()) json += R"("value":")" + string(value) + R"(",)";
        json += R"("children":[)";
    }
    for (std::size_t i = 0; i < levels; ++i) json += "]}";
    return json + "]";
}

struct BuildCase {
    const char* name;
    string json;
    bool records;
    string expected;  // the rendered lines, or the refusal
};

class building : public testing::TestWithParam<BuildCase> {};

TEST_P(building, gives_lines_or_the_first_refusal) {
    const BuildCase& c = GetParam();
    EXPECT_EQ(built(c.json, c.records), c.expected);
}

const string not_a_tag = " is not a GEDCOM tag: ASCII letters, digits, or underscore";
const string not_an_xref = " is not a cross-reference identifier: the @I1@ shape";
const string too_deep = "the structure is nested deeper than the limit";

INSTANTIATE_TEST_SUITE_P(
    cases, building,
    testing::Values(
        BuildCase{"value_lines_become_cont_ahead_of_children",
                  R"([{"xref":"@N1@","tag":"NOTE","value":"a\nb","children":[{"tag":"SOUR"}]}])",
                  true, "0 @N1@ NOTE a\n1 CONT b\n1 SOUR\n"},
        BuildCase{"empty_value_is_no_value", R"([{"tag":"NOTE","value":""}])", false, "1 NOTE\n"},
        BuildCase{"bad_tag_quoted", R"([{"tag":"1 BAD"}])", true, "\"1 BAD\"" + not_a_tag},
        BuildCase{"empty_tag", R"([{"tag":""}])", false, "\"\"" + not_a_tag},
        BuildCase{"xref_on_a_substructure", R"([{"xref":"@I1@","tag":"NOTE"}])", false,
                  "@I1@ is on a NOTE below level zero, where only records carry identifiers"},
        BuildCase{"xref_with_a_space", R"([{"xref":"@I 1@","tag":"INDI"}])", true,
                  "\"@I 1@\"" + not_an_xref},
        BuildCase{"xref_with_an_inner_at", R"([{"xref":"@I@1@","tag":"INDI"}])", true,
                  "\"@I@1@\"" + not_an_xref},
        BuildCase{"xref_too_short", R"([{"xref":"@@","tag":"INDI"}])", true,
                  "\"@@\"" + not_an_xref},
        BuildCase{"xref_without_at", R"([{"xref":"I1","tag":"INDI"}])", true,
                  "\"I1\"" + not_an_xref},
        // A line break would end the line inside the identifier.
        BuildCase{"xref_with_a_line_break", R"([{"xref":"@I\n1@","tag":"INDI"}])", true,
                  "\"@I\\n1@\"" + not_an_xref},
        BuildCase{"xref_with_a_carriage_return", R"([{"xref":"@I\r1@","tag":"INDI"}])", true,
                  "\"@I\\r1@\"" + not_an_xref},
        // Precedence: the tag before the identifier, the level before the
        // shape, the parent before its children, the depth before all.
        BuildCase{"tag_before_xref", R"([{"xref":"bad","tag":"B D"}])", true,
                  "\"B D\"" + not_a_tag},
        BuildCase{"level_before_shape", R"([{"xref":"bad","tag":"NOTE"}])", false,
                  "bad is on a NOTE below level zero, where only records carry identifiers"},
        BuildCase{"parent_before_children", R"([{"tag":"A-","children":[{"tag":"B-"}]}])", true,
                  "\"A-\"" + not_a_tag},
        BuildCase{
            "first_child_refused_first",
            R"([{"tag":"A","children":[{"tag":"B","children":[{"tag":"C-"}]},{"tag":"D-"}]}])",
            true, "\"C-\"" + not_a_tag},
        BuildCase{"records_reach_level_64", chain(65), true, built(chain(64), true) + "64 NOTE\n"},
        BuildCase{"records_stop_at_level_65", chain(66), true, too_deep},
        BuildCase{"one_line_value_at_level_64", chain(65, "a"), true,
                  built(chain(64), true) + "64 NOTE a\n"},
        // Its CONT line would stand on level 65.
        BuildCase{"multi_line_value_at_level_64", chain(65, R"(a\nb)"), true, too_deep},
        BuildCase{"substructures_reach_level_64", chain(64), false,
                  built(chain(63), false) + "64 NOTE\n"},
        BuildCase{"substructures_stop_at_level_65", chain(65), false, too_deep}),
    [](const auto& info) { return string(info.param.name); });

TEST(building, counts_structures_per_top_level_description) {
    ParseLimits limits;
    limits.max_lines = 3;
    const string three = R"({"tag":"A","children":[{"tag":"B","value":"x\ny"},{"tag":"C"}]})";
    EXPECT_EQ(built("[" + three + "," + three + "]", true, limits),
              "0 A\n1 B x\n2 CONT y\n1 C\n0 A\n1 B x\n2 CONT y\n1 C\n");
    EXPECT_EQ(
        built(R"([{"tag":"A","children":[{"tag":"B"},{"tag":"C","children":[{"tag":"D"}]}]}])",
              true, limits),
        "the record has too many structures");
}

// ---- replacing a payload -------------------------------------------------------

TEST(replacing_a_payload, refuses_a_missing_structure_and_cont_lines_past_level_64) {
    string text = "0 NOTE\n";
    for (int level = 1; level <= 64; ++level) text += std::to_string(level) + " NOTE\n";
    const struct {
        std::vector<std::size_t> path;
        string_view value;
        string expected;  // the edited line, or the refusal
    } table[] = {
        {{}, "x", "0 NOTE x\n"},
        {std::vector<std::size_t>(64, 0), "x", "64 NOTE x\n"},
        {std::vector<std::size_t>(63, 0), "x\ny", "63 NOTE x\n64 CONT y\n"},
        {std::vector<std::size_t>(64, 0), "x\ry", too_deep},
        {{0, 1}, "x", "no structure at [0, 1]"},
    };
    for (const auto& row : table) {
        Document document = read(text);
        const Status done = document.set_logical_value_at(document.records[0], row.path, row.value);
        if (done) {
            EXPECT_NE(document.to_text().find(row.expected), string::npos) << row.expected;
            EXPECT_TRUE(Document::parse_with(document.to_text(), ParseLimits{}));
        } else {
            EXPECT_EQ(done.error().display(), row.expected);
            EXPECT_EQ(document.to_text(), text);
        }
    }
}

// ---- appending records -------------------------------------------------------

struct AppendCase {
    const char* name;
    string_view document;
    string_view json;
    string expected;  // the document written after the append, or the refusal
};

string after_append_records(string_view text, string_view json) {
    Document document = read(text);
    std::vector<Node> nodes;
    for (NodeSpec& spec : specs_of(json)) nodes.push_back(std::move(spec).into_node({}).value());
    const Status done = document.append_records(std::move(nodes));
    if (!done) {
        EXPECT_EQ(document.to_text(), text) << "a refused append changed the document";
        return done.error().display();
    }
    return document.to_text();
}

class appending_records : public testing::TestWithParam<AppendCase> {};

TEST_P(appending_records, inserts_before_the_trailer_or_refuses_everything) {
    const AppendCase& c = GetParam();
    EXPECT_EQ(after_append_records(c.document, c.json), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    cases, appending_records,
    testing::Values(AppendCase{"before_the_last_trailer", "0 HEAD\n0 TRLR\n0 @N1@ NOTE x\n0 TRLR\n",
                               R"([{"tag":"NOTE","value":"y"},{"xref":"@I1@","tag":"INDI"}])",
                               "0 HEAD\n0 TRLR\n0 @N1@ NOTE x\n0 NOTE y\n0 @I1@ INDI\n0 TRLR\n"},
                    AppendCase{"before_a_trailer_in_any_case", "0 HEAD\n0 trlr\n",
                               R"([{"tag":"NOTE"}])", "0 HEAD\n0 NOTE\n0 trlr\n"},
                    AppendCase{"a_header_in_any_case", "", R"([{"tag":"head"}])",
                               "a document has one head, and this one already does"},
                    AppendCase{"duplicate_within_the_call", "0 HEAD\n0 TRLR\n",
                               R"([{"xref":"@I9@","tag":"INDI"},{"xref":"@i9@","tag":"INDI"}])",
                               "the document already has a record @i9@"},
                    AppendCase{"duplicate_of_an_existing_record", "0 @I1@ INDI\n0 TRLR\n",
                               R"([{"xref":"@N1@","tag":"NOTE"},{"xref":"@i1@","tag":"FAM"}])",
                               "the document already has a record @i1@"},
                    AppendCase{"a_second_header", "0 HEAD\n0 TRLR\n",
                               R"([{"tag":"NOTE"},{"tag":"HEAD"}])",
                               "a document has one HEAD, and this one already does"},
                    AppendCase{"a_second_trailer", "0 HEAD\n0 TRLR\n", R"([{"tag":"TRLR"}])",
                               "a document has one TRLR, and this one already does"}),
    [](const auto& info) { return string(info.param.name); });

// ---- appending substructures ---------------------------------------------------

const string_view person =
    "0 HEAD\n0 @N1@ NOTE\n0 NOTE x\n0 @I1@ INDI\n1 NAME a\n1 CONC b\n01 SEX M\n0 TRLR\n";

struct StructuresCase {
    const char* name;
    string_view document;
    string_view record;
    std::vector<std::size_t> path;
    string expected;  // the document written after the append, or the refusal
};

class appending_structures : public testing::TestWithParam<StructuresCase> {};

TEST_P(appending_structures, adds_after_the_addressed_structures_children) {
    const StructuresCase& c = GetParam();
    Document document = read(c.document);
    std::vector<Node> nodes;
    for (NodeSpec& spec : specs_of(R"([{"tag":"_X","value":"1\n2"},{"tag":"_Y"}])"))
        nodes.push_back(std::move(spec).into_substructure({}).value());
    const Status done = document.append_structures(c.record, c.path, std::move(nodes));
    if (done) {
        EXPECT_EQ(document.to_text(), c.expected);
    } else {
        EXPECT_EQ(done.error().display(), c.expected);
        EXPECT_EQ(document.to_text(), c.document);
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, appending_structures,
    testing::Values(
        StructuresCase{"to_the_header",
                       "0 HEAD\n1 SOUR x\n0 TRLR\n",
                       "HEAD",
                       {},
                       "0 HEAD\n1 SOUR x\n1 _X 1\n2 CONT 2\n1 _Y\n0 TRLR\n"},
        StructuresCase{"identifier_in_another_case",
                       person,
                       "@i1@",
                       {2},
                       "0 HEAD\n0 @N1@ NOTE\n0 NOTE x\n0 @I1@ INDI\n1 NAME a\n1 CONC b\n"
                       "01 SEX M\n2 _X 1\n3 CONT 2\n2 _Y\n0 TRLR\n"},
        StructuresCase{"through_a_continuation",
                       person,
                       "@I1@",
                       {1},
                       "0 HEAD\n0 @N1@ NOTE\n0 NOTE x\n0 @I1@ INDI\n1 NAME a\n1 CONC b\n"
                       "2 _X 1\n3 CONT 2\n2 _Y\n01 SEX M\n0 TRLR\n"},
        StructuresCase{"a_tag_finds_only_records_without_identifier",
                       person,
                       "NOTE",
                       {},
                       "0 HEAD\n0 @N1@ NOTE\n0 NOTE x\n1 _X 1\n2 CONT 2\n1 _Y\n0 @I1@ INDI\n"
                       "1 NAME a\n1 CONC b\n01 SEX M\n0 TRLR\n"},
        StructuresCase{
            "a_tag_never_finds_a_record_with_identifier", person, "INDI", {}, "no record INDI"},
        StructuresCase{"the_header_in_any_case",
                       "0 head\n0 TRLR\n",
                       "Head",
                       {},
                       "0 head\n1 _X 1\n2 CONT 2\n1 _Y\n0 TRLR\n"},
        StructuresCase{"another_tag_matches_exactly", person, "note", {}, "no record note"},
        StructuresCase{
            "past_the_last_substructure", person, "@I1@", {3}, "no structure at [3] in @I1@"},
        StructuresCase{"below_a_leaf", person, "@I1@", {0, 0}, "no structure at [0, 0] in @I1@"}),
    [](const auto& info) { return string(info.param.name); });

TEST(appending_structures, refuses_an_identifier_before_looking_for_the_record) {
    Document document = read("0 HEAD\n0 TRLR\n");
    std::vector<Node> nodes;
    nodes.push_back(Node::make("NOTE"));
    nodes.push_back(Node::record("@N1@", "NOTE"));
    const Status done = document.append_structures("@NOWHERE@", {}, std::move(nodes));
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error().display(), "a NOTE below level zero cannot carry an identifier");
}

// The reader takes levels up to 64, so nothing appended may land below that,
// however deep the structure it is appended to.
TEST(appending_structures, refuses_what_would_land_past_level_64) {
    string text = "0 NOTE\n";
    for (int level = 1; level <= 64; ++level) text += std::to_string(level) + " NOTE\n";
    const std::vector<std::size_t> to_level_63(63, 0);
    const std::vector<std::size_t> to_level_64(64, 0);
    const struct {
        std::vector<std::size_t> path;
        std::size_t levels;  // of the description
        bool accepted;
    } table[] = {
        {to_level_63, 1, true}, {to_level_63, 2, false}, {to_level_64, 1, false}, {{}, 64, true},
        {{0}, 63, true},        {{0}, 64, false},        {{0, 0}, 63, false},
    };
    for (const auto& row : table) {
        Document document = read(text);
        std::vector<Node> nodes;
        for (NodeSpec& spec : specs_of(chain(row.levels)))
            nodes.push_back(std::move(spec).into_substructure({}).value());
        const Status done = document.append_structures("NOTE", row.path, std::move(nodes));
        EXPECT_EQ(done.has_value(), row.accepted) << row.path.size() << " " << row.levels;
        if (done) {
            EXPECT_TRUE(Document::parse_with(document.to_text(), ParseLimits{}));
        } else {
            EXPECT_EQ(done.error().display(), too_deep);
            EXPECT_EQ(document.to_text(), text);
        }
    }
}

}  // namespace
// ---- the running totals ----------------------------------------------------------

// After every kind of edit the totals still say what to_text writes.
TEST(running_totals, follow_every_edit) {
    Document document = read(
        "0 HEAD\r\n1 CHAR ANSI\r\n\r\n0 @I1@ INDI\r\n01 NOTE a\r\n2 CONC b\n"
        "0 TRLR\n");
    const auto nodes = [](string_view json, bool records) {
        std::vector<Node> built;
        for (NodeSpec& spec : specs_of(json)) {
            built.push_back(records ? std::move(spec).into_node({}).value()
                                    : std::move(spec).into_substructure({}).value());
        }
        return built;
    };
    const string long_text(300, 'x');
    ASSERT_TRUE(document.append_records(
        nodes(R"([{"xref":"@N1@","tag":"NOTE","value":"1\n2","children":[{"tag":"_X"}]}])", true)));
    ASSERT_TRUE(document.append_structures("@I1@", {{0}}, nodes(R"([{"tag":"SOUR"}])", false)));
    ASSERT_TRUE(document.set_logical_value_at(document.records[1], {{0}}, long_text + "\r\ny"));
    ASSERT_TRUE(document.set_logical_value_at(document.records[2], {}, long_text));
    ASSERT_TRUE(fit_line_limit(document, "@I1@", 100));
    ASSERT_TRUE(wrap_long_lines(document, 100));
    ASSERT_TRUE(document.declare_utf8_encoding());
    const string text = document.to_text();
    EXPECT_EQ(document.extent().bytes, text.size());
    EXPECT_EQ(document.extent().lines,
              static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n')));
}

}  // namespace lignor
