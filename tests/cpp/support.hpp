// Helpers shared by the GoogleTest suites.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert_pass.hpp"
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

// Each note of a conversion as "record|tag|kind", "-" for no record.
inline std::vector<std::string> note_keys(const Conversion& conversion) {
    std::vector<std::string> keys;
    for (const ConversionNote& note : conversion.notes) {
        keys.push_back(note.record.value_or("-") + "|" + note.tag + "|" +
                       std::string(to_string(note.kind)));
    }
    return keys;
}

}  // namespace lignor::test
