// The GEDCOM line grammar, the tree of structures and the document.
//
// Design: a file read and written back must change only where a caller
// changed it. A node therefore stores its parsed fields and, only when its
// line as read differs from the canonical rendering of those fields (extra
// spaces after the level, a level written "01" or "+1"), a verbatim copy of
// that line. Any edit of the node drops the copy. Writing copies verbatim
// lines and renders the rest, so untouched lines come back byte for byte.
//
// Nodes carry no level: a node's level is its depth below its record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "decode.hpp"
#include "error.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace lignor {

// One line as read, before records are assembled. The texts borrow from the
// line that was parsed and live as long as it does.
struct ParsedLine {
    std::uint16_t level = 0;
    std::optional<std::string_view> xref;
    std::string_view tag;
    std::optional<std::string_view> value;
    std::uint64_t line = 0;
    std::optional<std::string_view> verbatim;
};

// Reads one non-empty line (without its terminator).
Result<ParsedLine> parse_line(std::string_view text, std::uint64_t line_number,
                              std::uint16_t max_depth);

// Appends the canonical rendering of one line, without a terminator.
void render_line(std::uint16_t level, std::optional<std::string_view> xref, std::string_view tag,
                 std::optional<std::string_view> value, std::string& out);

// The tag rule: at least one byte, every byte an ASCII letter, digit or '_'.
bool is_valid_tag(std::string_view tag) noexcept;
// CONT or CONC: a line that continues its parent's payload.
bool is_continuation_tag(std::string_view tag) noexcept;
// The identifier rule: more than two bytes, '@' first and last, no other '@'.
bool is_valid_xref(std::string_view xref) noexcept;

class Node;
class JsonWriter;

// The substructures of a node: a vector of nodes in 16 bytes (pointer and
// two 32-bit counts), because every node of a document carries one.
//
// Nodes are relocated by copying their bytes: none of a node's parts (inline
// or heap text, a list pointer, a unique_ptr) points into the node itself,
// so a node's bytes mean the same thing at any address. Growing a list and
// closing a node while reading are then one memcpy each.
class NodeList {
  public:
    using value_type = Node;
    using iterator = Node*;
    using const_iterator = const Node*;
    using size_type = std::size_t;

    NodeList() noexcept = default;
    NodeList(const NodeList& other);
    NodeList(NodeList&& other) noexcept;
    NodeList& operator=(const NodeList& other);
    NodeList& operator=(NodeList&& other) noexcept;
    ~NodeList();

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }
    Node* data() noexcept { return data_; }
    const Node* data() const noexcept { return data_; }
    iterator begin() noexcept { return data_; }
    iterator end() noexcept;
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept;
    Node& operator[](std::size_t index) noexcept;
    const Node& operator[](std::size_t index) const noexcept;
    Node& at(std::size_t index);
    const Node& at(std::size_t index) const;
    Node& front() noexcept { return (*this)[0]; }
    const Node& front() const noexcept { return (*this)[0]; }
    Node& back() noexcept { return (*this)[size_ - 1]; }
    const Node& back() const noexcept { return (*this)[size_ - 1]; }

    void reserve(std::size_t capacity);
    void push_back(Node&& node);
    void push_back(const Node& node);
    Node& emplace_back(const ParsedLine& line, const char* text_end);
    iterator insert(const_iterator position, Node&& node);
    iterator erase(const_iterator position);
    iterator erase(const_iterator first, const_iterator last);
    void clear() noexcept;

    // Makes this list hold exactly the nodes of `source` from `first` on,
    // which leave `source`. Used by the reader to close a node.
    void take_tail(NodeList& source, std::size_t first);

  private:
    void grow_to(std::size_t capacity);

    Node* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

class Node {
  public:
    // `Node::new` of the GEDCOM model (`new` is reserved in C++).
    static Node make(std::string_view tag);
    static Node record(std::string_view xref, std::string_view tag);
    static Node with_value(std::string_view tag, std::string_view value);
    // A node from a parsed line: fields are copied, nothing is validated again.
    explicit Node(const ParsedLine& line);
    // The same, for a line inside a text that ends at `text_end`.
    Node(const ParsedLine& line, const char* text_end);

    Node(const Node& other);
    Node(Node&&) noexcept = default;
    Node& operator=(const Node& other);
    Node& operator=(Node&&) noexcept = default;
    ~Node() = default;

    std::string_view tag() const noexcept { return tag_.view(); }
    std::optional<std::string_view> xref() const noexcept;
    std::optional<std::string_view> value() const noexcept { return value_.optional(); }
    std::optional<std::string_view> verbatim() const noexcept;
    const NodeList& children() const noexcept { return children_; }
    // Direct access for edits that add, remove or reorder substructures.
    // Changing the children never changes the node's own line.
    NodeList& children_mut() noexcept { return children_; }

    void push(Node child);
    const Node* first(std::string_view tag) const noexcept;
    Node* first_mut(std::string_view tag) noexcept;
    std::optional<std::string> value_of(std::string_view tag) const;

    void set_tag(std::string_view tag);
    void set_value(std::optional<std::string_view> value);
    std::string logical_value() const;
    void set_logical_value(std::string_view text);
    void forget_verbatim() noexcept;

    // Writes this node's line (at `depth`) and then its subtree, each line ending in LF.
    void render_into(std::uint16_t depth, std::string& out) const;
    // Bytes that render_into would append.
    std::size_t rendered_size(std::uint16_t depth) const noexcept;

    // The stored fields, for writers that copy them wholesale.
    const CompactText<16>& tag_text() const noexcept { return tag_; }
    const CompactText<24>& value_text() const noexcept { return value_; }
    const CompactText<24>* xref_text() const noexcept { return rare_ ? &rare_->xref : nullptr; }

    // Replaces the children with exactly sized storage (used by the parser).
    void adopt_children(NodeList&& children) noexcept { children_ = std::move(children); }

  private:
    // Fields that most nodes lack live out of line: one pointer per node.
    struct Rare {
        CompactText<24> xref;
        CompactText<24> verbatim;
        bool empty() const { return !xref.present() && !verbatim.present(); }
    };

    Node() = default;
    Rare& rare();
    void drop_rare_if_empty() noexcept;

    CompactText<16> tag_;
    CompactText<24> value_;
    NodeList children_;
    std::unique_ptr<Rare> rare_;
};

inline std::optional<std::string_view> Node::xref() const noexcept {
    if (!rare_) return std::nullopt;
    return rare_->xref.optional();
}

inline std::optional<std::string_view> Node::verbatim() const noexcept {
    if (!rare_) return std::nullopt;
    return rare_->verbatim.optional();
}

inline NodeList::iterator NodeList::end() noexcept {
    return data_ + size_;
}
inline NodeList::const_iterator NodeList::end() const noexcept {
    return data_ + size_;
}
inline Node& NodeList::operator[](std::size_t index) noexcept {
    return data_[index];
}
inline const Node& NodeList::operator[](std::size_t index) const noexcept {
    return data_[index];
}

// Assembles the node at `cursor` (which must be at `level`) and its subtree,
// advancing `cursor` past everything consumed. Uses no recursion.
Result<Node> build_node(std::span<const ParsedLine> lines, std::size_t& cursor,
                        std::uint16_t level);

struct LoadedDocument;

// The address of one structure inside a record: 0-based indices into the
// substructures (CONT and CONC included) from the record down; empty for the
// record itself.
using StructurePath = std::vector<std::size_t>;

// The structure a path leads to, or nothing when an index is out of range.
const Node* node_at(const Node& record, std::span<const std::size_t> path) noexcept;
Node* node_at_mut(Node& record, std::span<const std::size_t> path) noexcept;

// A payload of more than two bytes, '@' first and last, no other '@', and not
// the null pointer "@VOID@".
bool is_pointer_payload(std::string_view payload) noexcept;

// Identifiers match ignoring ASCII letter case; every other byte exactly.
bool same_xref(std::string_view a, std::string_view b) noexcept;
// The identifier with ASCII a-z upper-cased: the key for identifier maps.
std::string xref_key(std::string_view xref);

// A pointer payload that resolves to no record.
struct UnresolvedPointer {
    std::string record;  // the holder's identifier as written, or its tag
    StructurePath path;
    std::string tag;
    std::string pointer;

    void write_json(JsonWriter& json) const;
    friend bool operator==(const UnresolvedPointer&, const UnresolvedPointer&) = default;
};

class Document {
  public:
    std::vector<Node> records;

    static Result<LoadedDocument> from_bytes(std::string_view bytes);
    static Result<LoadedDocument> from_bytes_with(std::string_view bytes,
                                                  const ParseLimits& limits);
    static Result<Document> parse_with(std::string_view text, const ParseLimits& limits);

    std::string to_text() const;
    // UTF-8 bytes with the header's CHAR made to say UTF-8 (on a copy).
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
    // HEAD.GEDC.VERS as written, when the first record is the header.
    std::optional<std::string> version() const;
    bool is_version_7_or_later() const;

    // Sets the first HEAD's first CHAR payload to "UTF-8" unless it says so
    // already; true when the line changed. Adds no CHAR line.
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
