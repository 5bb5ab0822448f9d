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

namespace to7 {

namespace {

bool has_tagged(const Node& node, std::string_view tag) noexcept {
    const NodeList& children = node.children();
    return std::any_of(children.begin(), children.end(),
                       [&](const Node& child) { return child.tag() == tag; });
}

// Whether `source` cites in place what version 7 cites only by pointer: a
// citation below a record other than the header whose payload is not a
// pointer. A record's SOUR, and the header's (the system that wrote the
// file), cite nothing.
bool cites_in_place(const Node& source, const Place& place) noexcept {
    if (place.depth == 0 || place.in_header) return false;
    const auto payload = source.value();
    return !(payload && is_valid_xref(*payload));
}

}  // namespace

// A multimedia object written in place: a FILE beneath an OBJE below its
// record, without a pointer or continuation lines.
Change decide_object_record(const Node& object, const Place& place, Pass& pass,
                            Decision& /*decision*/) {
    const NodeList& children = object.children();
    const bool in_place = place.depth != 0 && pass.added && !object.value() &&
                          object.first("FILE") &&
                          std::none_of(children.begin(), children.end(),
                                       [](const Node& c) { return is_continuation_tag(c.tag()); });
    return in_place ? Change::Rewrites : Change::None;
}

namespace {

// 5.5.1 writes an embedded object's title beside its files, and a record's
// under its FILE: the title goes there, where 5.5.1 reads it back.
void title_to_file(Node& object, Node& record) {
    Node* file = record.first_mut("FILE");
    const Node* title = object.first("TITL");
    if (!file || !title || file->first("TITL") || count_tagged(object, "TITL") != 1) return;
    file->push(*title);
    remove_all(object, "TITL");
}

// An object's substructures as text: two objects alike in it are one.
std::string content_of(const Node& record) {
    std::string text;
    {
        LineWriter writer(text);
        writer.subtrees(std::span<const Node>(record.children().data(), record.children().size()),
                        1);
    }
    return text;
}

}  // namespace

// The object as a record of its own, which version 7 requires, held by
// `pass.added` (one record for objects written alike); a pointer to it
// stands in its place, keeping the crop that version 7 gives a link.
bool object_to_record(Node& object, Decision& /*decision*/, const Place& /*place*/, Pass& pass) {
    Node made = Node::make("OBJE");
    move_children(object, made, [](const Node& child) {
        return !v7_structure_type("OBJE", child.tag()) || v7_defines("record-OBJE", child.tag());
    });
    title_to_file(object, made);
    std::string content = content_of(made);
    if (const std::string* same = pass.added->object_with(content)) {
        object.set_value(*same);
        pass.note("OBJE", NoteKind::Converted,
                  "version 7 has multimedia objects only as records: this one is written as the "
                  "record " +
                      *same + " was made of, so a pointer to that record stands in its place");
        return true;
    }
    const std::string id = pass.added->identifier();
    Node record = Node::record(id, "OBJE");
    for (Node& child : made.children_mut()) record.push(std::move(child));
    object.set_value(id);
    pass.added->remember_object(std::move(content), id);
    pass.added->add(std::move(record));
    pass.note("OBJE", NoteKind::Converted,
              "version 7 has multimedia objects only as records: this one became the record " + id +
                  ", and a pointer to it stands in its place");
    return true;
}

// A source citation with text instead of a pointer (its payload, or TEXT
// lines).
Change decide_source_record(const Node& source, const Place& place, Pass& pass,
                            Decision& decision) {
    if (!pass.added || !cites_in_place(source, place)) return Change::None;
    std::string description = source.logical_value();
    if (!has_tagged(source, "TEXT") && description.empty()) return Change::None;
    return keep(decision, Change::Rewrites, std::move(description));
}

// The citation as a source record whose TITL holds the text, held by
// `pass.added`; a pointer to it stands in its place. TITL rather than TEXT:
// a source record has one TEXT, and the citation's own TEXT lines (the text
// from the source) need a place too; they go to the citation's DATA, which
// holds any number. Substructures only a record defines move into it; the
// rest stay with the citation.
bool source_to_record(Node& source, Decision& decision, const Place& place, Pass& pass) {
    const std::string& description = decision.text;
    const std::size_t level = place.depth;
    const NodeList& children = source.children();
    const bool has_text = has_tagged(source, "TEXT");
    if (has_tagged(source, "CONC")) return false;  // CONC lines folding kept, and named
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

}  // namespace to7

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

const std::string* AddedRecords::object_with(const std::string& content) const {
    const auto found = objects_.find(content);
    return found == objects_.end() ? nullptr : &found->second;
}

void AddedRecords::remember_object(std::string content, std::string id) {
    objects_.emplace(std::move(content), std::move(id));
}

}  // namespace lignor
