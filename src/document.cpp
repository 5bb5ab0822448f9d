// The document's own methods: reading bytes or text into records under
// bounds and writing them back byte for byte, making new documents, and the
// questions every caller asks of one (a record by identifier, pointers that
// lead nowhere, the declared version). Its edits live in build.cpp.
#include "document.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ascii.hpp"
#include "queries.hpp"
#include "storage.hpp"
#include "unicode.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {

// ---- reading ---------------------------------------------------------------

namespace {

// The first LF (or, when `with_cr`, LF or CR) at or after `p`. Lines are
// short, so an inline 16-byte scan beats a library call per line; it is
// inlined into every loop over lines, where a call per line would cost the
// read a few per cent.
[[gnu::always_inline]] inline const char* find_line_break(const char* p, const char* const end,
                                                          bool with_cr) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8(with_cr ? '\r' : '\n');
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)));
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && *p != '\n' && !(with_cr && *p == '\r')) ++p;
    return p;
}

// Cuts text into lines at LF, CR LF and lone CR, numbering every line the way
// an editor does (empty lines count).
class LineCutter {
  public:
    explicit LineCutter(std::string_view text)
        : text_(text), has_cr_(text.find('\r') != std::string_view::npos) {}

    // The next line, or nothing at the end of the text.
    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        ++number_;
        const char* const begin = text_.data();
        const char* const end = find_line_break(begin + pos_, begin + text_.size(), has_cr_);
        const auto stop = static_cast<std::size_t>(end - begin);
        line = text_.substr(pos_, stop - pos_);
        pos_ = stop;
        if (pos_ < text_.size()) {
            const bool crlf =
                text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n';
            pos_ += crlf ? 2 : 1;
        }
        return true;
    }

    std::uint64_t number() const { return number_; }
    // Where the next line begins.
    std::size_t position() const { return pos_; }

  private:
    std::string_view text_;
    bool has_cr_;
    std::size_t pos_ = 0;
    std::uint64_t number_ = 0;
};

// The error of the line itself, numbered `number`: too long, or not a
// GEDCOM line. `parsed` is the line read when there is none. Inlined into
// the read's loop, as find_line_break is.
[[gnu::always_inline]] inline std::optional<GedcomError> line_fault(std::string_view line,
                                                                    std::uint64_t number,
                                                                    const ParseLimits& limits,
                                                                    ParsedLine& parsed) {
    if (line.size() > limits.max_line_length)
        return GedcomError::at_line(ErrorKind::Limit, "the line is longer than the limit", number);
    parsed.line = number;
    const LineFault fault = read_line(line, limits.max_depth, parsed);
    if (fault != LineFault::None) return line_error(fault, number);
    return std::nullopt;
}

// At most one more non-empty line than line breaks: the bytes that can end
// a line, counted 16 at a time in byte lanes that are summed before any can
// pass 255.
[[gnu::hot]] std::uint64_t most_lines(std::string_view text) noexcept {
    std::uint64_t breaks = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero;
    while (end - p >= 16) {
        __m128i counts = zero;
        for (int i = 0; i < 255 && end - p >= 16; ++i, p += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i is_break =
                _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr));
            counts = _mm_sub_epi8(counts, is_break);  // a match is -1
        }
        total = _mm_add_epi64(total, _mm_sad_epu8(counts, zero));
    }
    breaks = static_cast<std::uint64_t>(_mm_cvtsi128_si64(total)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total)));
#endif
    for (; p < end; ++p) breaks += static_cast<std::uint64_t>(*p == '\n' || *p == '\r');
    return breaks + 1;
}

// The number of the first non-empty line past `max_lines` of them, or
// nothing when the text has no more than that.
[[gnu::hot]] std::optional<std::uint64_t> line_past_bound(std::string_view text,
                                                          std::uint64_t max_lines) {
    // Every non-empty line but the last takes a byte and a line break.
    if (text.size() / 2 < max_lines || most_lines(text) <= max_lines) return std::nullopt;
    LineCutter cutter(text);
    std::string_view line;
    std::uint64_t lines = 0;
    while (cutter.next(line))
        if (!line.empty() && ++lines > max_lines) return cutter.number();
    return std::nullopt;
}

// The refusal of a text whose line `past` is one more than the bound: the
// first line before it with an error of its own, which outranks the count,
// else the count. Nothing is built.
GedcomError first_line_error(std::string_view text, const ParseLimits& limits, std::uint64_t past) {
    LineCutter cutter(text);
    std::string_view line;
    ParsedLine parsed;
    while (cutter.next(line) && cutter.number() < past) {
        if (line.empty()) continue;
        if (auto fault = line_fault(line, cutter.number(), limits, parsed))
            return std::move(*fault);
    }
    return GedcomError::at_line(ErrorKind::Limit, "the file has too many lines", past);
}

}  // namespace

Result<Document> Document::parse_with(std::string_view text, const ParseLimits& limits) {
    return parse_lines(text, limits, nullptr);
}

[[gnu::hot]] Result<Document> Document::parse_lines(std::string_view text,
                                                    const ParseLimits& limits, DecodedText* owner) {
    if (text.size() > limits.max_file_bytes) {
        return GedcomError::whole(ErrorKind::Limit,
                                  file_size_message(text.size(), limits.max_file_bytes));
    }
    // A text of more lines than the bound is refused before a node is built
    // that would be thrown away.
    if (const auto past = line_past_bound(text, limits.max_lines))
        return first_line_error(text, limits, *past);
    // Node parts of one read are cut from shared slabs (see storage.hpp).
    const storage::SlabScope slabs;
    Document document;
    TreeBuilder builder(limits.max_records, text.data() + text.size());
    // Line errors outrank nesting errors wherever they stand, so the first
    // nesting error waits until every line has been read.
    std::optional<GedcomError> nesting_error;
    std::uint64_t lines_read = 0;
    std::uint64_t bytes_written = 0;  // as to_text writes them back: each line and an LF
    // Room for as many records as the text could hold at 32 bytes each, so
    // that the list never moves: pages it never writes are never touched,
    // where each move would leave the old list behind in the heap.
    document.records.reserve(static_cast<std::size_t>(
        std::min<std::uint64_t>(text.size() / 32 + 16, limits.max_records)));
    LineCutter cutter(text);
    std::string_view line;
    ParsedLine parsed;
    // The nodes copy what they keep, so a decoded copy of the file goes
    // back to the system a step at a time behind the read.
    constexpr std::size_t discard_step = std::size_t{1} << 16;
    std::size_t next_discard = discard_step;
    while (cutter.next(line)) {
        if (owner != nullptr && cutter.position() >= next_discard) {
            owner->discard_before(static_cast<std::size_t>(line.data() - text.data()));
            next_discard = cutter.position() + discard_step;
        }
        if (line.empty()) continue;
        ++lines_read;
        bytes_written += line.size() + 1;
        if (auto fault = line_fault(line, cutter.number(), limits, parsed))
            return std::move(*fault);
        if (nesting_error) continue;
        Status added = builder.add(parsed, document.records);
        if (!added) {
            nesting_error = std::move(added).take_error();
            document.records.clear();
        }
    }
    if (nesting_error) return std::move(*nesting_error);
    builder.finish(document.records);
    document.limits_ = limits;
    document.extent_ = TextExtent{lines_read, bytes_written, 0};
    return document;
}

Result<LoadedDocument> Document::from_bytes(std::string_view bytes) {
    return from_bytes_with(bytes, ParseLimits{});
}

namespace {

// A ZIP file opens with a local file header, or with the end record alone
// when it is empty. No GEDCOM text begins with "PK" and these two bytes.
bool is_zip_archive(std::string_view bytes) noexcept {
    return bytes.starts_with(std::string_view("PK\x03\x04", 4)) ||
           bytes.starts_with(std::string_view("PK\x05\x06", 4));
}

}  // namespace

[[gnu::hot]] Result<LoadedDocument> Document::from_bytes_with(
    std::string_view bytes, const ParseLimits& limits, const std::optional<NamedEncoding>& chosen) {
    Result<DecodedText> decoded = decode_gedcom_with(bytes, limits, chosen);
    if (!decoded) return std::move(decoded).take_error();
    if (is_zip_archive(bytes)) {
        return GedcomError::whole(ErrorKind::Syntax,
                                  "the data is a ZIP archive, not GEDCOM text; a GEDZIP archive "
                                  "holds its GEDCOM file as the gedcom.ged entry");
    }
    Result<Document> document = parse_lines(decoded->text(), limits, &*decoded);
    if (!document) return std::move(document).take_error();
    // Written back as read: with a mark when the bytes began with one.
    const EncodingReport& report = decoded->report;
    document->byte_order_mark_ = report.bom || report.ignored_bom.has_value();
    return LoadedDocument{std::move(*document), std::move(decoded->report)};
}

// ---- writing ---------------------------------------------------------------

std::size_t Document::rendered_size_estimate() const noexcept {
    // The running total is exact while every change went through the edits;
    // anything else is measured.
    if (extent_) return extent_->bytes;
    std::size_t size = 0;
    for (const Node& record : records) size += record.rendered_size(0);
    return size;
}

std::string Document::to_text() const {
    std::string out;
    out.reserve(rendered_size_estimate() + LineWriter::slack);
    {
        LineWriter writer(out, true);
        writer.subtrees(records, 0);
    }
    return out;
}

namespace {

// True when `charset` (the header's first CHAR line) already tells a reader
// that the text is UTF-8: its payload says so, and its line is written the
// canonical way, the only way the decoder's declaration scan reads it (it
// skips "01 CHAR UTF-8" and would obey a later CHAR line instead).
bool declares_utf8(const Node& charset) {
    const auto payload = charset.value();
    return payload && !charset.verbatim() && ascii::iequals(unicode::trim(*payload), "utf-8");
}

// U+FEFF in UTF-8.
constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

}  // namespace

std::string_view Document::byte_order_mark() const noexcept {
    return byte_order_mark_ ? utf8_byte_order_mark : std::string_view();
}

std::string Document::to_bytes() const {
    const Node* head = header(*this);
    const Node* charset = head ? head->first("CHAR") : nullptr;
    std::string out(byte_order_mark());
    out.reserve(out.size() + rendered_size_estimate() + 8 + LineWriter::slack);
    {
        LineWriter writer(out, true);
        if (!charset || declares_utf8(*charset)) {
            writer.subtrees(records, 0);
        } else {
            write_declaring_utf8(writer, *head, *charset);
        }
    }
    return out;
}

// What declare_utf8_encoding would make of a copy, without copying the
// document: the CHAR line is rendered anew, every other line as it is.
void Document::write_declaring_utf8(LineWriter& writer, const Node& head,
                                    const Node& charset) const {
    Node declared = charset;
    declared.set_value("UTF-8");
    const std::span<const Node> all(records);
    const auto at = static_cast<std::size_t>(&head - records.data());
    writer.subtrees(all.first(at), 0);
    writer.line(head, 0);
    const std::span<const Node> children(head.children().data(), head.children().size());
    const auto charset_at = static_cast<std::size_t>(&charset - children.data());
    writer.subtrees(children.first(charset_at), 1);
    writer.subtree(declared, 1);
    writer.subtrees(children.subspan(charset_at + 1), 1);
    writer.subtrees(all.subspan(at + 1), 0);
}

bool Document::declare_utf8_encoding() {
    Node* head = header_mut(*this);
    Node* charset = head ? head->first_mut("CHAR") : nullptr;
    if (!charset || declares_utf8(*charset)) return false;
    const std::int64_t growth = declaration_growth();
    charset->set_value("UTF-8");
    if (extent_) extent_->bytes += growth;
    return true;
}

// ---- keeping within the bounds --------------------------------------------

namespace {

// The line to_bytes writes for a CHAR that does not say UTF-8.
constexpr std::string_view utf8_declaration = "1 CHAR UTF-8";
// The most that rewrite adds: the shortest CHAR line is "1 CHAR".
constexpr std::int64_t most_declaration_growth = utf8_declaration.size() - 6;

GedcomError over_limit(std::string message) {
    return GedcomError::whole(ErrorKind::Limit, std::move(message));
}

}  // namespace

std::int64_t Document::declaration_growth() const noexcept {
    const Node* head = header(*this);
    const Node* charset = head ? head->first("CHAR") : nullptr;
    if (!charset || declares_utf8(*charset)) return 0;
    return static_cast<std::int64_t>(utf8_declaration.size()) -
           static_cast<std::int64_t>(line_length(*charset, 1));
}

TextExtent Document::extent() const {
    if (!extent_) {
        TextExtent measured;
        for (const Node& record : records) measured += text_extent(record, 0);
        measured.longest_line = 0;
        extent_ = measured;
    }
    return *extent_;
}

Status Document::admit(const TextChange& change) {
    const TextExtent now = extent();
    const TextExtent& removed = change.removed;
    const TextExtent& added = change.added;
    // In the order the reader checks: the file's size, its line count, each
    // line's length, its record count. A change that adds nothing to a total
    // is never refused for it.
    const std::uint64_t bytes = now.bytes - removed.bytes + added.bytes;
    // The bounds are those of what to_bytes() writes: to_text() behind its
    // byte-order mark, with the CHAR line rewritten. An edit of the header
    // may change that line, and so what the rewrite adds: count the most.
    const std::int64_t declaration =
        change.touches_header ? most_declaration_growth : declaration_growth();
    const auto written = static_cast<std::uint64_t>(std::max<std::int64_t>(
        0, static_cast<std::int64_t>(bytes + byte_order_mark().size()) + declaration));
    if (added.bytes > removed.bytes && written > limits_.max_file_bytes) {
        return over_limit(file_size_message(written, limits_.max_file_bytes));
    }
    const std::uint64_t lines = now.lines - removed.lines + added.lines;
    if (added.lines > removed.lines && lines > limits_.max_lines) {
        return over_limit("the file has too many lines");
    }
    if (added.longest_line > limits_.max_line_length) {
        return over_limit("the line is longer than the limit");
    }
    if (change.records_added > 0 && records.size() + change.records_added > limits_.max_records) {
        return over_limit("the file has too many records");
    }
    extent_ = TextExtent{lines, bytes, 0};
    return ok();
}

// ---- making documents, and what they answer ----

Document Document::new_v7() {
    Document document;
    document.byte_order_mark_ = true;
    Node header = Node::make("HEAD");
    Node gedc = Node::make("GEDC");
    gedc.push(Node::with_value("VERS", "7.0"));
    header.push(std::move(gedc));
    document.records.push_back(std::move(header));
    document.records.push_back(Node::make("TRLR"));
    return document;
}

Document Document::new_v551(std::string_view source_system) {
    Document document;
    Node header = Node::make("HEAD");
    header.push(Node::with_value("SOUR", source_system));
    Node gedc = Node::make("GEDC");
    gedc.push(Node::with_value("VERS", "5.5.1"));
    gedc.push(Node::with_value("FORM", "LINEAGE-LINKED"));
    header.push(std::move(gedc));
    header.push(Node::with_value("CHAR", "UTF-8"));
    document.records.push_back(std::move(header));
    document.records.push_back(Node::make("TRLR"));
    return document;
}

const Node* Document::record(std::string_view xref) const noexcept {
    for (const Node& candidate : records) {
        const auto id = candidate.xref();
        if (id && same_xref(*id, xref)) return &candidate;
    }
    return nullptr;
}

Node* Document::record_mut(std::string_view xref) noexcept {
    return const_cast<Node*>(static_cast<const Document*>(this)->record(xref));
}

const Node* Document::addressed_record(std::string_view address) const noexcept {
    if (is_header_tag(address)) return header(*this);
    for (const Node& record : records) {
        const auto xref = record.xref();
        if (xref ? same_xref(*xref, address) : record.tag() == address) return &record;
    }
    return nullptr;
}

Node* Document::addressed_record_mut(std::string_view address) noexcept {
    return const_cast<Node*>(std::as_const(*this).addressed_record(address));
}

std::unordered_map<std::string, std::size_t> Document::xref_index() const {
    std::unordered_map<std::string, std::size_t> index;
    index.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        if (const auto id = records[i].xref()) index.try_emplace(xref_key(*id), i);
    return index;
}

std::size_t Document::content_records() const noexcept {
    std::size_t count = 0;
    for (const Node& record : records)
        if (!is_header_tag(record.tag()) && !is_trailer_tag(record.tag())) ++count;
    return count;
}

std::vector<UnresolvedPointer> Document::unresolved_pointers() const {
    std::unordered_set<std::string> targets;
    targets.reserve(records.size());
    for (const Node& record : records)
        if (const auto id = record.xref()) targets.insert(xref_key(*id));

    std::vector<UnresolvedPointer> found;
    const Node* record = nullptr;
    walk(records, [&](const Node& node, std::span<const std::size_t> path) {
        if (path.empty()) record = &node;
        const auto payload = node.value();
        if (payload && is_pointer_payload(*payload) && !targets.contains(xref_key(*payload))) {
            found.push_back({std::string(record->xref().value_or(record->tag())),
                             StructurePath(path.begin(), path.end()), std::string(node.tag()),
                             std::string(*payload)});
        }
    });
    return found;
}

std::optional<std::string> Document::version() const {
    const Node* head = header(*this);
    if (!head) return std::nullopt;
    const Node* gedc = head->first("GEDC");
    if (!gedc) return std::nullopt;
    return gedc->value_of("VERS");
}

bool Document::is_version_7_or_later() const {
    const std::optional<std::string> declared = version();
    if (!declared) return false;
    std::string_view major = std::string_view(*declared).substr(0, declared->find('.'));
    major = unicode::trim(major);
    if (!major.empty() && major.front() == '+') major.remove_prefix(1);
    if (major.empty()) return false;
    std::uint64_t number = 0;
    for (char c : major) {
        if (!ascii::is_digit(c)) return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > UINT32_MAX) return false;
    }
    return number >= 7;
}

}  // namespace lignor
