// Building nodes from descriptions and inserting them into a document.
#include "build.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

#include "document.hpp"
#include "queries.hpp"

namespace lignor {
namespace {

GedcomError refusal(ErrorKind kind, std::string message) {
    return GedcomError::whole(kind, std::move(message));
}

GedcomError too_deep() {
    return refusal(ErrorKind::Limit, "the structure is nested deeper than the limit");
}

// An identifier the reader takes back from a written line: the identifier
// rule, and none of the bytes that end the identifier's token (a space) or
// the line (CR, LF).
bool is_writable_xref(std::string_view xref) noexcept {
    return is_valid_xref(xref) && std::none_of(xref.begin(), xref.end(), [](char c) {
               return c == ' ' || c == '\r' || c == '\n';
           });
}

}  // namespace

// ---- building ----------------------------------------------------------------

Result<Node> NodeSpec::into_node(const ParseLimits& limits) && {
    std::uint64_t built = 0;
    return std::move(*this).build(0, limits.max_lines, limits.max_depth, built);
}

Result<Node> NodeSpec::into_substructure(const ParseLimits& limits) && {
    std::uint64_t built = 0;
    return std::move(*this).build(1, limits.max_lines, limits.max_depth, built);
}

// Recursion is bounded by `max_depth`: the depth check comes first.
Result<Node> NodeSpec::build(std::uint16_t level, std::uint64_t max_structures,
                             std::uint16_t max_depth, std::uint64_t& built) && {
    if (level > max_depth) return too_deep();
    if (++built > max_structures) {
        return refusal(ErrorKind::Limit, "the record has too many structures");
    }
    if (!is_valid_tag(tag)) {
        return refusal(ErrorKind::Syntax,
                       quoted(tag) + " is not a GEDCOM tag: ASCII letters, digits, or underscore");
    }
    if (xref && level != 0) {
        return refusal(ErrorKind::Syntax, *xref + " is on a " + tag +
                                              " below level zero, where only records carry "
                                              "identifiers");
    }
    if (xref && !is_writable_xref(*xref)) {
        return refusal(ErrorKind::Syntax,
                       quoted(*xref) + " is not a cross-reference identifier: the @I1@ shape");
    }
    // The CONT lines of a value stand one level down, where the reader's
    // depth limit holds as for any child.
    if (value && level >= max_depth && has_line_break(*value)) return too_deep();
    Node node = xref ? Node::record(*xref, tag) : Node::make(tag);
    // Before the children, so that the CONT lines lead.
    if (value && !value->empty()) node.set_logical_value(*value);
    if (children.empty()) return node;
    if (level == std::numeric_limits<std::uint16_t>::max()) return too_deep();
    node.children_mut().reserve(node.children().size() + children.size());
    for (NodeSpec& child : children) {
        Result<Node> made = std::move(child).build(static_cast<std::uint16_t>(level + 1),
                                                   max_structures, max_depth, built);
        if (!made) return std::move(made).take_error();
        node.push(std::move(made).value());
    }
    return node;
}

// ---- replacing a payload ---------------------------------------------------------

Status set_logical_value_at(Node& record, std::span<const std::size_t> path,
                            std::string_view text) {
    Node* node = node_at_mut(record, path);
    if (node == nullptr) return refusal(ErrorKind::Structure, "no structure at " + path_text(path));
    if (path.size() >= ParseLimits{}.max_depth && has_line_break(text)) return too_deep();
    node->set_logical_value(text);
    return ok();
}

// ---- appending -----------------------------------------------------------------

Status Document::append_records(std::vector<Node> added) {
    auto known = xref_index();
    for (const Node& record : added) {
        if (record.tag() == "HEAD" || record.tag() == "TRLR") {
            return refusal(ErrorKind::Structure, "a document has one " + std::string(record.tag()) +
                                                     ", and this one already does");
        }
        const auto xref = record.xref();
        if (xref && !known.try_emplace(xref_key(*xref), records.size()).second) {
            return refusal(ErrorKind::Structure,
                           "the document already has a record " + std::string(*xref));
        }
    }
    const auto trailer = std::find_if(records.rbegin(), records.rend(),
                                      [](const Node& record) { return record.tag() == "TRLR"; });
    const auto at = trailer == records.rend() ? records.end() : std::prev(trailer.base());
    if (size_hint_ != 0) {
        for (const Node& record : added) size_hint_ += record.rendered_size(0);
    }
    records.insert(at, std::make_move_iterator(added.begin()),
                   std::make_move_iterator(added.end()));
    return ok();
}

namespace {

// The record an address names: the first whose identifier matches ignoring
// ASCII case, or which has no identifier and exactly that tag.
Node* addressed_record(std::vector<Node>& records, std::string_view address) noexcept {
    for (Node& record : records) {
        const auto xref = record.xref();
        if (xref ? same_xref(*xref, address) : record.tag() == address) return &record;
    }
    return nullptr;
}

// How many levels `node`'s subtree reaches below the node itself.
std::size_t depth_below(const Node& node) {
    std::size_t deepest = 0;
    walk(node, [&](const Node&, std::span<const std::size_t> path) {
        deepest = std::max(deepest, path.size());
    });
    return deepest;
}

}  // namespace

Status Document::append_structures(std::string_view record, std::span<const std::size_t> path,
                                   std::vector<Node> added) {
    for (const Node& structure : added) {
        if (structure.xref()) {
            return refusal(ErrorKind::Structure, "a " + std::string(structure.tag()) +
                                                     " below level zero cannot carry an "
                                                     "identifier");
        }
    }
    Node* holder = addressed_record(records, record);
    if (holder == nullptr) return refusal(ErrorKind::Structure, "no record " + std::string(record));
    Node* target = node_at_mut(*holder, path);
    if (target == nullptr) {
        return refusal(ErrorKind::Structure,
                       "no structure at " + path_text(path) + " in " + std::string(record));
    }
    // The reader refuses lines past its level limit, so nothing may land
    // there: the new structures stand one level below the one addressed.
    const std::size_t landing_level = path.size() + 1;
    for (const Node& structure : added) {
        if (landing_level + depth_below(structure) > ParseLimits{}.max_depth) return too_deep();
    }
    const auto level = static_cast<std::uint16_t>(landing_level);
    NodeList& children = target->children_mut();
    children.reserve(children.size() + added.size());
    for (Node& structure : added) {
        if (size_hint_ != 0) size_hint_ += structure.rendered_size(level);
        children.push_back(std::move(structure));
    }
    return ok();
}

}  // namespace lignor
