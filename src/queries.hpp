// Questions every caller asks of a document and its records: which record
// carries an identifier, where a structure path leads, which pointers lead
// nowhere; and the one depth-first walk over a record's tree.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "node.hpp"

namespace lignor {

class ValueWriter;

class Document;

// Whether a record's tag makes it a header or a trailer: HEAD or TRLR, its
// letters in any case, as the reader takes them.
bool is_header_tag(std::string_view tag) noexcept;
bool is_trailer_tag(std::string_view tag) noexcept;

// The header: the first record tagged HEAD, its letters in any case. The
// decoder's declaration scan takes the same record for the header, so the
// CHAR line that to_bytes rewrites is the one the next read obeys.
const Node* header(const Document& document) noexcept;
Node* header_mut(Document& document) noexcept;

// The address of one structure inside a record: 0-based indices into the
// substructures (CONT and CONC included) from the record down; empty for the
// record itself.
using StructurePath = std::vector<std::size_t>;

// The structure a path leads to, or nothing when an index is out of range.
const Node* node_at(const Node& record, std::span<const std::size_t> path) noexcept;
Node* node_at_mut(Node& record, std::span<const std::size_t> path);
// A path as messages show it: "[0, 2]", "[]" for the record itself.
std::string path_text(std::span<const std::size_t> path);

namespace walk_detail {

template <class NodeT, class Visit>
void walk_trees(std::span<NodeT> roots, Visit& visit) {
    // One open-node stack and one path for every tree: nothing is allocated
    // per node, and the path handed to `visit` is the buffer itself.
    struct Frame {
        NodeT* node;
        std::size_t next_child;
    };
    // Room for the depths real files reach, so that a walk over one record
    // allocates once per buffer rather than at each new depth.
    constexpr std::size_t usual_depth = 16;
    std::vector<Frame> open;
    open.reserve(usual_depth);
    StructurePath path;
    path.reserve(usual_depth);
    // A node's substructures lie elsewhere in memory: asking for them before
    // the node is visited lets the fetch overlap the visit, where a walk over
    // a large document otherwise waits on memory at every node.
    const auto prefetch_children = [](const Node& node) {
        __builtin_prefetch(node.children().data());
    };
    for (NodeT& root : roots) {
        prefetch_children(root);
        visit(root, std::span<const std::size_t>(path));
        open.push_back({&root, 0});
        while (!open.empty()) {
            Frame& top = open.back();
            if (top.next_child == top.node->children().size()) {
                open.pop_back();
                if (!path.empty()) path.pop_back();
                continue;
            }
            const std::size_t index = top.next_child++;
            NodeT* child;
            if constexpr (std::is_const_v<NodeT>) {
                child = &top.node->children()[index];
            } else {
                child = &top.node->children_mut()[index];
            }
            path.push_back(index);
            prefetch_children(*child);
            visit(*child, std::span<const std::size_t>(path));
            open.push_back({child, 0});
        }
    }
}

}  // namespace walk_detail

// Visits every node of each tree in `roots`, in document order: a node
// before its substructures, each substructure's subtree before the next
// sibling. `visit(node, path)` gets the node and its structure path from its
// root (empty for the root itself), a view of a buffer that changes as the
// walk goes on: copy it to keep it. Uses no recursion.
template <class Visit>
void walk(std::span<const Node> roots, Visit&& visit) {
    walk_detail::walk_trees(roots, visit);
}

template <class Visit>
void walk(const Node& root, Visit&& visit) {
    walk_detail::walk_trees(std::span<const Node>(&root, 1), visit);
}

// The same walk over nodes that `visit` may change. It may edit the node it
// is given, its substructures included (the walk then goes into the new
// ones), but not the substructure lists of the nodes above it.
template <class Visit>
void walk_mut(std::span<Node> roots, Visit&& visit) {
    walk_detail::walk_trees(roots, visit);
}

template <class Visit>
void walk_mut(Node& root, Visit&& visit) {
    walk_detail::walk_trees(std::span<Node>(&root, 1), visit);
}

// The lines `root` and its subtree write with `root` at `level`.
TextExtent text_extent(const Node& root, std::size_t level);
// The lines that carry `node`'s logical value at `level`, which
// set_logical_value replaces: its own line and each CONT or CONC
// substructure with whatever stands beneath it.
TextExtent logical_value_lines(const Node& node, std::size_t level);

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

    void write_value(ValueWriter& out) const;
    friend bool operator==(const UnresolvedPointer&, const UnresolvedPointer&) = default;
};

}  // namespace lignor
