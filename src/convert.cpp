// What both directions of conversion share: the notes, the record-by-record
// copy, the continuation guard, header version declarations and the role
// vocabulary.
#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "ascii.hpp"
#include "convert_pass.hpp"
#include "queries.hpp"
#include "storage.hpp"
#include "unicode.hpp"
#include "v7defs.hpp"
#include "value_writer.hpp"

namespace lignor {
namespace {

// A version 7 role value, 5.5.1's words for it, and other words that mean it.
struct RoleWords {
    std::string_view value;
    std::string_view words;
    std::array<std::string_view, 3> also;
};

// One row per value of version 7's role enumeration, in its order.
constexpr std::array<RoleWords, 15> roles = {{
    {"CHIL", "Child", {"son", "daughter"}},
    {"CLERGY", "Clergy", {"priest", "pastor", "minister"}},
    {"FATH", "Father", {}},
    {"FRIEND", "Friend", {}},
    {"GODP", "Godparent", {"godfather", "godmother"}},
    {"HUSB", "Husband", {}},
    {"MOTH", "Mother", {}},
    {"MULTIPLE", "Multiple", {}},
    {"NGHBR", "Neighbor", {"neighbour"}},
    {"OFFICIATOR", "Officiator", {"officiant"}},
    {"OTHER", "Other", {}},
    {"PARENT", "Parent", {}},
    {"SPOU", "Spouse", {}},
    {"WIFE", "Wife", {}},
    {"WITN", "Witness", {}},
}};

constexpr bool roles_follow_the_enumeration() {
    if (roles.size() != v7table::role_values.size()) return false;
    for (std::size_t index = 0; index < roles.size(); ++index) {
        if (roles[index].value != v7table::role_values[index]) return false;
    }
    return true;
}
static_assert(roles_follow_the_enumeration(), "a version 7 role without its words");

bool means(const RoleWords& role, std::string_view lower) noexcept {
    return ascii::iequals(lower, role.words) ||
           std::find(role.also.begin(), role.also.end(), lower) != role.also.end();
}

}  // namespace

std::string_view to_string(NoteKind kind) noexcept {
    switch (kind) {
        case NoteKind::Converted:
            return "Converted";
        case NoteKind::Dropped:
            return "Dropped";
        case NoteKind::Kept:
            return "Kept";
    }
    return "Kept";
}

void ConversionNote::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::record).optional_string(record);
    out.key(Key::tag).string(tag);
    out.key(Key::kind).string(to_string(kind));
    out.key(Key::detail).string(detail);
    out.end_object();
}

void Pass::note(std::string_view tag, NoteKind kind, const char* detail) {
    note(tag, kind, std::string(detail));
}

void Pass::note(std::string_view tag, NoteKind kind, std::string detail) {
    notes.push_back({record, std::string(tag), kind, std::move(detail)});
}

void Pass::tally(std::string_view tag, NoteKind kind, std::string_view what,
                 std::string_view instance) {
    auto it = std::find_if(tallies_.begin(), tallies_.end(), [&](const Tally& each) {
        return each.kind == kind && each.what == what && each.tag == tag;
    });
    if (it == tallies_.end()) it = tallies_.insert(it, Tally{std::string(tag), kind, what, 0, {}});
    ++it->count;
    if (!instance.empty() &&
        std::find(it->instances.begin(), it->instances.end(), instance) == it->instances.end()) {
        it->instances.emplace_back(instance);
    }
}

void Pass::note_tallies() {
    for (Tally& each : tallies_) {
        std::string detail = std::to_string(each.count) + " " + std::string(each.what);
        for (std::size_t index = 0; index < each.instances.size(); ++index) {
            detail.append(index == 0 ? ": " : "; ").append(each.instances[index]);
        }
        note(each.tag, each.kind, std::move(detail));
    }
    tallies_.clear();
}

Conversion convert_records(const Document& document, std::string_view to_version,
                           const std::function<void(Node&, bool, Pass&)>& convert) {
    // The copy and the rewriting make millions of small pieces: cut them from
    // slabs as a read does, which is both faster and tighter than the heap.
    const storage::SlabScope slabs;
    Conversion conversion{{}, document.version().value_or("unstated"), std::string(to_version), {}};
    conversion.document.keep_within(document.limits());
    std::vector<Node>& records = conversion.document.records;
    records.reserve(document.records.size());
    const Node* const head = header(document);
    Pass pass;
    // Room for two notes a record, so that the list seldom moves: each move
    // copies every note into fresh memory, whose pages cost a fault and
    // their clearing, while room never written costs address space only.
    pass.notes.reserve(2 * document.records.size());
    // Each record is copied and converted while it is fresh in the cache,
    // rather than copying the whole document and then walking it again.
    for (const Node& source : document.records) {
        Node& record = records.emplace_back(source);
        pass.record = record.xref() ? std::optional<std::string>(*record.xref()) : std::nullopt;
        convert(record, &source == head, pass);
    }
    pass.record.reset();
    conversion.notes = std::move(pass.notes);
    return conversion;
}

bool is_trailer(const Node& record) noexcept {
    return ascii::iequals(record.tag(), "TRLR");
}

void settle_trailer(Document& document, std::string_view version_name, Pass& pass) {
    std::vector<Node>& records = document.records;
    const auto first = std::find_if(records.begin(), records.end(), is_trailer);
    if (first == records.end()) {
        pass.record.reset();
        records.reserve(records.size() + 1);  // a full list would double
        records.push_back(Node::make("TRLR"));
        pass.note("TRLR", NoteKind::Converted,
                  "the file had no TRLR record, which " + std::string(version_name) +
                      " requires as its last record; one was added");
        return;
    }
    // Everything after the first trailer but the other trailers goes before
    // it, in its order: a stable partition of the tail.
    const auto trailers =
        std::stable_partition(first, records.end(), [](const Node& r) { return !is_trailer(r); });
    for (auto moved = first; moved != trailers; ++moved) {
        pass.record = moved->xref() ? std::optional<std::string>(*moved->xref()) : std::nullopt;
        pass.note(moved->tag(), NoteKind::Converted,
                  "the record stood after the TRLR record, where " + std::string(version_name) +
                      " has none; it was moved before it");
    }
    pass.record.reset();
    for (auto extra = std::next(trailers); extra != records.end(); ++extra) {
        pass.note(extra->tag(), NoteKind::Kept,
                  "a second trailer record; " + std::string(version_name) +
                      " has one, as the last record, and this one is kept after it rather than "
                      "dropped");
    }
}

bool continuation_has_children(const NodeList& children) noexcept {
    return std::any_of(children.begin(), children.end(), [](const Node& child) {
        return is_continuation_tag(child.tag()) && !child.children().empty();
    });
}

bool continuation_blocks(const Node& node, std::string_view note_tag, std::string_view what,
                         Pass& pass) {
    if (!continuation_has_children(node.children())) return false;
    pass.note(note_tag, NoteKind::Kept,
              "a continuation line of this " + std::string(what) +
                  " has substructures of its own, so rewriting it would delete them; it is left "
                  "as written");
    return true;
}

bool remove_all(Node& node, std::string_view tag) {
    NodeList& children = node.children_mut();
    const auto kept = std::remove_if(children.begin(), children.end(),
                                     [&](const Node& child) { return child.tag() == tag; });
    if (kept == children.end()) return false;
    children.erase(kept, children.end());
    return true;
}

std::size_t count_tagged(const Node& node, std::string_view tag) noexcept {
    return static_cast<std::size_t>(std::count_if(node.children().begin(), node.children().end(),
                                                  [&](const Node& c) { return c.tag() == tag; }));
}

void forget_subtree_verbatim(Node& node) {
    walk_mut(node, [](Node& each, std::span<const std::size_t>) { each.forget_verbatim(); });
}

void append_phrase(Node& node, std::string_view text) {
    Node phrase = Node::make("PHRASE");
    phrase.set_logical_value(text);
    node.push(std::move(phrase));
}

Node& declare_version(Node& header, std::string_view version, std::string_view version_name,
                      Pass& pass) {
    header.forget_verbatim();
    if (Node* gedc = header.first_mut("GEDC")) {
        gedc->forget_verbatim();
        if (Node* vers = gedc->first_mut("VERS")) {
            vers->set_logical_value(version);  // its CONC lines too
        } else {
            gedc->push(Node::with_value("VERS", version));
        }
        return *gedc;
    }
    Node added = Node::make("GEDC");
    added.push(Node::with_value("VERS", version));
    NodeList& children = header.children_mut();
    children.insert(children.begin(), std::move(added));
    pass.note(
        "GEDC", NoteKind::Converted,
        "the header declared no GEDCOM version, and " + std::string(version_name) + " requires it");
    return children.front();
}

std::string_view role_of_words(std::string_view words) {
    const std::string lower = unicode::to_lower(words);
    for (const RoleWords& role : roles) {
        if (means(role, lower)) return role.value;
    }
    return "OTHER";
}

std::optional<std::string_view> words_of_role_value(std::string_view role) noexcept {
    for (const RoleWords& entry : roles) {
        if (entry.value == role) return entry.words;
    }
    return std::nullopt;
}

namespace {

constexpr std::array<AgeWord, 3> age_word_table = {{
    {"CHILD", "< 8y"},
    {"INFANT", "< 1y"},
    {"STILLBORN", "0y"},
}};

}  // namespace

std::span<const AgeWord> age_words() noexcept {
    return age_word_table;
}

const AgeWord* age_word(std::string_view word) noexcept {
    for (const AgeWord& entry : age_word_table) {
        if (ascii::iequals(word, entry.word)) return &entry;
    }
    return nullptr;
}

}  // namespace lignor
