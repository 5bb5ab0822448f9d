// Which rule of the conversion to version 7 runs on which structure.
#include <functional>
#include <string_view>

#include "convert7_rules.hpp"

namespace lignor {
namespace to7 {
namespace {

std::uint32_t individual_row() noexcept {
    static const std::uint32_t row = v7table::record_row("INDI");
    return row;
}

// Whether `node`'s payload is one no rule below changes, told without
// reading its logical value: one line that is absent, "Y" or an
// enumeration's value, where those are what the table asks for.
bool settled(const Node& node, const v7table::TypeFacts& facts) noexcept {
    using v7table::Payload;
    if (facts.payload != Payload::YesOrEmpty && facts.payload != Payload::Enumeration) {
        return false;
    }
    const NodeList& children = node.children();
    if (std::any_of(children.begin(), children.end(),
                    [](const Node& child) { return is_continuation_tag(child.tag()); }))
        return false;
    const auto value = node.value();
    if (facts.payload == Payload::YesOrEmpty) return !value || *value == "Y";
    return value && in_values(facts.values, *value);
}

// Which of the rules below the standard's table asks for at `place`, by the
// payload type of the structure there; none for a payload already settled.
enum class ValueRule : std::uint8_t { None, Enumeration, Age, Event, Alias };

ValueRule value_rule(const Node& node, const Place& place) noexcept {
    if (!place.facts || settled(node, *place.facts)) return ValueRule::None;
    const std::string_view tag = node.tag();
    switch (place.facts->payload) {
        case v7table::Payload::Enumeration:
        case v7table::Payload::EnumerationList:
            // Roles are their holder's (role_to_7), a file's medium media_form_to_7's.
            if (tag_is(tag, "ROLE") ||
                (tag_is(tag, "MEDI") && place.parent_row != v7table::no_row &&
                 facts_of(place.parent_row).type == "FORM"))
                return ValueRule::None;
            return ValueRule::Enumeration;
        case v7table::Payload::Age:
            return ValueRule::Age;
        case v7table::Payload::YesOrEmpty:
            return ValueRule::Event;
        case v7table::Payload::Pointer:
            return tag_is(tag, "ALIA") ? ValueRule::Alias : ValueRule::None;
        default:
            return ValueRule::None;
    }
}

bool value_to_7(Node& node, ValueRule rule, const Place& place, Pass& pass) {
    switch (rule) {
        case ValueRule::Enumeration:
            return enumeration_to_7(node, *place.facts, defines_under(place.row, "PHRASE"),
                                    place.depth, node.tag(), pass);
        case ValueRule::Age:
            return age_to_7(node, place, pass);
        case ValueRule::Event:
            return event_payload_to_7(node, place, pass);
        case ValueRule::Alias:
            return alias_name_to_7(node, place, pass);
        case ValueRule::None:
            break;
    }
    return false;
}

}  // namespace

// One structure's own rewrites, where it stands at `place`. Each rule is
// asked for only when the structure looks like something it changes, so that
// a structure no rule changes is never copied.
bool structure_to_7(Rewritable& structure, const Place& place, const NoteRecordIds& note_records,
                    Pass& pass) {
    const bool bared = repeats_record_identifier(structure.get(), pass) &&
                       repeated_identifiers_to_7(structure.mut(), pass);
    const std::size_t notes_before_folding = pass.notes.size();
    const bool folded =
        has_conc_lines(structure.get()) && fold_continuations(structure.mut(), pass);
    const Node& node = structure.get();
    const std::string_view tag = node.tag();
    bool changed = false;
    if (tag_is(tag, "_UID")) {
        changed = uid_to_7(structure.mut(), pass);
    } else if (tag_is(tag, "NOTE")) {
        changed = points_to_note_record(node, note_records) &&
                  note_pointer_to_7(structure.mut(), note_records, pass);
    } else if (tag_is(tag, "DATE")) {
        const bool exact_only = place.facts && place.facts->payload == v7table::Payload::ExactDate;
        if (const auto text = date_text_to_rewrite(node, exact_only)) {
            const std::size_t notes_after_folding = pass.notes.size();
            changed = date_to_7(structure.mut(), *text, exact_only, place.depth, pass);
            // A rewritten date has no continuation lines left, so a note that
            // folding kept some of them would no longer be true.
            if (changed) {
                pass.notes.erase(
                    pass.notes.begin() + static_cast<std::ptrdiff_t>(notes_before_folding),
                    pass.notes.begin() + static_cast<std::ptrdiff_t>(notes_after_folding));
            }
        }
    } else if (tag_is(tag, "EVEN") || tag_is(tag, "ASSO")) {
        changed = roles_to_7(structure.mut(), place.depth, pass);
    } else if (tag_is(tag, "OBJE") && node.first("FILE")) {
        Node& object = structure.mut();
        changed = object_to_record(object, place.depth, pass) ||
                  media_form_to_7(object, pass, place.depth);
    } else if (tag_is(tag, "SOUR")) {
        changed = may_cite_in_place(node, place.depth, place.in_header) &&
                  source_to_record(structure.mut(), place.depth, place.in_header, pass);
    } else if (place.depth == 0 && place.row == individual_row()) {
        changed = sex_texts_to_7(structure.mut(), place.row, pass);
    }
    if (const ValueRule rule = value_rule(structure.get(), place); rule != ValueRule::None)
        changed = value_to_7(structure.mut(), rule, place, pass) || changed;
    if (has_empty_payload(structure.get()))
        changed = empty_payload_to_7(structure.mut(), pass) || changed;
    return bared || folded || changed;
}

}  // namespace to7

bool structures_to_7_node(Node& record, const NoteRecordIds& note_records, Pass& pass) {
    return structures_to_7_node(record, note_records, pass,
                                [](const Node&, std::size_t, std::uint32_t) {});
}

bool structures_to_7_node(
    Node& record, const NoteRecordIds& note_records, Pass& pass,
    const std::function<void(const Node&, std::size_t, std::uint32_t)>& visit) {
    return to7::structures_to_7_with(record, note_records, pass, visit);
}

}  // namespace lignor
