// Nodes and their child lists, logical values, the reader's tree assembly
// and the line writer behind every rendering.
#include "node.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "storage.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {
namespace {

[[noreturn]] void fail_precondition(std::string message) {
    throw InternalFailure(message);
}

void require_tag(std::string_view tag, const char* rule) {
    if (!is_valid_tag(tag)) fail_precondition(quoted(tag) + rule);
}

}  // namespace

// ---- Node ------------------------------------------------------------------

Node Node::make(std::string_view tag) {
    require_tag(tag, " is not a GEDCOM tag: ASCII letters, digits, or underscore");
    Node node;
    node.tag_ = TagText(tag);
    return node;
}

Node Node::record(std::string_view xref, std::string_view tag) {
    if (!is_valid_xref(xref)) {
        fail_precondition(quoted(xref) + " is not a cross-reference identifier: the @I1@ shape");
    }
    Node node = make(tag);
    node.rare().xref = XrefText(xref);
    return node;
}

Node Node::with_value(std::string_view tag, std::string_view value) {
    Node node = make(tag);
    if (has_line_break(value)) {
        node.set_logical_value(value);
    } else {
        node.value_ = ValueText(value);
    }
    return node;
}

[[gnu::hot]] Node::Node(const ParsedLine& line, const char* text_end)
    : tag_(line.tag, text_end), value_(line.value, text_end) {
    if (line.xref || line.verbatim) {
        Rare& fields = rare();
        fields.xref = XrefText(line.xref);
        fields.verbatim = VerbatimText(line.verbatim);
    }
}

// Without a known end of text, every field is copied exactly.
Node::Node(const ParsedLine& line) : Node(line, nullptr) {}

Node::Node(const Node& other) noexcept
    : tag_(other.tag_),
      value_(other.value_),
      children_(other.children_),
      rare_(other.rare_ ? static_cast<Rare*>(storage::share(other.rare_)) : nullptr) {}

Node::Node(Node&& other) noexcept
    : tag_(std::move(other.tag_)),
      value_(std::move(other.value_)),
      children_(std::move(other.children_)),
      rare_(std::exchange(other.rare_, nullptr)) {}

Node& Node::operator=(Node&& other) noexcept {
    if (this != &other) {
        tag_ = std::move(other.tag_);
        value_ = std::move(other.value_);
        children_ = std::move(other.children_);
        leave_rare();
        rare_ = std::exchange(other.rare_, nullptr);
    }
    return *this;
}

Node& Node::operator=(const Node& other) {
    if (this != &other) {
        Node copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Node::Rare& Node::rare() {
    if (rare_ == nullptr) {
        rare_ = new (storage::allocate(sizeof(Rare))) Rare();
    } else if (storage::is_shared(rare_)) {
        Rare* own = new (storage::allocate(sizeof(Rare))) Rare(*rare_);
        leave_rare();
        rare_ = own;
    }
    return *rare_;
}

void Node::drop_rare_if_empty() noexcept {
    if (rare_ && rare_->empty()) leave_rare();
}

void Node::push(Node child) {
    children_.push_back(std::move(child));
}

const Node* Node::first(std::string_view tag) const noexcept {
    for (const Node& child : children_)
        if (child.tag() == tag) return &child;
    return nullptr;
}

Node* Node::first_mut(std::string_view tag) {
    const Node* found = first(tag);
    if (!found) return nullptr;
    return &children_[static_cast<std::size_t>(found - std::as_const(children_).begin())];
}

bool Node::is_unchanged_copy_of(const Node& other) const noexcept {
    if (!tag_.same_as(other.tag_) || !value_.same_as(other.value_) ||
        !children_.shares_storage_with(other.children_)) {
        return false;
    }
    if (!rare_ || !other.rare_) return !rare_ && !other.rare_;
    return rare_->xref.same_as(other.rare_->xref) && rare_->verbatim.same_as(other.rare_->verbatim);
}

std::optional<std::string> Node::value_of(std::string_view tag) const {
    const Node* child = first(tag);
    if (!child) return std::nullopt;
    return child->logical_value();
}

void Node::set_tag(std::string_view tag) {
    require_tag(tag, " is not a GEDCOM tag");
    forget_verbatim();
    tag_ = TagText(tag);
}

void Node::set_value(std::optional<std::string_view> value) {
    if (value && has_line_break(*value)) {
        fail_precondition("a single-line node payload cannot contain a line ending");
    }
    forget_verbatim();
    value_.assign(value);
}

void Node::forget_verbatim() {
    if (!verbatim()) return;
    rare().verbatim = VerbatimText();
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
    // One line and no continuation to remove: only the payload changes.
    if (!has_line_break(text) &&
        std::none_of(children_.begin(), children_.end(),
                     [](const Node& c) { return is_continuation_tag(c.tag()); })) {
        set_value(text.empty() ? std::nullopt : std::optional<std::string_view>(text));
        return;
    }
    forget_verbatim();
    NodeList kept;
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

    NodeList children;
    std::string_view remaining = normalised;
    const std::size_t first_break = find_byte(remaining, '\n');
    const std::string_view first_piece = remaining.substr(0, first_break);
    set_value(first_piece.empty() ? std::nullopt : std::optional<std::string_view>(first_piece));
    while (first_break != std::string_view::npos) {
        remaining = remaining.substr(remaining.find('\n') + 1);
        const std::size_t next = find_byte(remaining, '\n');
        Node line = make("CONT");
        line.value_ = ValueText(remaining.substr(0, next));
        children.push_back(std::move(line));
        if (next == std::string_view::npos) break;
    }
    children.reserve(children.size() + kept.size());
    for (Node& child : kept) children.push_back(std::move(child));
    children_ = std::move(children);
}

std::size_t line_length(const Node& node, std::size_t level) noexcept {
    if (const auto kept = node.verbatim()) return kept->size();
    std::size_t size = level_width(static_cast<std::uint16_t>(level)) + 1 + node.tag().size();
    if (const auto id = node.xref()) size += id->size() + 1;
    if (const auto value = node.value()) size += 1 + value->size();
    return size;
}

TextExtent logical_value_extent(const Node& node, std::size_t level,
                                std::string_view text) noexcept {
    const auto xref = node.xref();
    const std::size_t prefix = level_width(static_cast<std::uint16_t>(level)) + 1 +
                               (xref ? xref->size() + 1 : 0) + node.tag().size();
    // "{level} CONT " and the piece: set_logical_value gives every CONT a payload.
    const std::size_t continuation_prefix = level_width(static_cast<std::uint16_t>(level + 1)) + 6;
    TextExtent extent;
    std::size_t start = 0;
    bool first = true;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r') continue;
        const std::size_t piece = i - start;
        extent.add_line(first ? prefix + (piece == 0 ? 0 : piece + 1)
                              : continuation_prefix + piece);
        first = false;
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    return extent;
}

std::size_t Node::rendered_size(std::uint16_t depth) const noexcept {
    std::size_t size = 1 + line_length(*this, depth);  // the line and its LF
    const auto child_depth = static_cast<std::uint16_t>(depth + 1);
    for (const Node& child : children_) size += child.rendered_size(child_depth);
    return size;
}

// The level as written before the tag: the depth in decimal and one space.
struct LevelText {
    constexpr LevelText() = default;
    constexpr explicit LevelText(std::uint16_t depth) {
        const std::size_t width = write_level(depth, text);
        text[width] = ' ';
        size = static_cast<std::uint8_t>(width + 1);
    }
    char text[8] = {};  // read as one 8-byte block by write_line
    std::uint8_t size = 0;
};

namespace {

// The levels of every depth a default read allows, made at compile time:
// each subtree written needs two.
constexpr auto shallow_levels = [] {
    std::array<LevelText, 65> levels;
    for (std::size_t depth = 0; depth < levels.size(); ++depth)
        levels[depth] = LevelText(static_cast<std::uint16_t>(depth));
    return levels;
}();

LevelText level_text(std::uint16_t depth) {
    return depth < shallow_levels.size() ? shallow_levels[depth] : LevelText(depth);
}

}  // namespace

LineWriter::LineWriter(std::string& out, bool whole_capacity) : out_(out), used_(out.size()) {
    if (whole_capacity) storage::prefault(out_.data() + used_, out_.capacity() - used_);
    out_.resize(std::max(whole_capacity ? out_.capacity() : 0, used_ + 256));
}

void LineWriter::line(const Node& node, std::uint16_t depth) {
    write_line(level_text(depth), node);
}

// Inline: the writer's one hot path, called for every line.
inline void LineWriter::write_line(const LevelText& level, const Node& node) {
    if (const auto kept = node.verbatim()) {
        room(kept->size() + 1);
        put(*kept);
        put('\n');
        return;
    }
    const ValueText& value = node.value_text();
    const XrefText* xref = node.xref_text();
    const bool has_xref = xref && xref->present();
    room(level.size + node.tag_text().heap_bytes() + value.heap_bytes() +
         (has_xref ? xref->view().size() : 0) + slack);
    char* p = out_.data() + used_;
    std::memcpy(p, level.text, sizeof level.text);
    p += level.size;
    if (has_xref) {
        p += xref->write_to(p);
        *p++ = ' ';
    }
    p += node.tag_text().write_to(p);
    if (value.present()) {
        *p++ = ' ';
        p += value.write_to(p);
    }
    *p++ = '\n';
    used_ = static_cast<std::size_t>(p - out_.data());
}

void LineWriter::subtree(const Node& node, std::uint16_t depth) {
    write_subtree(node, depth);
}

void LineWriter::subtrees(std::span<const Node> nodes, std::uint16_t depth) {
    for (const Node& node : nodes) write_subtree(node, depth);
}

inline void LineWriter::write_subtree(const Node& node, std::uint16_t depth) {
    const LevelText level = level_text(depth);
    write_line(level, node);
    if (node.children().empty()) return;
    const auto child_depth = static_cast<std::uint16_t>(depth + 1);
    const LevelText child_level = level_text(child_depth);
    for (const Node& child : node.children()) {
        // Leaves, most lines of a file, are written here without a call.
        if (child.children().empty()) {
            write_line(child_level, child);
        } else {
            write_subtree(child, child_depth);
        }
    }
}

void Node::render_into(std::uint16_t depth, std::string& out) const {
    LineWriter writer(out);
    writer.subtree(*this, depth);
}

// ---- NodeList ----------------------------------------------------------------

NodeList::Block* NodeList::make_block(std::size_t capacity) {
    if (capacity > UINT32_MAX) throw std::length_error("too many substructures");
    auto* block = static_cast<Block*>(storage::allocate(sizeof(Block) + capacity * sizeof(Node)));
    *block = Block{0, static_cast<std::uint32_t>(capacity)};
    return block;
}

// Each node is copied straight into its place, sharing its own parts in turn.
void NodeList::unshare() {
    const std::size_t size = this->size();
    if (size == 0) {
        abandon();
        return;
    }
    Block* fresh = make_block(size);
    Node* to = nodes_of(fresh);
    const Node* from = nodes();
    std::uint32_t made = 0;
    try {
        for (; made < size; ++made) new (to + made) Node(from[made]);
    } catch (...) {
        for (std::uint32_t i = 0; i < made; ++i) to[i].~Node();
        storage::release(fresh);
        throw;
    }
    fresh->size = made;
    abandon();
    block_ = fresh;
}

[[gnu::hot]] void NodeList::abandon() noexcept {
    if (block_ != nullptr && storage::leave(block_)) {
        Node* held = nodes();
        for (std::uint32_t i = 0; i < block_->size; ++i) held[i].~Node();
        storage::release(block_);
    }
    block_ = nullptr;
}

NodeList& NodeList::operator=(const NodeList& other) {
    if (this != &other) {
        NodeList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

NodeList& NodeList::operator=(NodeList&& other) noexcept {
    if (this != &other) {
        abandon();
        block_ = std::exchange(other.block_, nullptr);
    }
    return *this;
}

Node& NodeList::at(std::size_t index) {
    if (index >= size()) throw std::out_of_range("node index out of range");
    own();
    return nodes()[index];
}

const Node& NodeList::at(std::size_t index) const {
    if (index >= size()) throw std::out_of_range("node index out of range");
    return nodes()[index];
}

namespace {

// Copies the bytes of `count` nodes to uninitialised storage; the source
// bytes are then dead and no destructor may run on them.
void relocate(Node* to, Node* from, std::size_t count) {
    if (count > 0)
        std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), count * sizeof(Node));
}

}  // namespace

// Only for a list that owns its storage (or has none): the nodes move by
// their bytes.
void NodeList::grow_to(std::size_t capacity) {
    Block* fresh = make_block(capacity);
    const std::size_t size = this->size();
    relocate(nodes_of(fresh), nodes(), size);
    fresh->size = static_cast<std::uint32_t>(size);
    storage::release(block_);
    block_ = fresh;
}

Node& NodeList::emplace_back(const ParsedLine& line, const char* text_end) {
    own();
    const std::size_t size = this->size();
    if (size == capacity()) grow_to(size == 0 ? 4 : size * 2);
    Node* node = new (nodes() + size) Node(line, text_end);
    ++block_->size;
    return *node;
}

[[gnu::hot]] void NodeList::take_tail(NodeList& source, std::size_t first) {
    source.own();
    NodeList taken;
    const std::size_t count = source.size() - first;
    if (count > 0) {
        taken.block_ = make_block(count);
        relocate(taken.nodes(), source.nodes() + first, count);
        taken.block_->size = static_cast<std::uint32_t>(count);
        source.block_->size = static_cast<std::uint32_t>(first);
    }
    *this = std::move(taken);
}

void NodeList::reserve(std::size_t capacity) {
    own();
    if (capacity > this->capacity()) grow_to(capacity);
}

void NodeList::push_back(Node&& node) {
    own();  // `node` came through a non-const path, so it is not in shared storage
    const std::size_t size = this->size();
    if (size == capacity()) {
        // `node` may be one of this list's own elements (reordering moves
        // one to the end), which growing would free: take it out first.
        Node taken(std::move(node));
        grow_to(size == 0 ? 4 : size * 2);
        new (nodes() + size) Node(std::move(taken));
    } else {
        new (nodes() + size) Node(std::move(node));
    }
    ++block_->size;
}

void NodeList::push_back(const Node& node) {
    Node copy(node);
    push_back(std::move(copy));
}

// Positions are taken as indexes before the list is made its own.
NodeList::iterator NodeList::insert(const_iterator position, Node&& node) {
    const auto index = static_cast<std::size_t>(position - nodes());
    push_back(std::move(node));
    Node* held = nodes();
    const std::size_t size = this->size();
    std::rotate(held + index, held + size - 1, held + size);
    return held + index;
}

NodeList::iterator NodeList::erase(const_iterator first, const_iterator last) {
    const auto from = static_cast<std::size_t>(first - nodes());
    const auto to = static_cast<std::size_t>(last - nodes());
    own();
    Node* held = nodes();
    if (from == to) return held + from;
    const std::size_t size = this->size();
    std::move(held + to, held + size, held + from);
    const std::size_t removed = to - from;
    for (std::size_t i = size - removed; i < size; ++i) held[i].~Node();
    block_->size = static_cast<std::uint32_t>(size - removed);
    return held + from;
}

NodeList::iterator NodeList::erase(const_iterator position) {
    return erase(position, position + 1);
}

void NodeList::clear() noexcept {
    if (block_ == nullptr) return;
    if (storage::is_shared(block_)) {
        abandon();
        return;
    }
    Node* held = nodes();
    for (std::uint32_t i = 0; i < block_->size; ++i) held[i].~Node();
    block_->size = 0;
}

// ---- assembly --------------------------------------------------------------

// Inline: the reader closes nodes on nearly every line.
[[gnu::hot]] inline void TreeBuilder::close_down_to(std::size_t level, std::vector<Node>& records) {
    while (open_.size() > level) {
        const std::size_t at = open_.back();
        open_.pop_back();
        const std::size_t first_child = at + 1;
        if (scratch_.size() > first_child) {
            NodeList children;
            children.take_tail(scratch_, first_child);
            scratch_[at].adopt_children(std::move(children));
        }
        if (open_.empty()) {
            records.push_back(std::move(scratch_[at]));
            scratch_.clear();
        }
    }
}

[[gnu::hot]] Status TreeBuilder::add(const ParsedLine& line, std::vector<Node>& records) {
    if (open_.empty() && line.level != 0) {
        return GedcomError::at_line(ErrorKind::Structure, "a record must begin at level 0",
                                    line.line);
    }
    if (line.level > open_.size()) {
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
    open_.push_back(scratch_.size());
    scratch_.emplace_back(line, text_end_);
    return ok();
}

[[gnu::hot]] void TreeBuilder::finish(std::vector<Node>& records) {
    close_down_to(0, records);
}

}  // namespace lignor
