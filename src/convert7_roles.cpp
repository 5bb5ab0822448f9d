// Roles in version 7's form: the enumerated role, with words that are not
// one kept as a PHRASE; an association's RELA as a ROLE.
#include <algorithm>
#include <string>

#include "ascii.hpp"
#include "convert7_rules.hpp"
#include "unicode.hpp"
#include "v7grammar.hpp"

namespace lignor::to7 {
namespace {

// The words of a role: the trimmed text, without the parentheses of 5.5.1's
// role descriptor "(Godfather)".
std::string_view words_of_role(std::string_view trimmed) noexcept {
    if (trimmed.size() > 1 && trimmed.front() == '(' && trimmed.back() == ')') {
        return trimmed.substr(1, trimmed.size() - 2);
    }
    return trimmed;
}

bool is_relation(const Node& role) noexcept {
    return tag_is(role.tag(), "RELA");
}

}  // namespace

// Whether a ROLE (or an association's RELA) needs rewriting: an enumerated
// role spelled otherwise (Rewrites, with the value), or words that are not
// one (AddsLines, for their PHRASE). An empty role is Rewrites, so that its
// guard and note come as for any other.
Change decide_role(const Node& role, const Place& /*place*/, Pass& /*pass*/, Decision& decision) {
    std::string value = role.logical_value();
    // An extension value (_CHILD) is version 7's as it stands.
    if (!is_relation(role) && v7::is_extension_tag(value)) return Change::None;
    const std::string_view trimmed = unicode::trim(value);
    std::string upper = ascii::upper_copy(trimmed);
    if (!is_relation(role) &&
        std::binary_search(v7table::role_values.begin(), v7table::role_values.end(), upper)) {
        if (upper == value) return Change::None;
        return keep(decision, Change::Rewrites, std::move(value), std::move(upper));
    }
    const bool empty = words_of_role(trimmed).empty();
    return keep(decision, empty ? Change::Rewrites : Change::AddsLines, std::move(value));
}

// A ROLE (or an association's RELA) as version 7's enumerated role, with
// words that are not one kept as a PHRASE.
bool role_to_7(Node& role, Decision& decision, const Place& /*place*/, Pass& pass) {
    const bool relation = is_relation(role);
    const std::string_view note_tag = relation ? "ASSO.RELA" : "ROLE";
    const std::string& value = decision.text;
    if (decision.value) {
        role.set_logical_value(*decision.value);
        pass.note(
            note_tag, NoteKind::Converted,
            "the role " + quoted(value) + " is version 7's enumerated value " + *decision.value);
        return true;
    }
    const std::string_view words = words_of_role(unicode::trim(value));
    if (words.empty()) {
        pass.note(note_tag, NoteKind::Kept,
                  "an empty role has no version 7 reading; it is left as it is");
        return false;
    }
    if (role.first("PHRASE")) {
        pass.note(note_tag, NoteKind::Kept,
                  "the role " + quoted(value) +
                      " is not version 7's enumeration, but it already has a PHRASE to keep the "
                      "words in; it is left as it is");
        return false;
    }
    const std::string_view target = role_of_words(words);
    // 5.5.1's own words for a value ("(Witness)", as the conversion to 5.5.1
    // writes WITN) say nothing a PHRASE would keep.
    if (!relation && words_of_role_value(target) == words) {
        role.set_logical_value(target);
        pass.note(note_tag, NoteKind::Converted,
                  "the role " + quoted(value) +
                      " is 5.5.1's words for version 7's enumerated value " + std::string(target));
        return true;
    }
    if (relation) role.set_tag("ROLE");
    role.set_logical_value(target);
    append_phrase(role, words);
    pass.note(note_tag, NoteKind::Converted,
              relation ? "an association's relation " + quoted(words) + " is version 7's ROLE " +
                             std::string(target) + ", with the words kept as a PHRASE"
                       : "the role " + quoted(value) + " became " + std::string(target) +
                             ", with the words kept as a PHRASE");
    return true;
}

namespace {

// The roles an EVEN or ASSO holds: its ROLE lines, and an association's RELA.
bool holds_role(const Node& holder, const Node& child) noexcept {
    return tag_is(child.tag(), "ROLE") || (tag_is(holder.tag(), "ASSO") && is_relation(child));
}

}  // namespace

Change decide_roles(const Node& holder, const Place& /*place*/, Pass& /*pass*/,
                    Decision& /*decision*/) {
    const NodeList& children = holder.children();
    const bool holds = std::any_of(children.begin(), children.end(),
                                   [&](const Node& child) { return holds_role(holder, child); });
    return holds ? Change::Rewrites : Change::None;
}

// Each role of an EVEN or ASSO through its part's row.
bool roles_to_7(Node& holder, Decision& /*decision*/, const Place& place, Pass& pass) {
    static const Rule& role = part_rule("ROLE");
    static const Rule& relation = part_rule("ASSO.RELA");
    bool changed = false;
    for (Node& child : holder.children_mut()) {
        if (!holds_role(holder, child)) continue;
        changed =
            run_part(is_relation(child) ? relation : role, child, below(place, 1), pass) || changed;
    }
    return changed;
}

}  // namespace lignor::to7
