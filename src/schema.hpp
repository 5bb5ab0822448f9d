// Extension declarations in a GEDCOM 7 header: `HEAD.SCHMA.TAG` structures
// whose payload is an extension tag, a space and the URI that documents it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "node.hpp"

namespace lignor::schema {

// Whether a TAG directly under any SCHMA directly under `header` declares
// `tag`: its logical value's first word (words split at Unicode white space)
// equals `tag` byte for byte.
bool is_declared(const Node& header, std::string_view tag);

// One declaration: the TAG's first word and the rest of its logical value,
// white space around it dropped (empty when the TAG names no URI).
struct Declaration {
    std::string tag;
    std::string uri;
};

// Every declaration of `header`, as is_declared reads them, in order.
std::vector<Declaration> declarations(const Node& header);

// Declares `tag` with `uri` unless it is declared already: a new TAG at the
// end of the first SCHMA, or in a new SCHMA appended to the header. True
// when a declaration was added. Existing lines keep their verbatim text.
bool declare(Node& header, std::string_view tag, std::string_view uri);

}  // namespace lignor::schema
