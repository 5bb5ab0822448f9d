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

// Calls `visit` with the logical value of every HEAD.SCHMA.TAG, in order,
// until it returns true; whether one did.
template <typename Visit>
bool any_declaration(const Node& header, Visit&& visit) {
    for (const Node& schema : header.children()) {
        if (schema.tag() != "SCHMA") continue;
        for (const Node& declaration : schema.children()) {
            if (declaration.tag() == "TAG" && visit(declaration.logical_value())) return true;
        }
    }
    return false;
}

}  // namespace

bool is_declared(const Node& header, std::string_view tag) {
    return any_declaration(header,
                           [&](const std::string& text) { return first_word(text) == tag; });
}

std::vector<Declaration> declarations(const Node& header) {
    std::vector<Declaration> out;
    any_declaration(header, [&](const std::string& text) {
        const std::string_view word = first_word(text);
        const std::string_view start = unicode::trim_start(text);
        out.push_back({std::string(word), std::string(unicode::trim(start.substr(word.size())))});
        return false;
    });
    return out;
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
