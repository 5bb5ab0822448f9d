// The document: its records, reading them from bytes or text under bounds,
// and writing them back (see node.hpp for the round-trip rule).
#pragma once

#include <cstddef>
#include <cstdint>
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
    // Code that changes the records other than through the edits below calls
    // forget_extent(), so that the running totals are measured again.
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
    // that reading them gives back exactly the text of to_text(); they begin
    // with a byte-order mark when writes_byte_order_mark().
    std::string to_bytes() const;

    // Whether to_bytes() begins with U+FEFF: version 7 asks every data
    // stream to begin with it, so a version 7 document made here (new_v7, a
    // conversion) writes it; a document read from bytes writes it exactly
    // when those bytes began with one, so that it is written back as read.
    bool writes_byte_order_mark() const noexcept { return byte_order_mark_; }
    void write_byte_order_mark(bool write) noexcept { byte_order_mark_ = write; }

    static Document new_v7();
    static Document new_v551(std::string_view source_system);

    // The first record whose identifier matches, ignoring ASCII case.
    const Node* record(std::string_view xref) const noexcept;
    Node* record_mut(std::string_view xref) noexcept;
    // Upper-cased identifier to the position of the first record holding it.
    std::unordered_map<std::string, std::size_t> xref_index() const;
    // Records other than those tagged HEAD and TRLR in any letter case.
    std::size_t content_records() const noexcept;
    // The record an edit addresses: the header for "HEAD" in any letter
    // case, else the first record whose identifier matches ignoring ASCII
    // case, or which has no identifier and exactly that tag.
    const Node* addressed_record(std::string_view address) const noexcept;
    Node* addressed_record_mut(std::string_view address) noexcept;
    std::vector<UnresolvedPointer> unresolved_pointers() const;
    // GEDC.VERS of the header (see header()) as written.
    std::optional<std::string> version() const;
    bool is_version_7_or_later() const;

    // The bounds every edit keeps the document within: those it was read
    // under, or the reader's defaults.
    const ParseLimits& limits() const noexcept { return limits_; }
    // Holds the document within `limits` from now on: a document made from
    // another keeps the bounds that one was read under.
    void keep_within(const ParseLimits& limits) noexcept { limits_ = limits; }
    // Lines and bytes of to_text() (longest_line is not kept): running
    // totals, measured once when not known yet.
    TextExtent extent() const;
    void forget_extent() noexcept { extent_.reset(); }
    // Takes `change` into the running totals when the text to_bytes() writes
    // after it stays within the bounds, counting only what the change adds;
    // otherwise the reader's own refusal, and nothing is recorded. Every
    // edit asks before it touches a record.
    Status admit(const TextChange& change);

    // Inserts `added` just before the last trailer (at the end when there is
    // none), in order, all or none: refused for a header or trailer, for an
    // identifier already used, ignoring ASCII case, by the document or an
    // earlier record of `added`, and past the bounds (admit).
    Status append_records(std::vector<Node> added);
    // Appends `added` after the substructures of the structure at `path` in
    // the record `record` addresses (addressed_record). All or none: refused
    // for a structure carrying an identifier, an address that leads nowhere,
    // a structure that would land deeper than the level limit, and past the
    // bounds.
    Status append_structures(std::string_view record, std::span<const std::size_t> path,
                             std::vector<Node> added);
    // `set_logical_value` on the structure at `path` in `record`, one of this
    // document's records. Refused, with nothing changed, when the path leads
    // nowhere ("no structure at [2, 5]"), when the text's CONT lines would
    // stand past the level limit, and past the bounds.
    Status set_logical_value_at(Node& record, std::span<const std::size_t> path,
                                std::string_view text);

    // Sets the header's first CHAR payload to "UTF-8" unless its line says
    // so already in the canonical spelling; true when the line changed.
    // Adds no CHAR line.
    bool declare_utf8_encoding();

  private:
    // `owner`, when given, holds `text`, and lets go of what the read has passed.
    static Result<Document> parse_lines(std::string_view text, const ParseLimits& limits,
                                        DecodedText* owner);

    std::size_t rendered_size_estimate() const noexcept;
    // Writes the records with `charset`, the header's first CHAR line, saying UTF-8.
    void write_declaring_utf8(LineWriter& writer, const Node& head, const Node& charset) const;
    // Bytes that to_bytes() writes beyond to_text(): its CHAR line rewritten.
    std::int64_t declaration_growth() const noexcept;
    // The byte-order mark to_bytes() writes first, if any.
    std::string_view byte_order_mark() const noexcept;

    ParseLimits limits_;
    // Lines and bytes of to_text(): counted by the read, kept by the edits,
    // measured on first use for a document assembled record by record.
    mutable std::optional<TextExtent> extent_;
    bool byte_order_mark_ = false;
};

struct LoadedDocument {
    Document document;
    EncodingReport report;
};

}  // namespace lignor
