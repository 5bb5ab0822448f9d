// Tests of the shared questions: identifiers, pointers, paths, header and
// trailer.
#include <gtest/gtest.h>

#include "document.hpp"
#include "json.hpp"
#include "support.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;

using test::read;

TEST(queries, record_lookup_ignores_ascii_case_and_keeps_the_first) {
    const Document document = read("0 @H1@ HEAD\n0 @I1@ INDI\n0 @i1@ INDI\n0 NOTE x\n0 TRLR\n");
    EXPECT_EQ(document.record("@I1@"), &document.records[1]);
    EXPECT_EQ(document.record("@i1@"), &document.records[1]);
    EXPECT_EQ(document.record("@H1@"), &document.records[0]);
    EXPECT_EQ(document.record("NOTE"), nullptr);
    EXPECT_EQ(document.record("@I2@"), nullptr);
    const auto index = document.xref_index();
    EXPECT_EQ(index.size(), 2u);
    EXPECT_EQ(index.at("@I1@"), 1u);
    EXPECT_EQ(index.at("@H1@"), 0u);
}

TEST(queries, long_identifiers_compare_in_chunks_with_case_folded) {
    const string upper = "@I152733931767ABCDEFGHIJKLMNOPQRSTUVWXYZ@";
    string lower = upper;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(same_xref(upper, lower));
    for (size_t i = 1; i + 1 < upper.size(); ++i) {
        string other = lower;
        other[i] = other[i] == 'z' ? 'y' : static_cast<char>(other[i] + 1);
        EXPECT_FALSE(same_xref(upper, other)) << i;
    }
    // Only ASCII letters fold: '@' (0x40) and '`' (0x60) differ by the case bit but are not
    // letters.
    EXPECT_FALSE(same_xref("@AAAAAAAAAAAAAAAA[@", "@aaaaaaaaaaaaaaaa{@"));
    EXPECT_FALSE(same_xref("@AAAAAAAAAAAAAAA\xC3\x89@", "@aaaaaaaaaaaaaaa\xC3\xA9@"));
    EXPECT_FALSE(same_xref("@I1@", "@I1@@"));
}

TEST(queries, unresolved_pointers_in_document_order) {
    const Document document = read(
        "0 HEAD\n1 SUBM @U9@\n0 @I1@ INDI\n1 FAMS @F9@\n1 FAMC @VOID@\n1 NOTE @\n1 NOTE @@\n"
        "1 NOTE @A@B@\n1 BIRT\n2 SOUR @s1@\n2 NOTE x\n3 CONT @N7@\n0 @S1@ SOUR\n0 NOTE @I1@\n"
        "0 @F1@ FAM\n1 CHIL @I2@\n0 TRLR\n");
    const std::vector<UnresolvedPointer> expected = {
        {"HEAD", {0}, "SUBM", "@U9@"},
        {"@I1@", {0}, "FAMS", "@F9@"},
        {"@I1@", {5, 1, 0}, "CONT", "@N7@"},
        {"@F1@", {0}, "CHIL", "@I2@"},
    };
    EXPECT_EQ(document.unresolved_pointers(), expected);
    EXPECT_EQ(to_json(expected[2]),
              R"({"record":"@I1@","path":[5,1,0],"tag":"CONT","pointer":"@N7@"})");
}

TEST(queries, walk_mut_gives_paths_in_document_order_and_enters_added_children) {
    Document document = read("0 A\n1 B\n2 C\n1 D\n0 E\n");
    walk_mut(document.records, [](Node& node, std::span<const std::size_t> path) {
        string text;
        for (std::size_t index : path) text += std::to_string(index);
        node.set_value(text);
        if (node.tag() == "D") node.push(Node::make("F"));
    });
    EXPECT_EQ(document.to_text(), "0 A \n1 B 0\n2 C 00\n1 D 1\n2 F 10\n0 E \n");
}

TEST(queries, pointers_resolve_only_to_records) {
    const Document document =
        read("0 @I1@ INDI\n1 @X1@ NOTE\n1 ASSO @X1@\n1 FAMS @f9@\n0 @F9@ FAM\n");
    ASSERT_EQ(document.unresolved_pointers().size(), 1u);
    EXPECT_EQ(document.unresolved_pointers()[0].pointer, "@X1@");
}

TEST(queries, content_records_and_version) {
    EXPECT_EQ(read("0 HEAD\n0 @I1@ INDI\n0 @F1@ FAM\n0 NOTE\n0 head\n0 Trlr\n").content_records(),
              3u);
    EXPECT_EQ(Document::new_v7().content_records(), 0u);
    EXPECT_EQ(Document::new_v551("x").content_records(), 0u);
    EXPECT_EQ(Document::new_v7().version(), "7.0");
    EXPECT_EQ(Document::new_v551("x").version(), "5.5.1");
    EXPECT_EQ(read("0 HEAD\n1 GEDC\n2 VERS 5.5\n3 CONC 1\n").version(), "5.51");
    EXPECT_EQ(read("0 HEAD\n1 GEDC\n1 GEDC\n2 VERS 7.0\n").version(), std::nullopt);
    EXPECT_EQ(read("0 @I1@ INDI\n0 head\n1 GEDC\n2 VERS 7.0\n").version(), "7.0");
    EXPECT_EQ(read("0 HEAD\n1 GEDC\n2 VERS  7.0 \n").version(), " 7.0 ");
}

TEST(queries, version_seven_or_later) {
    const std::pair<string_view, bool> table[] = {
        {"7.0", true},
        {"7", true},
        {" 7.0.1", true},
        {"10.2", true},
        {"+7.0", true},
        {"007.1", true},
        {"5.5.1", false},
        {"5.5", false},
        {"", false},
        {"7a.0", false},
        {"v7", false},
        {"4294967296.0", false},
        {"4294967295", true},
        {"\xE2\x80\x83"
         "8 ",
         true},
    };
    for (const auto& [vers, expected] : table) {
        const string text = "0 HEAD\n1 GEDC\n2 VERS " + string(vers) + "\n";
        EXPECT_EQ(read(text).is_version_7_or_later(), expected) << vers;
    }
    EXPECT_FALSE(read("0 @I1@ INDI\n").is_version_7_or_later());
}

TEST(queries, empty_documents) {
    EXPECT_EQ(Document::new_v7().to_text(), "0 HEAD\n1 GEDC\n2 VERS 7.0\n0 TRLR\n");
    EXPECT_EQ(Document::new_v551("lignor").to_text(),
              "0 HEAD\n1 SOUR lignor\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n0 "
              "TRLR\n");
    EXPECT_EQ(Document::new_v551("").to_text().substr(0, 15), "0 HEAD\n1 SOUR \n");
    EXPECT_EQ(Document::new_v551("a\nb").to_text().substr(0, 24), "0 HEAD\n1 SOUR a\n2 CONT b");
}

TEST(queries, structure_paths_address_nodes) {
    Document document = read("0 @I1@ INDI\n1 NAME a\n2 CONC b\n2 GIVN a\n1 SEX M\n");
    const Node& record = document.records[0];
    EXPECT_EQ(node_at(record, {}), &record);
    const std::size_t givn[] = {0, 1};
    EXPECT_EQ(node_at(record, givn)->tag(), "GIVN");
    const std::size_t outside[] = {2};
    EXPECT_EQ(node_at(record, outside), nullptr);
    node_at_mut(document.records[0], givn)->set_value("z");
    EXPECT_EQ(document.records[0].children()[0].children()[1].value(), "z");
}

}  // namespace
}  // namespace lignor
