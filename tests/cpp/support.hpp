// Helpers shared by the GoogleTest suites.
#pragma once

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

#include "document.hpp"

namespace lignor::test {

// The document `text` reads as under the default bounds; a refusal fails
// the calling test (and an empty document stands in).
inline Document read(std::string_view text) {
    auto document = Document::parse_with(text, ParseLimits{});
    EXPECT_TRUE(document) << document.error().display();
    if (!document) return Document{};
    return std::move(document).value();
}

}  // namespace lignor::test
