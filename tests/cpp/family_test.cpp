// Tests of the family graph's answers from either direction of a tie.
#include <gtest/gtest.h>

#include <algorithm>

#include "document.hpp"
#include "family.hpp"
#include "support.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;
using List = std::vector<string>;

using test::read;

List listed(const Relatives& answer) {
    return {answer.begin(), answer.end()};
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
    // Families in the order the document names them, each member once,
    // spelt as the family visited first spells it.
    EXPECT_EQ(listed(graph.parents_of("@I5@")), (List{"@I1@", "@I2@", "@I3@"}));
    EXPECT_EQ(listed(graph.partners_of("@I1@")), (List{"@I2@", "@I3@"}));
    EXPECT_EQ(listed(graph.children_of("@I1@")), (List{"@I5@"}));
    EXPECT_EQ(listed(graph.children_of("@I3@")), (List{"@i5@"}));
}

// The members of one family as read: HUSB, WIFE and CHIL lines, then FAMS
// and FAMC links of individuals, with repeats and case variants mixed in.
struct BigFamily {
    string text = "0 @F1@ FAM\n";
    List husbands, wives, children, spouses_by_link, children_by_link;

    explicit BigFamily(int size) {
        for (int i = 0; i < size; ++i) {
            husbands.push_back("@H" + std::to_string(i % (size / 2 + 1)) + "@");
            wives.push_back(i % 3 == 0 ? "@h" + std::to_string(i) + "@"
                                       : "@W" + std::to_string(i) + "@");
            children.push_back("@C" + std::to_string(i % (size / 3 + 1)) + "@");
        }
        for (const List* lines : {&husbands, &wives}) {
            const char* tag = lines == &husbands ? "HUSB" : "WIFE";
            for (const string& xref : *lines) text += string("1 ") + tag + " " + xref + "\n";
        }
        for (const string& xref : children) text += "1 CHIL " + xref + "\n";
        for (int i = 0; i < size; ++i) {
            spouses_by_link.push_back("@w" + std::to_string(size - 1 - i) + "@");
            children_by_link.push_back("@c" + std::to_string(size - 1 - i) + "@");
            text += "0 " + spouses_by_link.back() + " INDI\n1 FAMS @f1@\n";
            text += "0 " + children_by_link.back() + " INDI\n1 FAMC @F1@\n";
        }
    }

    // The oracle: each identifier once ignoring ASCII case, first spelling kept.
    static List unique(std::initializer_list<const List*> parts) {
        List out;
        for (const List* part : parts)
            for (const string& xref : *part)
                if (std::none_of(out.begin(), out.end(),
                                 [&](const string& seen) { return same_xref(seen, xref); }))
                    out.push_back(xref);
        return out;
    }
    List partners() const { return unique({&husbands, &wives, &spouses_by_link}); }
    List all_children() const { return unique({&children, &children_by_link}); }
};

TEST(family_graph_build, a_big_family_answers_in_order_without_repeats) {
    const BigFamily family(300);
    const FamilyGraph graph = FamilyGraph::make(read(family.text));
    const List partners = family.partners();
    const List children = family.all_children();
    // 900 partner links and 600 child links, with repeats among them.
    ASSERT_EQ(partners.size(), 500u);
    ASSERT_EQ(children.size(), 300u);
    for (const string& child : children) EXPECT_EQ(listed(graph.parents_of(child)), partners);
    for (const string& partner : partners) {
        EXPECT_EQ(listed(graph.children_of(partner)), children);
        List others = partners;
        std::erase(others, partner);
        EXPECT_EQ(listed(graph.partners_of(partner)), others);
    }
}

TEST(family_graph_build, families_are_keyed_upper_case_and_shared_across_spellings) {
    const FamilyGraph graph =
        FamilyGraph::make(read("0 @f1@ FAM\n1 HUSB @I1@\n0 @F1@ FAM\n1 WIFE @I2@\n1 HUSB @i1@\n"
                               "0 @I3@ INDI\n1 FAMC @f1@\n0 @I4@ INDI\n1 FAMS @F9@\n"));
    ASSERT_EQ(graph.families().size(), 2u);
    const FamilyMembers* shared = graph.family("@f1@");
    ASSERT_EQ(shared, &graph.families()[0]);
    EXPECT_EQ(shared->partners, (List{"@I1@", "@I2@"}));
    EXPECT_EQ(shared->children, (List{"@I3@"}));
    // A family only individuals mention exists too, visited after the records.
    ASSERT_EQ(graph.family("@F9@"), &graph.families()[1]);
    EXPECT_EQ(graph.families()[1].partners, (List{"@I4@"}));
    EXPECT_EQ(graph.family("@F2@"), nullptr);
}

TEST(family_graph_build, an_empty_document_gives_an_empty_graph) {
    const FamilyGraph graph = FamilyGraph::make(Document{});
    EXPECT_TRUE(graph.families().empty());
    EXPECT_TRUE(graph.parents_of("@I1@").empty());
}

TEST(family_graph_helpers, push_unique_ignores_ascii_case_only) {
    XrefList list;
    XrefKeys keys;
    for (const char* xref : {"@a1@", "@A1@", "@B1@", "@a1@", "@\xC3\xA9@", "@\xC3\x89@", "@b1@"})
        push_unique(list, keys, xref);
    EXPECT_EQ(list, (List{"@a1@", "@B1@", "@\xC3\xA9@", "@\xC3\x89@"}));
}

}  // namespace
}  // namespace lignor
