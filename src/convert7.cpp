// The conversion to GEDCOM 7.0, record by record: the header, note records,
// the rules' walk over each record (convert7_dispatch.cpp) with the
// per-record notes, the records rules made, extension declarations, and
// last the notes of what stays invalid (convert7_remaining.cpp).
#include <algorithm>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "ascii.hpp"
#include "convert7_rules.hpp"
#include "schema.hpp"
#include "unicode.hpp"
#include "v7defs.hpp"

namespace lignor {
namespace {

using to7::structures_to_7_with;

constexpr std::string_view version_7 = "7.0";

// The version a header declares when it is version 7's already (7.0, 7.1,
// 7.0.2) or a later one (8.0), which the conversion keeps as written.
std::optional<std::string> version_7_or_later(const Node& header) {
    const Node* gedc = header.first("GEDC");
    const Node* vers = gedc ? gedc->first("VERS") : nullptr;
    if (!vers) return std::nullopt;
    std::string version(unicode::trim(vers->logical_value()));
    const std::size_t dot = version.find('.');
    const std::string_view major = std::string_view(version).substr(0, dot);
    if (major.empty() || major.size() > 3 || !std::ranges::all_of(major, ascii::is_digit) ||
        dot == std::string::npos || std::stoi(std::string(major)) < 7)
        return std::nullopt;
    return version;
}

// Whether `version` (of version_7_or_later) is newer than the 7.0 this
// conversion writes.
bool newer_than_7_0(std::string_view version) noexcept {
    return !version.starts_with("7.0") ||
           (version.size() > 3 && version[3] != '.');  // 7.0 and 7.0.x are 7.0
}

Node& gedc_of(Node& header, Pass& pass) {
    if (const auto version = version_7_or_later(header)) {
        if (newer_than_7_0(*version)) {
            pass.note("GEDC.VERS", NoteKind::Kept,
                      "the file declares version " + *version +
                          ", newer than the 7.0 this conversion writes; the declaration is kept "
                          "as written, and only version 7.0's rules were applied");
        }
        return *header.first_mut("GEDC");
    }
    return declare_version(header, version_7, "version 7", pass);
}

void header_to_7(Node& header, Pass& pass) {
    Node& gedc = gedc_of(header, pass);
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
            // A URI of its own: two tags declared with one URI are synonyms.
            schema::declare(header, tag, std::string(undocumented_extension_uri) + "#" + tag);
            pass.note(tag, NoteKind::Kept,
                      "another application's extension, declared as undocumented rather than "
                      "dropped");
        }
    }
}

}  // namespace

Conversion to_version_7_with(const Document& document, std::span<const OwnedExtension> owned) {
    const NoteRecordIds note_records(document.records);
    std::set<std::string, std::less<>> extensions;
    AddedRecords added(document);
    std::vector<schema::Declaration> declared;
    if (const Node* head = header(document)) declared = schema::declarations(*head);
    std::ranges::sort(declared, {}, &schema::Declaration::tag);
    Conversion conversion =
        convert_records(document, version_7, [&](Node& record, bool is_header, Pass& pass) {
            pass.added = &added;
            pass.declared = declared;
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
    to7::note_remaining_problems(conversion);
    conversion.document.write_byte_order_mark(true);
    return conversion;
}

}  // namespace lignor
