// What the files of the conversion to version 7 share, private to them and
// their tests: the shape of a rule and its row in the one table of them
// (convert7_rules.cpp), the guards the walk applies from a row's flags,
// where a structure stands while the walk rewrites it, the helpers several
// rules use, and the walk over one record.
//
// A rule is two functions. Its decision reads the structure, without
// changing it, and says what the rule would change; the walk then applies
// the guards its row names, and only then its change rewrites the
// structure (a copy, made on first change). A rule that changes
// substructures of the structure it is asked about (the roles of an EVEN,
// the files of an OBJE, the SEX of an individual) hands each to the row of
// that part (run_part), which its guards hold to as well.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ascii.hpp"
#include "convert_pass.hpp"
#include "v7defs.hpp"

namespace lignor {

// Records a conversion to version 7 adds for multimedia objects and sources
// that 5.5.1 writes in place, each with an identifier that no identifier or
// pointer of the document uses, ignoring ASCII letter case.
class AddedRecords {
  public:
    explicit AddedRecords(const Document& source) : source_(&source) {}
    // An identifier no record or pointer uses: "@X1@", "@X2@", ...
    std::string identifier();
    // Holds `record` until the driver takes it.
    void add(Node record) { made_.push_back(std::move(record)); }
    // The records made and not yet taken, the first made first.
    std::vector<Node> take();
    // The identifier of the object record made before with exactly
    // `content` (its substructures as text), or none.
    const std::string* object_with(const std::string& content) const;
    // Remembers that the object record `id` holds `content`.
    void remember_object(std::string content, std::string id);

  private:
    void index_used();
    std::unordered_map<std::string, std::string> objects_;  // content to identifier

    const Document* source_;
    std::vector<std::string> used_;  // xref_key of each identifier and pointer in its form, sorted
    bool indexed_ = false;           // the document is read only when a record is made
    std::size_t next_ = 1;
    std::vector<Node> made_;
};

// The media type of a file extension ("JPG": "image/jpeg"), ASCII case ignored.
std::optional<std::string_view> media_type_of_extension(std::string_view extension);

// Rewrites one multimedia object (`OBJE` with at least one `FILE`) into
// version 7's form: the object's FORM moves onto each FILE lacking one, file
// paths become URI references, file extensions become media types, and the
// source medium becomes MEDI with an enumerated value (OTHER and a PHRASE
// for anything else). Notes every change, and every refusal as Kept (the
// medium's value in the Pass's tallies). True when anything changed.
// `depth` is the object's (0 for a record): a structure at the reader's
// deepest level gains no line.
bool media_form_to_7(Node& object, Pass& pass, std::size_t depth = 0);

namespace to7 {

// Where a structure stands while the walk rewrites it: its depth (0 for a
// record) and its row in the standard's table and its parent's (no_row
// where version 7 does not define it).
struct Place {
    std::size_t depth;
    std::uint32_t row;
    std::uint32_t parent_row;
    const v7table::TypeFacts* facts;    // of the row's structure type; null without a row
    bool in_header;                     // below the header, in whatever letter case
    const NoteRecordIds* note_records;  // the document's, which pointers may lead to
};

// The place of a part `levels` below a structure at `holder`, whose row its
// rule does not need.
inline Place below(const Place& holder, std::size_t levels) noexcept {
    Place place = holder;
    place.depth += levels;
    place.row = v7table::no_row;
    place.parent_row = v7table::no_row;
    place.facts = nullptr;
    return place;
}

// What a rule would change in a structure, decided before anything is.
enum class Change : std::uint8_t {
    None,       // nothing: the rule leaves the structure alone
    Rewrites,   // its payload, its tag or its substructures
    AddsLines,  // that, and lines beneath it (a PHRASE, a NOTE, a TYPE, a FORM)
};

// What a rule read and worked out deciding, kept for its change rather than
// worked out again. One serves the rules of a walk in turn: a rule that
// decides on a change sets what its change reads, and the walk clears it
// after the change.
struct Decision {
    Change change = Change::None;
    std::string text;                  // the logical value it read, where it read it
    std::optional<std::string> value;  // the value it decided on, where it did
};

// The guards the walk applies to a decision before the rule changes the
// structure, as the flags of the rule's row say. A guarded structure is
// left as written, with a Kept note naming it by the row's note tag.
namespace guard {
inline constexpr std::uint8_t none = 0;
// A continuation line of the structure has substructures of its own, which
// rewriting its payload would delete (continuation_blocks).
inline constexpr std::uint8_t continuation = 1;
// The decision adds lines, and the structure is at the reader's deepest
// level, beneath which none may be written (may_gain_substructure).
inline constexpr std::uint8_t depth = 2;
}  // namespace guard

// Which structures a row applies to.
struct Applies {
    enum class By : std::uint8_t {
        Parent,   // every structure with substructures (continuation lines among them)
        Empty,    // every structure with an empty payload (its line ends in a space)
        Tag,      // a structure tagged exactly `tag`
        Record,   // a record tagged exactly `tag` that version 7 defines
        Payload,  // a structure whose payload the standard's table types as one of `payloads`
                  // (and tagged `tag`, when that is not empty)
        Part,     // none by itself: the part `tag` of a structure whose rule hands it over
    };
    By by;
    std::string_view tag;
    std::uint32_t payloads = 0;  // one bit per v7table::Payload
};

constexpr Applies parents() noexcept {
    return {Applies::By::Parent, {}};
}
constexpr Applies empty_payloads() noexcept {
    return {Applies::By::Empty, {}};
}
constexpr Applies tagged(std::string_view tag) noexcept {
    return {Applies::By::Tag, tag};
}
constexpr Applies record_tagged(std::string_view tag) noexcept {
    return {Applies::By::Record, tag};
}
constexpr Applies payload(std::initializer_list<v7table::Payload> types,
                          std::string_view tag = {}) noexcept {
    std::uint32_t bits = 0;
    for (const v7table::Payload type : types) bits |= 1U << static_cast<unsigned>(type);
    return {Applies::By::Payload, tag, bits};
}
constexpr Applies part(std::string_view name) noexcept {
    return {Applies::By::Part, name};
}

// What the rule would change in `node`, keeping in `decision` what its change reads.
using Decide = Change (*)(const Node& node, const Place& place, Pass& pass, Decision& decision);
// The change, given the decision (its `change` set); true when it changed `node`.
using Rewrite = bool (*)(Node& node, Decision& decision, const Place& place, Pass& pass);

// One row of the table: which structures the rule applies to, the guards the
// walk holds it to, the names its guards' notes give the structure, and the
// rule's two functions.
struct Rule {
    Applies applies;
    std::uint8_t guards = guard::none;
    std::string_view note_tag;  // empty: the structure's own tag
    std::string_view what;      // the continuation guard's word for it; empty: its tag
    Decide decide;
    Rewrite rewrite;
    // Its change replaces the whole payload, continuation lines included:
    // what the rules before it noted of this structure (CONC lines folding
    // kept) no longer holds, and those notes are withdrawn when it changes.
    bool withdraws_earlier_notes = false;
};

// The table's row of the part `name` (a holder's rule finds it once).
const Rule& part_rule(std::string_view name);

// Asks `part` about `target`, a substructure the caller is changing in
// place, standing at `place`; applies the guards of the part's row to the
// decision, then lets it change `target`. True when it changed.
bool run_part(const Rule& part, Node& target, const Place& place, Pass& pass);

// One structure's rewrites by every row that applies to it, in the table's
// order, `decision` serving each in turn (one for the whole walk). True when
// any changed it.
bool structure_to_7(Rewritable& structure, const Place& place, Pass& pass, Decision& decision);

// ---- what several rules use ----

inline const v7table::TypeFacts& facts_of(std::uint32_t row) noexcept {
    return v7table::types()[v7table::rows()[row].type];
}

// Whether version 7 defines `tag` under a structure of row `row`.
inline bool defines_under(std::uint32_t row, std::string_view tag) noexcept {
    return row != v7table::no_row && v7table::child_row(row, tag) != v7table::no_row;
}

inline bool in_values(std::span<const std::string_view> values, std::string_view value) noexcept {
    return std::binary_search(values.begin(), values.end(), value);
}

// `word` as one of `values` spells it: upper case, and hyphens and spaces
// as underscores (5.5.1's PRE-1970); none when it is none of them.
std::optional<std::string> enumerated_spelling(std::string_view word,
                                               std::span<const std::string_view> values);

// Whether `node`'s value, of the enumeration `facts`, needs version 7's
// spelling (Rewrites, with it), or OTHER with the original as a PHRASE
// (AddsLines, where `phrase_allowed` and the enumeration has OTHER).
Change enumeration_decision(const Node& node, const v7table::TypeFacts& facts, bool phrase_allowed,
                            Decision& decision);
// That change, its notes tallied under `note_tag`.
bool enumerated_value_to_7(Node& node, Decision& decision, std::string_view note_tag, Pass& pass);

// A PHRASE's text as version 7 writes a payload: a leading @ doubled.
std::string escaped_phrase(std::string_view text);

// `change`, with what the rule read and decided on kept in `decision`.
inline Change keep(Decision& decision, Change change, std::string text,
                   std::optional<std::string> value = std::nullopt) {
    decision.text = std::move(text);
    decision.value = std::move(value);
    return change;
}

// ---- after the walk ----

// Names every problem of the converted text that no Kept note names already
// (convert7_remaining.cpp).
void note_remaining_problems(Conversion& conversion);

// ---- the walk ----

// structures_to_7_node, with `visit` a template parameter so that the
// driver's visit, called at every structure, is inlined.
template <class Visit>
bool structures_to_7_with(Node& record, const NoteRecordIds& note_records, Pass& pass,
                          Visit&& visit) {
    // The rows of the structures above the one visited, the record's first:
    // each looked up once its structure is rewritten, under its new tag.
    std::vector<std::uint32_t> rows;
    rows.reserve(16);
    Decision decision;
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
            const Place place{path.size(),
                              row,
                              rows.empty() ? v7table::no_row : rows.back(),
                              row == v7table::no_row ? nullptr : &types[table[row].type],
                              in_header,
                              &note_records};
            // A structure retagged (_UID as UID, ALIA as NAME) has changed.
            const bool rewritten = structure_to_7(node, place, pass, decision);
            rows.push_back(rewritten ? row_of(node.get().tag()) : row);
            return rewritten;
        },
        [&](const Node& node, std::span<const std::size_t> path) {
            visit(node, path.size(), rows.back());
        });
}

}  // namespace to7
// The structures of one record that version 7 does not define, gathered one
// structure at a time as a depth-first walk meets them (each after those
// above it), then written as notes as note_undefined_structures says. Lets a
// walk that already visits every structure do this too.
class UndefinedStructures {
  public:
    void visit(const Node& node, std::size_t depth);
    // The same, given the row of `node` in the standard's table that the
    // caller's own walk looked up (v7table::no_row where it found none).
    void visit(const Node& node, std::size_t depth, std::uint32_t row);
    void note_all(Pass& pass) const;

  private:
    static constexpr std::uint32_t none = UINT32_MAX;
    // Per open depth: the structure's row in the standard's table, `none`
    // when its subtree is not examined (undefined, an extension, or beneath
    // those), and its tag.
    std::vector<std::pair<std::uint32_t, std::string_view>> open_;
    std::vector<std::pair<std::string, std::size_t>> counts_;  // by tag path, first met first
};

// Gives `record` one Kept note per tag path that version 7 does not define
// there ("BIRT.QUAY", "HEAD.FILE", or the record's tag alone), counting the
// structures kept. The subtree of an undefined structure, and of an
// extension, is not examined further; CONT and CONC lines are payload, not
// structures. The record is not changed.
void note_undefined_structures(const Node& record, Pass& pass);

}  // namespace lignor
