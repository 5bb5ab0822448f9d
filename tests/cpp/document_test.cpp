#include "document.hpp"

#include <gtest/gtest.h>

namespace lignor {
namespace {

TEST(build, compiles) { EXPECT_TRUE(is_valid_tag("HEAD")); }

}  // namespace
}  // namespace lignor
