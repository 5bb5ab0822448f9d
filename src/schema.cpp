// Extension declarations: reading and writing HEAD.SCHMA.TAG structures.
#include "schema.hpp"

#include <string>

#include "unicode.hpp"

namespace lignor::schema {
namespace {

// The text up to the first Unicode white space after any leading white
// space; empty when there is none.
std::string_view first_word(std::string_view text) {
    text = unicode::trim_start(text);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        if (unicode::is_white_space(unicode::next_code_point(text, pos)))
            return text.substr(0, start);
    }
    return text;
}

}  // namespace

bool is_declared(const Node& header, std::string_view tag) {
    for (const Node& schema : header.children()) {
        if (schema.tag() != "SCHMA") continue;
        for (const Node& declaration : schema.children()) {
            if (declaration.tag() == "TAG" && first_word(declaration.logical_value()) == tag) {
                return true;
            }
        }
    }
    return false;
}

bool declare(Node& header, std::string_view tag, std::string_view uri) {
    if (is_declared(header, tag)) return false;
    std::string payload(tag);
    payload.append(" ").append(uri);
    Node declaration = Node::with_value("TAG", payload);
    if (Node* schema = header.first_mut("SCHMA")) {
        schema->push(std::move(declaration));
        return true;
    }
    Node schema = Node::make("SCHMA");
    schema.push(std::move(declaration));
    header.push(std::move(schema));
    return true;
}

}  // namespace lignor::schema
