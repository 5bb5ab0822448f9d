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

// One conversion of a table: the input text, the output text and the notes'
// keys it must give, and the extensions the caller owns (version 7 only).
struct ConversionCase {
    const char* name;
    std::string input;
    std::string output;
    std::vector<std::string> notes;
    std::vector<OwnedExtension> owned = {};
};

// Converts the case's input with `convert` and checks the text, the notes,
// the version written and that the caller's document is untouched.
template <typename Convert>
void check_conversion(const ConversionCase& c, Convert convert, std::string_view version) {
    const Document original = read(c.input);
    const Conversion conversion = convert(original, c);
    EXPECT_EQ(conversion.document.to_text(), c.output);
    EXPECT_EQ(note_keys(conversion), c.notes);
    EXPECT_EQ(conversion.to_version, version);
    EXPECT_EQ(original.to_text(), c.input);
}

}  // namespace lignor::test
