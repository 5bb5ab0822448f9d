// Conversion between GEDCOM versions: the result, the notes that say what
// happened to each construct, and the state one conversion run carries.
//
// A conversion prefers keeping to dropping: what the target version cannot
// express stays as written and is named in a note of kind Kept; whatever is
// removed is named in a note of kind Dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "document.hpp"

namespace lignor {

class ValueWriter;

enum class NoteKind : std::uint8_t {
    Converted,  // rewritten into the target version's form
    Dropped,    // removed: the target version has no place for it
    Kept,       // left as written although the target version does not define it
};

// "Converted", "Dropped", "Kept".
std::string_view to_string(NoteKind kind) noexcept;

// One construct a conversion converted, dropped or kept.
struct ConversionNote {
    std::optional<std::string> record;  // the record's identifier; none for the header
    std::string tag;                    // a tag, or a dotted path such as "FILE.FORM"
    NoteKind kind = NoteKind::Converted;
    std::string detail;  // why, as one English sentence fragment

    // {"record": ..., "tag": ..., "kind": ..., "detail": ...}, record null when absent.
    void write_value(ValueWriter& out) const;

    friend bool operator==(const ConversionNote&, const ConversionNote&) = default;
};

// A converted document and the notes of what the conversion did, in the
// order it met the constructs.
struct Conversion {
    Document document;
    std::string from_version;  // the source's GEDC.VERS, or "unstated"
    std::string to_version;    // "7.0" or "5.5.1"
    std::vector<ConversionNote> notes;
};

// The state of one conversion run, lent to the structure rewriters.
struct Pass {
    std::vector<ConversionNote> notes;
    std::optional<std::string> record;  // the record being converted, copied into each note
    // CONC folding in the current record (version 7 only), summed up in one
    // note per record by the driver.
    std::size_t folded_lines = 0;
    std::size_t folded_structures = 0;
    std::size_t folded_without_payload = 0;

    // Appends a note about the current record; the detail fixed or composed.
    void note(std::string_view tag, NoteKind kind, const char* detail);
    void note(std::string_view tag, NoteKind kind, std::string detail);
};

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

// Drops the verbatim text of `node` and of every node beneath it.
void forget_subtree_verbatim(Node& node);

// `path` as a URI reference: every byte other than an ASCII letter or digit,
// one of -._~:/?#[]@!$&'()*+,;= or the '%' of an existing percent-escape is
// written as '%' and two upper-case hexadecimal digits.
std::string uri_reference(std::string_view path);

// The media type of a file extension ("JPG": "image/jpeg"), ASCII case ignored.
std::optional<std::string_view> media_type_of_extension(std::string_view extension);

// Rewrites one multimedia object (`OBJE` with at least one `FILE`) into
// version 7's form: the object's FORM moves onto each FILE lacking one, file
// paths become URI references, file extensions become media types, and the
// source medium becomes MEDI with an enumerated value (OTHER and a PHRASE
// for anything else). Notes every change, and every refusal as Kept. True
// when anything changed.
bool media_form_to_7(Node& object, Pass& pass);

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
// values, multimedia objects through media_form_to_7. Whatever cannot be
// rewritten without loss stays as written with a Kept note. True when
// anything changed.
bool structures_to_7_node(Node& record, const NoteRecordIds& note_records, Pass& pass);
// The same, calling `visit(structure, depth)` on each structure once it is
// rewritten and before its substructures are: a caller that looks at every
// structure of the converted record needs no walk of its own.
bool structures_to_7_node(Node& record, const NoteRecordIds& note_records, Pass& pass,
                          const std::function<void(const Node&, std::size_t)>& visit);

// Rewrites `node` (at `level`, 0 for a record) and every structure beneath
// it into 5.5.1's form: UID as _UID, shared note pointers as NOTE, a DATE
// with a PHRASE as 5.5.1's interpreted date "INT {date} ({phrase})", roles
// under EVEN as parenthesized descriptors and under ASSO as RELA words.
// Structures only version 7 defines (TRAN, CREA, EXID, SDATE) stay with a
// Kept note, as does whatever cannot be rewritten without loss. Rewritten
// and retagged lines are fitted to 255 bytes with CONC lines. True when
// anything changed.
bool structures_to_5_node(Node& node, std::size_t level, Pass& pass);

// An extension tag the caller documents itself, with the URI of its
// documentation.
struct OwnedExtension {
    std::string tag;
    std::string uri;
};

// Where the conversion to version 7 says an extension it found in a file is
// documented when the caller did not name it: nowhere, by design.
inline constexpr std::string_view undocumented_extension_uri =
    "https://lignor.example.org/undocumented";

// Converts a copy of `document` to GEDCOM 7.0: the header declares 7.0 and
// no character set, note records become shared notes, every structure goes
// through structures_to_7_node, structures version 7 does not define are
// named, and every extension the records use is declared in HEAD.SCHMA
// (with the caller's URI for those in `owned`, as undocumented otherwise).
// Never fails; what cannot be expressed is kept and named in a note.
Conversion to_version_7_with(const Document& document, std::span<const OwnedExtension> owned);

// Converts a copy of `document` to GEDCOM 5.5.1: the header declares 5.5.1,
// its lineage-linked form and a character set, and loses its extension
// declarations; shared note records become note records, fitted to 255-byte
// lines; every structure goes through structures_to_5_node; and a record
// that still has lines over 255 bytes is named. Never fails.
Conversion to_version_5_5_1(const Document& document);

}  // namespace lignor
