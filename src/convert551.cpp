// The conversion to GEDCOM 5.5.1: the rules that rewrite each structure into
// 5.5.1's form (UID, shared note pointers, dated phrases, roles, structures
// only version 7 defines) and the record-level driver (header, note records,
// the long-line check).
#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <utility>

#include "ascii.hpp"
#include "convert_pass.hpp"
#include "dates.hpp"
#include "decode.hpp"
#include "error.hpp"
#include "queries.hpp"
#include "unicode.hpp"
#include "v7grammar.hpp"
#include "wrap.hpp"

namespace lignor {
namespace {

constexpr std::string_view version_551 = "5.5.1";
// 5.5.1's line limit, terminator included.
constexpr std::size_t line_limit_551 = 255;

// ---- structures in 5.5.1's form ----

// Whether `node` has a substructure other than its continuation lines.
bool has_other_substructure(const Node& node) noexcept {
    return std::any_of(node.children().begin(), node.children().end(),
                       [](const Node& child) { return !is_continuation_tag(child.tag()); });
}

// Fits a structure this walk rewrote or retagged into 5.5.1's line limit;
// its substructures are not looked at.
void fit_551(Node& node, std::size_t level) {
    fit_node_inner(node, level, line_limit_551, false);
}

void uid_to_551(Node& node, Pass& pass) {
    node.set_tag("_UID");
    pass.note("UID", NoteKind::Converted,
              "5.5.1 has no UID, and every producer writes _UID instead");
}

bool shared_note_pointer_to_551(Node& node, Pass& pass) {
    const auto payload = node.value();
    if (!payload || !is_valid_xref(*payload)) return false;
    node.set_tag("NOTE");
    pass.note("SNOTE", NoteKind::Converted,
              "a shared note pointer is an ordinary note pointer in 5.5.1");
    return true;
}

// Whether `text` is a date of version 7 that names no calendar and no epoch:
// 5.5.1 reads it alike, so it stays as written ("5 MAY 0005" too).
bool is_in_both_grammars(std::string_view text) noexcept {
    const auto date = v7::read_date(text, v7table::Payload::Date);
    const auto plain = [](const v7::DatePart& part) {
        return part.calendar.empty() && part.epoch.empty();
    };
    return date && plain(date->first) && plain(date->second);
}

// Writes the DATE's text as `written`, its reading in 5.5.1's grammar.
void respell_date_551(Node& date, const std::string& text, const std::string& written,
                      std::size_t level, Pass& pass) {
    date.set_logical_value(written);
    pass.note("DATE", NoteKind::Converted,
              quoted(text) + " is written " + quoted(written) + " in 5.5.1's date grammar");
    fit_551(date, level);
}

// A DATE without a PHRASE in 5.5.1's grammar ("JULIAN 1700" as
// "@#DJULIAN@ 1700", "560 BCE" as "560 B.C."), when its reading loses nothing.
bool date_to_551(Node& date, std::size_t level, Pass& pass) {
    const std::string text = date.logical_value();
    if (unicode::trim(text).empty() || is_in_both_grammars(text)) return false;
    const GedcomDate parsed = GedcomDate::parse(text);
    const std::optional<std::string> written =
        is_complete_reading(parsed) ? parsed.to_gedcom_551() : std::nullopt;
    if (!written && v7::read_date(text, v7table::Payload::Date)) {
        pass.note("DATE", NoteKind::Kept,
                  "5.5.1's date grammar has no form for the version 7 date " + quoted(text) +
                      "; it is left as written");
        return false;
    }
    if (!written || *written == text || continuation_blocks(date, "DATE", "DATE", pass))
        return false;
    respell_date_551(date, text, *written, level, pass);
    return true;
}

// Whether the words of a PHRASE are a date that 5.5.1 reads as the DATE's
// text `date` ("abt. 1279 (or 1338?)" under ABT 1279, "1224 (or '27)" under
// 1224), with more in them than that reading: then they are the DATE 5.5.1
// writes, which the conversion to version 7 reads back as the same DATE and
// PHRASE.
bool phrase_reads_as_date(std::string_view words, std::string_view date) {
    if (unicode::trim(date).empty() || has_line_break(words)) return false;
    const GedcomDate read = GedcomDate::parse(words);
    return read.kind != DateKind::Unparsed && !is_complete_reading(read) &&
           read.to_gedcom_7() == unicode::trim(date);
}

// A DATE with a PHRASE. One exact date (or none) and the phrase become
// 5.5.1's interpreted date "INT {date} ({phrase})" (or its date phrase
// "({phrase})"), the phrase's @@ escape undone. 5.5.1's INT takes no range,
// period or approximation: such a date is written in 5.5.1's grammar and its
// PHRASE stays beneath it as written, so that converting back to version 7
// gives the same DATE and PHRASE.
bool dated_phrase_to_551(Node& date, std::size_t level, Pass& pass) {
    const Node* phrase = date.first("PHRASE");
    if (!phrase) return date_to_551(date, level, pass);
    const std::string text = date.logical_value();
    const std::string words = phrase->logical_value();
    if (count_tagged(date, "PHRASE") > 1 || has_line_break(text) || has_line_break(words) ||
        has_other_substructure(*phrase) || continuation_has_children(phrase->children()) ||
        continuation_has_children(date.children())) {
        pass.note(
            "PHRASE", NoteKind::Kept,
            "5.5.1's interpreted date holds one line and nothing beneath it, and this date or "
            "phrase spans lines or has substructures; the PHRASE is kept as written, which "
            "5.5.1 does not define");
        return false;
    }
    const GedcomDate parsed = GedcomDate::parse(text);
    const std::string_view unescaped =
        words.starts_with("@@") ? std::string_view(words).substr(1) : std::string_view(words);
    if (phrase_reads_as_date(unescaped, text)) {
        remove_all(date, "PHRASE");
        date.set_logical_value(unescaped);
        pass.note("PHRASE", NoteKind::Converted,
                  "5.5.1 reads the PHRASE " + quoted(unescaped) + " as the date " + quoted(text) +
                      " itself, so it is the DATE's text");
        fit_551(date, level);
        return true;
    }
    if (const auto interpreted = to_interpreted_551(parsed, unescaped)) {
        remove_all(date, "PHRASE");
        date.set_logical_value(*interpreted);
        pass.note("PHRASE", NoteKind::Converted,
                  unicode::trim(text).empty()
                      ? "a PHRASE without a date became 5.5.1's date phrase " + quoted(*interpreted)
                      : "the date " + quoted(text) + " with its PHRASE became 5.5.1's " +
                            "interpreted date " + quoted(*interpreted));
        // The phrase may be long; 5.5.1 carries the rest of the line on CONC lines.
        fit_551(date, level);
        return true;
    }
    const std::optional<std::string> written =
        is_complete_reading(parsed) ? parsed.to_gedcom_551() : std::nullopt;
    bool changed = false;
    if (written && *written != text) {
        respell_date_551(date, text, *written, level, pass);
        changed = true;
    }
    pass.note("PHRASE", NoteKind::Kept,
              written ? "5.5.1's INT takes one exact date, and " + quoted(*written) +
                            " is not one: the DATE is kept in 5.5.1's grammar, and its PHRASE "
                            "stays beneath it as written, which 5.5.1 does not define"
                      : "5.5.1's grammar cannot hold the date " + quoted(text) +
                            " as it is; the DATE and its PHRASE are left as written, which 5.5.1 "
                            "does not define");
    return changed;
}

// The roles 5.5.1 itself enumerates for an event.
constexpr std::array<std::string_view, 6> event_roles_551 = {"CHIL", "HUSB", "WIFE",
                                                             "MOTH", "FATH", "SPOU"};

// 5.5.1's words for a version 7 role; any other role text as written, so
// that its letter case survives.
std::string role_words_of(std::string_view upper, std::string_view trimmed) {
    return std::string(words_of_role_value(upper).value_or(trimmed));
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
              continuation_has_children(phrase->children()) || has_line_break(words) ||
              unicode::trim(words).empty();
    if (refused) return std::nullopt;
    return words;
}

// A ROLE under EVEN (a parenthesized descriptor) or ASSO (a RELA in words),
// the holder at `level`.
bool role_to_551(Node& role, bool association, std::size_t level, Pass& pass) {
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

bool roles_to_551(Node& holder, std::size_t level, Pass& pass) {
    const bool association = holder.tag() == "ASSO";
    bool changed = false;
    for (Node& child : holder.children_mut()) {
        if (child.tag() == "ROLE")
            changed = role_to_551(child, association, level, pass) || changed;
    }
    return changed;
}

// ---- file paths ----

// Whether `reference` begins with a scheme of two or more characters
// ("https:", "file:"): a URI, which 5.5.1 holds as it is. A drive letter
// ("c:") is no scheme.
bool has_scheme(std::string_view reference) noexcept {
    const std::size_t colon = reference.find(':');
    if (colon == std::string_view::npos || colon < 2 ||
        !(ascii::is_upper(reference[0]) || ascii::is_lower(reference[0])))
        return false;
    return std::all_of(
        reference.begin() + 1, reference.begin() + static_cast<std::ptrdiff_t>(colon),
        [](char c) { return ascii::is_alnum(c) || c == '+' || c == '-' || c == '.'; });
}

// The value of an upper-case hexadecimal digit (as uri_reference writes
// them), or -1.
int upper_hex(char c) noexcept {
    if (ascii::is_digit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The 5.5.1 file path that version 7's percent-encoding (uri_reference)
// made `reference`: each escape of a printable byte that the encoding writes
// as an escape is undone. None when nothing is to be undone, or when the
// path would not encode back to `reference` exactly or is not UTF-8: then
// the reference is no such encoding, and stays.
std::optional<std::string> decoded_file_path(std::string_view reference) {
    if (reference.find('%') == std::string_view::npos || has_scheme(reference)) return std::nullopt;
    std::string path;
    path.reserve(reference.size());
    for (std::size_t pos = 0; pos < reference.size(); ++pos) {
        const int high = pos + 2 < reference.size() ? upper_hex(reference[pos + 1]) : -1;
        const int low = high < 0 ? -1 : upper_hex(reference[pos + 2]);
        const auto byte = static_cast<char>(high * 16 + low);
        if (reference[pos] == '%' && low >= 0 && static_cast<unsigned char>(byte) >= 0x20 &&
            byte != 0x7F && !is_uri_character(byte)) {
            path.push_back(byte);
            pos += 2;
        } else {
            path.push_back(reference[pos]);
        }
    }
    if (path == reference || !is_valid_utf8(path) || uri_reference(path) != reference)
        return std::nullopt;
    return path;
}

// The files of a multimedia object with their paths as 5.5.1 writes them.
bool file_paths_to_551(Node& object, std::size_t level, Pass& pass) {
    bool changed = false;
    for (Node& file : object.children_mut()) {
        if (file.tag() != "FILE") continue;
        const std::string reference = file.logical_value();
        const std::optional<std::string> path = decoded_file_path(reference);
        if (!path || continuation_blocks(file, "FILE", "file path", pass)) continue;
        file.set_logical_value(*path);
        pass.note("FILE", NoteKind::Converted,
                  quoted(reference) +
                      " is a file path percent-encoded as version 7 requires; 5.5.1 holds the "
                      "path itself, " +
                      quoted(*path));
        fit_551(file, level + 1);
        changed = true;
    }
    return changed;
}

// ---- values in 5.5.1's words ----

// An AGE version 7 wrote for one of 5.5.1's age words, with the word as its
// only PHRASE ("< 8y" with PHRASE Child): the word again, as written.
bool age_to_551(Rewritable& structure, Pass& pass) {
    const Node& age = structure.get();
    const Node* phrase = age.first("PHRASE");
    if (!phrase || count_tagged(age, "PHRASE") != 1 || has_other_substructure(*phrase) ||
        continuation_has_children(age.children()))
        return false;
    const std::string words = phrase->logical_value();
    const std::string_view word = unicode::trim(words);
    const AgeWord* meaning = age_word(word);
    const std::string value = age.logical_value();
    if (!meaning || unicode::trim(value) != meaning->age) return false;
    Node& node = structure.mut();
    remove_all(node, "PHRASE");
    node.set_logical_value(word);
    pass.tally("AGE", NoteKind::Converted,
               "age(s) with 5.5.1's word as their PHRASE, the word again",
               quoted(value) + " as " + quoted(word));
    return true;
}

// The structure types whose enumerations 5.5.1 spells in lower case
// ("aka", "adopted", "book", "locked"), by tag: TYPE only under NAME.
std::optional<std::string_view> lower_case_enumeration(std::string_view tag) noexcept {
    for (const std::string_view type : {"PEDI", "MEDI", "RESN"})
        if (tag == type) return type;
    return std::nullopt;
}

// An enumerated value in 5.5.1's spelling: each of version 7's values in
// lower case, and OTHER with a PHRASE as the PHRASE's words, which 5.5.1
// takes as a value of its own (the PHRASE of any other value stays). None
// when nothing changes.
std::optional<std::string> enumeration_in_551(const Node& node, std::string_view type) {
    const std::string value = node.logical_value();
    const Node* phrase = node.first("PHRASE");
    if (value == "OTHER" && phrase && count_tagged(node, "PHRASE") == 1 &&
        !has_other_substructure(*phrase)) {
        std::string words = phrase->logical_value();
        if (!unicode::trim(words).empty() && !has_line_break(words)) return words;
    }
    const std::uint16_t type_number = v7table::type_named(type);
    if (type_number == v7table::no_type) return std::nullopt;
    const std::span<const std::string_view> values = v7table::types()[type_number].values;
    std::string spelled;
    const bool all_known = v7::for_each_list_item(value, [&](std::string_view item) {
        if (!std::ranges::binary_search(values, item) || item == "OTHER") return false;
        if (!spelled.empty()) spelled += ", ";
        spelled += ascii::lower_copy(item);
        return true;
    });
    if (!all_known || spelled == value) return std::nullopt;
    return spelled;
}

bool enumeration_to_551(Rewritable& structure, std::string_view type, Pass& pass) {
    const std::optional<std::string> spelled = enumeration_in_551(structure.get(), type);
    if (!spelled || continuation_has_children(structure.get().children())) return false;
    Node& node = structure.mut();
    const std::string value = node.logical_value();
    if (value == "OTHER") remove_all(node, "PHRASE");
    node.set_logical_value(*spelled);
    pass.tally(node.tag(), NoteKind::Converted, "enumerated value(s) in 5.5.1's own spelling",
               quoted(value) + " as " + quoted(*spelled));
    return true;
}

// A NAME's TYPE, whose enumeration 5.5.1 spells in lower case.
bool name_type_to_551(Rewritable& structure, Pass& pass) {
    bool changed = false;
    const NodeList& children = structure.get().children();
    for (std::size_t at = 0; at < children.size(); ++at) {
        if (children[at].tag() != "TYPE") continue;
        const std::optional<std::string> spelled = enumeration_in_551(children[at], "NAME-TYPE");
        if (!spelled || continuation_has_children(children[at].children())) continue;
        Node& type = structure.mut().children_mut()[at];
        const std::string value = type.logical_value();
        if (value == "OTHER") remove_all(type, "PHRASE");
        type.set_logical_value(*spelled);
        pass.tally("TYPE", NoteKind::Converted, "enumerated value(s) in 5.5.1's own spelling",
                   quoted(value) + " as " + quoted(*spelled));
        changed = true;
    }
    return changed;
}

// Version 7's NO of an event with nothing to date it: 5.5.1's way of
// denying it, the event with the payload N ("NO DIV" is "DIV N"), which
// the conversion to version 7 reads back as NO. A dated NO (not between
// these dates) has no 5.5.1 form and is kept.
bool denial_to_551(Rewritable& structure, Pass& pass) {
    const Node& no = structure.get();
    const std::string event = no.logical_value();
    if (!v7::is_standard_tag(event) || no.first("DATE") ||
        continuation_has_children(no.children())) {
        pass.note("NO", NoteKind::Kept,
                  "version 7 defines this and 5.5.1 does not; it is kept rather than lost");
        return false;
    }
    Node& node = structure.mut();
    node.set_tag(event);
    node.set_logical_value("N");
    pass.tally("NO", NoteKind::Converted,
               "denied event(s) written as 5.5.1 denies them, the event with the payload N",
               quoted("NO " + event) + " as " + quoted(event + " N"));
    return true;
}

bool is_version_7_only(std::string_view tag) noexcept {
    return tag == "TRAN" || tag == "CREA" || tag == "EXID" || tag == "SDATE";
}

// ---- the driver ----

void header_to_551(Node& header, Pass& pass) {
    Node& gedc = declare_version(header, version_551, "5.5.1", pass);
    if (!gedc.first("FORM")) gedc.push(Node::with_value("FORM", "LINEAGE-LINKED"));
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

// The record's lines longer than 5.5.1's 255 bytes, and the tag of the first.
std::pair<std::size_t, std::string> long_lines(const Node& record) {
    std::size_t count = 0;
    std::string first_tag;
    walk(record, [&](const Node& node, std::span<const std::size_t> path) {
        if (line_length(node, path.size()) + 1 <= line_limit_551) return;
        if (count++ == 0) first_tag = node.tag();
    });
    return {count, first_tag};
}

// Splits the record's lines longer than 5.5.1's 255 bytes across CONC lines,
// as Document::wrap_long_lines does, and names those that stay long and why.
void fit_long_lines(Node& record, std::size_t max_depth, Pass& pass) {
    const auto [count, first_tag] = long_lines(record);
    if (count == 0) return;
    fit_node_inner(record, 0, line_limit_551, true, max_depth);
    const auto [left, left_tag] = long_lines(record);
    if (left < count) {
        pass.note(first_tag, NoteKind::Converted,
                  std::to_string(count - left) +
                      " line(s) longer than 5.5.1's 255 bytes split across CONC lines, which "
                      "read as the text they continue");
    }
    if (left == 0) return;
    // What stays long, and why: the report of the record as it now stands.
    std::vector<std::string> reasons;
    for (const WrappedLine& line : long_line_report(record, line_limit_551)) {
        if (!line.wrapped &&
            std::find(reasons.begin(), reasons.end(), line.reason) == reasons.end())
            reasons.push_back(line.reason);
    }
    std::string detail = std::to_string(left) +
                         " line(s) in this record stay longer than 5.5.1's 255 bytes, which no "
                         "CONC line can split:";
    for (std::size_t i = 0; i < reasons.size(); ++i) detail += (i ? "; " : " ") + reasons[i];
    pass.note(left_tag, NoteKind::Kept, detail);
}

// One structure's own rewrites, the structure at `level`; only a structure
// some rule applies to is copied. A retagged structure is fitted at once:
// fitting touches only its own segments, which nothing beneath it changes.
bool structure_to_551(Rewritable& structure, std::size_t level, Pass& pass) {
    const std::string_view tag = structure.get().tag();
    if (tag == "UID") {
        Node& node = structure.mut();
        uid_to_551(node, pass);
        fit_551(node, level);
        return true;
    }
    if (tag == "SNOTE") {
        Node& node = structure.mut();
        if (!shared_note_pointer_to_551(node, pass)) return false;
        fit_551(node, level);
        return true;
    }
    if (tag == "DATE") return dated_phrase_to_551(structure.mut(), level, pass);
    if (tag == "EVEN" || tag == "ASSO") return roles_to_551(structure.mut(), level, pass);
    if (tag == "OBJE") return file_paths_to_551(structure.mut(), level, pass);
    if (tag == "AGE") return age_to_551(structure, pass);
    if (tag == "NAME") return name_type_to_551(structure, pass);
    if (tag == "NO") return denial_to_551(structure, pass);
    if (const auto type = lower_case_enumeration(tag))
        return enumeration_to_551(structure, *type, pass);
    if (is_version_7_only(tag)) {
        pass.note(tag, NoteKind::Kept,
                  "version 7 defines this and 5.5.1 does not; it is kept rather than lost");
    }
    return false;
}

void record_to_551(Node& record, bool is_header, std::size_t max_depth, Pass& pass) {
    if (is_header) header_to_551(record, pass);
    const bool shared_note = record.tag() == "SNOTE";
    if (shared_note) {
        record.set_tag("NOTE");  // drops the line's verbatim text
        pass.note("SNOTE", NoteKind::Converted, "5.5.1 has one kind of note record");
    }
    structures_to_551_node(record, pass);
    // A version 7 shared note may hold its text on one long line.
    if (shared_note) fit_551(record, 0);
    fit_long_lines(record, max_depth, pass);
    pass.note_tallies();
}

}  // namespace

bool structures_to_551_node(Node& record, Pass& pass) {
    return rewrite_structures(
        record,
        [&](Rewritable& node, std::span<const std::size_t> path) {
            return structure_to_551(node, path.size(), pass);
        },
        [](const Node&, std::span<const std::size_t>) {});
}

Conversion to_version_551(const Document& document) {
    // Lines are split no deeper than the document's own bounds allow.
    const std::size_t max_depth = document.limits().max_depth;
    Conversion conversion =
        convert_records(document, version_551, [&](Node& record, bool is_header, Pass& pass) {
            record_to_551(record, is_header, max_depth, pass);
        });
    Pass records;
    settle_trailer(conversion.document, "5.5.1", records);
    std::move(records.notes.begin(), records.notes.end(), std::back_inserter(conversion.notes));
    return conversion;
}

}  // namespace lignor
