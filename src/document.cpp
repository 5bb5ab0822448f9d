#include "document.hpp"

#include <array>
#include <cstring>

#include "unicode.hpp"

namespace lignor {
namespace {

constexpr std::array<bool, 256> make_tag_table() {
    std::array<bool, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
    table['_'] = true;
    return table;
}
constexpr std::array<bool, 256> tag_bytes = make_tag_table();

GedcomError syntax(std::string message, std::uint64_t line) {
    return GedcomError::at_line(ErrorKind::Syntax, std::move(message), line);
}

std::size_t find_byte(std::string_view text, char byte, std::size_t from = 0) {
    if (from >= text.size()) return std::string_view::npos;
    const void* hit = std::memchr(text.data() + from, byte, text.size() - from);
    if (!hit) return std::string_view::npos;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

// The level: an optional '+', one or more ASCII digits, at most 65,535.
std::optional<std::uint16_t> read_level(std::string_view text) {
    std::size_t pos = 0;
    if (!text.empty() && text[0] == '+') pos = 1;
    if (pos == text.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (; pos < text.size(); ++pos) {
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(text[pos]) - '0');
        if (digit > 9) return std::nullopt;
        value = value * 10 + digit;
        if (value > 65535) return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// A level renders back as written only in plain decimal: no '+', no leading zero.
bool is_canonical_level(std::string_view text) {
    return text[0] != '+' && (text.size() == 1 || text[0] != '0');
}

void append_level(std::uint16_t level, std::string& out) {
    char digits[5];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + level % 10);
        level = static_cast<std::uint16_t>(level / 10);
    } while (level != 0);
    while (count > 0) out.push_back(digits[--count]);
}

std::size_t level_width(std::uint16_t level) {
    return level >= 10000 ? 5 : level >= 1000 ? 4 : level >= 100 ? 3 : level >= 10 ? 2 : 1;
}

[[noreturn]] void fail_precondition(std::string message) { throw InternalFailure(message); }

void require_tag(std::string_view tag, const char* rule) {
    if (!is_valid_tag(tag)) fail_precondition(quoted(tag) + rule);
}

bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool is_continuation_tag(std::string_view tag) { return tag == "CONT" || tag == "CONC"; }

}  // namespace

// ---- the line grammar ------------------------------------------------------

bool is_valid_tag(std::string_view tag) noexcept {
    if (tag.empty()) return false;
    for (char c : tag)
        if (!tag_bytes[static_cast<unsigned char>(c)]) return false;
    return true;
}

bool is_valid_xref(std::string_view xref) noexcept {
    if (xref.size() <= 2 || xref.front() != '@' || xref.back() != '@') return false;
    return find_byte(xref.substr(1, xref.size() - 2), '@') == std::string_view::npos;
}

Result<ParsedLine> parse_line(std::string_view text, std::uint64_t line_number,
                              std::uint16_t max_depth) {
    const std::size_t first_space = find_byte(text, ' ');
    if (first_space == std::string_view::npos) return syntax("the line has no tag", line_number);

    const std::string_view level_text = text.substr(0, first_space);
    const std::optional<std::uint16_t> level = read_level(level_text);
    if (!level) return syntax("the line does not begin with a level", line_number);
    if (*level > max_depth) {
        return GedcomError::at_line(ErrorKind::Limit, "the line is nested deeper than the limit",
                                    line_number);
    }

    std::size_t rest_start = first_space + 1;
    while (rest_start < text.size() && text[rest_start] == ' ') ++rest_start;
    const std::string_view rest = text.substr(rest_start);
    const std::size_t token_end = find_byte(rest, ' ');
    const std::string_view token = rest.substr(0, token_end);
    if (token.empty()) return syntax("the line has no tag", line_number);

    ParsedLine parsed;
    parsed.level = *level;
    parsed.line = line_number;
    std::optional<std::string_view> remainder;
    if (token_end != std::string_view::npos) remainder = rest.substr(token_end + 1);

    if (token.front() == '@') {
        if (!is_valid_xref(token)) {
            return syntax("the cross-reference identifier is not closed, or contains a space",
                          line_number);
        }
        if (!remainder || remainder->empty()) {
            return syntax("the record has an identifier but no tag", line_number);
        }
        parsed.xref = token;
        const std::size_t tag_end = find_byte(*remainder, ' ');
        parsed.tag = remainder->substr(0, tag_end);
        if (tag_end != std::string_view::npos) parsed.value = remainder->substr(tag_end + 1);
    } else {
        parsed.tag = token;
        parsed.value = remainder;
    }
    if (!is_valid_tag(parsed.tag)) {
        return syntax("a tag must be ASCII letters, digits, or underscore", line_number);
    }

    // Every other part of an accepted line renders back exactly as read, so
    // only the level's spelling and the spaces after it can differ.
    if (!is_canonical_level(level_text) || rest_start != first_space + 1) parsed.verbatim = text;
    return parsed;
}

void render_line(std::uint16_t level, std::optional<std::string_view> xref, std::string_view tag,
                 std::optional<std::string_view> value, std::string& out) {
    append_level(level, out);
    out.push_back(' ');
    if (xref) {
        out.append(*xref);
        out.push_back(' ');
    }
    out.append(tag);
    if (value) {
        out.push_back(' ');
        out.append(*value);
    }
}

// ---- Node ------------------------------------------------------------------

Node Node::make(std::string_view tag) {
    require_tag(tag, " is not a GEDCOM tag: ASCII letters, digits, or underscore");
    Node node;
    node.tag_ = CompactText<16>(tag);
    return node;
}

Node Node::record(std::string_view xref, std::string_view tag) {
    if (!is_valid_xref(xref)) {
        fail_precondition(quoted(xref) + " is not a cross-reference identifier: the @I1@ shape");
    }
    Node node = make(tag);
    node.rare().xref = std::string(xref);
    return node;
}

Node Node::with_value(std::string_view tag, std::string_view value) {
    Node node = make(tag);
    if (has_line_break(value)) {
        node.set_logical_value(value);
    } else {
        node.value_ = CompactText<24>(value);
    }
    return node;
}

Node Node::from_parsed(const ParsedLine& line) {
    Node node;
    node.tag_ = CompactText<16>(line.tag);
    node.value_ = CompactText<24>(line.value);
    if (line.xref) node.rare().xref = std::string(*line.xref);
    if (line.verbatim) node.rare().verbatim = std::string(*line.verbatim);
    return node;
}

Node::Node(const Node& other)
    : tag_(other.tag_),
      value_(other.value_),
      children_(other.children_),
      rare_(other.rare_ ? std::make_unique<Rare>(*other.rare_) : nullptr) {}

Node& Node::operator=(const Node& other) {
    if (this != &other) {
        Node copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Node::Rare& Node::rare() {
    if (!rare_) rare_ = std::make_unique<Rare>();
    return *rare_;
}

void Node::drop_rare_if_empty() noexcept {
    if (rare_ && rare_->empty()) rare_.reset();
}

std::optional<std::string_view> Node::xref() const noexcept {
    if (!rare_ || !rare_->xref) return std::nullopt;
    return std::string_view(*rare_->xref);
}

std::optional<std::string_view> Node::verbatim() const noexcept {
    if (!rare_ || !rare_->verbatim) return std::nullopt;
    return std::string_view(*rare_->verbatim);
}

void Node::push(Node child) { children_.push_back(std::move(child)); }

const Node* Node::first(std::string_view tag) const noexcept {
    for (const Node& child : children_)
        if (child.tag() == tag) return &child;
    return nullptr;
}

Node* Node::first_mut(std::string_view tag) noexcept {
    return const_cast<Node*>(static_cast<const Node*>(this)->first(tag));
}

std::optional<std::string> Node::value_of(std::string_view tag) const {
    const Node* child = first(tag);
    if (!child) return std::nullopt;
    return child->logical_value();
}

void Node::set_tag(std::string_view tag) {
    require_tag(tag, " is not a GEDCOM tag");
    forget_verbatim();
    tag_ = CompactText<16>(tag);
}

void Node::set_value(std::optional<std::string_view> value) {
    if (value && has_line_break(*value)) {
        fail_precondition("a single-line node payload cannot contain a line ending");
    }
    forget_verbatim();
    value_.assign(value);
}

void Node::set_xref(std::optional<std::string_view> xref) {
    if (xref && !is_valid_xref(*xref)) {
        fail_precondition(quoted(*xref) + " is not a cross-reference identifier: the @I1@ shape");
    }
    forget_verbatim();
    if (xref) {
        rare().xref = std::string(*xref);
    } else if (rare_) {
        rare_->xref.reset();
        drop_rare_if_empty();
    }
}

void Node::forget_verbatim() noexcept {
    if (!rare_) return;
    rare_->verbatim.reset();
    drop_rare_if_empty();
}

std::string Node::logical_value() const {
    std::string text(value_.view());
    for (const Node& child : children_) {
        const std::string_view tag = child.tag();
        if (tag == "CONT") {
            text.push_back('\n');
            text.append(child.value_.view());
        } else if (tag == "CONC") {
            text.append(child.value_.view());
        }
    }
    return text;
}

void Node::set_logical_value(std::string_view text) {
    forget_verbatim();
    std::vector<Node> kept;
    kept.reserve(children_.size());
    for (Node& child : children_)
        if (!is_continuation_tag(child.tag())) kept.push_back(std::move(child));

    std::string normalised;
    normalised.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalised.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            normalised.push_back(text[i]);
        }
    }

    std::vector<Node> children;
    std::string_view remaining = normalised;
    const std::size_t first_break = find_byte(remaining, '\n');
    const std::string_view first_piece = remaining.substr(0, first_break);
    set_value(first_piece.empty() ? std::nullopt : std::optional<std::string_view>(first_piece));
    while (first_break != std::string_view::npos) {
        remaining = remaining.substr(remaining.find('\n') + 1);
        const std::size_t next = find_byte(remaining, '\n');
        Node line = make("CONT");
        line.value_ = CompactText<24>(remaining.substr(0, next));
        children.push_back(std::move(line));
        if (next == std::string_view::npos) break;
    }
    children.reserve(children.size() + kept.size());
    for (Node& child : kept) children.push_back(std::move(child));
    children_ = std::move(children);
}

std::size_t Node::rendered_size(std::uint16_t depth) const noexcept {
    std::size_t size = 1;  // the LF
    if (const auto kept = verbatim()) {
        size += kept->size();
    } else {
        size += level_width(depth) + 1 + tag_.view().size();
        if (const auto id = xref()) size += id->size() + 1;
        if (value_.present()) size += 1 + value_.view().size();
    }
    const auto child_depth = static_cast<std::uint16_t>(depth + 1);
    for (const Node& child : children_) size += child.rendered_size(child_depth);
    return size;
}

void Node::render_into(std::uint16_t depth, std::string& out) const {
    if (const auto kept = verbatim()) {
        out.append(*kept);
    } else {
        render_line(depth, xref(), tag_.view(), value_.optional(), out);
    }
    out.push_back('\n');
    const auto child_depth = static_cast<std::uint16_t>(depth + 1);
    for (const Node& child : children_) child.render_into(child_depth, out);
}

// ---- assembly --------------------------------------------------------------

namespace {

// Builds records from parsed lines one at a time, with an explicit stack of
// open nodes, so that no input can make assembly recurse. Children gathered
// for an open node wait in one shared scratch list and move into exactly
// sized storage when the node closes.
class TreeBuilder {
public:
    explicit TreeBuilder(std::uint64_t max_records) : max_records_(max_records) {}

    // Adds one line; a finished record, if this line closed one, goes to `records`.
    Status add(const ParsedLine& line, std::vector<Node>& records) {
        if (open_.empty() && line.level != 0) return not_at_level_zero(line);
        if (!open_.empty() && line.level > open_.size()) {
            return GedcomError::at_line(ErrorKind::Structure, "the line skips a nesting level",
                                        line.line);
        }
        close_down_to(line.level, records);
        if (line.level == 0) {
            if (records_started_ == max_records_) {
                return GedcomError::at_line(ErrorKind::Limit, "the file has too many records",
                                            line.line);
            }
            ++records_started_;
        }
        child_starts_.push_back(scratch_.size());
        open_.push_back(Node::from_parsed(line));
        return ok();
    }

    void finish(std::vector<Node>& records) { close_down_to(0, records); }

private:
    static Status not_at_level_zero(const ParsedLine& line) {
        return GedcomError::at_line(ErrorKind::Structure, "a record must begin at level 0",
                                    line.line);
    }

    void close_down_to(std::size_t level, std::vector<Node>& records) {
        while (open_.size() > level) {
            Node node = std::move(open_.back());
            open_.pop_back();
            const std::size_t start = child_starts_.back();
            child_starts_.pop_back();
            if (scratch_.size() > start) {
                std::vector<Node> children;
                children.reserve(scratch_.size() - start);
                for (std::size_t i = start; i < scratch_.size(); ++i)
                    children.push_back(std::move(scratch_[i]));
                scratch_.erase(scratch_.begin() + static_cast<std::ptrdiff_t>(start), scratch_.end());
                node.adopt_children(std::move(children));
            }
            if (open_.empty()) {
                records.push_back(std::move(node));
            } else {
                scratch_.push_back(std::move(node));
            }
        }
    }

    std::uint64_t max_records_;
    std::uint64_t records_started_ = 0;
    std::vector<Node> open_;
    std::vector<std::size_t> child_starts_;
    std::vector<Node> scratch_;
};

}  // namespace

Result<Node> build_node(std::span<const ParsedLine> lines, std::size_t& cursor,
                        std::uint16_t level) {
    if (cursor >= lines.size() || lines[cursor].level != level) {
        const std::uint64_t line = cursor < lines.size() ? lines[cursor].line : 0;
        return GedcomError::at_line(ErrorKind::Structure, "the line is nested at the wrong level",
                                    line);
    }
    // Assemble as if `level` were 0; the builder only sees relative levels.
    TreeBuilder builder(UINT64_MAX);
    std::vector<Node> done;
    ParsedLine shifted = lines[cursor];
    shifted.level = 0;
    (void)builder.add(shifted, done);
    ++cursor;
    while (cursor < lines.size() && lines[cursor].level > level) {
        shifted = lines[cursor];
        shifted.level = static_cast<std::uint16_t>(lines[cursor].level - level);
        Status added = builder.add(shifted, done);
        if (!added) return std::move(added).take_error();
        ++cursor;
    }
    builder.finish(done);
    return std::move(done.front());
}

// ---- reading ---------------------------------------------------------------

namespace {

std::string megabytes_message(std::uint64_t size, std::uint64_t limit) {
    return "the file is " + std::to_string(size / 1'048'576) + " MB and the limit is " +
           std::to_string(limit / 1'048'576) + " MB";
}

// Cuts text into lines at LF, CR LF and lone CR, numbering every line the way
// an editor does (empty lines count).
class LineCutter {
public:
    explicit LineCutter(std::string_view text)
        : text_(text), has_cr_(find_byte(text, '\r') != std::string_view::npos) {}

    // The next line, or nothing at the end of the text.
    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        ++number_;
        if (!has_cr_) {
            const std::size_t end = find_byte(text_, '\n', pos_);
            if (end == std::string_view::npos) {
                line = text_.substr(pos_);
                pos_ = text_.size();
            } else {
                line = text_.substr(pos_, end - pos_);
                pos_ = end + 1;
            }
            return true;
        }
        std::size_t end = pos_;
        while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
        line = text_.substr(pos_, end - pos_);
        pos_ = end;
        if (pos_ < text_.size()) {
            const bool crlf = text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n';
            pos_ += crlf ? 2 : 1;
        }
        return true;
    }

    std::uint64_t number() const { return number_; }

private:
    std::string_view text_;
    bool has_cr_;
    std::size_t pos_ = 0;
    std::uint64_t number_ = 0;
};

}  // namespace

Result<Document> Document::parse_with(std::string_view text, const ParseLimits& limits) {
    if (text.size() > limits.max_file_bytes) {
        return GedcomError::whole(ErrorKind::Limit,
                                  megabytes_message(text.size(), limits.max_file_bytes));
    }
    Document document;
    TreeBuilder builder(limits.max_records);
    // Line errors outrank nesting errors wherever they stand, so the first
    // nesting error waits until every line has been read.
    std::optional<GedcomError> nesting_error;
    std::uint64_t lines_read = 0;
    LineCutter cutter(text);
    std::string_view line;
    while (cutter.next(line)) {
        if (line.empty()) continue;
        const std::uint64_t number = cutter.number();
        if (lines_read == limits.max_lines) {
            return GedcomError::at_line(ErrorKind::Limit, "the file has too many lines", number);
        }
        ++lines_read;
        if (line.size() > limits.max_line_length) {
            return GedcomError::at_line(ErrorKind::Limit, "the line is longer than the limit",
                                        number);
        }
        Result<ParsedLine> parsed = parse_line(line, number, limits.max_depth);
        if (!parsed) return std::move(parsed).take_error();
        if (nesting_error) continue;
        Status added = builder.add(*parsed, document.records);
        if (!added) {
            nesting_error = std::move(added).take_error();
            document.records.clear();
        }
    }
    if (nesting_error) return std::move(*nesting_error);
    builder.finish(document.records);
    return document;
}

Result<LoadedDocument> Document::from_bytes(std::string_view bytes) {
    return from_bytes_with(bytes, ParseLimits{});
}

Result<LoadedDocument> Document::from_bytes_with(std::string_view bytes,
                                                 const ParseLimits& limits) {
    Result<DecodedText> decoded = decode_gedcom_with(bytes, limits);
    if (!decoded) return std::move(decoded).take_error();
    Result<Document> document = parse_with(decoded->text(), limits);
    if (!document) return std::move(document).take_error();
    return LoadedDocument{std::move(*document), std::move(decoded->report)};
}

// ---- writing ---------------------------------------------------------------

std::string Document::to_text() const {
    std::size_t size = 0;
    for (const Node& record : records) size += record.rendered_size(0);
    std::string out;
    out.reserve(size);
    for (const Node& record : records) record.render_into(0, out);
    return out;
}

namespace {

bool says_utf8(std::optional<std::string_view> payload) {
    return payload && unicode::equals_ignoring_ascii_case(unicode::trim(*payload), "utf-8");
}

}  // namespace

std::string Document::to_bytes() const {
    if (records.empty() || records.front().tag() != "HEAD") return to_text();
    const Node& header = records.front();
    const Node* charset = header.first("CHAR");
    if (!charset || says_utf8(charset->value())) return to_text();
    // What declare_utf8_encoding would make of a copy, without copying the
    // document: the CHAR line is rendered anew, every other line as it is.
    Node declared = *charset;
    declared.set_value("UTF-8");
    std::size_t size = 0;
    for (const Node& record : records) size += record.rendered_size(0);
    std::string out;
    out.reserve(size + 8);
    render_line(0, header.xref(), header.tag(), header.value(), out);
    if (const auto kept = header.verbatim()) {
        out.clear();
        out.append(*kept);
    }
    out.push_back('\n');
    for (const Node& child : header.children())
        (&child == charset ? declared : child).render_into(1, out);
    for (std::size_t i = 1; i < records.size(); ++i) records[i].render_into(0, out);
    return out;
}

bool Document::declare_utf8_encoding() {
    for (Node& record : records) {
        if (record.tag() != "HEAD") continue;
        Node* charset = record.first_mut("CHAR");
        if (!charset || says_utf8(charset->value())) return false;
        charset->set_value("UTF-8");
        return true;
    }
    return false;
}

}  // namespace lignor
