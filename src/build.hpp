// Building new records and substructures from descriptions.
//
// A caller describes what to add (a tag, an optional identifier and value,
// substructures in order) instead of writing GEDCOM text; descriptions come
// from Python as JSON and are read by `read_node_specs` (json.hpp).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lignor {

// One description of a record or structure to build. `xref` belongs on
// records only; `children` is empty when the description names none.
struct NodeSpec {
    std::optional<std::string> xref;
    std::string tag;
    std::optional<std::string> value;
    std::vector<NodeSpec> children;

    friend bool operator==(const NodeSpec&, const NodeSpec&) = default;
};

}  // namespace lignor
