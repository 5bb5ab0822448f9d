// Values in version 7's form, as the standard's table types each payload:
// enumerated values in its spelling, ages with units, text on a Y-or-empty
// event or after a SEX letter moved into a NOTE, an ALIA holding a name as a
// NAME, an empty payload without its trailing space; and the tags version 7
// names otherwise (_UID, pointers to note records).
#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "ascii.hpp"
#include "convert7_rules.hpp"
#include "unicode.hpp"

namespace lignor {
namespace to7 {

// A structure at the reader's deepest level that a rule would give a new
// substructure: left as written, and counted for the record's Kept note.
bool kept_at_depth_limit(const Node& node, std::string_view note_tag, Pass& pass) {
    pass.tally(note_tag, NoteKind::Kept,
               "structure(s) at the deepest level the reader accepts, beneath which the PHRASE, "
               "NOTE or TYPE that version 7's form needs cannot be written, left as written",
               quoted(node.logical_value()));
    return false;
}

// A PHRASE's text as version 7 writes a payload: a leading @ doubled.
std::string escaped_phrase(std::string_view text) {
    std::string phrase(text);
    if (phrase.starts_with('@')) phrase.insert(0, 1, '@');
    return phrase;
}

bool uid_to_7(Node& node, Pass& pass) {
    node.set_tag("UID");
    pass.note("_UID", NoteKind::Converted,
              "version 7 defines UID, so the extension is no longer needed");
    return true;
}

bool points_to_note_record(const Node& note, const NoteRecordIds& note_records) {
    const auto payload = note.value();
    return payload && is_valid_xref(*payload) && note_records.contains(*payload);
}

bool note_pointer_to_7(Node& note, const NoteRecordIds& note_records, Pass& pass) {
    if (!points_to_note_record(note, note_records)) return false;
    note.set_tag("SNOTE");
    pass.note("NOTE", NoteKind::Converted,
              "a pointer to a note record is a shared note pointer in version 7");
    return true;
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

}  // namespace

// An enumerated value in version 7's spelling; a value outside the
// enumeration becomes OTHER with the original as a PHRASE where the
// structure has both, and is left as written elsewhere.
bool enumeration_to_7(Node& node, const v7table::TypeFacts& facts, bool phrase_allowed,
                      std::size_t depth, std::string_view note_tag, Pass& pass) {
    const std::string value = node.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    if (trimmed.empty() || trimmed.starts_with('_')) return false;
    const std::optional<std::string> spelled = facts.payload == v7table::Payload::EnumerationList
                                                   ? enumerated_list(trimmed, facts.values)
                                                   : enumerated_spelling(trimmed, facts.values);
    if (spelled == value) return false;
    const bool other = !spelled && phrase_allowed && in_values(facts.values, "OTHER");
    if ((!spelled && !other) || continuation_blocks(node, note_tag, node.tag(), pass)) return false;
    if (spelled) {
        node.set_logical_value(*spelled);
        pass.tally(note_tag, NoteKind::Converted, "value(s) in version 7's enumerated spelling",
                   quoted(value) + " as " + *spelled);
        return true;
    }
    if (!may_gain_substructure(depth)) return kept_at_depth_limit(node, note_tag, pass);
    if (node.first("PHRASE")) {
        pass.tally(note_tag, NoteKind::Kept,
                   "value(s) outside version 7's enumeration, left as written because a PHRASE "
                   "is already there to keep the original in",
                   quoted(value));
        return false;
    }
    node.set_logical_value("OTHER");
    append_phrase(node, escaped_phrase(trimmed));
    pass.tally(note_tag, NoteKind::Converted,
               "value(s) outside version 7's enumeration, now OTHER with the original kept as a "
               "PHRASE",
               quoted(value));
    return true;
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

// 5.5.1's age words and the version 7 age each means.
constexpr std::array<std::pair<std::string_view, std::string_view>, 3> age_words = {{
    {"CHILD", "< 8y"},
    {"INFANT", "< 1y"},
    {"STILLBORN", "0y"},
}};

}  // namespace

// An AGE in version 7's grammar: units added or respelled; 5.5.1's words
// as the age they mean, the word kept as a PHRASE.
bool age_to_7(Node& age, const Place& place, Pass& pass) {
    const std::string value = age.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    if (trimmed.empty()) return false;
    if (const std::optional<std::string> written = age_in_7(trimmed)) {
        if (*written == value || continuation_blocks(age, "AGE", "AGE", pass)) return false;
        age.set_logical_value(*written);
        pass.tally("AGE", NoteKind::Converted, "age(s) written with version 7's units",
                   quoted(value) + " as " + quoted(*written));
        return true;
    }
    const auto word = std::find_if(age_words.begin(), age_words.end(), [&](const auto& entry) {
        return ascii::iequals(trimmed, entry.first);
    });
    if (word == age_words.end() || !defines_under(place.row, "PHRASE") ||
        continuation_blocks(age, "AGE", "AGE", pass))
        return false;
    if (!may_gain_substructure(place.depth)) return kept_at_depth_limit(age, "AGE", pass);
    if (age.first("PHRASE")) return false;
    age.set_logical_value(word->second);
    append_phrase(age, trimmed);
    pass.tally("AGE", NoteKind::Converted,
               "age(s) in 5.5.1's words, now the age version 7 writes for them with the word "
               "kept as a PHRASE",
               quoted(value) + " as " + quoted(word->second));
    return true;
}

// An event whose payload version 7 allows only as "Y" or empty: other text
// moves into a NOTE of the event. The payload becomes Y, which the text
// asserted by being there, except for "N" and "NO", which deny the event:
// those leave the payload empty, asserting nothing.
bool event_payload_to_7(Node& event, const Place& place, Pass& pass) {
    const std::string value = event.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    if (value.empty() || value == "Y") return false;
    const std::string_view tag = event.tag();
    if (continuation_blocks(event, tag, "event", pass)) return false;
    if (ascii::iequals(trimmed, "Y")) {
        event.set_logical_value("Y");
        pass.tally(tag, NoteKind::Converted, "event payload(s) meaning yes, written as Y",
                   quoted(value));
        return true;
    }
    if (!defines_under(place.row, "NOTE")) return false;
    if (!may_gain_substructure(place.depth)) return kept_at_depth_limit(event, tag, pass);
    const bool denies = ascii::iequals(trimmed, "N") || ascii::iequals(trimmed, "NO");
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

// 5.5.1's ALIA holding a name rather than a pointer: a NAME of the
// individual, with TYPE AKA.
bool alias_name_to_7(Node& alias, const Place& place, Pass& pass) {
    const std::string value = alias.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    if (trimmed.empty() || is_valid_xref(trimmed) || !defines_under(place.parent_row, "NAME") ||
        alias.first("TYPE") || continuation_blocks(alias, "ALIA", "ALIA", pass))
        return false;
    if (!may_gain_substructure(place.depth)) return kept_at_depth_limit(alias, "ALIA", pass);
    alias.set_tag("NAME");
    alias.push(Node::with_value("TYPE", "AKA"));
    pass.tally("ALIA", NoteKind::Converted,
               "alias(es) holding a name rather than a pointer, now a NAME with TYPE AKA",
               quoted(value));
    return true;
}

// An individual's SEX followed by more text (on its line or continuation
// lines) keeps its letter, and the rest moves into a NOTE of the individual
// placed right after it. The letter's own spelling is the enumeration
// rule's, when the walk reaches the SEX.
bool sex_texts_to_7(Node& individual, std::uint32_t row, Pass& pass) {
    const std::uint32_t sex_row = v7table::child_row(row, "SEX");
    if (sex_row == v7table::no_row) return false;
    const auto letters = facts_of(sex_row).values;
    NodeList& children = individual.children_mut();
    bool changed = false;
    for (std::size_t index = 0; index < children.size(); ++index) {
        Node& sex = children[index];
        if (!tag_is(sex.tag(), "SEX")) continue;
        const std::string value = sex.logical_value();
        const std::string_view text = unicode::trim_start(value);
        const std::size_t end = std::min(text.find_first_of(" \t\n"), text.size());
        const std::string_view letter = text.substr(0, end);
        const std::string_view rest = unicode::trim(text.substr(end));
        if (rest.empty() || !enumerated_spelling(letter, letters) ||
            continuation_blocks(sex, "SEX", "SEX", pass))
            continue;
        const std::string note_text = escaped_phrase(rest);
        sex.set_logical_value(letter);
        Node note = Node::make("NOTE");
        note.set_logical_value(note_text);
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(++index), std::move(note));
        pass.tally("SEX", NoteKind::Converted,
                   "sex value(s) with text beyond the letter, which version 7 cannot hold: the "
                   "letter kept, the rest moved into a NOTE of the individual",
                   quoted(value));
        changed = true;
    }
    return changed;
}

bool has_empty_payload(const Node& node) noexcept {
    const auto value = node.value();
    return value && value->empty();
}

// An empty payload is written without the space before it.
bool empty_payload_to_7(Node& node, Pass& pass) {
    if (!has_empty_payload(node)) return false;
    node.set_value(std::nullopt);
    pass.tally(node.tag(), NoteKind::Converted,
               "empty payload(s) written without the trailing space version 7 does not allow");
    return true;
}

}  // namespace to7

NoteRecordIds::NoteRecordIds(std::span<const Node> records) {
    for (const Node& record : records) {
        if (tag_is(record.tag(), "NOTE") && record.xref())
            keys_.push_back(xref_key(*record.xref()));
    }
    std::sort(keys_.begin(), keys_.end());
}

bool NoteRecordIds::contains(std::string_view pointer) const {
    return std::binary_search(keys_.begin(), keys_.end(), xref_key(pointer));
}

}  // namespace lignor
