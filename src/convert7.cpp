// The conversion to GEDCOM 7.0: the rules that rewrite each structure into
// version 7's form (CONC folding, UID, shared note pointers, dates, roles,
// multimedia objects), and the record-level driver (header, note records,
// the per-record notes, extension declarations).
#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ascii.hpp"
#include "convert_pass.hpp"
#include "dates.hpp"
#include "error.hpp"
#include "queries.hpp"
#include "schema.hpp"
#include "unicode.hpp"
#include "v7check.hpp"
#include "v7defs.hpp"

namespace lignor {
namespace {
#include "gedcom7_tables.inc"

// A structure at the reader's deepest level that a rule would give a new
// substructure: left as written, and counted for the record's Kept note.
bool kept_at_depth_limit(const Node& node, std::string_view note_tag, Pass& pass) {
    pass.tally(note_tag, NoteKind::Kept,
               "structure(s) at the deepest level the reader accepts, beneath which the PHRASE, "
               "NOTE or TYPE that version 7's form needs cannot be written, left as written",
               quoted(node.logical_value()));
    return false;
}

struct MediaType {
    std::string_view extension;
    std::string_view type;
};

constexpr std::array<MediaType, 20> media_types = {{
    {"jpg", "image/jpeg"},        {"jpeg", "image/jpeg"},     {"png", "image/png"},
    {"gif", "image/gif"},         {"bmp", "image/bmp"},       {"tif", "image/tiff"},
    {"tiff", "image/tiff"},       {"heic", "image/heic"},     {"webp", "image/webp"},
    {"svg", "image/svg+xml"},     {"pdf", "application/pdf"}, {"xml", "application/xml"},
    {"json", "application/json"}, {"txt", "text/plain"},      {"htm", "text/html"},
    {"html", "text/html"},        {"eml", "message/rfc822"},  {"wav", "audio/x-wav"},
    {"mp3", "audio/mpeg"},        {"mp4", "video/mp4"},
}};

constexpr bool is_hex_digit(char c) noexcept {
    return ascii::is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

constexpr std::string_view uri_marks = "-._~:/?#[]@!$&'()*+,;=";

bool is_percent_escape(std::string_view text, std::size_t pos) noexcept {
    return text[pos] == '%' && pos + 2 < text.size() && is_hex_digit(text[pos + 1]) &&
           is_hex_digit(text[pos + 2]);
}

bool enumeration_to_7(Node& node, const v7table::TypeFacts& facts, bool phrase_allowed,
                      std::size_t depth, std::string_view note_tag, Pass& pass);

// Moves the object's FORM (the first one; every one is removed) onto each
// FILE that has none of its own.
bool move_object_form(Node& object, std::size_t depth, Pass& pass) {
    const Node* form = object.first("FORM");
    if (!form) return false;
    if (!may_gain_substructure(depth + 1)) return kept_at_depth_limit(object, "OBJE.FORM", pass);
    Node moved = *form;
    forget_subtree_verbatim(moved);
    NodeList& children = object.children_mut();
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [](const Node& child) { return tag_is(child.tag(), "FORM"); }),
                   children.end());
    for (Node& file : children) {
        if (tag_is(file.tag(), "FILE") && !file.first("FORM")) file.push(moved);
    }
    pass.note("OBJE.FORM", NoteKind::Converted,
              "version 7 records a file's format on the file, not on the object");
    return true;
}

bool rewrite_file_path(Node& file, Pass& pass) {
    const std::string path = file.logical_value();
    const std::string encoded = uri_reference(path);
    if (encoded == path || continuation_blocks(file, "FILE", "file path", pass)) return false;
    file.set_logical_value(encoded);
    pass.note("FILE", NoteKind::Converted,
              quoted(path) +
                  " is not a URI reference, which version 7 requires of a file path; characters a "
                  "URI cannot hold were percent-encoded");
    return true;
}

bool rewrite_file_format(Node& form, Pass& pass) {
    const std::string format = form.logical_value();
    const std::string_view extension = unicode::trim(format);
    if (extension.empty() || extension.find('/') != std::string_view::npos) return false;
    if (continuation_blocks(form, "FILE.FORM", "format", pass)) return false;
    const auto type = media_type_of_extension(extension);
    if (!type) {
        pass.note("FILE.FORM", NoteKind::Kept,
                  quoted(extension) +
                      " has no known version 7 media type, so it is kept rather than guessed");
        return false;
    }
    form.set_logical_value(*type);
    pass.note(
        "FILE.FORM", NoteKind::Converted,
        "the file extension " + quoted(extension) + " became the media type " + quoted(*type));
    return true;
}

// A file's source medium: 5.5.1's TYPE named MEDI, its value in version 7's
// enumeration.
bool rewrite_medium(Node& node, std::size_t depth, Pass& pass) {
    bool changed = false;
    if (tag_is(node.tag(), "TYPE")) {
        node.set_tag("MEDI");
        pass.note("FORM.MEDI", NoteKind::Converted,
                  "5.5.1's source medium under FORM is TYPE; version 7 calls it MEDI");
        changed = true;
    } else if (!tag_is(node.tag(), "MEDI")) {
        return false;
    }
    static const v7table::TypeFacts& medium = v7table::types()[v7table::type_named("MEDI")];
    return enumeration_to_7(node, medium, true, depth, "FORM.MEDI", pass) || changed;
}

// ---- structures in version 7's form ----

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

bool has_conc_lines(const Node& node) noexcept {
    const NodeList& children = node.children();
    return std::any_of(children.begin(), children.end(),
                       [](const Node& c) { return tag_is(c.tag(), "CONC"); });
}

// Folds each segment's CONC lines into its head, except where folding would
// change what the text says or make a line the reader refuses.
bool fold_continuations(Node& node, Pass& pass) {
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

// A PHRASE's text as version 7 writes a payload: a leading @ doubled.
std::string escaped_phrase(std::string_view text) {
    std::string phrase(text);
    if (phrase.starts_with('@')) phrase.insert(0, 1, '@');
    return phrase;
}

void note_respelled(const std::string& text, const std::string& written, Pass& pass) {
    pass.note("DATE", NoteKind::Converted,
              quoted(text) + " is version 7's date " + quoted(written) +
                  " spelled otherwise; nothing of it is lost, so no PHRASE keeps the original");
}

// The logical value of `date` when it may need rewriting: not blank, and not
// already in version 7's grammar (an exact date where `exact_only`; most
// dates are told without reading them).
std::optional<std::string> date_text_to_rewrite(const Node& date, bool exact_only) {
    std::string text = date.logical_value();
    if (unicode::trim(text).empty()) return std::nullopt;
    if (exact_only ? is_exact_date_7(text) : is_plain_gedcom_7_date(text)) return std::nullopt;
    return text;
}

// A DATE that version 7 types as an exact date: one that is such a date but
// for white space and letter case is respelled; any other is left as written.
bool exact_date_to_7(Node& date, const std::string& text, Pass& pass) {
    const GedcomDate parsed = GedcomDate::parse(text);
    const std::optional<std::string> written = parsed.to_gedcom_7();
    if (written && is_exact_date_7(*written) && is_complete_reading(parsed)) {
        if (continuation_blocks(date, "DATE", "DATE", pass)) return false;
        date.set_logical_value(*written);
        note_respelled(text, *written, pass);
        return true;
    }
    pass.note("DATE", NoteKind::Kept,
              quoted(text) +
                  " is not version 7's exact date (day, month and year), the only form a DATE "
                  "takes here, where no PHRASE may keep the original; it is left as written, "
                  "so the output is not valid version 7");
    return false;
}

// 5.5.1's interpreted date "INT {date} ({phrase})" as the date in version 7's
// form with the phrase as its PHRASE, and 5.5.1's date phrase "({phrase})"
// as an empty DATE with the PHRASE; false for any other text.
bool interpreted_date_to_7(Node& date, const std::string& text, Pass& pass) {
    const std::optional<InterpretedDate> interpreted = read_interpreted_551(text);
    if (!interpreted || interpreted->phrase.empty()) return false;
    const std::optional<std::string> point =
        interpreted->date ? interpreted->date->to_gedcom_7() : std::string();
    if (!point) return false;
    date.set_logical_value(*point);
    append_phrase(date, escaped_phrase(interpreted->phrase));
    pass.note("DATE", NoteKind::Converted,
              interpreted->date
                  ? quoted(text) + " is 5.5.1's interpreted date: the date is kept as " +
                        quoted(*point) + ", and the words in its parentheses as a PHRASE"
                  : quoted(text) +
                        " is 5.5.1's date phrase: the DATE is left empty, and the words in its "
                        "parentheses are kept as a PHRASE");
    return true;
}

// A DATE in version 7's grammar. A text whose reading loses nothing is
// respelled; 5.5.1's interpreted date and date phrase keep their words as a
// PHRASE; any other text is kept whole as the PHRASE, beside the reading it
// converted to (or an empty DATE), so that nothing of it is lost.
//
// `text`: the DATE's logical value, as date_text_to_rewrite gives it.
bool date_to_7(Node& date, const std::string& text, bool exact_only, std::size_t depth,
               Pass& pass) {
    if (exact_only) return exact_date_to_7(date, text, pass);
    const GedcomDate parsed = GedcomDate::parse(text);
    const std::optional<std::string> written = parsed.to_gedcom_7();
    if (written == text || continuation_blocks(date, "DATE", "DATE", pass)) return false;
    if (written && is_complete_reading(parsed)) {
        date.set_logical_value(*written);
        note_respelled(text, *written, pass);
        return true;
    }
    if (!may_gain_substructure(depth)) return kept_at_depth_limit(date, "DATE", pass);
    if (date.first("PHRASE")) {
        pass.note("DATE", NoteKind::Kept,
                  quoted(text) +
                      " is not version 7's date grammar, but the DATE already has a PHRASE, so the "
                      "original cannot be kept beside a rewrite; it is left as it is");
        return false;
    }
    if (interpreted_date_to_7(date, text, pass)) return true;
    date.set_logical_value(written.value_or(""));
    append_phrase(date, escaped_phrase(text));
    pass.note("DATE", NoteKind::Converted,
              written ? quoted(text) +
                            " is not version 7's date grammar; the reading it converted to is kept "
                            "as the date, and the whole original as a PHRASE"
                      : "version 7's date grammar cannot hold " + quoted(text) +
                            "; the DATE is left empty and the whole original kept as a PHRASE");
    return true;
}

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

// ---- records for what 5.5.1 writes in place ----

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

// ---- values in version 7's form ----

// Where a structure stands while the walk rewrites it: its depth (0 for a
// record) and its row in the standard's table and its parent's (no_row
// where version 7 does not define it).
struct Place {
    std::size_t depth;
    std::uint32_t row;
    std::uint32_t parent_row;
    const v7table::TypeFacts* facts;  // of the row's structure type; null without a row
    bool in_header;                   // below the header, in whatever letter case
};

const v7table::TypeFacts& facts_of(std::uint32_t row) noexcept {
    return v7table::types()[v7table::rows()[row].type];
}

std::uint32_t individual_row() noexcept {
    static const std::uint32_t row = v7table::record_row("INDI");
    return row;
}

// Whether version 7 defines `tag` under a structure of row `row`.
bool defines_under(std::uint32_t row, std::string_view tag) noexcept {
    return row != v7table::no_row && v7table::child_row(row, tag) != v7table::no_row;
}

bool in_values(std::span<const std::string_view> values, std::string_view value) noexcept {
    return std::binary_search(values.begin(), values.end(), value);
}

// `word` as one of `values` spells it: upper case, and hyphens and spaces
// as underscores (5.5.1's PRE-1970); none when it is none of them.
std::optional<std::string> enumerated_spelling(std::string_view word,
                                               std::span<const std::string_view> values) {
    std::string spelled = ascii::upper_copy(word);
    if (in_values(values, spelled)) return spelled;
    std::replace_if(
        spelled.begin(), spelled.end(), [](char c) { return c == '-' || c == ' '; }, '_');
    if (in_values(values, spelled)) return spelled;
    return std::nullopt;
}

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

// A continuation line carrying its record's own identifier, which only a
// record may carry in version 7, loses it; any other identifier is kept.
bool repeated_identifiers_to_7(Node& node, Pass& pass) {
    if (!repeats_record_identifier(node, pass)) return false;
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

// ---- the driver ----

constexpr std::string_view version_7 = "7.0";

void header_to_7(Node& header, Pass& pass) {
    Node& gedc = declare_version(header, version_7, "version 7", pass);
    if (remove_all(gedc, "FORM")) {
        pass.note("GEDC.FORM", NoteKind::Dropped, "version 7 has one form and does not name it");
    }
    if (remove_all(header, "CHAR")) {
        pass.note("CHAR", NoteKind::Dropped,
                  "version 7 is always UTF-8, so a character set declaration says nothing");
    }
}

void note_record_to_7(Node& record, Pass& pass) {
    record.set_tag("SNOTE");  // drops the line's verbatim text
    pass.note("NOTE", NoteKind::Converted, "a note record is a shared note record in version 7");
}

// The one summary note of the CONC lines folded in the record just
// converted; resets the counts for the next record.
void note_folded_lines(Pass& pass) {
    if (pass.folded_lines > 0) {
        std::string detail = "version 7 has no CONC; " + std::to_string(pass.folded_lines) +
                             " continuation line(s) in " + std::to_string(pass.folded_structures) +
                             " structure(s) were folded into the text they continued, which "
                             "reads exactly as before";
        if (pass.folded_without_payload > 0) {
            detail += "; " + std::to_string(pass.folded_without_payload) +
                      " of those structure(s) had no payload, so the folded text became it";
        }
        pass.note("CONC", NoteKind::Converted, std::move(detail));
    }
    pass.folded_lines = 0;
    pass.folded_structures = 0;
    pass.folded_without_payload = 0;
}

// structures_to_7_node, with `visit` a template parameter so that the
// driver's visit, called at every structure, is inlined.
template <class Visit>
bool structures_to_7_with(Node& record, const NoteRecordIds& note_records, Pass& pass,
                          Visit&& visit) {
    // The rows of the structures above the one visited, the record's first:
    // each looked up once its structure is rewritten, under its new tag.
    std::vector<std::uint32_t> rows;
    rows.reserve(16);
    const bool in_header = ascii::iequals(record.tag(), "HEAD");
    const std::span<const v7table::Row> table = v7table::rows();
    const std::span<const v7table::TypeFacts> types = v7table::types();
    const v7table::RowIndex& index = v7table::row_index();
    const auto row_of = [&](std::string_view tag) {
        if (rows.empty()) return index.record(tag);
        return rows.back() == v7table::no_row ? v7table::no_row : index.child(rows.back(), tag);
    };
    return rewrite_structures(
        record,
        [&](Rewritable& node, std::span<const std::size_t> path) {
            rows.resize(path.size());
            const std::uint32_t row = row_of(node.get().tag());
            const Place place{path.size(), row, rows.empty() ? v7table::no_row : rows.back(),
                              row == v7table::no_row ? nullptr : &types[table[row].type],
                              in_header};
            // A structure retagged (_UID as UID, ALIA as NAME) has changed.
            const bool rewritten = structure_to_7(node, place, note_records, pass);
            rows.push_back(rewritten ? row_of(node.get().tag()) : row);
            return rewritten;
        },
        [&](const Node& node, std::span<const std::size_t> path) {
            visit(node, path.size(), rows.back());
        });
}

// Converts one record, gathering the extension tags it uses into
// `extensions` unless it is the header (whose own declarations are not uses).
void record_to_7(Node& record, bool is_header, const NoteRecordIds& note_records, Pass& pass,
                 std::set<std::string, std::less<>>& extensions) {
    if (is_header) header_to_7(record, pass);
    if (tag_is(record.tag(), "NOTE") && record.xref()) note_record_to_7(record, pass);
    // One walk does the rewriting and looks at every rewritten structure.
    UndefinedStructures undefined;
    structures_to_7_with(record, note_records, pass,
                         [&](const Node& node, std::size_t depth, std::uint32_t row) {
                             undefined.visit(node, depth, row);
                             // A tag is copied only the first time it is met: a file may use one
                             // extension (_UID) on most of its records.
                             const std::string_view tag = node.tag();
                             if (!is_header && tag.starts_with('_') && !extensions.contains(tag))
                                 extensions.emplace(tag);
                         });
    undefined.note_all(pass);
    note_folded_lines(pass);
    pass.note_tallies();
}

// Converts the records that rules made of structures written in place, and
// of structures within those, and puts them before the trailer, which
// settle_trailer has made the last record.
void append_added_records(Document& document, const NoteRecordIds& note_records, Pass& pass,
                          std::set<std::string, std::less<>>& extensions) {
    std::vector<Node> made = pass.added->take();
    if (made.empty()) return;
    for (std::size_t next = 0; next < made.size(); ++next) {
        Node& record = made[next];
        pass.record = std::string(*record.xref());
        record_to_7(record, false, note_records, pass, extensions);
        // Records made of structures within this one; `record` moves with
        // `made`, so it is not touched after this.
        for (Node& within : pass.added->take()) made.push_back(std::move(within));
    }
    pass.record.reset();
    std::vector<Node>& records = document.records;
    // Exactly the room they need: inserting into a full list would double it.
    records.reserve(records.size() + made.size());
    const auto trailer = std::find_if(records.begin(), records.end(), is_trailer);
    records.insert(trailer, std::make_move_iterator(made.begin()),
                   std::make_move_iterator(made.end()));
}

const OwnedExtension* owned_entry(std::span<const OwnedExtension> owned, std::string_view tag) {
    const auto it = std::find_if(owned.begin(), owned.end(),
                                 [&](const OwnedExtension& entry) { return entry.tag == tag; });
    return it == owned.end() ? nullptr : &*it;
}

// Declares in `header` each extension tag of `in_use` that it does not
// declare yet.
void declare_extensions(Node& header, const std::set<std::string, std::less<>>& in_use,
                        std::span<const OwnedExtension> owned, Pass& pass) {
    for (const std::string& tag : in_use) {
        if (schema::is_declared(header, tag)) continue;
        header.forget_verbatim();
        if (const OwnedExtension* entry = owned_entry(owned, tag)) {
            schema::declare(header, tag, entry->uri);
            pass.note(tag, NoteKind::Converted,
                      "declared in the header, which version 7 requires of every extension");
        } else {
            schema::declare(header, tag, undocumented_extension_uri);
            pass.note(tag, NoteKind::Kept,
                      "another application's extension, declared as undocumented rather than "
                      "dropped");
        }
    }
}

// ---- what stays invalid ----

// "BIRT.RIN" of "INDI.BIRT.RIN", "INDI.RIN" of itself: a structure's
// parent's tag and its own, the form the notes of undefined structures name
// it by.
std::string_view parent_and_own_tag_of(std::string_view dotted) noexcept {
    const std::size_t last = dotted.rfind('.');
    if (last == std::string_view::npos || last == 0) return dotted;
    const std::size_t before = dotted.rfind('.', last - 1);
    return before == std::string_view::npos ? dotted : dotted.substr(before + 1);
}

// The tag path a note names for a problem: below its record, as the other
// notes name structures, its last two tags ("BIRT.RIN") or its one tag; a
// problem of the record itself is named by the record's tag.
std::string_view note_tag_of(std::string_view dotted) noexcept {
    const std::size_t first = dotted.find('.');
    return first == std::string_view::npos ? dotted
                                           : parent_and_own_tag_of(dotted.substr(first + 1));
}

std::string_view last_tag_of(std::string_view dotted) noexcept {
    return dotted.substr(dotted.rfind('.') + 1);
}

// A record's identifier, "" for none: a view into a note or a problem.
std::string_view record_key(const std::optional<std::string>& record) noexcept {
    return record ? std::string_view(*record) : std::string_view();
}

// The tags each record's Kept notes name: a handful in most files, several
// a record in some (a tag version 7 lacks on every event). A record's notes
// follow one another, and so do the problems asked about, so the table is
// consulted about once a record.
class KeptNames {
  public:
    explicit KeptNames(const std::vector<ConversionNote>& notes) {
        std::vector<std::string_view>* tags = nullptr;
        std::string_view record;
        for (const ConversionNote& note : notes) {
            if (note.kind != NoteKind::Kept) continue;
            if (tags == nullptr || record_key(note.record) != record) {
                record = record_key(note.record);
                tags = &by_record_[record];
            }
            tags->push_back(note.tag);
        }
    }

    bool names(std::string_view record, std::string_view tag) {
        if (record != last_record_ || last_tags_ == nullptr) {
            const auto found = by_record_.find(record);
            last_record_ = record;
            last_tags_ = found == by_record_.end() ? &none_ : &found->second;
        }
        return std::ranges::find(*last_tags_, tag) != last_tags_->end();
    }

  private:
    std::unordered_map<std::string_view, std::vector<std::string_view>> by_record_;
    std::vector<std::string_view> none_;
    std::string_view last_record_;
    const std::vector<std::string_view>* last_tags_ = nullptr;
};

// Problems of one record's identifier and kind: the first and how many.
struct ProblemGroup {
    const Version7Problem* first;
    std::size_t count;
};

// Groups `problems` by record identifier and kind, in the order first met.
// A record's problems follow one another, so most join the group of the
// one before; the others are looked up by identifier (a view into the
// problems) and kind, without a string made for any.
class ProblemGroups {
  public:
    explicit ProblemGroups(std::size_t expected) {
        groups_.reserve(expected);
        index_.reserve(expected);
    }

    void add(const Version7Problem& problem) {
        const std::string_view record = record_key(problem.record);
        if (last_ < groups_.size() && groups_[last_].first->kind == problem.kind &&
            record_key(groups_[last_].first->record) == record) {
            ++groups_[last_].count;
            return;
        }
        const auto [it, added] = index_.try_emplace(Key{record, problem.kind}, groups_.size());
        if (added) groups_.push_back({&problem, 0});
        last_ = it->second;
        ++groups_[last_].count;
    }

    const std::vector<ProblemGroup>& groups() const noexcept { return groups_; }

  private:
    using Key = std::pair<std::string_view, Version7ProblemKind>;
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept {
            return std::hash<std::string_view>{}(key.first) * 31 +
                   static_cast<std::size_t>(key.second);
        }
    };

    std::vector<ProblemGroup> groups_;
    std::unordered_map<Key, std::size_t, KeyHash> index_;
    std::size_t last_ = 0;  // the group the last problem joined
};

// "{count} line(s) of this record are not valid version 7 ({kind}) ...",
// made in one piece.
std::string remaining_problem_detail(const ProblemGroup& group) {
    const Version7Problem& first = *group.first;
    static constexpr std::string_view lines = " line(s) of this record are not valid version 7 (";
    static constexpr std::string_view kept =
        ") and have no lossless version 7 form, so they are kept as written; the first is line ";
    return joined({std::to_string(group.count), lines, to_string(first.kind), kept,
                   std::to_string(first.line), ", ", first.tag, ": ", first.message});
}

// Names, with one Kept note per record and kind of problem, every problem
// of the converted text that no Kept note of its record names already (by
// its tag, or its parent's tag and its own): whatever the rules above could
// not express without loss.
void note_remaining_problems(Conversion& conversion) {
    const std::vector<Version7Problem> problems = check_version_7(conversion.document);
    if (problems.empty()) return;
    KeptNames named(conversion.notes);
    const auto is_named = [&](std::string_view record, std::string_view tag) {
        return named.names(record, tag);
    };
    ProblemGroups grouped(problems.size());
    for (const Version7Problem& problem : problems) {
        const std::string_view record = record_key(problem.record);
        if (!is_named(record, parent_and_own_tag_of(problem.tag)) &&
            !is_named(record, last_tag_of(problem.tag))) {
            grouped.add(problem);
        }
    }
    // The notes are written straight after the others, without a copy.
    Pass pass;
    pass.notes = std::move(conversion.notes);
    pass.notes.reserve(pass.notes.size() + grouped.groups().size());
    for (const ProblemGroup& group : grouped.groups()) {
        pass.record = group.first->record;
        pass.note(note_tag_of(group.first->tag), NoteKind::Kept, remaining_problem_detail(group));
    }
    conversion.notes = std::move(pass.notes);
}

}  // namespace

bool is_uri_character(char c) noexcept {
    return ascii::is_alnum(c) || uri_marks.find(c) != std::string_view::npos;
}

std::string uri_reference(std::string_view path) {
    static constexpr std::string_view hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (std::size_t pos = 0; pos < path.size(); ++pos) {
        const char c = path[pos];
        if (is_uri_character(c) || is_percent_escape(path, pos)) {
            out.push_back(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out.push_back('%');
        out.push_back(hex[byte >> 4U]);
        out.push_back(hex[byte & 0x0FU]);
    }
    return out;
}

std::optional<std::string_view> media_type_of_extension(std::string_view extension) {
    const std::string lower = ascii::lower_copy(extension);
    for (const MediaType& entry : media_types) {
        if (entry.extension == lower) return entry.type;
    }
    return std::nullopt;
}

bool media_form_to_7(Node& object, Pass& pass, std::size_t depth) {
    bool changed = move_object_form(object, depth, pass);
    for (Node& file : object.children_mut()) {
        if (!tag_is(file.tag(), "FILE")) continue;
        changed = rewrite_file_path(file, pass) || changed;
        Node* form = file.first_mut("FORM");
        if (!form) continue;
        changed = rewrite_file_format(*form, pass) || changed;
        for (Node& medium : form->children_mut()) {
            changed = rewrite_medium(medium, depth + 3, pass) || changed;
        }
    }
    return changed;
}

bool object_to_record(Node& object, std::size_t depth, Pass& pass) {
    if (depth == 0 || !pass.added || object.value() ||
        continuation_has_children(object.children()) ||
        std::any_of(object.children().begin(), object.children().end(),
                    [](const Node& c) { return is_continuation_tag(c.tag()); })) {
        return false;
    }
    const std::string id = pass.added->identifier();
    Node record = Node::record(id, "OBJE");
    move_children(object, record, [](const Node& child) {
        return !v7_structure_type("OBJE", child.tag()) || v7_defines("record-OBJE", child.tag());
    });
    object.set_value(id);
    pass.added->add(std::move(record));
    pass.note("OBJE", NoteKind::Converted,
              "version 7 has multimedia objects only as records: this one became the record " + id +
                  ", and a pointer to it stands in its place");
    return true;
}

bool may_cite_in_place(const Node& source, std::size_t depth, bool in_header) noexcept {
    // A record's SOUR, and the header's (the system that wrote the file),
    // cite nothing.
    if (depth == 0 || in_header) return false;
    const auto payload = source.value();
    return !(payload && is_valid_xref(*payload));
}

bool source_to_record(Node& source, std::size_t depth, bool in_header, Pass& pass) {
    if (!pass.added || !may_cite_in_place(source, depth, in_header)) return false;
    const std::size_t level = depth;
    const NodeList& children = source.children();
    const bool has_text = std::any_of(children.begin(), children.end(),
                                      [](const Node& c) { return tag_is(c.tag(), "TEXT"); });
    const std::string description = source.logical_value();
    if ((!has_text && description.empty()) ||
        continuation_blocks(source, "SOUR", "source citation", pass)) {
        return false;
    }
    if (std::any_of(children.begin(), children.end(),
                    [](const Node& c) { return tag_is(c.tag(), "CONC"); })) {
        return false;  // CONC lines folding kept, and named
    }
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

namespace {

// Whether `xref` could be one identifier() makes: "@X" and digits, in
// either letter case. Only such identifiers and pointers need keeping.
bool has_added_record_form(std::string_view xref) noexcept {
    return xref.size() > 3 && xref.front() == '@' && xref.back() == '@' &&
           ascii::to_upper(xref[1]) == 'X' &&
           std::all_of(xref.begin() + 2, xref.end() - 1, ascii::is_digit);
}

}  // namespace

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

bool structures_to_7_node(Node& record, const NoteRecordIds& note_records, Pass& pass) {
    return structures_to_7_node(record, note_records, pass,
                                [](const Node&, std::size_t, std::uint32_t) {});
}

bool structures_to_7_node(
    Node& record, const NoteRecordIds& note_records, Pass& pass,
    const std::function<void(const Node&, std::size_t, std::uint32_t)>& visit) {
    return structures_to_7_with(record, note_records, pass, visit);
}

Conversion to_version_7_with(const Document& document, std::span<const OwnedExtension> owned) {
    const NoteRecordIds note_records(document.records);
    std::set<std::string, std::less<>> extensions;
    AddedRecords added(document);
    Conversion conversion =
        convert_records(document, version_7, [&](Node& record, bool is_header, Pass& pass) {
            pass.added = &added;
            record_to_7(record, is_header, note_records, pass, extensions);
        });
    Pass records;
    records.added = &added;
    settle_trailer(conversion.document, "version 7", records);
    append_added_records(conversion.document, note_records, records, extensions);
    if (Node* head = header_mut(conversion.document)) {
        declare_extensions(*head, extensions, owned, records);
    }
    std::move(records.notes.begin(), records.notes.end(), std::back_inserter(conversion.notes));
    note_remaining_problems(conversion);
    conversion.document.write_byte_order_mark(true);
    return conversion;
}

}  // namespace lignor
