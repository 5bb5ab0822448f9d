#include <gtest/gtest.h>

#include <algorithm>

#include "document.hpp"
#include "family.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;
using List = std::vector<string>;

Document read(string_view text) {
    auto document = Document::parse_with(text, ParseLimits{});
    EXPECT_TRUE(document) << document.error().display();
    return std::move(document).value();
}

List listed(std::span<const string> answer) {
    return {answer.begin(), answer.end()};
}

List sorted(std::span<const string> answer) {
    List list = listed(answer);
    std::sort(list.begin(), list.end());
    return list;
}

// One document and the three answers for one person, in order.
struct Case {
    const char* name;
    const char* text;
    const char* person;
    List parents;
    List children;
    List partners;
};

const char family_side[] =
    "0 @F1@ FAM\n1 HUSB @I1@\n1 WIFE @I2@\n1 CHIL @I3@\n"
    "0 @I1@ INDI\n0 @I2@ INDI\n0 @I3@ INDI\n";
const char individual_side[] =
    "0 @I1@ INDI\n1 FAMS @F1@\n0 @I2@ INDI\n1 FAMS @F1@\n0 @I3@ INDI\n1 FAMC @F1@\n";
// Both sides, spelt differently; the family's spelling is read first.
const char both_sides[] =
    "0 @I1@ INDI\n1 FAMS @f1@\n0 @I2@ INDI\n1 FAMS @F1@\n0 @I3@ INDI\n1 FAMC @F1@\n"
    "0 @f1@ FAM\n1 HUSB @i1@\n1 WIFE @I2@\n1 CHIL @i3@\n";
// Partners: HUSB lines, then WIFE lines, then FAMS links; children: CHIL, then FAMC.
const char ordered[] =
    "0 @F1@ FAM\n1 WIFE @W1@\n1 CHIL @C2@\n1 HUSB @H1@\n1 CHIL @C1@\n1 HUSB @H2@\n"
    "0 @P3@ INDI\n1 FAMS @F1@\n0 @C3@ INDI\n1 FAMC @F1@\n";
const char voids[] =
    "0 @F1@ FAM\n1 HUSB @VOID@\n1 WIFE @I2@\n1 CHIL @VOID@\n1 CHIL @I3@\n1 CHIL\n1 CHIL @A@B@\n"
    "1 WIFE I2\n0 @I9@ INDI\n1 FAMS @VOID@\n1 FAMC @VOID@\n";
// Links under a record that is not INDI or FAM, or a record without an
// identifier, or a link below level 1, count for nothing.
const char not_links[] =
    "0 @F1@ FAM\n1 WIFE @I2@\n1 EVEN\n2 HUSB @I7@\n0 @N1@ NOTE\n1 FAMC @F1@\n0 INDI\n1 FAMC @F1@\n"
    "0 @I8@ indi\n1 FAMC @F1@\n0 @F2@ fam\n1 CHIL @I2@\n0 @I3@ INDI\n1 FAMC @F1@\n";

const Case cases[] = {
    {"family side, child", family_side, "@I3@", {"@I1@", "@I2@"}, {}, {}},
    {"family side, husband", family_side, "@I1@", {}, {"@I3@"}, {"@I2@"}},
    {"family side, wife", family_side, "@I2@", {}, {"@I3@"}, {"@I1@"}},
    {"individual side, child", individual_side, "@I3@", {"@I1@", "@I2@"}, {}, {}},
    {"individual side, husband", individual_side, "@I1@", {}, {"@I3@"}, {"@I2@"}},
    {"individual side, wife", individual_side, "@I2@", {}, {"@I3@"}, {"@I1@"}},
    {"both sides, child", both_sides, "@I3@", {"@i1@", "@I2@"}, {}, {}},
    {"both sides, husband", both_sides, "@I1@", {}, {"@i3@"}, {"@I2@"}},
    {"both sides, wife", both_sides, "@I2@", {}, {"@i3@"}, {"@i1@"}},
    {"asked in lower case", both_sides, "@i2@", {}, {"@i3@"}, {"@i1@"}},
    {"order of partners", ordered, "@C1@", {"@H1@", "@H2@", "@W1@", "@P3@"}, {}, {}},
    {"order of children", ordered, "@W1@", {}, {"@C2@", "@C1@", "@C3@"}, {"@H1@", "@H2@", "@P3@"}},
    {"order of other partners",
     ordered,
     "@P3@",
     {},
     {"@C2@", "@C1@", "@C3@"},
     {"@H1@", "@H2@", "@W1@"}},
    {"void and malformed links", voids, "@I3@", {"@I2@"}, {}, {}},
    {"a lone partner has no partner", voids, "@I2@", {}, {"@I3@"}, {}},
    {"void is nobody", voids, "@VOID@", {}, {}, {}},
    {"void links of an individual", voids, "@I9@", {}, {}, {}},
    {"links outside INDI and FAM", not_links, "@I3@", {"@I2@"}, {}, {}},
    {"a nested HUSB is no partner", not_links, "@I2@", {}, {"@I3@"}, {}},
    {"an identifier met nowhere", family_side, "@X1@", {}, {}, {}},
    {"a malformed identifier", family_side, "I1", {}, {}, {}},
    {"a family without partners", "0 @F1@ FAM\n1 CHIL @I3@\n", "@I3@", {}, {}, {}},
};

class family_graph : public ::testing::TestWithParam<Case> {};

TEST_P(family_graph, answers_for_one_person_in_order) {
    const Case& c = GetParam();
    const FamilyGraph graph = FamilyGraph::make(read(c.text));
    EXPECT_EQ(listed(graph.parents_of(c.person)), c.parents);
    EXPECT_EQ(listed(graph.children_of(c.person)), c.children);
    EXPECT_EQ(listed(graph.partners_of(c.person)), c.partners);
}

INSTANTIATE_TEST_SUITE_P(family, family_graph, ::testing::ValuesIn(cases), [](const auto& info) {
    string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

TEST(family_graph_build, a_child_of_two_families_gets_the_partners_of_both_once) {
    const FamilyGraph graph =
        FamilyGraph::make(read("0 @F1@ FAM\n1 HUSB @I1@\n1 WIFE @I2@\n1 CHIL @I5@\n"
                               "0 @F2@ FAM\n1 HUSB @I1@\n1 WIFE @I3@\n1 CHIL @i5@\n"
                               "0 @I5@ INDI\n1 FAMC @F1@\n1 FAMC @F2@\n"));
    // The order between the two families is not fixed; within one it is.
    const List parents = listed(graph.parents_of("@I5@"));
    EXPECT_TRUE(parents == (List{"@I1@", "@I2@", "@I3@"}) ||
                parents == (List{"@I1@", "@I3@", "@I2@"}))
        << ::testing::PrintToString(parents);
    EXPECT_EQ(sorted(graph.partners_of("@I1@")), (List{"@I2@", "@I3@"}));
    // One entry, spelt as the family visited first spells it.
    const List children = listed(graph.children_of("@I1@"));
    ASSERT_EQ(children.size(), 1u);
    EXPECT_TRUE(same_xref(children[0], "@I5@"));
    EXPECT_EQ(listed(graph.children_of("@I3@")), (List{"@i5@"}));
}

TEST(family_graph_build, families_are_keyed_upper_case_and_shared_across_spellings) {
    const FamilyGraph graph =
        FamilyGraph::make(read("0 @f1@ FAM\n1 HUSB @I1@\n0 @F1@ FAM\n1 WIFE @I2@\n1 HUSB @i1@\n"
                               "0 @I3@ INDI\n1 FAMC @f1@\n0 @I4@ INDI\n1 FAMS @F9@\n"));
    ASSERT_EQ(graph.families.size(), 2u);
    const FamilyMembers& shared = graph.families.at("@F1@");
    EXPECT_EQ(shared.partners, (List{"@I1@", "@I2@"}));
    EXPECT_EQ(shared.children, (List{"@I3@"}));
    // A family only individuals mention exists too.
    EXPECT_EQ(graph.families.at("@F9@").partners, (List{"@I4@"}));
    EXPECT_EQ(graph.parents.count("@I3@"), 1u);
    EXPECT_EQ(graph.parents.count("@i3@"), 0u);
}

TEST(family_graph_build, an_empty_document_gives_an_empty_graph) {
    const FamilyGraph graph = FamilyGraph::make(Document{});
    EXPECT_TRUE(graph.families.empty());
    EXPECT_TRUE(graph.parents_of("@I1@").empty());
}

TEST(family_graph_helpers, push_unique_ignores_ascii_case_only) {
    XrefList list;
    for (const char* xref : {"@a1@", "@A1@", "@B1@", "@a1@", "@\xC3\xA9@", "@\xC3\x89@", "@b1@"})
        push_unique(list, xref);
    EXPECT_EQ(list, (List{"@a1@", "@B1@", "@\xC3\xA9@", "@\xC3\x89@"}));
}

TEST(family_graph_helpers, lookup_upper_cases_its_argument_and_misses_as_empty) {
    const RelativesMap map = {{"@I1@", {"@x@"}}};
    EXPECT_EQ(listed(lookup(map, "@i1@")), (List{"@x@"}));
    EXPECT_TRUE(lookup(map, "@I2@").empty());
    EXPECT_TRUE(lookup(map, "").empty());
}

}  // namespace
}  // namespace lignor
