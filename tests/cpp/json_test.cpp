// Tests of the JSON writer behind views and notes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build.hpp"
#include "json.hpp"

namespace lignor {
namespace {

NodeSpec spec(std::optional<std::string> xref, std::string tag, std::optional<std::string> value,
              std::vector<NodeSpec> children = {}) {
    return NodeSpec{std::move(xref), std::move(tag), std::move(value), std::move(children)};
}

std::vector<NodeSpec> read_ok(std::string_view json) {
    auto specs = read_node_specs(json);
    EXPECT_TRUE(specs) << json << ": " << specs.error().display();
    return specs ? std::move(specs).value() : std::vector<NodeSpec>{};
}

TEST(json_reader, reads_objects_and_arrays_into_descriptions) {
    const std::vector<NodeSpec> expected = {
        spec("@I1@", "INDI", std::nullopt,
             {spec(std::nullopt, "NAME", "Ann /Smith/"), spec(std::nullopt, "NOTE", "a\nb")}),
        spec(std::nullopt, "NOTE", std::nullopt),
    };
    EXPECT_EQ(
        read_ok(R"([{"xref":"@I1@","tag":"INDI","children":[{"tag":"NAME","value":"Ann /Smith/"},)"
                R"({"value":"a\nb","tag":"NOTE","xref":null}]},{"tag":"NOTE","value":null}])"),
        expected);
    EXPECT_EQ(
        read_ok(R"([["@I1@","INDI",null,[[null,"NAME","Ann /Smith/"],[null,"NOTE","a\nb",[]]]],)"
                R"([null,"NOTE"]])"),
        expected);
    EXPECT_EQ(read_ok(" [ ] "), std::vector<NodeSpec>{});
}

TEST(json_reader, decodes_escapes_and_surrogate_pairs_as_utf8) {
    const auto specs =
        read_ok(R"([{"tag":"NOTE","value":"M\u00fcller \ud83d\ude00 \"q\" \u0000!"}])");
    ASSERT_EQ(specs.size(), 1u);
    EXPECT_EQ(specs[0].value, std::string("M\xC3\xBCller \xF0\x9F\x98\x80 \"q\" \0!", 19));
}

TEST(json_reader, refuses_with_message_and_position) {
    const std::pair<std::string_view, std::string_view> table[] = {
        {R"([{"tag":"INDI","xref":"@I1@","sex":"M"}])",
         "unknown field \"sex\", expected one of `xref`, `tag`, `value`, `children` at line 1 "
         "column "
         "34"},
        {R"([{"tag":"A","s\u0001x":1}])",
         "unknown field \"s\\u{1}x\", expected one of `xref`, `tag`, `value`, `children` at "
         "line 1 column 22"},
        {R"([{"value":"x"}])", "missing field `tag` at line 1 column 14"},
        {"[{\"tag\":\"A\",\n \"tag\":\"B\"}]", "duplicate field \"tag\" at line 2 column 6"},
        {R"([{"tag":"A","children":[{"xref":"@X@"}]}])", "missing field `tag` at line 1 column 38"},
        {R"([{"tag":5}])", "invalid type: integer `5`, expected a string at line 1 column 9"},
        {R"([{"tag":null}])", "invalid type: null, expected a string at line 1 column 12"},
        {R"([{"tag":"A","value":true}])",
         "invalid type: boolean `true`, expected a string or null at line 1 column 24"},
        {R"([{"tag":"A","xref":1.5}])",
         "invalid type: floating point `1.5`, expected a string or null at line 1 column 22"},
        {R"([{"tag":"A","children":{}}])",
         "invalid type: map, expected a list of descriptions at line 1 column 24"},
        {R"([{"tag":"A","children":null}])",
         "invalid type: null, expected a list of descriptions at line 1 column 27"},
        {R"({"tag":"A"})", "invalid type: map, expected a list of descriptions at line 1 column 1"},
        {R"(["INDI"])",
         "invalid type: string \"INDI\", expected a description (an object or an array) at line 1 "
         "column 7"},
        {R"([["@I1@"]])",
         "a description written as an array needs at least its `xref` and `tag`, not 1 field(s) at "
         "line 1 column 9"},
        {R"([[null,"A",null,[],5]])",
         "a description written as an array has at most four fields: `xref`, `tag`, `value`, "
         "`children` "
         "at line 1 column 20"},
        {R"([{"tag":"A","value":"\udc00"}])",
         "a string holds a lone surrogate escape \\udc00, which is no character at line 1 column "
         "28"},
        {R"([{"tag":"A","value":"\uDC00"}])",
         "a string holds a lone surrogate escape \\udc00, which is no character at line 1 column "
         "28"},
        {R"([{"tag":"A","value":"\ud800x"}])",
         "a string holds a lone surrogate escape, which is no character at line 1 column 22"},
        {R"([{"\udfff":"A"}])",
         "a string holds a lone surrogate escape \\udfff, which is no character at line 1 column "
         "10"},
        {R"([{"tag":"A"})", "missing a comma or ']' after an array element at line 1 column 13"},
        {R"([{"tag":"A"}] [])",
         "the document root must not be followed by other values at line 1 column 15"},
        {"", "the document is empty at line 1 column 1"},
        {std::string_view("[]\0[", 4), "the JSON text holds a NUL byte at line 1 column 3"},
        {"[{\"tag\":\"\xC3\"}]", "invalid encoding in string at line 1 column 10"},
    };
    for (const auto& [json, message] : table) {
        const auto specs = read_node_specs(json);
        ASSERT_FALSE(specs) << json;
        EXPECT_EQ(specs.error().display(), message) << json;
        EXPECT_EQ(specs.error().line, std::nullopt);
    }
}

TEST(json_reader, bounds_the_nesting_of_descriptions_without_recursing) {
    const auto nested = [](std::size_t depth) {
        std::string json = "[";
        for (std::size_t i = 0; i < depth; ++i) json += R"({"tag":"A","children":[)";
        for (std::size_t i = 0; i < depth; ++i) json += "]}";
        return json + "]";
    };
    const auto deepest = read_node_specs(nested(max_description_depth));
    ASSERT_TRUE(deepest);
    const auto too_deep = read_node_specs(nested(max_description_depth + 1));
    ASSERT_FALSE(too_deep);
    EXPECT_EQ(too_deep.error().message.rfind(
                  "the structure is nested deeper than the limit at line 1 column ", 0),
              0u);
    // Plain arrays nested far deeper than any stack would allow are refused, not followed.
    const auto arrays = read_node_specs(std::string(1'000'000, '['));
    ASSERT_FALSE(arrays);
}

}  // namespace
// The plain escaping rule, one byte at a time: what the writer's word-wise
// scan must agree with wherever the special byte falls.
std::string escaped_reference(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"')
            out += "\\\"";
        else if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\b')
            out += "\\b";
        else if (c == '\f')
            out += "\\f";
        else if (c < 0x20) {
            static constexpr char hex[] = "0123456789ABCDEF";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else
            out += ch;
    }
    return out + "\"";
}

TEST(json_writer, escapes_every_special_byte_at_every_position) {
    const std::string specials = std::string("\"\\\n\r\t\b\f\x01\x1F", 9) + std::string(1, '\0');
    for (std::size_t length = 0; length <= 40; ++length) {
        for (std::size_t at = 0; at < std::max<std::size_t>(length, 1); ++at) {
            for (const char special : specials) {
                std::string text(length, 'a');
                for (std::size_t i = 0; i < length; i += 5)
                    text[i] = static_cast<char>(0xC3);  // UTF-8 lead bytes pass
                if (length > 0) text[at] = special;
                JsonWriter json;
                json.start_array(1).string(text).end_array();
                ASSERT_EQ(json.take(), "[" + escaped_reference(text) + "]") << length << " " << at;
            }
        }
    }
}

TEST(json_writer, keeps_declared_key_order_and_nulls) {
    JsonWriter json;
    json.start_object().key(Key::year).integer(-1).key(Key::age).optional_string(std::nullopt);
    json.key(Key::path)
        .start_array(3)
        .unsigned_integer(18446744073709551615ULL)
        .boolean(true)
        .null()
        .end_array();
    json.end_object();
    EXPECT_EQ(json.take(), R"({"year":-1,"age":null,"path":[18446744073709551615,true,null]})");
    // A writer starts afresh after take().
    json.start_array(1).string(std::string(300, 'x')).end_array();
    EXPECT_EQ(json.take(), "[\"" + std::string(300, 'x') + "\"]");
}

}  // namespace lignor
