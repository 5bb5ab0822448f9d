// The document: its records, reading them from bytes or text under bounds,
// and writing them back (see node.hpp for the round-trip rule).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "decode.hpp"
#include "error.hpp"
#include "limits.hpp"
#include "node.hpp"
#include "queries.hpp"

namespace lignor {

struct LoadedDocument;

class Document {
  public:
    std::vector<Node> records;

    static Result<LoadedDocument> from_bytes(std::string_view bytes);
    // `chosen`: the encoding the caller says the bytes are in, whatever the
    // file declares.
    static Result<LoadedDocument> from_bytes_with(
        std::string_view bytes, const ParseLimits& limits,
        const std::optional<NamedEncoding>& chosen = std::nullopt);
    static Result<Document> parse_with(std::string_view text, const ParseLimits& limits);

    std::string to_text() const;
    // UTF-8 bytes with the header's CHAR made to say UTF-8 (on a copy), so
    // that reading them gives back exactly the text of to_text().
    std::string to_bytes() const;

    static Document new_v7();
    static Document new_v551(std::string_view source_system);

    // The first record whose identifier matches, ignoring ASCII case.
    const Node* record(std::string_view xref) const noexcept;
    Node* record_mut(std::string_view xref) noexcept;
    // Upper-cased identifier to the position of the first record holding it.
    std::unordered_map<std::string, std::size_t> xref_index() const;
    // Records other than those tagged exactly HEAD and TRLR.
    std::size_t content_records() const noexcept;
    std::vector<UnresolvedPointer> unresolved_pointers() const;
    // GEDC.VERS of the header (see header()) as written.
    std::optional<std::string> version() const;
    bool is_version_7_or_later() const;

    // Inserts `added` just before the last record tagged TRLR (at the end
    // when there is none), in order, all or none: refused for a record
    // tagged HEAD or TRLR and for an identifier already used, ignoring ASCII
    // case, by the document or an earlier record of `added`.
    Status append_records(std::vector<Node> added);
    // Appends `added` after the substructures of the structure at `path` in
    // the record `record` names: an identifier (ignoring ASCII case), or the
    // exact tag of a record without one ("HEAD"). All or none: refused for a
    // structure carrying an identifier, an address that leads nowhere, or a
    // structure that would land deeper than the reader's level limit.
    Status append_structures(std::string_view record, std::span<const std::size_t> path,
                             std::vector<Node> added);

    // Sets the header's first CHAR payload to "UTF-8" unless its line says
    // so already in the canonical spelling; true when the line changed.
    // Adds no CHAR line.
    bool declare_utf8_encoding();

  private:
    std::size_t rendered_size_estimate() const noexcept;

    // Bytes of the text the document was read from: a good first guess for
    // the size of its rendering, which saves a pass over every node.
    std::size_t size_hint_ = 0;
};

struct LoadedDocument {
    Document document;
    EncodingReport report;
};

}  // namespace lignor
