// The record-level driver of the conversion to version 7: the header, note
// records, the per-record summary of folded CONC lines, and the extension
// declarations. The structures inside each record are rewritten by
// structures_to_7_node.
#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "queries.hpp"
#include "schema.hpp"
#include "storage.hpp"
#include "v7defs.hpp"

namespace lignor {
namespace {

constexpr std::string_view version_7 = "7.0";

// The existing GEDC made to declare version 7, which names no form.
void declare_version_7(Node& gedc, Pass& pass) {
    gedc.forget_verbatim();
    if (Node* vers = gedc.first_mut("VERS")) {
        vers->set_value(version_7);
    } else {
        gedc.push(Node::with_value("VERS", version_7));
    }
    if (remove_all(gedc, "FORM")) {
        pass.note("GEDC.FORM", NoteKind::Dropped, "version 7 has one form and does not name it");
    }
}

void header_to_7(Node& header, Pass& pass) {
    header.forget_verbatim();
    if (Node* gedc = header.first_mut("GEDC")) {
        declare_version_7(*gedc, pass);
    } else {
        Node added = Node::make("GEDC");
        added.push(Node::with_value("VERS", version_7));
        NodeList& children = header.children_mut();
        children.insert(children.begin(), std::move(added));
        pass.note("GEDC", NoteKind::Converted,
                  "the header declared no GEDCOM version, and version 7 requires it");
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
    pass.record = record.xref() ? std::optional<std::string>(*record.xref()) : std::nullopt;
    if (is_header) header_to_7(record, pass);
    if (record.tag() == "NOTE" && record.xref()) note_record_to_7(record, pass);
    // One walk does the rewriting and looks at every rewritten structure.
    UndefinedStructures undefined;
    structures_to_7_node(record, note_records, pass, [&](const Node& node, std::size_t depth) {
        undefined.visit(node, depth);
        // A tag is copied only the first time it is met: a file may use one
        // extension (_UID) on most of its records.
        const std::string_view tag = node.tag();
        if (!is_header && tag.starts_with('_') && !extensions.contains(tag))
            extensions.emplace(tag);
    });
    undefined.note_all(pass);
    note_folded_lines(pass);
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
    pass.record.reset();
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

}  // namespace

Conversion to_version_7_with(const Document& document, std::span<const OwnedExtension> owned) {
    // The copy and the rewriting make millions of small pieces: cut them from
    // slabs as a read does, which is both faster and tighter than the heap.
    const storage::SlabScope slabs;
    Conversion conversion{{}, document.version().value_or("unstated"), std::string(version_7), {}};
    std::vector<Node>& records = conversion.document.records;
    records.reserve(document.records.size());
    const NoteRecordIds note_records(document.records);
    // The same record every reader and writer of this library takes for the
    // header: the first tagged HEAD in any letter case.
    const Node* const head = header(document);
    std::size_t head_index = 0;
    std::set<std::string, std::less<>> extensions;
    Pass pass;
    // Each record is copied and converted while it is fresh in the cache,
    // rather than copying the whole document and then walking it again.
    for (const Node& source : document.records) {
        const bool is_header = &source == head;
        if (is_header) head_index = records.size();
        Node& record = records.emplace_back(source);
        record_to_7(record, is_header, note_records, pass, extensions);
    }
    if (head != nullptr) declare_extensions(records[head_index], extensions, owned, pass);
    conversion.notes = std::move(pass.notes);
    return conversion;
}

}  // namespace lignor
