// Tests of personal names: parts and display form.
#include "names.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "document.hpp"

namespace lignor {
namespace {

using Text = std::optional<std::string>;
const Text none = std::nullopt;

struct PayloadRow {
    std::string_view payload;
    Text given;
    Text surname;
    Text suffix;
    std::string display;
};

TEST(names_payload, splits_at_the_first_two_slashes) {
    const PayloadRow rows[] = {
        {"John /Smith/", "John", "Smith", none, "John Smith"},
        {"John /Smith/ Jr.", "John", "Smith", "Jr.", "John Smith Jr."},
        {"/Smith/", none, "Smith", none, "Smith"},
        {"John Smith", "John Smith", none, none, "John Smith"},
        {"John /Smith", "John", "Smith", none, "John Smith"},
        {"Jack //", "Jack", none, none, "Jack"},
        {"/ /", none, none, none, ""},
        {"", none, none, none, ""},
        {"  \t ", none, none, none, ""},
        {"//", none, none, none, ""},
        {"a/b/c/d/", "a", "b", "c/d/", "a b c/d/"},
        {"//Jr.", none, none, "Jr.", "Jr."},
        {"  Mary  Ann  /  de la Cruz  /  III ", "Mary  Ann", "de la Cruz", "III",
         "Mary  Ann de la Cruz III"},
        // Unicode white space is trimmed too: U+00A0 and U+2003 around the parts.
        {"\u00a0José\u2003/\u00a0Núñez/", "José", "Núñez", none, "José Núñez"},
    };
    for (const PayloadRow& row : rows) {
        const PersonalName name = PersonalName::from_payload(row.payload);
        SCOPED_TRACE(std::string(row.payload));
        EXPECT_EQ(name.original, row.payload);
        EXPECT_EQ(name.given, row.given);
        EXPECT_EQ(name.surname, row.surname);
        EXPECT_EQ(name.suffix, row.suffix);
        EXPECT_EQ(name.surname_prefix, none);
        EXPECT_EQ(name.prefix, none);
        EXPECT_EQ(name.nickname, none);
        EXPECT_EQ(name.kind, none);
        EXPECT_EQ(name.display(), row.display);
    }
}

Node name_node(std::string_view payload,
               std::vector<std::pair<std::string_view, std::string_view>> parts) {
    Node node = Node::with_value("NAME", payload);
    for (const auto& [tag, value] : parts) node.push(Node::with_value(tag, value));
    return node;
}

TEST(names_node, substructures_override_the_payload) {
    const PersonalName name =
        PersonalName::from_node(name_node("John /Smith/ Sr.", {{"NPFX", " Dr. "},
                                                               {"SURN", "Smyth"},
                                                               {"NSFX", "Jr."},
                                                               {"GIVN", "Johann"},
                                                               {"NICK", "Jack"},
                                                               {"TYPE", "birth"}}));
    EXPECT_EQ(name.original, "John /Smith/ Sr.");
    EXPECT_EQ(name.prefix, "Dr.");
    EXPECT_EQ(name.given, "Johann");
    EXPECT_EQ(name.surname, "Smyth");
    EXPECT_EQ(name.suffix, "Jr.");
    EXPECT_EQ(name.nickname, "Jack");
    EXPECT_EQ(name.kind, "birth");
    // Nickname and name type never show.
    EXPECT_EQ(name.display(), "Dr. Johann Smyth Jr.");
}

TEST(names_node, displays_parts_in_fixed_order) {
    const std::pair<Node, std::string> rows[] = {
        {name_node("John /Smith/", {{"NPFX", "Dr."}}), "Dr. John Smith"},
        // The payload's surname stays as written; the prefix goes before it.
        {name_node("Jan /van Berg/", {{"SPFX", "van"}}), "Jan van van Berg"},
        // A blank GIVN says nothing; only the first GIVN counts, even if blank.
        {name_node("John /Smith/", {{"GIVN", "  "}, {"GIVN", "Jim"}}), "John Smith"},
        {name_node("John /Smith/", {{"GIVN", "Jim"}, {"GIVN", "Joe"}}), "Jim Smith"},
        {name_node("John /Smith/", {{"NICK", "Jack"}, {"TYPE", "aka"}}), "John Smith"},
        // Parts stated only by substructures, with an empty payload.
        {name_node("", {{"SURN", "Smith"}, {"GIVN", "Ann"}}), "Ann Smith"},
        {name_node("/ /", {{"NICK", "Jack"}}), ""},
        // Other tags (and lower case) are not parts.
        {name_node("John /Smith/", {{"surn", "X"}, {"NOTE", "Y"}}), "John Smith"},
    };
    for (const auto& [node, display] : rows) {
        EXPECT_EQ(PersonalName::from_node(node).display(), display) << node.logical_value();
    }
}

TEST(names_node, reads_continued_payloads_and_values) {
    Node node = Node::with_value("NAME", "John /Smi");
    node.push(Node::with_value("CONC", "th/"));
    Node given = Node::with_value("GIVN", "Johann");
    given.push(Node::with_value("CONT", "Georg"));
    node.push(std::move(given));
    const PersonalName name = PersonalName::from_node(node);
    EXPECT_EQ(name.original, "John /Smith/");
    EXPECT_EQ(name.surname, "Smith");
    EXPECT_EQ(name.given, "Johann\nGeorg");
}

TEST(names_node, keeps_the_payload_untrimmed_as_original) {
    const PersonalName name = PersonalName::from_node(name_node(" Ann /Lee/ ", {}));
    EXPECT_EQ(name, PersonalName::from_payload(" Ann /Lee/ "));
    EXPECT_EQ(name.original, " Ann /Lee/ ");
}

}  // namespace
}  // namespace lignor
