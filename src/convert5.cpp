// The conversion to GEDCOM 5.5.1: the record-level driver (header, note
// records, the long-line check) and the walk that rewrites the structures
// inside each record.
#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "ascii.hpp"
#include "convert.hpp"
#include "error.hpp"
#include "queries.hpp"
#include "unicode.hpp"
#include "wrap.hpp"

namespace lignor {
namespace {

constexpr std::string_view version_551 = "5.5.1";
// 5.5.1's line limit, terminator included.
constexpr std::size_t line_limit_551 = 255;

// ---- structures in 5.5.1's form ----

bool has_line_feed(std::string_view text) noexcept {
    return text.find('\n') != std::string_view::npos;
}

// Whether `node` has a substructure other than its continuation lines.
bool has_other_substructure(const Node& node) noexcept {
    return std::any_of(node.children().begin(), node.children().end(),
                       [](const Node& child) { return !is_continuation_tag(child.tag()); });
}

std::size_t count_tagged(const Node& node, std::string_view tag) noexcept {
    return static_cast<std::size_t>(std::count_if(node.children().begin(), node.children().end(),
                                                  [&](const Node& c) { return c.tag() == tag; }));
}

// Fits a structure this walk rewrote or retagged into 5.5.1's line limit;
// its substructures are not looked at.
void fit_551(Node& node, std::size_t level) {
    fit_node_inner(node, level, line_limit_551, false);
}

void uid_to_5(Node& node, Pass& pass) {
    node.set_tag("_UID");
    pass.note("UID", NoteKind::Converted,
              "5.5.1 has no UID, and every producer writes _UID instead");
}

bool shared_note_pointer_to_5(Node& node, Pass& pass) {
    const auto payload = node.value();
    if (!payload || !is_valid_xref(*payload)) return false;
    node.set_tag("NOTE");
    pass.note("SNOTE", NoteKind::Converted,
              "a shared note pointer is an ordinary note pointer in 5.5.1");
    return true;
}

// A DATE with a PHRASE as 5.5.1's interpreted date "INT {date} ({phrase})",
// when both fit on one line with nothing beneath the phrase.
bool dated_phrase_to_5(Node& date, std::size_t level, Pass& pass) {
    const Node* phrase = date.first("PHRASE");
    if (!phrase) return false;
    const std::string text = date.logical_value();
    const std::string words = phrase->logical_value();
    if (count_tagged(date, "PHRASE") > 1 || has_line_feed(text) || has_line_feed(words) ||
        has_other_substructure(*phrase) || continuation_has_children(phrase->children()) ||
        continuation_has_children(date.children())) {
        pass.note(
            "PHRASE", NoteKind::Kept,
            "5.5.1's interpreted date holds one line and nothing beneath it, and this date or "
            "phrase spans lines or has substructures; the PHRASE is kept as written, which "
            "5.5.1 does not define");
        return false;
    }
    remove_all(date, "PHRASE");
    date.set_logical_value("INT " + text + " (" + words + ")");
    pass.note("PHRASE", NoteKind::Converted, "a dated phrase became 5.5.1's interpreted form");
    // The phrase may be long; 5.5.1 carries the rest of the line on CONC lines.
    fit_551(date, level);
    return true;
}

struct RoleWords {
    std::string_view role;
    std::string_view words;
};

constexpr std::array<RoleWords, 15> role_words_551 = {{
    {"CHIL", "Child"},
    {"CLERGY", "Clergy"},
    {"FATH", "Father"},
    {"FRIEND", "Friend"},
    {"GODP", "Godparent"},
    {"HUSB", "Husband"},
    {"MOTH", "Mother"},
    {"MULTIPLE", "Multiple"},
    {"NGHBR", "Neighbor"},
    {"OFFICIATOR", "Officiator"},
    {"OTHER", "Other"},
    {"PARENT", "Parent"},
    {"SPOU", "Spouse"},
    {"WIFE", "Wife"},
    {"WITN", "Witness"},
}};

// The roles 5.5.1 itself enumerates for an event.
constexpr std::array<std::string_view, 6> event_roles_551 = {"CHIL", "HUSB", "WIFE",
                                                             "MOTH", "FATH", "SPOU"};

// 5.5.1's words for a version 7 role; any other role text as written, so
// that its letter case survives.
std::string role_words_of(std::string_view upper, std::string_view trimmed) {
    for (const RoleWords& entry : role_words_551) {
        if (entry.role == upper) return std::string(entry.words);
    }
    return std::string(trimmed);
}

// 5.5.1's own form of a role that is not enumerated: "(Godfather)".
bool is_role_descriptor(std::string_view trimmed) noexcept {
    return trimmed.size() > 1 && trimmed.front() == '(' && trimmed.back() == ')';
}

// The words of the ROLE's PHRASE, when it has one that 5.5.1 can carry: the
// only PHRASE, one non-blank line, nothing beneath it. Sets `refused` when
// it has a PHRASE that cannot be carried.
std::optional<std::string> usable_phrase(const Node& role, bool& refused) {
    const Node* phrase = role.first("PHRASE");
    refused = false;
    if (!phrase) return std::nullopt;
    std::string words = phrase->logical_value();
    refused = count_tagged(role, "PHRASE") > 1 || has_other_substructure(*phrase) ||
              continuation_has_children(phrase->children()) || has_line_feed(words) ||
              unicode::trim(words).empty();
    if (refused) return std::nullopt;
    return words;
}

// A ROLE under EVEN (a parenthesized descriptor) or ASSO (a RELA in words),
// the holder at `level`.
bool role_to_5(Node& role, bool association, std::size_t level, Pass& pass) {
    bool refused = false;
    const std::optional<std::string> phrase = usable_phrase(role, refused);
    if (refused) {
        pass.note("ROLE", NoteKind::Kept,
                  "5.5.1 holds a role on one line with nothing beneath it, and this role's PHRASE "
                  "spans lines or has substructures; it is kept as written, which 5.5.1 does not "
                  "define");
        return false;
    }
    if (continuation_blocks(role, "ROLE", "ROLE", pass)) return false;
    const std::string value = role.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    const std::string upper = ascii::upper_copy(trimmed);
    if (!association && !phrase &&
        (std::find(event_roles_551.begin(), event_roles_551.end(), upper) !=
             event_roles_551.end() ||
         trimmed.empty() || is_role_descriptor(trimmed))) {
        return false;  // already 5.5.1's form, or nothing to put in parentheses
    }
    const std::string words = phrase ? *phrase : role_words_of(upper, trimmed);
    remove_all(role, "PHRASE");
    if (association) {
        role.set_tag("RELA");
        role.set_logical_value(words);
        pass.note("ROLE", NoteKind::Converted,
                  "an association's role is RELA in 5.5.1, a relation in words");
    } else {
        role.set_logical_value("(" + words + ")");
        pass.note("ROLE", NoteKind::Converted,
                  "a role 5.5.1 does not enumerate, or one with a phrase, is 5.5.1's "
                  "parenthesized role descriptor");
    }
    fit_551(role, level + 1);
    return true;
}

bool roles_to_5(Node& holder, std::size_t level, Pass& pass) {
    const bool association = holder.tag() == "ASSO";
    bool changed = false;
    for (Node& child : holder.children_mut()) {
        if (child.tag() == "ROLE") changed = role_to_5(child, association, level, pass) || changed;
    }
    return changed;
}

bool is_version_7_only(std::string_view tag) noexcept {
    return tag == "TRAN" || tag == "CREA" || tag == "EXID" || tag == "SDATE";
}

// ---- the driver ----

// The existing GEDC made to declare 5.5.1 and its one form.
void declare_version_551(Node& gedc) {
    gedc.forget_verbatim();
    if (Node* vers = gedc.first_mut("VERS")) {
        vers->set_value(version_551);
    } else {
        gedc.push(Node::with_value("VERS", version_551));
    }
    if (!gedc.first("FORM")) gedc.push(Node::with_value("FORM", "LINEAGE-LINKED"));
}

void header_to_551(Node& header, Pass& pass) {
    header.forget_verbatim();
    if (Node* gedc = header.first_mut("GEDC")) {
        declare_version_551(*gedc);
    } else {
        Node added = Node::make("GEDC");
        added.push(Node::with_value("VERS", version_551));
        added.push(Node::with_value("FORM", "LINEAGE-LINKED"));
        NodeList& children = header.children_mut();
        children.insert(children.begin(), std::move(added));
        pass.note("GEDC", NoteKind::Converted,
                  "the header declared no GEDCOM version, and 5.5.1 requires it");
    }
    if (!header.first("CHAR")) {
        header.push(Node::with_value("CHAR", "UTF-8"));
        pass.note("CHAR", NoteKind::Converted,
                  "5.5.1 requires a character set, and the file is written as UTF-8");
    }
    if (remove_all(header, "SCHMA")) {
        pass.note("SCHMA", NoteKind::Dropped,
                  "5.5.1 has no way to declare an extension; the extensions themselves are kept");
    }
}

// Names the record's lines that are still over 5.5.1's limit; they are left
// as written.
void note_long_lines(const Node& record, Pass& pass) {
    std::size_t count = 0;
    std::string_view first_tag;
    walk(record, [&](const Node& node, std::span<const std::size_t> path) {
        if (line_length(node, path.size()) + 1 <= line_limit_551) return;
        if (count++ == 0) first_tag = node.tag();
    });
    if (count == 0) return;
    pass.note(first_tag, NoteKind::Kept,
              std::to_string(count) +
                  " line(s) in this record are longer than 5.5.1's 255 bytes; they belong to "
                  "structures the conversion did not change, so they are left as written "
                  "(Document::wrap_long_lines fits them)");
}

void record_to_551(Node& record, bool is_header, Pass& pass) {
    pass.record = record.xref() ? std::optional<std::string>(*record.xref()) : std::nullopt;
    if (is_header) header_to_551(record, pass);
    const bool shared_note = record.tag() == "SNOTE";
    if (shared_note) {
        record.set_tag("NOTE");  // drops the line's verbatim text
        pass.note("SNOTE", NoteKind::Converted, "5.5.1 has one kind of note record");
    }
    structures_to_5_node(record, 0, pass);
    // A version 7 shared note may hold its text on one long line.
    if (shared_note) fit_551(record, 0);
    note_long_lines(record, pass);
}

}  // namespace

bool structures_to_5_node(Node& node, std::size_t level, Pass& pass) {
    const std::string_view tag = node.tag();
    bool retagged = false;
    bool changed = false;
    if (tag == "UID") {
        uid_to_5(node, pass);
        retagged = true;
    } else if (tag == "SNOTE") {
        retagged = shared_note_pointer_to_5(node, pass);
    } else if (tag == "DATE") {
        changed = dated_phrase_to_5(node, level, pass);
    } else if (tag == "EVEN" || tag == "ASSO") {
        changed = roles_to_5(node, level, pass);
    } else if (is_version_7_only(tag)) {
        pass.note(tag, NoteKind::Kept,
                  "version 7 defines this and 5.5.1 does not; it is kept rather than lost");
    }
    for (Node& child : node.children_mut()) {
        changed = structures_to_5_node(child, level + 1, pass) || changed;
    }
    if (retagged) fit_551(node, level);
    return changed || retagged;
}

Conversion to_version_5_5_1(const Document& document) {
    Conversion conversion{
        document, document.version().value_or("unstated"), std::string(version_551), {}};
    Pass pass;
    // The same record every reader and writer of this library takes for the
    // header: the first tagged HEAD in any letter case.
    const Node* head = header(conversion.document);
    for (Node& record : conversion.document.records) {
        record_to_551(record, &record == head, pass);
    }
    conversion.notes = std::move(pass.notes);
    return conversion;
}

}  // namespace lignor
