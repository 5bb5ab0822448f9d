// Building new records and substructures from descriptions.
//
// A caller describes what to add (a tag, an optional identifier and value,
// substructures in order) instead of writing GEDCOM text; descriptions come
// from Python as JSON and are read by `read_node_specs` (json.hpp). Building
// applies the rules the reader applies to text, so that whatever is added is
// written as lines the reader takes back. `Document::append_records` and
// `Document::append_structures` (document.hpp) insert the built nodes, all
// or none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "limits.hpp"
#include "node.hpp"

namespace lignor {

// One description of a record or structure to build. `xref` belongs on
// records only; `children` is empty when the description names none.
struct NodeSpec {
    std::optional<std::string> xref;
    std::string tag;
    std::optional<std::string> value;
    std::vector<NodeSpec> children;

    // A record: the description's top stands at level 0. Bounds: the reader's
    // depth limit and, for the description with everything beneath it, its
    // line limit as a count of structures.
    Result<Node> into_node(const ParseLimits& limits) &&;
    // A substructure: the description's top counts as level 1.
    Result<Node> into_substructure(const ParseLimits& limits) &&;
    // The builder behind both: this description at `level`, its children one
    // level down. `built` counts the structures of the top-level call so far.
    // The first refusal, met parent before children, ends the build.
    Result<Node> build(std::uint16_t level, std::uint64_t max_structures, std::uint16_t max_depth,
                       std::uint64_t& built) &&;

    friend bool operator==(const NodeSpec&, const NodeSpec&) = default;
};

}  // namespace lignor
