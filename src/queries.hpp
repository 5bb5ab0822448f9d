// Questions every caller asks of a document and its records: which record
// carries an identifier, where a structure path leads, which pointers lead
// nowhere; and the one depth-first walk over a record's tree.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "node.hpp"

namespace lignor {

class Document;

// The address of one structure inside a record: 0-based indices into the
// substructures (CONT and CONC included) from the record down; empty for the
// record itself.
using StructurePath = std::vector<std::size_t>;

// The structure a path leads to, or nothing when an index is out of range.
const Node* node_at(const Node& record, std::span<const std::size_t> path) noexcept;
Node* node_at_mut(Node& record, std::span<const std::size_t> path) noexcept;

// A payload of more than two bytes, '@' first and last, no other '@', and not
// the null pointer "@VOID@".
bool is_pointer_payload(std::string_view payload) noexcept;

// Identifiers match ignoring ASCII letter case; every other byte exactly.
bool same_xref(std::string_view a, std::string_view b) noexcept;
// The identifier with ASCII a-z upper-cased: the key for identifier maps.
std::string xref_key(std::string_view xref);

// A pointer payload that resolves to no record.
struct UnresolvedPointer {
    std::string record;  // the holder's identifier as written, or its tag
    StructurePath path;
    std::string tag;
    std::string pointer;

    std::string to_json() const;
    friend bool operator==(const UnresolvedPointer&, const UnresolvedPointer&) = default;
};

}  // namespace lignor
