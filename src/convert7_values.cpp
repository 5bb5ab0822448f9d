// Values in version 7's form, as the standard's table types each payload:
// enumerated values in its spelling, ages with units, text on a Y-or-empty
// event or after a SEX letter moved into a NOTE, an ALIA holding a name as a
// NAME, an empty payload without its trailing space.
#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "ascii.hpp"
#include "convert7_rules.hpp"
#include "unicode.hpp"

namespace lignor {
namespace to7 {

std::string escaped_phrase(std::string_view text) {
    std::string phrase(text);
    if (phrase.starts_with('@')) phrase.insert(0, 1, '@');
    return phrase;
}

std::optional<std::string> enumerated_spelling(std::string_view word,
                                               std::span<const std::string_view> values) {
    std::string spelled = ascii::upper_copy(word);
    if (in_values(values, spelled)) return spelled;
    std::replace_if(
        spelled.begin(), spelled.end(), [](char c) { return c == '-' || c == ' '; }, '_');
    if (in_values(values, spelled)) return spelled;
    return std::nullopt;
}

namespace {

// Each comma-separated item of `text` as the enumeration spells it, joined
// with ", "; none when an item is not in it (extension values are kept).
std::optional<std::string> enumerated_list(std::string_view text,
                                           std::span<const std::string_view> values) {
    std::string out;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = unicode::trim(text.substr(0, comma));
        if (!out.empty()) out.append(", ");
        if (item.starts_with('_')) {
            out.append(item);
        } else if (const auto spelled = enumerated_spelling(item, values)) {
            out.append(*spelled);
        } else {
            return std::nullopt;
        }
        if (comma == std::string_view::npos) return out;
        text.remove_prefix(comma + 1);
    }
}

// Whether `node`'s payload is one no rule here changes, told without
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

}  // namespace

Change enumeration_decision(const Node& node, const v7table::TypeFacts& facts, bool phrase_allowed,
                            Decision& decision) {
    std::string value = node.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    if (trimmed.empty() || trimmed.starts_with('_')) return Change::None;
    std::optional<std::string> spelled = facts.payload == v7table::Payload::EnumerationList
                                             ? enumerated_list(trimmed, facts.values)
                                             : enumerated_spelling(trimmed, facts.values);
    if (spelled == value) return Change::None;
    if (spelled) return keep(decision, Change::Rewrites, std::move(value), std::move(spelled));
    if (!phrase_allowed || !in_values(facts.values, "OTHER")) return Change::None;
    return keep(decision, Change::AddsLines, std::move(value));
}

// An enumerated value as the standard's table types the structure's payload.
// Roles are their holder's (convert7_roles.cpp), a file's medium its
// object's (convert7_media.cpp).
Change decide_enumeration(const Node& node, const Place& place, Pass& /*pass*/,
                          Decision& decision) {
    const std::string_view tag = node.tag();
    if (tag_is(tag, "ROLE") || (tag_is(tag, "MEDI") && place.parent_row != v7table::no_row &&
                                facts_of(place.parent_row).type == "FORM"))
        return Change::None;
    if (settled(node, *place.facts)) return Change::None;
    return enumeration_decision(node, *place.facts, defines_under(place.row, "PHRASE"), decision);
}

bool enumerated_value_to_7(Node& node, Decision& decision, std::string_view note_tag, Pass& pass) {
    const std::string& value = decision.text;
    if (decision.value) {
        node.set_logical_value(*decision.value);
        pass.tally(note_tag, NoteKind::Converted, "value(s) in version 7's enumerated spelling",
                   quoted(value) + " as " + *decision.value);
        return true;
    }
    if (node.first("PHRASE")) {
        pass.tally(note_tag, NoteKind::Kept,
                   "value(s) outside version 7's enumeration, left as written because a PHRASE "
                   "is already there to keep the original in",
                   quoted(value));
        return false;
    }
    node.set_logical_value("OTHER");
    append_phrase(node, escaped_phrase(unicode::trim(value)));
    pass.tally(note_tag, NoteKind::Converted,
               "value(s) outside version 7's enumeration, now OTHER with the original kept as a "
               "PHRASE",
               quoted(value));
    return true;
}

// An enumerated value in version 7's spelling; a value outside the
// enumeration becomes OTHER with the original as a PHRASE where the
// structure has both, and is left as written elsewhere.
bool enumeration_to_7(Node& node, Decision& decision, const Place& /*place*/, Pass& pass) {
    return enumerated_value_to_7(node, decision, node.tag(), pass);
}

namespace {

// 5.5.1's ages that version 7 writes with a bound and units: one number
// without a unit is years ("76": "76y"), a bound is followed by a space
// ("<76": "< 76y"), units are lower case. None for any other text.
std::optional<std::string> age_in_7(std::string_view text) {
    std::string out;
    if (text.starts_with('<') || text.starts_with('>')) {
        out.push_back(text.front());
        out.push_back(' ');
        text = unicode::trim(text.substr(1));
    }
    constexpr std::string_view units = "ymwd";
    std::size_t next_unit = 0;
    const std::size_t words = out.size();
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(' '), text.size());
        std::string_view word = text.substr(0, end);
        text = unicode::trim_start(text.substr(end));
        const bool bare = !word.empty() && ascii::is_digit(word.back());
        const char unit = bare ? 'y' : ascii::to_lower(word.back());
        if (!bare) word.remove_suffix(1);
        const std::size_t rank = units.find(unit);
        if (word.empty() || !std::all_of(word.begin(), word.end(), ascii::is_digit) ||
            rank == std::string_view::npos || rank < next_unit || (bare && out.size() > words) ||
            (bare && !text.empty()))
            return std::nullopt;
        next_unit = rank + 1;
        out.append(out.size() > words ? " " : "").append(word).push_back(unit);
    }
    if (out.size() == words) return std::nullopt;
    return out;
}

}  // namespace

Change decide_age(const Node& age, const Place& place, Pass& /*pass*/, Decision& decision) {
    std::string value = age.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    if (trimmed.empty()) return Change::None;
    if (std::optional<std::string> written = age_in_7(trimmed)) {
        if (*written == value) return Change::None;
        return keep(decision, Change::Rewrites, std::move(value), std::move(written));
    }
    const AgeWord* word = age_word(trimmed);
    if (word == nullptr || !defines_under(place.row, "PHRASE")) return Change::None;
    return keep(decision, Change::AddsLines, std::move(value), std::string(word->age));
}

// An AGE in version 7's grammar: units added or respelled; 5.5.1's words
// as the age they mean, the word kept as a PHRASE.
bool age_to_7(Node& age, Decision& decision, const Place& /*place*/, Pass& pass) {
    const std::string& value = decision.text;
    const std::string& written = *decision.value;
    if (decision.change == Change::Rewrites) {
        age.set_logical_value(written);
        pass.tally("AGE", NoteKind::Converted, "age(s) written with version 7's units",
                   quoted(value) + " as " + quoted(written));
        return true;
    }
    if (age.first("PHRASE")) return false;
    age.set_logical_value(written);
    append_phrase(age, unicode::trim(value));
    pass.tally("AGE", NoteKind::Converted,
               "age(s) in 5.5.1's words, now the age version 7 writes for them with the word "
               "kept as a PHRASE",
               quoted(value) + " as " + quoted(written));
    return true;
}

Change decide_event_payload(const Node& event, const Place& place, Pass& /*pass*/,
                            Decision& decision) {
    if (settled(event, *place.facts)) return Change::None;
    std::string value = event.logical_value();
    if (value.empty() || value == "Y") return Change::None;
    if (ascii::iequals(unicode::trim(value), "Y"))
        return keep(decision, Change::Rewrites, std::move(value));
    if (!defines_under(place.row, "NOTE")) return Change::None;
    return keep(decision, Change::AddsLines, std::move(value));
}

namespace {

// Whether version 7's NO can say what a denying payload said of `event`:
// NO stands where the event stands, names the event, and holds what the
// event holds (notes and citations; a date of a NO means another thing).
bool may_be_denied(const Node& event, const Place& place) {
    if (place.parent_row == v7table::no_row) return false;
    const std::uint32_t no = v7table::child_row(place.parent_row, "NO");
    if (no == v7table::no_row || !in_values(facts_of(no).values, event.tag())) return false;
    const NodeList& children = event.children();
    return std::all_of(children.begin(), children.end(), [](const Node& child) {
        const std::string_view tag = child.tag();
        return tag_is(tag, "NOTE") || tag_is(tag, "SNOTE") || tag_is(tag, "SOUR");
    });
}

}  // namespace

// An event whose payload version 7 allows only as "Y" or empty: other text
// moves into a NOTE of the event. The payload becomes Y, which the text
// asserted by being there, except for "N" and "NO", which deny the event:
// version 7's NO of the event where it can say so, else an empty payload,
// asserting nothing.
bool event_payload_to_7(Node& event, Decision& decision, const Place& place, Pass& pass) {
    const std::string& value = decision.text;
    const std::string_view trimmed = unicode::trim(value);
    const std::string_view tag = event.tag();
    if (decision.change == Change::Rewrites) {
        event.set_logical_value("Y");
        pass.tally(tag, NoteKind::Converted, "event payload(s) meaning yes, written as Y",
                   quoted(value));
        return true;
    }
    const bool denies = ascii::iequals(trimmed, "N") || ascii::iequals(trimmed, "NO");
    if (denies && may_be_denied(event, place)) {
        const std::string event_tag(tag);
        event.set_tag("NO");
        event.set_logical_value(event_tag);
        pass.tally("NO", NoteKind::Converted,
                   "event(s) whose payload denies them, written as version 7 denies an event: NO "
                   "and the event's tag",
                   event_tag + " " + quoted(value) + " as " + quoted("NO " + event_tag));
        return true;
    }
    event.set_logical_value(denies ? "" : "Y");
    Node note = Node::make("NOTE");
    note.set_logical_value(escaped_phrase(value));
    event.push(std::move(note));
    pass.tally(tag, NoteKind::Converted,
               denies ? "event payload(s) denying the event, which version 7 cannot hold, moved "
                        "into a NOTE of the event, leaving the payload empty"
                      : "event payload(s) of text, which version 7 cannot hold, moved into a "
                        "NOTE of the event, the payload now Y",
               quoted(value));
    return true;
}

Change decide_alias(const Node& alias, const Place& place, Pass& /*pass*/, Decision& decision) {
    std::string value = alias.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    if (trimmed.empty() || is_valid_xref(trimmed) || !defines_under(place.parent_row, "NAME") ||
        alias.first("TYPE"))
        return Change::None;
    return keep(decision, Change::AddsLines, std::move(value));
}

// 5.5.1's ALIA holding a name rather than a pointer: a NAME of the
// individual, with TYPE AKA.
bool alias_name_to_7(Node& alias, Decision& decision, const Place& /*place*/, Pass& pass) {
    alias.set_tag("NAME");
    alias.push(Node::with_value("TYPE", "AKA"));
    pass.tally("ALIA", NoteKind::Converted,
               "alias(es) holding a name rather than a pointer, now a NAME with TYPE AKA",
               quoted(decision.text));
    return true;
}

namespace {

// A SEX's letter and the text after it, trimmed.
std::pair<std::string_view, std::string_view> letter_and_rest(std::string_view value) noexcept {
    const std::string_view text = unicode::trim_start(value);
    const std::size_t end = std::min(text.find_first_of(" \t\n"), text.size());
    return {text.substr(0, end), unicode::trim(text.substr(end))};
}

// Whether a SEX may hold text beyond its letter, told without reading its
// logical value: continuation lines, or white space after the letter.
bool may_hold_more_than_a_letter(const Node& sex) noexcept {
    const NodeList& lines = sex.children();
    if (std::any_of(lines.begin(), lines.end(),
                    [](const Node& line) { return is_continuation_tag(line.tag()); }))
        return true;
    const std::string_view text = unicode::trim_start(sex.value().value_or(""));
    return text.find_first_of(" \t\n") != std::string_view::npos;
}

}  // namespace

// A SEX with text beyond a letter of version 7's enumeration.
Change decide_sex_letter(const Node& sex, const Place& place, Pass& /*pass*/, Decision& decision) {
    std::string value = sex.logical_value();
    const auto [letter, rest] = letter_and_rest(value);
    if (rest.empty() || !enumerated_spelling(letter, place.facts->values)) return Change::None;
    std::string kept(letter);
    return keep(decision, Change::Rewrites, std::move(value), std::move(kept));
}

bool sex_letter_to_7(Node& sex, Decision& decision, const Place& /*place*/, Pass& pass) {
    sex.set_logical_value(*decision.value);
    pass.tally("SEX", NoteKind::Converted,
               "sex value(s) with text beyond the letter, which version 7 cannot hold: the "
               "letter kept, the rest moved into a NOTE of the individual",
               quoted(decision.text));
    return true;
}

Change decide_sex_texts(const Node& individual, const Place& /*place*/, Pass& /*pass*/,
                        Decision& /*decision*/) {
    const NodeList& children = individual.children();
    const bool some = std::any_of(children.begin(), children.end(), [](const Node& child) {
        return tag_is(child.tag(), "SEX") && may_hold_more_than_a_letter(child);
    });
    return some ? Change::Rewrites : Change::None;
}

// An individual's SEX followed by more text (on its line or continuation
// lines) keeps its letter, and the rest moves into a NOTE of the individual
// placed right after it. The letter's own spelling is the enumeration
// rule's, when the walk reaches the SEX.
bool sex_texts_to_7(Node& individual, Decision& /*decision*/, const Place& place, Pass& pass) {
    static const Rule& letter = part_rule("SEX");
    const std::uint32_t sex_row = v7table::child_row(place.row, "SEX");
    if (sex_row == v7table::no_row) return false;
    Place at_sex = below(place, 1);
    at_sex.row = sex_row;
    at_sex.facts = &facts_of(sex_row);
    NodeList& children = individual.children_mut();
    bool changed = false;
    for (std::size_t index = 0; index < children.size(); ++index) {
        Node& sex = children[index];
        if (!tag_is(sex.tag(), "SEX") || !may_hold_more_than_a_letter(sex)) continue;
        const std::string value = sex.logical_value();
        if (!run_part(letter, sex, at_sex, pass)) continue;
        Node note = Node::make("NOTE");
        note.set_logical_value(escaped_phrase(letter_and_rest(value).second));
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(++index), std::move(note));
        changed = true;
    }
    return changed;
}

Change decide_empty_payload(const Node& node, const Place& /*place*/, Pass& /*pass*/,
                            Decision& /*decision*/) {
    const auto value = node.value();
    return value && value->empty() ? Change::Rewrites : Change::None;
}

// An empty payload is written without the space before it.
bool empty_payload_to_7(Node& node, Decision& /*decision*/, const Place& /*place*/, Pass& pass) {
    node.set_value(std::nullopt);
    pass.tally(node.tag(), NoteKind::Converted,
               "empty payload(s) written without the trailing space version 7 does not allow");
    return true;
}

}  // namespace to7
}  // namespace lignor
