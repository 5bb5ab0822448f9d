// The tree of structures: `Node`, `NodeList`, logical values, the reader's
// `TreeBuilder` and the line writer behind every rendering. The grammar of a
// single line is node_line.hpp.
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

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error.hpp"
#include "limits.hpp"
#include "node_line.hpp"
#include "storage.hpp"
#include "text.hpp"

namespace lignor {

class Node;

// A node's fields: a tag (seldom more than 7 bytes), a payload (dates and
// short values inline), and the identifier and verbatim line most lack. An
// identifier is seldom longer than 15 bytes; a verbatim line, a whole line,
// hardly ever fits inline, so it needs only the block's address.
using TagText = CompactText<8>;
using ValueText = CompactText<16>;
using XrefText = CompactText<16>;
using VerbatimText = CompactText<8>;

// The substructures of a node: a vector of nodes in 16 bytes (pointer and
// two 32-bit counts), because every node of a document carries one.
//
// A copy shares the nodes with the original (storage.hpp) until either is
// changed: every access that can change a node (the non-const accessors and
// every edit) first gives the list storage of its own. A node reached through
// a non-const path is therefore never shared, and a copy of a whole document
// costs a few words per record until it is changed.
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
    // Shares `other`'s nodes (inline: a conversion copies every structure it looks at).
    NodeList(const NodeList& other) noexcept
        : block_(other.empty() ? nullptr : static_cast<Block*>(storage::share(other.block_))) {}
    NodeList(NodeList&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    NodeList& operator=(const NodeList& other);
    NodeList& operator=(NodeList&& other) noexcept;
    ~NodeList() {
        if (block_ != nullptr) abandon();
    }

    std::size_t size() const noexcept { return block_ != nullptr ? block_->size : 0; }
    bool empty() const noexcept { return block_ == nullptr || block_->size == 0; }
    std::size_t capacity() const noexcept { return block_ != nullptr ? block_->capacity : 0; }
    Node* data() {
        own();
        return nodes();
    }
    const Node* data() const noexcept { return nodes(); }
    iterator begin() {
        own();
        return nodes();
    }
    iterator end();
    const_iterator begin() const noexcept { return nodes(); }
    const_iterator end() const noexcept;
    Node& operator[](std::size_t index);
    const Node& operator[](std::size_t index) const noexcept;
    Node& at(std::size_t index);
    const Node& at(std::size_t index) const;
    Node& front() { return (*this)[0]; }
    const Node& front() const noexcept { return (*this)[0]; }
    Node& back() { return (*this)[size() - 1]; }
    const Node& back() const noexcept { return (*this)[size() - 1]; }
    // Whether this list holds the very storage of `other` (a copy not changed since).
    bool shares_storage_with(const NodeList& other) const noexcept {
        return block_ == other.block_;
    }

    void reserve(std::size_t capacity);
    void push_back(Node&& node);
    void push_back(const Node& node);
    Node& emplace_back(const ParsedLine& line, const char* text_end);
    iterator insert(const_iterator position, Node&& node);
    iterator erase(const_iterator first, const_iterator last);
    iterator erase(const_iterator position);
    void clear() noexcept;

    // Makes this list hold exactly the nodes of `source` from `first` on,
    // which leave `source`. Used by the reader to close a node.
    void take_tail(NodeList& source, std::size_t first);

  private:
    // The counts head the storage piece, before the nodes, so that a node
    // holds one pointer for its substructures: a document has millions of
    // nodes and far fewer lists. Lists that share a piece share its counts,
    // which change only once a list has the piece to itself.
    struct Block {
        std::uint32_t size;
        std::uint32_t capacity;
    };
    static_assert(sizeof(Block) == 8, "the nodes after the counts stay 8-byte aligned");

    static Node* nodes_of(Block* block) noexcept { return reinterpret_cast<Node*>(block + 1); }
    Node* nodes() const noexcept { return block_ != nullptr ? nodes_of(block_) : nullptr; }
    // Storage for `capacity` nodes, holding none yet.
    static Block* make_block(std::size_t capacity);
    // Gives the list storage of its own when it shares it, before a change.
    void own() {
        if (block_ != nullptr && storage::is_shared(block_)) unshare();
    }
    void unshare();
    // Gives up this list's claim on its storage, destroying the nodes when
    // no other list holds them; the list is then empty with no storage.
    void abandon() noexcept;
    void grow_to(std::size_t capacity);

    Block* block_ = nullptr;
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

    Node(const Node& other) noexcept;
    Node(Node&& other) noexcept;
    Node& operator=(const Node& other);
    Node& operator=(Node&& other) noexcept;
    ~Node() { leave_rare(); }

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
    Node* first_mut(std::string_view tag);
    std::optional<std::string> value_of(std::string_view tag) const;

    void set_tag(std::string_view tag);
    void set_value(std::optional<std::string_view> value);
    std::string logical_value() const;
    void set_logical_value(std::string_view text);
    void forget_verbatim();

    // Writes this node's line (at `depth`) and then its subtree, each line ending in LF.
    void render_into(std::uint16_t depth, std::string& out) const;
    // Bytes that render_into would append.
    std::size_t rendered_size(std::uint16_t depth) const noexcept;

    // Whether this node is `other` or a copy of it changed in nothing: the
    // same fields and the very same substructure list.
    bool is_unchanged_copy_of(const Node& other) const noexcept;

    // The stored fields, for writers that copy them wholesale.
    const TagText& tag_text() const noexcept { return tag_; }
    const ValueText& value_text() const noexcept { return value_; }
    const XrefText* xref_text() const noexcept { return rare_ ? &rare_->xref : nullptr; }

    // Asks for the storage of the identifier ahead of its use: a loop over
    // many records' identifiers otherwise waits on memory at each record.
    void prefetch_xref() const noexcept {
        if (rare_) __builtin_prefetch(rare_);
    }

    // Replaces the children with exactly sized storage (used by the parser).
    void adopt_children(NodeList&& children) noexcept { children_ = std::move(children); }

  private:
    // Fields that most nodes lack live out of line: one pointer per node, to
    // a storage piece that copies share until one of them changes it.
    struct Rare {
        XrefText xref;
        VerbatimText verbatim;
        bool empty() const { return !xref.present() && !verbatim.present(); }
    };

    Node() = default;
    // The rare fields to change: made, or given storage of this node's own.
    Rare& rare();
    void drop_rare_if_empty() noexcept;
    void leave_rare() noexcept {
        if (rare_ != nullptr && storage::leave(rare_)) {
            rare_->~Rare();
            storage::release(rare_);
        }
        rare_ = nullptr;
    }

    TagText tag_;
    ValueText value_;
    NodeList children_;
    Rare* rare_ = nullptr;
};

// A document holds millions of nodes: their size is most of its memory.
static_assert(sizeof(Node) == 40 && alignof(Node) <= 8);  // 8: what storage::allocate gives

inline std::optional<std::string_view> Node::xref() const noexcept {
    if (!rare_) return std::nullopt;
    return rare_->xref.optional();
}

inline std::optional<std::string_view> Node::verbatim() const noexcept {
    if (!rare_) return std::nullopt;
    return rare_->verbatim.optional();
}

inline NodeList::iterator NodeList::end() {
    own();
    return nodes() + size();
}
inline NodeList::const_iterator NodeList::end() const noexcept {
    return nodes() + size();
}
inline Node& NodeList::operator[](std::size_t index) {
    own();
    return nodes()[index];
}
inline const Node& NodeList::operator[](std::size_t index) const noexcept {
    return nodes()[index];
}

// The length of `node`'s line at `level` without its terminator: its
// verbatim text while it keeps one, else its canonical rendering.
std::size_t line_length(const Node& node, std::size_t level) noexcept;

// The lines `node` at `level` writes for itself and its CONT lines once
// `set_logical_value(text)` has run: what that edit writes anew.
TextExtent logical_value_extent(const Node& node, std::size_t level,
                                std::string_view text) noexcept;

// Builds records from parsed lines one at a time with an explicit stack, so
// that no input can make assembly recurse. Nodes are made in place in one
// scratch list, an open node followed by the children gathered for it so
// far; when a node closes, its children move once into exactly sized storage
// and the node itself stays put as a child of its parent.
class TreeBuilder {
  public:
    // `text_end`: the end of the text the lines were read from (the lines'
    // fields may be copied in fixed-size blocks up to it).
    TreeBuilder(std::uint64_t max_records, const char* text_end)
        : max_records_(max_records), text_end_(text_end) {}

    // Adds one line; a finished record, if this line closed one, goes to `records`.
    Status add(const ParsedLine& line, std::vector<Node>& records);
    // Closes every node still open.
    void finish(std::vector<Node>& records);

  private:
    void close_down_to(std::size_t level, std::vector<Node>& records);

    std::uint64_t max_records_;
    const char* text_end_;
    std::uint64_t records_started_ = 0;
    std::vector<std::size_t> open_;
    NodeList scratch_;
};

struct LevelText;  // a depth as the line writer writes it

// Appends lines to a text through a raw pointer. The text is grown ahead in
// large steps (the caller usually reserved the whole size already) and cut
// back to what was written at the end, so a line costs a few copies and no
// per-piece size bookkeeping.
class LineWriter {
  public:
    // `whole_capacity`: the caller reserved room for everything to come and
    // `slack` more, so the writer takes it at once rather than growing into it.
    explicit LineWriter(std::string& out, bool whole_capacity = false);
    // The room a line asks for beyond its bytes: fixed-size copies write up
    // to a whole inline buffer past each field.
    static constexpr std::size_t slack = 96;
    ~LineWriter() { out_.resize(used_); }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Writes `node`'s own line at `depth`.
    void line(const Node& node, std::uint16_t depth);
    // Writes `node`'s line at `depth` and then its subtree.
    void subtree(const Node& node, std::uint16_t depth);
    // Writes the subtree of each node in turn, all at `depth`.
    void subtrees(std::span<const Node> nodes, std::uint16_t depth);

  private:
    void write_line(const LevelText& level, const Node& node);
    void write_subtree(const Node& node, std::uint16_t depth);
    void room(std::size_t bytes) {
        if (out_.size() - used_ < bytes) out_.resize(std::max(out_.size() * 2, used_ + bytes));
    }
    void put(std::string_view text) {
        std::memcpy(out_.data() + used_, text.data(), text.size());
        used_ += text.size();
    }
    void put(char c) { out_[used_++] = c; }

    std::string& out_;
    std::size_t used_;
};

}  // namespace lignor
