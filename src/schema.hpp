// Extension declarations in a GEDCOM 7 header: `HEAD.SCHMA.TAG` structures
// whose payload is an extension tag, a space and the URI that documents it.
#pragma once

#include <string_view>

#include "node.hpp"

namespace lignor::schema {

// Whether a TAG directly under any SCHMA directly under `header` declares
// `tag`: its logical value's first word (words split at Unicode white space)
// equals `tag` byte for byte.
bool is_declared(const Node& header, std::string_view tag);

// Declares `tag` with `uri` unless it is declared already: a new TAG at the
// end of the first SCHMA, or in a new SCHMA appended to the header. True
// when a declaration was added. Existing lines keep their verbatim text.
bool declare(Node& header, std::string_view tag, std::string_view uri);

}  // namespace lignor::schema
