// Records for what 5.5.1 writes in place: multimedia objects and source
// citations with text made records of their own, with the identifiers
// they get.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ascii.hpp"
#include "convert7_rules.hpp"
#include "document.hpp"
#include "v7defs.hpp"

namespace lignor {
namespace {

// Moves the substructures of `from` that `moves` picks to the end of `to`,
// in order.
template <typename Moves>
void move_children(Node& from, Node& to, Moves moves) {
    NodeList kept;
    kept.reserve(from.children().size());
    for (Node& child : from.children_mut()) {
        if (moves(child)) {
            to.push(std::move(child));
        } else {
            kept.push_back(std::move(child));
        }
    }
    from.children_mut() = std::move(kept);
}

// The tallest subtree among `nodes`, in levels below them (0 for leaves).
std::size_t height(std::span<const Node> nodes) {
    std::size_t tallest = 0;
    for (const Node& node : nodes) {
        walk(node, [&](const Node&, std::span<const std::size_t> path) {
            tallest = std::max(tallest, path.size());
        });
    }
    return tallest;
}

// Whether `xref` could be one identifier() makes: "@X" and digits, in
// either letter case. Only such identifiers and pointers need keeping.
bool has_added_record_form(std::string_view xref) noexcept {
    return xref.size() > 3 && xref.front() == '@' && xref.back() == '@' &&
           ascii::to_upper(xref[1]) == 'X' &&
           std::all_of(xref.begin() + 2, xref.end() - 1, ascii::is_digit);
}

}  // namespace

bool object_to_record(Node& object, std::size_t depth, Pass& pass) {
    if (depth == 0 || !pass.added || object.value() ||
        continuation_has_children(object.children()) ||
        std::any_of(object.children().begin(), object.children().end(),
                    [](const Node& c) { return is_continuation_tag(c.tag()); })) {
        return false;
    }
    const std::string id = pass.added->identifier();
    Node record = Node::record(id, "OBJE");
    move_children(object, record, [](const Node& child) {
        return !v7_structure_type("OBJE", child.tag()) || v7_defines("record-OBJE", child.tag());
    });
    object.set_value(id);
    pass.added->add(std::move(record));
    pass.note("OBJE", NoteKind::Converted,
              "version 7 has multimedia objects only as records: this one became the record " + id +
                  ", and a pointer to it stands in its place");
    return true;
}

bool may_cite_in_place(const Node& source, std::size_t depth, bool in_header) noexcept {
    // A record's SOUR, and the header's (the system that wrote the file),
    // cite nothing.
    if (depth == 0 || in_header) return false;
    const auto payload = source.value();
    return !(payload && is_valid_xref(*payload));
}

bool source_to_record(Node& source, std::size_t depth, bool in_header, Pass& pass) {
    if (!pass.added || !may_cite_in_place(source, depth, in_header)) return false;
    const std::size_t level = depth;
    const NodeList& children = source.children();
    const bool has_text = std::any_of(children.begin(), children.end(),
                                      [](const Node& c) { return tag_is(c.tag(), "TEXT"); });
    const std::string description = source.logical_value();
    if ((!has_text && description.empty()) ||
        continuation_blocks(source, "SOUR", "source citation", pass)) {
        return false;
    }
    if (std::any_of(children.begin(), children.end(),
                    [](const Node& c) { return tag_is(c.tag(), "CONC"); })) {
        return false;  // CONC lines folding kept, and named
    }
    // The TEXT lines go one level deeper, under DATA.
    std::vector<Node> texts;
    for (const Node& child : children) {
        if (tag_is(child.tag(), "TEXT")) texts.push_back(child);
    }
    if (has_text && level + 2 + height(texts) > ParseLimits{}.max_depth) {
        pass.note("SOUR", NoteKind::Kept,
                  "version 7 cites a source only by pointer, but the TEXT of this citation would "
                  "move below the deepest level a reader accepts; it is left as written");
        return false;
    }
    const std::string id = pass.added->identifier();
    Node record = Node::record(id, "SOUR");
    if (!description.empty()) {
        Node title = Node::make("TITL");
        title.set_logical_value(description);
        record.push(std::move(title));
    }
    source.set_logical_value(id);
    move_children(source, record, [](const Node& child) {
        return !tag_is(child.tag(), "TEXT") && !v7_defines("SOUR", child.tag()) &&
               v7_defines("record-SOUR", child.tag());
    });
    if (has_text) {
        remove_all(source, "TEXT");
        Node* data = source.first_mut("DATA");
        if (!data) {
            source.push(Node::make("DATA"));
            data = &source.children_mut()[source.children().size() - 1];
        }
        for (Node& text : texts) data->push(std::move(text));
    }
    pass.added->add(std::move(record));
    pass.note("SOUR", NoteKind::Converted,
              "version 7 cites a source only by pointer: the citation's text became the TITL of "
              "the source record " +
                  id +
                  " (a source record has one TEXT, which the citation's own TEXT lines would "
                  "contend for), a pointer to it stands in its place, and its TEXT lines went to "
                  "the citation's DATA");
    return true;
}

void AddedRecords::index_used() {
    walk(std::span<const Node>(source_->records),
         [&](const Node& node, std::span<const std::size_t>) {
             if (const auto xref = node.xref(); xref && has_added_record_form(*xref))
                 used_.push_back(xref_key(*xref));
             if (const auto payload = node.value(); payload && has_added_record_form(*payload))
                 used_.push_back(xref_key(*payload));
         });
    std::sort(used_.begin(), used_.end());
    indexed_ = true;
}

std::string AddedRecords::identifier() {
    if (!indexed_) index_used();
    for (;; ++next_) {
        std::string id = "@X" + std::to_string(next_) + "@";
        if (!std::binary_search(used_.begin(), used_.end(), id)) {
            ++next_;
            return id;
        }
    }
}

std::vector<Node> AddedRecords::take() {
    return std::exchange(made_, {});
}

}  // namespace lignor
