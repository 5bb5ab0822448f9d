// What both directions of conversion share, private to them (and their
// tests): the state of one run, the guard before rewriting a logical value,
// the record-by-record copy, the role vocabulary, and each direction's
// structure rewriter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "limits.hpp"
#include "queries.hpp"
#include "schema.hpp"

namespace lignor {

class AddedRecords;  // convert7_rules.hpp

// The state of one conversion run, lent to the structure rewriters.
struct Pass {
    std::vector<ConversionNote> notes;
    std::optional<std::string> record;  // the record being converted, copied into each note
    // CONC folding in the current record (version 7 only), summed up in one
    // note per record by the driver.
    std::size_t folded_lines = 0;
    std::size_t folded_structures = 0;
    std::size_t folded_without_payload = 0;
    // Where rules that turn a structure into a record of its own put it
    // (version 7 only); without it they leave the structure as written.
    AddedRecords* added = nullptr;
    // The source's extension declarations, sorted by tag (version 7 only):
    // what an extension calendar or month in a date stands for.
    std::span<const schema::Declaration> declared;

    // Appends a note about the current record; the detail fixed or composed.
    void note(std::string_view tag, NoteKind kind, const char* detail);
    void note(std::string_view tag, NoteKind kind, std::string detail);

    // Counts one change of a kind (`tag`, `kind` and `what`, a fixed sentence
    // fragment) in the current record; `instance`, when not empty, is what
    // changed in this one ("\"76\" as \"76y\""), listed once however often
    // it recurs. note_tallies() writes one note per kind with its count.
    void tally(std::string_view tag, NoteKind kind, std::string_view what,
               std::string_view instance = {});
    // Writes the changes counted since the last call, one note per kind in
    // the order first met ("{count} {what}: {instances}"), and forgets them.
    void note_tallies();

  private:
    struct Tally {
        std::string tag;
        NoteKind kind;
        std::string_view what;
        std::size_t count = 0;
        std::vector<std::string> instances;
    };
    std::vector<Tally> tallies_;
};

// Converts a copy of `document` record by record, each copied and then
// handed to `convert(record, is_header, pass)` while it is fresh in the
// cache, with `pass.record` set to its identifier. The header is the record
// every reader and writer of this library takes for it (`header()`). Returns
// the converted document with the notes gathered, `to_version` as given;
// the caller finishes what spans records.
Conversion convert_records(const Document& document, std::string_view to_version,
                           const std::function<void(Node&, bool, Pass&)>& convert);

// A structure as a rule sees it: read through get(), and made changeable by
// mut(), which copies it on first use (the record itself is changed in
// place). A structure that no rule asks to change is never copied.
class Rewritable {
  public:
    explicit Rewritable(const Node& original) noexcept : original_(&original) {}
    explicit Rewritable(Node& in_place) noexcept : original_(&in_place), changeable_(&in_place) {}
    const Node& get() const noexcept { return changeable_ ? *changeable_ : *original_; }
    Node& mut() {
        if (!changeable_) changeable_ = &copy_.emplace(*original_);
        return *changeable_;
    }
    // The copy mut() made, if any, to take the structure's place.
    std::optional<Node>& copy() noexcept { return copy_; }

  private:
    const Node* original_;
    Node* changeable_ = nullptr;
    std::optional<Node> copy_;
};

// Calls `rewrite(structure, path)` (a Rewritable) on `record` and on every
// structure beneath it, each before its substructures (the walk goes into
// those the rewrite leaves), then `visit(node, path)` on the structure as it
// now stands in `record`; `path` as walk() gives it. `rewrite` returns
// whether it changed the structure. Beneath the record a changed copy takes
// the structure's place, the substructure lists above it made the record's
// own; a structure never copied, or whose copy comes back unchanged, stays
// shared with the document the record was copied from. Returns whether any
// rewrite reported a change.
template <class Rewrite, class Visit>
bool rewrite_structures(Node& record, Rewrite&& rewrite, Visit&& visit) {
    // Per open structure, the list of its substructures as it stands in
    // `record` (in storage that may be shared) and the next one to visit.
    struct Frame {
        const NodeList* list;
        std::size_t next;
    };
    StructurePath path;
    Rewritable whole(record);
    bool changed = rewrite(whole, std::span<const std::size_t>(path));
    visit(std::as_const(record), std::span<const std::size_t>(path));
    std::vector<Frame> open{{&record.children(), 0}};
    // After a change the lists above it have moved to storage of their own.
    const auto find_lists_again = [&] {
        const Node* node = &record;
        for (std::size_t depth = 0; depth < open.size(); ++depth) {
            open[depth].list = &node->children();
            if (depth < path.size()) node = &node->children()[path[depth]];
        }
    };
    while (!open.empty()) {
        Frame& top = open.back();
        if (top.next == top.list->size()) {
            open.pop_back();
            if (!path.empty()) path.pop_back();
            continue;
        }
        const Node& original = (*top.list)[top.next];
        // Its substructures are read next (by the rules, then the walk): ask
        // for them now, so that the fetch overlaps the copy.
        __builtin_prefetch(original.children().data());
        path.push_back(top.next++);
        Rewritable structure(original);
        const Node* now = &original;
        const bool rewritten = rewrite(structure, std::span<const std::size_t>(path));
        std::optional<Node>& copy = structure.copy();
        // A rule may take a list as its own without changing it: such a copy is kept too.
        if (copy && (rewritten || !copy->is_unchanged_copy_of(original))) {
            Node& place = *node_at_mut(record, path);
            place = std::move(*copy);
            now = &place;
            find_lists_again();
        }
        changed = rewritten || changed;
        visit(*now, std::span<const std::size_t>(path));
        open.push_back({&now->children(), 0});
    }
    return changed;
}

// Whether `record` is a trailer: tagged TRLR, its letters in any case, as
// header() takes any HEAD.
bool is_trailer(const Node& record) noexcept;

// Makes the records of `document` end with its trailer, as both versions
// require: records after the first trailer move before it (each noted), and
// a document without one gains a TRLR record. A second trailer stays after
// the first, named by a Kept note. `version_name` says which version requires it.
void settle_trailer(Document& document, std::string_view version_name, Pass& pass);

// Whether any CONT or CONC among `children` has substructures of its own:
// rewriting the logical value of their parent would delete those.
bool continuation_has_children(const NodeList& children) noexcept;

// The guard before rewriting `node`'s logical value: when a continuation line
// of it has substructures, notes `note_tag` as Kept (naming the structure as
// `what`) and returns true; the caller then leaves the node as written.
bool continuation_blocks(const Node& node, std::string_view note_tag, std::string_view what,
                         Pass& pass);

// Removes every substructure of `node` tagged exactly `tag`; true when any was.
bool remove_all(Node& node, std::string_view tag);

// How many substructures of `node` are tagged exactly `tag`.
std::size_t count_tagged(const Node& node, std::string_view tag) noexcept;

// Drops the verbatim text of `node` and of every node beneath it.
void forget_subtree_verbatim(Node& node);

// Appends a PHRASE holding `text` as the last substructure of `node`.
void append_phrase(Node& node, std::string_view text);

// Whether a structure at `level` (0 for a record) may gain a substructure:
// its line would carry level + 1, which the reader must accept. A rule that
// adds lines beneath a structure asks this first and otherwise leaves the
// structure as written, with a Kept note.
constexpr bool may_gain_substructure(std::size_t level) noexcept {
    return level < ParseLimits{}.max_depth;
}

// The GEDC of `header` made to declare `version` (its first VERS set, or one
// appended); a header without GEDC gains one holding only that VERS as its
// first substructure, with a note saying the target version (`version_name`)
// requires it. The header's and the GEDC's verbatim text is dropped. Returns
// the GEDC.
Node& declare_version(Node& header, std::string_view version, std::string_view version_name,
                      Pass& pass);

// Version 7's enumerated role for the words of a role ("Godfather": GODP),
// compared after Unicode lower-casing; OTHER for any other words.
std::string_view role_of_words(std::string_view words);

// 5.5.1's words for a version 7 role value ("GODP": "Godparent"), or none
// for text that is not one.
std::optional<std::string_view> words_of_role_value(std::string_view role) noexcept;

// 5.5.1's age words and the version 7 age each means: CHILD is "< 8y",
// INFANT "< 1y", STILLBORN "0y".
struct AgeWord {
    std::string_view word;
    std::string_view age;
};
std::span<const AgeWord> age_words() noexcept;
// The entry of `word` (any letter case), or none.
const AgeWord* age_word(std::string_view word) noexcept;

// ---- version 7 ----

// The identifiers of a document's note records (records tagged exactly NOTE
// that carry one), which version 7 calls shared notes. Pointers are matched
// ignoring ASCII letter case.
class NoteRecordIds {
  public:
    NoteRecordIds() = default;
    explicit NoteRecordIds(std::span<const Node> records);
    bool contains(std::string_view pointer) const;

  private:
    std::vector<std::string> keys_;  // xref_key of each, sorted
};

// Rewrites `record` and every structure beneath it into version 7's form,
// each structure before its substructures: CONC lines folded into the text
// they continue (the Pass counts them for the record's summary note), _UID
// as UID, pointers to note records as SNOTE, dates in version 7's grammar
// with the original kept as a PHRASE, roles as version 7's enumerated
// values, multimedia objects through media_form_to_7; and, as the
// standard's table types each payload, enumerated values in its spelling,
// ages with units, text on a Y-or-empty event or after a SEX letter moved
// into a NOTE, an ALIA holding a name as a NAME, a continuation line's
// repeat of its record's identifier and an empty payload's trailing space
// removed (these counted in the Pass's tallies). Nothing is added beneath a
// structure at the reader's deepest level. Whatever cannot be rewritten
// without loss stays as written with a Kept note. True when anything
// changed.
bool structures_to_7_node(Node& record, const NoteRecordIds& note_records, Pass& pass);
// The same, calling `visit(structure, depth, row)` on each structure once it
// is rewritten and before its substructures are, with its row in the
// standard's table (v7table::no_row where version 7 does not define it): a
// caller that looks at every structure of the converted record needs no walk
// of its own.
bool structures_to_7_node(
    Node& record, const NoteRecordIds& note_records, Pass& pass,
    const std::function<void(const Node&, std::size_t, std::uint32_t)>& visit);

// Whether uri_reference writes `c` as it is: an ASCII letter or digit, or
// one of -._~:/?#[]@!$&'()*+,;= (a '%' only when it begins an escape).
bool is_uri_character(char c) noexcept;

// `path` as a URI reference: every byte other than an ASCII letter or digit,
// one of -._~:/?#[]@!$&'()*+,;= or the '%' of an existing percent-escape is
// written as '%' and two upper-case hexadecimal digits.
std::string uri_reference(std::string_view path);

// ---- version 5.5.1 ----

// Rewrites `record` and every structure beneath it into 5.5.1's form: UID
// as _UID, shared note pointers as NOTE, a DATE with a PHRASE as 5.5.1's
// interpreted date "INT {date} ({phrase})", roles under EVEN as
// parenthesized descriptors and under ASSO as RELA words. Structures only
// version 7 defines (TRAN, CREA, EXID, SDATE) stay with a Kept note, as does
// whatever cannot be rewritten without loss. Rewritten and retagged lines
// are fitted to 255 bytes with CONC lines. True when anything changed.
bool structures_to_551_node(Node& record, Pass& pass);

}  // namespace lignor
