// Tests of the error model's display texts.
#include <gtest/gtest.h>

#include <string>

#include "error.hpp"

namespace lignor {
namespace {

// Messages quote user text: nothing in it may break the message's line or
// hide inside it, so every control character (C0, DEL, C1) is escaped, while
// other text, non-ASCII letters included, stays readable.
TEST(quoted, escapes_quotes_backslashes_and_every_control_character) {
    EXPECT_EQ(lignor::quoted("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(lignor::quoted(std::string("\n\r\t\0\x01\x1F\x7F", 7)),
              R"("\n\r\t\0\u{1}\u{1f}\u{7f}")");
    EXPECT_EQ(lignor::quoted("x\xC2\x85y\xC2\x9F"), R"("x\u{85}y\u{9f}")");  // NEL and APC
    EXPECT_EQ(lignor::quoted("M\xC3\xBCller \xC2\xA0\xE2\x82\xAC"),
              "\"M\xC3\xBCller \xC2\xA0\xE2\x82\xAC\"");
}

}  // namespace
}  // namespace lignor
