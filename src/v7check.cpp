// The version 7 conformance check: line syntax, one walk over each record
// against the standard's tables, the payload grammars, and the document-wide
// checks of identifiers, pointers, header and trailer.
#include "v7check.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ascii.hpp"
#include "document.hpp"
#include "error.hpp"
#include "schema.hpp"
#include "v7check_index.hpp"
#include "v7defs.hpp"
#include "v7grammar.hpp"
#include "value_writer.hpp"

namespace lignor {
namespace {

using v7table::Payload;
using v7table::TypeFacts;
using Kind = Version7ProblemKind;
using v7check::IdentifierIndex;

constexpr std::string_view type_prefix = "https://gedcom.io/terms/v7/";

using v7::is_extension_tag;
using v7::is_tag;
using v7::is_xref_form;

bool all_digits(std::string_view text) noexcept {
    return !text.empty() && std::ranges::all_of(text, ascii::is_digit);
}

// Payload text as messages show it: quoted, and cut after 80 bytes.
std::string shown(std::string_view text) {
    constexpr std::size_t most = 80;
    if (text.size() <= most) return quoted(text);
    std::size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return quoted(text.substr(0, cut)) + "...";
}

// The record tag a pointer type leads to: "record-FAM" is FAM.
std::string_view record_tag(std::string_view type) noexcept {
    return type.substr(type.find('-') + 1);
}

std::string join(std::span<const std::string_view> values) {
    std::string text;
    for (const std::string_view value : values) {
        if (!text.empty()) text += ", ";
        text += value;
    }
    return text;
}

// ----- the walk -------------------------------------------------------------------

class Checker {
  public:
    explicit Checker(const Document& document)
        : records_(document.records),
          index_(v7table::row_index()),
          rows_(v7table::rows()),
          types_(v7table::types()) {
        read_declarations(document);
        index_identifiers();
        version_type_ = v7table::type_named("GEDC-VERS");
        // Room for a problem every other record, so that the list seldom
        // moves: each move copies every problem into fresh memory, whose
        // pages cost a fault and their clearing, while room never written
        // costs address space only.
        problems_.reserve(records_.size() / 2);
    }

    std::vector<Version7Problem> run() {
        walk(std::span<const Node>(records_),
             [&](const Node& node, std::span<const std::size_t> path) {
                 visit(node, path.size(), path.empty() ? 0 : path.back());
             });
        close_to(0);
        if (records_.empty()) {
            add_at(1, std::nullopt, {}, "HEAD", Kind::HeaderTrailer,
                   "the document has no records; a version 7 file begins with HEAD and ends with "
                   "TRLR");
        } else if (!seen_trailer_) {
            const Node& last = records_.back();
            const auto xref = last.xref();
            add_at(last_record_line_, xref ? std::optional<std::string>(*xref) : std::nullopt, {},
                   std::string(last.tag()), Kind::HeaderTrailer,
                   "no TRLR record follows this last record; a version 7 file ends with TRLR");
        }
        return std::move(problems_);
    }

  private:
    struct Frame {
        const Node* node = nullptr;
        std::uint32_t row = v7table::no_row;  // no_row when not examined
        std::uint32_t counts_at = 0;          // where its children's counts start
        std::uint64_t line = 0;
        std::size_t index = 0;  // among its parent's substructures
        std::string_view tag;
        bool continued = false;      // a CONT line has been met under it
        bool substructured = false;  // a substructure other than CONT has been met under it
        bool has_payload = false;    // its own line's payload is not empty
        bool excess = false;         // some child type has more than its most
        std::uint64_t opened = 0;    // its number among structures opened, for its counts
    };

    // ----- before the walk

    void read_declarations(const Document& document) {
        if (const Node* head = header(document)) declared_ = schema::declarations(*head);
        std::ranges::sort(declared_, {}, &schema::Declaration::tag);
    }

    const schema::Declaration* declaration(std::string_view tag) const {
        const auto found = std::ranges::lower_bound(declared_, tag, {}, &schema::Declaration::tag);
        return found != declared_.end() && found->tag == tag ? &*found : nullptr;
    }

    // Each record's identifier into the index, and each later record holding
    // an identifier already taken into duplicates_, with the first.
    void index_identifiers() {
        identifiers_.reserve(records_.size());
        constexpr std::size_t ahead = 8;
        for (std::uint32_t at = 0; at < records_.size(); ++at) {
            if (at + ahead < records_.size()) records_[at + ahead].prefetch_xref();
            if (const auto xref = records_[at].xref())
                identifiers_.add(*xref, at, record_type(records_[at]));
        }
        duplicates_ = identifiers_.finish(records_);
    }

    // ----- problems

    void add_at(std::uint64_t line, std::optional<std::string> record, StructurePath path,
                std::string tag, Kind kind, std::string message) {
        Version7Problem problem{line, std::move(record), std::move(path), std::move(tag),
                                kind, std::move(message)};
        // A structure's counts and its payload below substructures are
        // checked as it closes, after the problems of the lines below it:
        // such a problem goes before those, so the list stays in line order
        // (after any of its own line, so that a line's problems keep the
        // order found).
        if (problems_.empty() || problems_.back().line <= line) {
            problems_.push_back(std::move(problem));
            return;
        }
        const auto after = std::ranges::upper_bound(problems_, line, {}, &Version7Problem::line);
        problems_.insert(after, std::move(problem));
    }

    // A problem of the structure open at `depth`.
    void add(std::size_t depth, Kind kind, std::string message) {
        StructurePath path;
        std::string tags;
        for (std::size_t d = 0; d <= depth; ++d) {
            if (d > 0) {
                path.push_back(frames_[d].index);
                tags += '.';
            }
            tags += frames_[d].tag;
        }
        const auto xref = records_[record_].xref();
        add_at(frames_[depth].line, xref ? std::optional<std::string>(*xref) : std::nullopt,
               std::move(path), std::move(tags), kind, std::move(message));
    }

    // ----- the walk

    void close_to(std::size_t depth) {
        while (open_ > depth) {
            --open_;
            const Frame& frame = frames_[open_];
            if (!frame.substructured && !frame.continued && !frame.has_payload &&
                !is_pseudo_structure(frame, open_)) {
                add(open_, Kind::EmptyStructure,
                    joined({frame.tag,
                            " has neither a payload nor a substructure; version 7 requires one or "
                            "the other (remove the line, or give it a payload)"}));
            }
            if (frame.row != v7table::no_row) {
                const TypeFacts& facts = types_[rows_[frame.row].type];
                // A structure with substructures has its payload checked
                // here, once its CONT lines are known.
                if (!frame.node->children().empty()) check_payload(*frame.node, open_, facts);
                if (frame.excess) {
                    for (std::size_t slot = 0; slot < facts.limits.size(); ++slot)
                        check_count(open_, facts, slot);
                } else {
                    for (const std::uint16_t slot : facts.required) check_count(open_, facts, slot);
                }
            }
            counts_end_ = frame.counts_at;
        }
    }

    // HEAD, TRLR and CONT may stand with neither payload nor substructure.
    static bool is_pseudo_structure(const Frame& frame, std::size_t depth) noexcept {
        return tag_is(frame.tag, "CONT") ||
               (depth == 0 && (tag_is(frame.tag, "HEAD") || tag_is(frame.tag, "TRLR")));
    }

    // A CONT line continues its structure's payload: it stands before any
    // substructure and has none of its own.
    void check_continuation(const Node& node, std::size_t depth) {
        Frame& above = frames_[depth - 1];
        if (!tag_is(node.tag(), "CONT")) {
            above.substructured = true;
            return;
        }
        if (above.substructured) {
            add(depth, Kind::Continuation,
                joined({"CONT stands after a substructure of ", above.tag,
                        "; version 7 writes a payload's CONT lines straight after its first "
                        "line, before any substructure"}));
        }
        if (!node.children().empty()) {
            add(depth, Kind::Continuation,
                "this CONT has substructures of its own; a CONT line continues its structure's "
                "payload and has none");
        }
    }

    // The characters version 7 bans anywhere, in a line's identifier or
    // payload (tags are held to the tag rule as they are read): named once a
    // line. Whether `text` holds one.
    bool check_characters(std::string_view text, std::size_t depth) {
        const std::size_t at = v7::find_banned(text);
        if (at == std::string_view::npos) return false;
        char buffer[8];
        add(depth, Kind::BannedCharacter,
            joined({"the line holds ", v7::banned_name(text, at, buffer),
                    ", a character version 7 bans anywhere (C0 controls other than tab, DEL, "
                    "surrogates, U+FFFE and U+FFFF); remove it or write it as text"}));
        return true;
    }

    void check_count(std::size_t depth, const TypeFacts& facts, std::size_t slot) {
        const Frame& frame = frames_[depth];
        const v7table::ChildLimit& limit = facts.limits[slot];
        const std::uint32_t count = count_at(frame, slot);
        if (count >= limit.least && (limit.most == 0 || count <= limit.most)) return;
        const std::string expected =
            limit.most == limit.least ? "exactly " + std::to_string(limit.least)
            : count < limit.least     ? "at least " + std::to_string(limit.least)
                                      : "at most " + std::to_string(limit.most);
        add(depth, Kind::Cardinality,
            std::string(frame.tag) + " has " + std::to_string(count) + " " +
                std::string(limit.tag) + ", but version 7 requires " + expected + " there");
    }

    void visit(const Node& node, std::size_t depth, std::size_t index) {
        close_to(depth);
        ++line_;
        if (depth == 0) {
            record_ = depth_zero_records_++;
            last_record_line_ = line_;
        }
        if (frames_.size() <= depth) frames_.resize(depth + 1);
        Frame& frame = frames_[depth];
        frame = Frame{&node, v7table::no_row, counts_end_, line_, index, node.tag()};
        open_ = depth + 1;
        const std::string_view tag = node.tag();
        const Frame* parent = depth > 0 ? &frames_[depth - 1] : nullptr;

        frame.has_payload = check_line(node, depth);
        if (depth > 0) check_continuation(node, depth);
        if (depth == 0) check_record(node);
        if (is_extension_tag(tag)) {
            // Undocumented extension tags are allowed, if discouraged: the
            // standard's own samples use them.
            check_unexamined_payload(node, depth);
            return;
        }
        if (tag_is(tag, "CONT") && depth > 0) {
            frames_[depth - 1].continued = true;
            check_text_at(node, depth);
            return;
        }
        if (parent != nullptr && parent->row == v7table::no_row) {
            check_tag(tag, depth);
            check_unexamined_payload(node, depth);
            return;
        }
        const std::uint32_t row =
            parent == nullptr ? index_.record(tag) : index_.child(parent->row, tag);
        if (row == v7table::no_row) {
            check_tag(tag, depth);
            add(depth, Kind::UndefinedStructure,
                parent == nullptr ? joined({"version 7 does not define a ", tag, " record"})
                                  : joined({"version 7 does not define ", tag, " under ",
                                            parent->tag, "; use an extension tag such as _", tag,
                                            ", or a structure version 7 defines there"}));
            check_unexamined_payload(node, depth);
            return;
        }
        const v7table::Row& facts_row = rows_[row];
        if (parent != nullptr && facts_row.slot != v7table::no_type) {
            Frame& above = frames_[depth - 1];
            Count& entry = counts_[above.counts_at + facts_row.slot];
            if (entry.opened != above.opened) entry = {above.opened, 0};
            const std::uint32_t count = ++entry.count;
            if (facts_row.most != 0 && count > facts_row.most) above.excess = true;
        }
        frame.row = row;
        const TypeFacts& facts = types_[facts_row.type];
        const std::size_t counts_end = counts_end_ + facts.limits.size();
        if (counts_.size() < counts_end) counts_.resize(counts_end);
        frame.opened = ++opened_;
        counts_end_ = static_cast<std::uint32_t>(counts_end);
        if (node.children().empty()) check_payload(node, depth, facts);
        if (facts_row.type == version_type_) check_version(node, depth);
    }

    // The line's own form and characters; whether it has a payload.
    bool check_line(const Node& node, std::size_t depth) {
        const std::string_view tag = node.tag();
        if (node.verbatim()) {
            add(depth, Kind::LineForm,
                "the line " + shown(*node.verbatim()) +
                    " is not in version 7's line form: a level without leading zeros or "
                    "plus sign, then single spaces between level, identifier, tag and payload");
        }
        const auto xref = node.xref();
        if (xref) {
            if (depth > 0) {
                add(depth, Kind::IdentifierOnSubstructure,
                    std::string(tag) + " carries identifier " + std::string(*xref) +
                        ", but in version 7 only records (level 0) have identifiers");
            } else if (!is_xref_form(*xref) || *xref == "@VOID@") {
                add(depth, Kind::LineForm,
                    "identifier " + shown(*xref) +
                        " is not an identifier of version 7: upper-case letters, digits and "
                        "underscores between two \"@\", and not @VOID@");
            }
        }
        const auto value = node.value();
        if (value && value->empty()) {
            add(depth, Kind::TrailingSpace,
                std::string(tag) +
                    " has an empty payload written after a space; version 7 writes the line "
                    "without the trailing space");
        }
        if (!check_characters(value.value_or(""), depth) && xref) check_characters(*xref, depth);
        return value && !value->empty();
    }

    // A tag the standard's table does not hold: is it a tag at all?
    void check_tag(std::string_view tag, std::size_t depth) {
        if (is_tag(tag)) return;
        add(depth, Kind::LineForm,
            "tag " + shown(tag) +
                " is not a tag of version 7: upper-case letters, digits and underscores, "
                "beginning with a letter, or with an underscore for an extension");
    }

    // A payload that must be text: a leading '@' doubled.
    void check_text_at(const Node& node, std::size_t depth) {
        const std::string_view value = node.value().value_or("");
        if (value.starts_with('@') && !value.starts_with("@@")) {
            add(depth, Kind::UnescapedAt,
                std::string(node.tag()) + " payload " + shown(value) +
                    " begins with a single \"@\"; version 7 writes a leading \"@\" as \"@@\" "
                    "in text, and a pointer only where one is defined");
        }
    }

    // An extension or undefined structure: its payload may be a pointer.
    void check_unexamined_payload(const Node& node, std::size_t depth) {
        const std::string_view value = node.value().value_or("");
        if (is_xref_form(value)) return;
        check_text_at(node, depth);
    }

    void check_record(const Node& node) {
        const std::string_view tag = node.tag();
        if (seen_trailer_) {
            add(0, Kind::HeaderTrailer,
                std::string(tag) +
                    " stands after the TRLR record; version 7 has TRLR as the last record");
        } else if (tag_is(tag, "TRLR")) {
            seen_trailer_ = true;
        }
        if (tag_is(tag, "HEAD") && record_ != 0) {
            add(0, Kind::HeaderTrailer,
                "a second HEAD record; version 7 has one HEAD, as the first record");
        } else if (record_ == 0 && !tag_is(tag, "HEAD")) {
            add(0, Kind::HeaderTrailer,
                "the first record is " + std::string(tag) + "; a version 7 file begins with HEAD");
        }
        if (next_duplicate_ < duplicates_.size() && duplicates_[next_duplicate_].first == record_) {
            const std::uint32_t first = duplicates_[next_duplicate_++].second;
            add(0, Kind::DuplicateIdentifier,
                "identifier " + std::string(node.xref().value_or("")) +
                    " is used by an earlier record too (" + std::string(records_[first].tag()) +
                    "); identifiers must be unique, ignoring letter case");
        }
    }

    void check_version(const Node& node, std::size_t depth) {
        const std::string_view value = node.value().value_or("");
        const std::size_t dot = value.find('.');
        const std::string_view minor =
            value.substr(dot == std::string_view::npos ? value.size() : dot + 1);
        const std::size_t second = minor.find('.');
        const bool ok = value.starts_with("7.") && all_digits(minor.substr(0, second)) &&
                        (second == std::string_view::npos || all_digits(minor.substr(second + 1)));
        if (!ok) {
            add(depth, Kind::HeaderTrailer,
                "GEDC.VERS " + shown(value) +
                    " is not a version 7 number; expected \"7.0\" or another \"7.x\"");
        }
    }

    // The payload with its CONT lines joined, or none when it has neither
    // text nor continuation (an empty payload counts as none).
    std::optional<std::string_view> logical(const Node& node, bool continued) {
        const std::string_view first = node.value().value_or("");
        if (!continued) return first.empty() ? std::nullopt : std::optional(first);
        joined_.assign(first);
        for (const Node& child : node.children()) {
            if (!tag_is(child.tag(), "CONT")) continue;
            joined_ += '\n';
            joined_ += child.value().value_or("");
        }
        return std::string_view(joined_);
    }

    void check_payload(const Node& node, std::size_t depth, const TypeFacts& facts) {
        const std::string_view tag = node.tag();
        const auto payload = logical(node, frames_[depth].continued);
        const Payload type = facts.payload;
        if (type != Payload::Pointer) check_text_at(node, depth);
        switch (type) {
            case Payload::None:
                if (payload) {
                    add(depth, Kind::Payload,
                        std::string(tag) + " has payload " + shown(*payload) +
                            ", but version 7 defines no payload for it here");
                }
                return;
            case Payload::YesOrEmpty:
                if (payload && *payload != "Y") {
                    add(depth, Kind::Payload,
                        std::string(tag) + " has payload " + shown(*payload) +
                            ", but version 7 allows only \"Y\" or no payload here; move the "
                            "text into a NOTE");
                }
                return;
            case Payload::Pointer:
                check_pointer(depth, facts, payload);
                return;
            case Payload::Text:
                return;
            case Payload::Enumeration:
            case Payload::EnumerationList:
                if (!payload) {
                    missing(depth, "one of " + join(facts.values));
                } else {
                    check_enumeration(depth, facts, *payload);
                }
                return;
            default:
                break;
        }
        if (!payload) {
            if (!v7::allows_empty(type)) missing(depth, v7::expected_forms(type));
            return;
        }
        if (!v7::matches(type, *payload, declared_)) {
            add(depth, Kind::Payload,
                std::string(tag) + " " + shown(*payload) + " is not " +
                    std::string(v7::expected_forms(type)));
        }
    }

    void missing(std::size_t depth, std::string_view expected) {
        add(depth, Kind::Payload,
            joined({frames_[depth].tag, " has no payload, but version 7 requires ", expected,
                    " here"}));
    }

    bool in_set(const TypeFacts& facts, std::string_view value) const noexcept {
        return std::ranges::binary_search(facts.values, value) || is_extension_tag(value);
    }

    void check_enumeration(std::size_t depth, const TypeFacts& facts, std::string_view payload) {
        std::string_view rest = payload;
        const bool list = facts.payload == Payload::EnumerationList;
        while (true) {
            const std::size_t comma = list ? rest.find(',') : std::string_view::npos;
            std::string_view item = rest.substr(0, comma);
            if (list) {
                while (item.starts_with(' ')) item.remove_prefix(1);
                while (item.ends_with(' ')) item.remove_suffix(1);
            }
            if (!in_set(facts, item)) {
                add(depth, Kind::Enumeration,
                    std::string(frames_[depth].tag) + " " + shown(item) +
                        " is not one of version 7's values here (" + join(facts.values) +
                        ") or an extension value such as \"_X\"");
                return;
            }
            if (comma == std::string_view::npos) return;
            rest.remove_prefix(comma + 1);
        }
    }

    void check_pointer(std::size_t depth, const TypeFacts& facts,
                       std::optional<std::string_view> payload) {
        const std::string_view tag = frames_[depth].tag;
        const auto wanted = [&] { return std::string(record_tag(types_[facts.target].type)); };
        if (!payload) {
            missing(depth, "a pointer to a " + wanted() + " record (or @VOID@)");
            return;
        }
        if (*payload == "@VOID@") return;
        if (!is_xref_form(*payload)) {
            add(depth, Kind::Payload,
                std::string(tag) + " payload " + shown(*payload) +
                    " is not a pointer; version 7 expects \"@XREF@\" naming a " + wanted() +
                    " record, or \"@VOID@\"");
            return;
        }
        const IdentifierIndex::Found found = identifiers_.find(*payload);
        if (found.record == 0) {
            add(depth, Kind::NoSuchRecord,
                std::string(tag) + " points to " + std::string(*payload) +
                    ", but no record has that identifier; point to an existing " + wanted() +
                    " record or write @VOID@");
            return;
        }
        if (found.type == facts.target || found.type == extension_record) return;
        add(depth, Kind::PointerType,
            std::string(tag) + " points to " + std::string(*payload) + ", a " +
                std::string(records_[found.record - 1].tag()) +
                " record, but version 7 expects a " + wanted() + " record here");
    }

    // The type of a record for pointers: its standard type, the standard
    // type its extension tag is declared with, `extension_record` for any
    // other extension, or no_type.
    std::uint16_t record_type(const Node& record) const noexcept {
        const std::string_view tag = record.tag();
        if (is_extension_tag(tag)) {
            const auto* declared = declaration(tag);
            if (declared != nullptr && declared->uri.starts_with(type_prefix)) {
                const std::uint16_t type =
                    v7table::type_named(std::string_view(declared->uri).substr(type_prefix.size()));
                if (type != v7table::no_type) return type;
            }
            return extension_record;
        }
        const std::uint32_t row = v7table::record_row(tag);
        return row == v7table::no_row ? v7table::no_type : rows_[row].type;
    }

    static constexpr std::uint16_t extension_record = v7table::no_type - 1;

    const std::vector<Node>& records_;
    const v7table::RowIndex& index_;
    std::span<const v7table::Row> rows_;
    std::span<const TypeFacts> types_;
    std::vector<schema::Declaration> declared_;  // sorted by tag
    IdentifierIndex identifiers_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> duplicates_;  // (record, first), in order
    std::size_t next_duplicate_ = 0;
    std::uint16_t version_type_ = v7table::no_type;

    std::vector<Frame> frames_;
    std::size_t open_ = 0;
    // How many children of each type the open structures have. An entry
    // counts for the structure whose number it holds, and is 0 for any
    // other: a structure opened starts with all its counts at 0 without
    // clearing them, which was a memset at nearly every structure. The
    // numbers are 64-bit, so they never run out.
    struct Count {
        std::uint64_t opened = 0;
        std::uint32_t count = 0;
    };
    std::uint32_t count_at(const Frame& frame, std::size_t slot) const noexcept {
        const Count& entry = counts_[frame.counts_at + slot];
        return entry.opened == frame.opened ? entry.count : 0;
    }
    std::vector<Count> counts_;  // grown only
    std::uint32_t counts_end_ = 0;
    std::uint64_t opened_ = 0;
    std::string joined_;
    std::uint64_t line_ = 0;
    std::uint64_t last_record_line_ = 0;
    std::uint32_t record_ = 0;
    std::uint32_t depth_zero_records_ = 0;
    bool seen_trailer_ = false;
    std::vector<Version7Problem> problems_;
};

}  // namespace

std::string_view to_string(Version7ProblemKind kind) noexcept {
    switch (kind) {
        case Kind::TrailingSpace:
            return "trailing-space";
        case Kind::LineForm:
            return "line-form";
        case Kind::IdentifierOnSubstructure:
            return "identifier-on-substructure";
        case Kind::UnescapedAt:
            return "unescaped-at";
        case Kind::UndefinedStructure:
            return "undefined-structure";
        case Kind::Cardinality:
            return "cardinality";
        case Kind::Payload:
            return "payload";
        case Kind::Enumeration:
            return "enumeration";
        case Kind::PointerType:
            return "pointer-type";
        case Kind::NoSuchRecord:
            return "no-such-record";
        case Kind::DuplicateIdentifier:
            return "duplicate-identifier";
        case Kind::HeaderTrailer:
            return "header-trailer";
        case Kind::EmptyStructure:
            return "empty-structure";
        case Kind::Continuation:
            return "continuation";
        case Kind::BannedCharacter:
            return "banned-character";
    }
    return "payload";
}

void Version7Problem::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::line).unsigned_integer(line);
    out.key(Key::record).optional_string(record);
    out.key(Key::path);
    write_array(out, std::span<const std::size_t>(path));
    out.key(Key::tag).string(tag);
    out.key(Key::kind).string(to_string(kind));
    out.key(Key::message).string(message);
    out.end_object();
}

std::vector<Version7Problem> check_version_7(const Document& document) {
    return Checker(document).run();
}

}  // namespace lignor
