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

namespace {

// The lines `nodes` write with each at `level`, in one walk; refused when
// one of them would stand deeper than `max_depth`.
Result<TextExtent> landing_extent(std::span<const Node> nodes, std::size_t level,
                                  std::size_t max_depth) {
    TextExtent extent;
    std::size_t deepest = 0;
    walk(nodes, [&](const Node& node, std::span<const std::size_t> path) {
        deepest = std::max(deepest, path.size());
        extent.add_line(line_length(node, level + path.size()));
    });
    if (!nodes.empty() && level + deepest > max_depth) return too_deep();
    return extent;
}

}  // namespace

Status Document::set_logical_value_at(Node& record, std::span<const std::size_t> path,
                                      std::string_view text) {
    Node* node = node_at_mut(record, path);
    if (node == nullptr) return refusal(ErrorKind::Structure, "no structure at " + path_text(path));
    if (path.size() >= limits_.max_depth && has_line_break(text)) return too_deep();
    TextChange change;
    change.removed = logical_value_lines(*node, path.size());
    change.added = logical_value_extent(*node, path.size(), text);
    change.touches_header = &record == header(*this);
    if (Status admitted = admit(change); !admitted) return admitted;
    node->set_logical_value(text);
    return ok();
}

// ---- appending -----------------------------------------------------------------

Status Document::append_records(std::vector<Node> added) {
    auto known = xref_index();
    TextChange change;
    change.records_added = added.size();
    for (const Node& record : added) {
        if (is_header_tag(record.tag()) || is_trailer_tag(record.tag())) {
            return refusal(ErrorKind::Structure, "a document has one " + std::string(record.tag()) +
                                                     ", and this one already does");
        }
        const auto xref = record.xref();
        if (xref && !known.try_emplace(xref_key(*xref), records.size()).second) {
            return refusal(ErrorKind::Structure,
                           "the document already has a record " + std::string(*xref));
        }
    }
    Result<TextExtent> extent = landing_extent(added, 0, limits_.max_depth);
    if (!extent) return std::move(extent).take_error();
    change.added = *extent;
    if (Status admitted = admit(change); !admitted) return admitted;
    const auto trailer = std::find_if(records.rbegin(), records.rend(), [](const Node& record) {
        return is_trailer_tag(record.tag());
    });
    const auto at = trailer == records.rend() ? records.end() : std::prev(trailer.base());
    records.insert(at, std::make_move_iterator(added.begin()),
                   std::make_move_iterator(added.end()));
    return ok();
}

Status Document::append_structures(std::string_view record, std::span<const std::size_t> path,
                                   std::vector<Node> added) {
    for (const Node& structure : added) {
        if (structure.xref()) {
            return refusal(ErrorKind::Structure, "a " + std::string(structure.tag()) +
                                                     " below level zero cannot carry an "
                                                     "identifier");
        }
    }
    Node* holder = addressed_record_mut(record);
    if (holder == nullptr) return refusal(ErrorKind::Structure, "no record " + std::string(record));
    Node* target = node_at_mut(*holder, path);
    if (target == nullptr) {
        return refusal(ErrorKind::Structure,
                       "no structure at " + path_text(path) + " in " + std::string(record));
    }
    // The reader refuses lines past its level limit, so nothing may land
    // there: the new structures stand one level below the one addressed.
    const std::size_t landing_level = path.size() + 1;
    Result<TextExtent> extent = landing_extent(added, landing_level, limits_.max_depth);
    if (!extent) return std::move(extent).take_error();
    TextChange change;
    change.added = *extent;
    change.touches_header = holder == header(*this);
    if (Status admitted = admit(change); !admitted) return admitted;
    NodeList& children = target->children_mut();
    children.reserve(children.size() + added.size());
    for (Node& structure : added) children.push_back(std::move(structure));
    return ok();
}

}  // namespace lignor
