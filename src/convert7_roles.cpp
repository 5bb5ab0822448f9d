// Roles in version 7's form: the enumerated role, with words that are not
// one kept as a PHRASE; an association's RELA as a ROLE.
#include <algorithm>
#include <string>

#include "ascii.hpp"
#include "convert7_rules.hpp"
#include "unicode.hpp"

namespace lignor::to7 {
namespace {
#include "gedcom7_tables.inc"

// The words of a role: the trimmed text, without the parentheses of 5.5.1's
// role descriptor "(Godfather)".
std::string_view words_of_role(std::string_view trimmed) noexcept {
    if (trimmed.size() > 1 && trimmed.front() == '(' && trimmed.back() == ')') {
        return trimmed.substr(1, trimmed.size() - 2);
    }
    return trimmed;
}

// A ROLE (or an association's RELA) as version 7's enumerated role, with
// words that are not one kept as a PHRASE.
bool role_to_7(Node& role, std::size_t depth, Pass& pass) {
    const bool relation = tag_is(role.tag(), "RELA");
    const std::string_view note_tag = relation ? "ASSO.RELA" : "ROLE";
    const std::string value = role.logical_value();
    const std::string_view trimmed = unicode::trim(value);
    const std::string upper = ascii::upper_copy(trimmed);
    if (!relation && std::binary_search(role_values.begin(), role_values.end(), upper)) {
        if (upper == value || continuation_blocks(role, note_tag, role.tag(), pass)) return false;
        role.set_logical_value(upper);
        pass.note(note_tag, NoteKind::Converted,
                  "the role " + quoted(value) + " is version 7's enumerated value " + upper);
        return true;
    }
    const std::string_view words = words_of_role(trimmed);
    if (continuation_blocks(role, note_tag, role.tag(), pass)) return false;
    if (words.empty()) {
        pass.note(note_tag, NoteKind::Kept,
                  "an empty role has no version 7 reading; it is left as it is");
        return false;
    }
    if (!may_gain_substructure(depth)) return kept_at_depth_limit(role, note_tag, pass);
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

}  // namespace

bool roles_to_7(Node& holder, std::size_t depth, Pass& pass) {
    const bool association = tag_is(holder.tag(), "ASSO");
    bool changed = false;
    for (Node& child : holder.children_mut()) {
        if (tag_is(child.tag(), "ROLE") || (association && tag_is(child.tag(), "RELA"))) {
            changed = role_to_7(child, depth + 1, pass) || changed;
        }
    }
    return changed;
}

}  // namespace lignor::to7
