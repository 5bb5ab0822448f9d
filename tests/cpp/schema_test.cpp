// Tests of extension declarations.
#include <gtest/gtest.h>

#include "document.hpp"
#include "schema.hpp"
#include "support.hpp"

namespace lignor {
namespace {

using std::string;
using std::string_view;

using test::read;

struct DeclaredCase {
    string header;
    bool declared;
};

TEST(schema, a_declaration_is_the_first_word_of_a_tag_under_a_schma_of_the_header) {
    const std::vector<DeclaredCase> cases = {
        {"1 SCHMA\n2 TAG _FOO https://example.org/foo\n", true},
        {"1 SCHMA\n2 TAG _FOO\n", true},
        {"1 SCHMA\n2 TAG   _FOO\tx\n", true},
        {"1 SCHMA\n2 TAG _FOO\xC2\xA0x\n", true},  // no-break space separates words too
        {"1 SCHMA\n2 TAG _FOO\n3 CONT https://example.org/foo\n", true},
        {"1 SCHMA\n2 TAG _BAR x\n1 SCHMA\n2 TAG _FOO x\n", true},
        {"1 SCHMA\n2 TAG _foo x\n", false},
        {"1 SCHMA\n2 TAG _FOOD x\n", false},
        {"1 SCHMA\n2 TAG\n", false},
        {"1 TAG _FOO x\n", false},
        {"1 SCHMA\n2 _TAG _FOO x\n", false},
        {"1 SOUR x\n2 SCHMA\n3 TAG _FOO x\n", false},
    };
    for (const DeclaredCase& c : cases) {
        const Document document = read("0 HEAD\n" + c.header);
        EXPECT_EQ(schema::is_declared(document.records[0], "_FOO"), c.declared) << c.header;
    }
}

TEST(schema, declarations_go_to_the_first_schma_once_each) {
    Document bare = read("0 HEAD\n1 GEDC\n2 VERS 7.0\n");
    EXPECT_TRUE(schema::declare(bare.records[0], "_FOO", "https://example.org/foo"));
    EXPECT_TRUE(schema::declare(bare.records[0], "_BAR", "https://example.org/bar"));
    EXPECT_FALSE(schema::declare(bare.records[0], "_FOO", "https://example.org/other"));
    EXPECT_EQ(bare.to_text(),
              "0 HEAD\n1 GEDC\n2 VERS 7.0\n1 SCHMA\n2 TAG _FOO https://example.org/foo\n"
              "2 TAG _BAR https://example.org/bar\n");

    // The existing lines keep their bytes.
    Document two = read("0 HEAD\n01 SCHMA\n2 TAG _A x\n1 SCHMA\n");
    EXPECT_TRUE(schema::declare(two.records[0], "_FOO", "u"));
    EXPECT_EQ(two.to_text(), "0 HEAD\n01 SCHMA\n2 TAG _A x\n2 TAG _FOO u\n1 SCHMA\n");
}

}  // namespace
}  // namespace lignor
