// Continuation lines in version 7's form: CONC lines folded into the text
// they continue, and a continuation line's repeat of its record's
// identifier removed.
#include <algorithm>
#include <string>
#include <vector>

#include "convert7_rules.hpp"

namespace lignor::to7 {
namespace {

// The longest text a CONC fold may produce: below the reader's line length
// bound, with room left for the level, an identifier and the tag.
constexpr std::size_t longest_folded_text = 0xF00000;

constexpr std::string_view continues_pointer =
    "it continues a pointer payload, which joining would turn into other text";
constexpr std::string_view begins_with_at =
    "joining would make the text begin with @, which version 7 reads as a pointer or an escape";
constexpr std::string_view too_long_to_read =
    "the joined line would be longer than this library reads back";

// A head (the structure's own payload or a CONT line) and the CONC lines
// after it, up to the next CONT: the text that one line of version 7 holds.
struct Segment {
    Node* head;
    bool own;               // the head is the structure itself
    std::size_t first = 0;  // the substructures [first, last) after the head
    std::size_t last = 0;
    std::size_t continuations = 0;  // CONC lines among them
};

std::vector<Segment> segments_of(Node& node) {
    NodeList& children = node.children_mut();
    std::vector<Segment> segments{{&node, true, 0, children.size()}};
    for (std::size_t index = 0; index < children.size(); ++index) {
        if (tag_is(children[index].tag(), "CONT")) {
            segments.back().last = index;
            segments.push_back({&children[index], false, index + 1, children.size()});
        } else if (tag_is(children[index].tag(), "CONC")) {
            ++segments.back().continuations;
        }
    }
    return segments;
}

std::string joined_text(const Segment& segment, const NodeList& children) {
    std::string text(segment.head->value().value_or(""));
    for (std::size_t index = segment.first; index < segment.last; ++index) {
        if (tag_is(children[index].tag(), "CONC"))
            text.append(children[index].value().value_or(""));
    }
    return text;
}

// Why the segment's CONC lines cannot be folded, if they cannot. A DATE may
// begin with a calendar escape, so text beginning with @ is no reason there.
std::optional<std::string_view> fold_refusal(const Segment& segment, std::string_view joined,
                                             std::string_view tag) {
    const std::string_view head = segment.head->value().value_or("");
    if (segment.own && is_valid_xref(head)) return continues_pointer;
    if (!tag_is(tag, "DATE") && joined.starts_with('@') &&
        (!head.starts_with('@') || (segment.own && is_valid_xref(joined)))) {
        return begins_with_at;
    }
    if (joined.size() > longest_folded_text) return too_long_to_read;
    return std::nullopt;
}

void note_kept_conc(Node& node, std::size_t lines, std::string_view reasons, Pass& pass) {
    pass.note(node.tag(), NoteKind::Kept,
              std::to_string(lines) + " CONC line(s) kept as written because " +
                  std::string(reasons) + "; the output is therefore not valid version 7");
}

// Removes the substructures marked in `drop`.
void remove_marked(NodeList& children, const std::vector<bool>& drop) {
    NodeList kept;
    kept.reserve(children.size());
    for (std::size_t index = 0; index < children.size(); ++index) {
        if (!drop[index]) kept.push_back(std::move(children[index]));
    }
    children = std::move(kept);
}

// Whether a continuation line of `node` carries its record's own identifier.
bool repeats_record_identifier(const Node& node, const Pass& pass) noexcept {
    if (!pass.record) return false;
    // A plain loop that tests the rare-fields pointer first: this runs at
    // every structure, and nearly no line carries an identifier.
    for (const Node& line : node.children()) {
        if (line.xref_text() == nullptr) continue;
        if (const auto xref = line.xref();
            xref && is_continuation_tag(line.tag()) && same_xref(*xref, *pass.record))
            return true;
    }
    return false;
}

}  // namespace

Change decide_folding(const Node& node, const Place& /*place*/, Pass& /*pass*/,
                      Decision& /*decision*/) {
    const NodeList& children = node.children();
    const bool has_conc = std::any_of(children.begin(), children.end(),
                                      [](const Node& c) { return tag_is(c.tag(), "CONC"); });
    return has_conc ? Change::Rewrites : Change::None;
}

// Folds each segment's CONC lines into its head, except where folding would
// change what the text says or make a line the reader refuses.
bool fold_continuations(Node& node, Decision& /*decision*/, const Place& /*place*/, Pass& pass) {
    const NodeList& children = node.children();
    const auto lines = static_cast<std::size_t>(std::count_if(
        children.begin(), children.end(), [](const Node& c) { return tag_is(c.tag(), "CONC"); }));
    if (lines == 0) return false;
    if (is_continuation_tag(node.tag())) {
        note_kept_conc(node, lines, "it is under a continuation line, not a payload", pass);
        return false;
    }
    if (std::any_of(children.begin(), children.end(), [](const Node& c) {
            return tag_is(c.tag(), "CONC") && (c.xref() || !c.children().empty());
        })) {
        note_kept_conc(node, lines, "a CONC line carries an identifier or substructures of its own",
                       pass);
        return false;
    }
    const bool had_payload = node.value().has_value();
    std::vector<bool> drop(children.size(), false);
    std::string reasons;
    std::size_t kept = 0;
    std::size_t folded = 0;
    for (const Segment& segment : segments_of(node)) {
        if (segment.continuations == 0) continue;
        std::string joined = joined_text(segment, node.children());
        if (const auto reason = fold_refusal(segment, joined, node.tag())) {
            kept += segment.continuations;
            if (reasons.find(*reason) == std::string::npos) {
                reasons.append(reasons.empty() ? "" : " and ").append(*reason);
            }
            continue;
        }
        segment.head->set_value(joined);
        for (std::size_t index = segment.first; index < segment.last; ++index) {
            drop[index] = tag_is(node.children()[index].tag(), "CONC");
        }
        folded += segment.continuations;
    }
    if (kept > 0) note_kept_conc(node, kept, reasons, pass);
    if (folded == 0) return false;
    remove_marked(node.children_mut(), drop);
    pass.folded_lines += folded;
    ++pass.folded_structures;
    if (!had_payload && node.value()) ++pass.folded_without_payload;
    return true;
}

Change decide_repeated_identifiers(const Node& node, const Place& /*place*/, Pass& pass,
                                   Decision& /*decision*/) {
    return repeats_record_identifier(node, pass) ? Change::Rewrites : Change::None;
}

// A continuation line carrying its record's own identifier, which only a
// record may carry in version 7, loses it; any other identifier is kept.
bool repeated_identifiers_to_7(Node& node, Decision& /*decision*/, const Place& /*place*/,
                               Pass& pass) {
    bool changed = false;
    for (Node& line : node.children_mut()) {
        const auto xref = line.xref();
        if (!xref || !is_continuation_tag(line.tag()) || !same_xref(*xref, *pass.record)) continue;
        Node bare = Node::make(line.tag());
        bare.set_value(line.value());
        bare.children_mut() = std::move(line.children_mut());
        pass.tally(line.tag(), NoteKind::Converted,
                   "continuation line(s) carrying their record's own identifier, which version 7 "
                   "allows on records only, written without it");
        line = std::move(bare);
        changed = true;
    }
    return changed;
}

}  // namespace lignor::to7
