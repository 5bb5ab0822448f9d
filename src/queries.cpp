// What the questions about a document share: identifiers compared and keyed
// in any letter case, pointer-shaped payloads, structures by path, the
// header and trailer in any letter case, and the lines a subtree writes.
#include "queries.hpp"

#include <utility>

#include "ascii.hpp"
#include "document.hpp"
#include "value_writer.hpp"

namespace lignor {

bool same_xref(std::string_view a, std::string_view b) noexcept {
    return ascii::iequals(a, b);
}

std::string xref_key(std::string_view xref) {
    return ascii::upper_copy(xref);
}

bool is_pointer_payload(std::string_view payload) noexcept {
    return is_valid_xref(payload) && payload != "@VOID@";
}

TextExtent text_extent(const Node& root, std::size_t level) {
    TextExtent extent;
    walk(root, [&](const Node& node, std::span<const std::size_t> path) {
        extent.add_line(line_length(node, level + path.size()));
    });
    return extent;
}

TextExtent logical_value_lines(const Node& node, std::size_t level) {
    TextExtent extent;
    extent.add_line(line_length(node, level));
    for (const Node& child : node.children())
        if (is_continuation_tag(child.tag())) extent += text_extent(child, level + 1);
    return extent;
}

const Node* node_at(const Node& record, std::span<const std::size_t> path) noexcept {
    const Node* node = &record;
    for (std::size_t index : path) {
        if (index >= node->children().size()) return nullptr;
        node = &node->children()[index];
    }
    return node;
}

Node* node_at_mut(Node& record, std::span<const std::size_t> path) {
    if (!node_at(record, path)) return nullptr;
    Node* node = &record;
    for (std::size_t index : path) node = &node->children_mut()[index];  // each list made its own
    return node;
}

std::string path_text(std::span<const std::size_t> path) {
    std::string text = "[";
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(path[i]);
    }
    return text + "]";
}

void UnresolvedPointer::write_value(ValueWriter& out) const {
    out.start_object().key(Key::record).string(record).key(Key::path);
    write_array(out, path);
    out.key(Key::tag).string(tag).key(Key::pointer).string(pointer).end_object();
}

bool is_header_tag(std::string_view tag) noexcept {
    return ascii::iequals(tag, "HEAD");
}

bool is_trailer_tag(std::string_view tag) noexcept {
    return ascii::iequals(tag, "TRLR");
}

const Node* header(const Document& document) noexcept {
    for (const Node& record : document.records)
        if (is_header_tag(record.tag())) return &record;
    return nullptr;
}

Node* header_mut(Document& document) noexcept {
    return const_cast<Node*>(header(std::as_const(document)));
}

}  // namespace lignor
