// Questions every caller asks of a document: which record carries an
// identifier, which pointers lead nowhere, which version the header declares.
#include "queries.hpp"

#include <unordered_set>
#include <utility>

#include "ascii.hpp"
#include "document.hpp"
#include "unicode.hpp"
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

Node* node_at_mut(Node& record, std::span<const std::size_t> path) noexcept {
    return const_cast<Node*>(node_at(record, path));
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

Document Document::new_v7() {
    Document document;
    Node header = Node::make("HEAD");
    Node gedc = Node::make("GEDC");
    gedc.push(Node::with_value("VERS", "7.0"));
    header.push(std::move(gedc));
    document.records.push_back(std::move(header));
    document.records.push_back(Node::make("TRLR"));
    return document;
}

Document Document::new_v551(std::string_view source_system) {
    Document document;
    Node header = Node::make("HEAD");
    header.push(Node::with_value("SOUR", source_system));
    Node gedc = Node::make("GEDC");
    gedc.push(Node::with_value("VERS", "5.5.1"));
    gedc.push(Node::with_value("FORM", "LINEAGE-LINKED"));
    header.push(std::move(gedc));
    header.push(Node::with_value("CHAR", "UTF-8"));
    document.records.push_back(std::move(header));
    document.records.push_back(Node::make("TRLR"));
    return document;
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

const Node* Document::record(std::string_view xref) const noexcept {
    for (const Node& candidate : records) {
        const auto id = candidate.xref();
        if (id && same_xref(*id, xref)) return &candidate;
    }
    return nullptr;
}

Node* Document::record_mut(std::string_view xref) noexcept {
    return const_cast<Node*>(static_cast<const Document*>(this)->record(xref));
}

const Node* Document::addressed_record(std::string_view address) const noexcept {
    if (is_header_tag(address)) return header(*this);
    for (const Node& record : records) {
        const auto xref = record.xref();
        if (xref ? same_xref(*xref, address) : record.tag() == address) return &record;
    }
    return nullptr;
}

Node* Document::addressed_record_mut(std::string_view address) noexcept {
    return const_cast<Node*>(std::as_const(*this).addressed_record(address));
}

std::unordered_map<std::string, std::size_t> Document::xref_index() const {
    std::unordered_map<std::string, std::size_t> index;
    index.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        if (const auto id = records[i].xref()) index.try_emplace(xref_key(*id), i);
    return index;
}

std::size_t Document::content_records() const noexcept {
    std::size_t count = 0;
    for (const Node& record : records)
        if (!is_header_tag(record.tag()) && !is_trailer_tag(record.tag())) ++count;
    return count;
}

std::vector<UnresolvedPointer> Document::unresolved_pointers() const {
    std::unordered_set<std::string> targets;
    targets.reserve(records.size());
    for (const Node& record : records)
        if (const auto id = record.xref()) targets.insert(xref_key(*id));

    std::vector<UnresolvedPointer> found;
    const Node* record = nullptr;
    walk(records, [&](const Node& node, std::span<const std::size_t> path) {
        if (path.empty()) record = &node;
        const auto payload = node.value();
        if (payload && is_pointer_payload(*payload) && !targets.contains(xref_key(*payload))) {
            found.push_back({std::string(record->xref().value_or(record->tag())),
                             StructurePath(path.begin(), path.end()), std::string(node.tag()),
                             std::string(*payload)});
        }
    });
    return found;
}

std::optional<std::string> Document::version() const {
    const Node* head = header(*this);
    if (!head) return std::nullopt;
    const Node* gedc = head->first("GEDC");
    if (!gedc) return std::nullopt;
    return gedc->value_of("VERS");
}

bool Document::is_version_7_or_later() const {
    const std::optional<std::string> declared = version();
    if (!declared) return false;
    std::string_view major = std::string_view(*declared).substr(0, declared->find('.'));
    major = unicode::trim(major);
    if (!major.empty() && major.front() == '+') major.remove_prefix(1);
    if (major.empty()) return false;
    std::uint64_t number = 0;
    for (char c : major) {
        if (!ascii::is_digit(c)) return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > UINT32_MAX) return false;
    }
    return number >= 7;
}

}  // namespace lignor
