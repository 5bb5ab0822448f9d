#include "v7defs.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "queries.hpp"

namespace lignor {
namespace {

#include "gedcom7_tables.inc"

bool is_extension_tag(std::string_view tag) noexcept {
    return tag.starts_with('_');
}

// The structures of one record that version 7 does not define, by tag path
// in the order first met.
class UndefinedPaths {
  public:
    void count(std::string path) {
        const auto it = std::find_if(counts_.begin(), counts_.end(),
                                     [&](const auto& entry) { return entry.first == path; });
        if (it != counts_.end()) {
            ++it->second;
        } else {
            counts_.emplace_back(std::move(path), 1);
        }
    }

    void note_all(Pass& pass) const {
        for (const auto& [path, n] : counts_) {
            const std::string_view tag = std::string_view(path).substr(path.rfind('.') + 1);
            pass.note(path, NoteKind::Kept,
                      "version 7 does not define " + std::string(tag) + " here; " +
                          std::to_string(n) +
                          " structure(s) kept as written, so the output is not valid version 7");
        }
    }

  private:
    std::vector<std::pair<std::string, std::size_t>> counts_;
};

// The rows of `substructures` whose parent is `parent`: contiguous, since
// the table is sorted by parent.
struct ByParent {
    bool operator()(const Substructure& row, std::string_view parent) const noexcept {
        return row.parent < parent;
    }
    bool operator()(std::string_view parent, const Substructure& row) const noexcept {
        return parent < row.parent;
    }
};

std::span<const Substructure> rows_under(std::string_view parent) noexcept {
    const auto [first, last] =
        std::equal_range(substructures.begin(), substructures.end(), parent, ByParent{});
    return {first, last};
}

// A tag of up to eight bytes as one number, first byte highest, so that
// numbers sort as the tags do; longer tags, which the table has none of, are 0.
std::uint64_t tag_key(std::string_view tag) noexcept {
    if (tag.size() > 8) return 0;
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i)
        key = key << 8 | (i < tag.size() ? static_cast<unsigned char>(tag[i]) : 0u);
    return key;
}

// The row for `tag` among the rows of one parent (sorted by tag), or null.
const Substructure* find_tag(std::span<const Substructure> rows, std::string_view tag) noexcept {
    const auto it = std::lower_bound(
        rows.begin(), rows.end(), tag,
        [](const Substructure& row, std::string_view wanted) { return row.tag < wanted; });
    return it == rows.end() || it->tag != tag ? nullptr : &*it;
}

// The rows beneath each row's type, found once: a walk over a large file asks
// millions of times, and the children of the row just matched are the only
// candidates for the next level down.
class TypeTree {
  public:
    TypeTree() {
        keys_.reserve(substructures.size());
        for (const Substructure& row : substructures) keys_.push_back(tag_key(row.tag));
        records_ = range(rows_under(""));
        children_.reserve(substructures.size());
        for (const Substructure& row : substructures)
            children_.push_back(range(rows_under(row.type)));
    }

    const Substructure* record(std::string_view tag) const noexcept { return find(records_, tag); }

    const Substructure* child(const Substructure& parent, std::string_view tag) const noexcept {
        return find(children_[static_cast<std::size_t>(&parent - substructures.data())], tag);
    }

  private:
    struct Range {
        std::size_t first;
        std::size_t last;
    };

    static Range range(std::span<const Substructure> rows) noexcept {
        const auto first = static_cast<std::size_t>(rows.data() - substructures.data());
        return {first, first + rows.size()};
    }

    // Tags compared as numbers: a walk over a large file asks millions of times.
    const Substructure* find(Range rows, std::string_view tag) const noexcept {
        const std::uint64_t key = tag_key(tag);
        const auto begin = keys_.begin() + static_cast<std::ptrdiff_t>(rows.first);
        const auto end = keys_.begin() + static_cast<std::ptrdiff_t>(rows.last);
        const auto it = std::lower_bound(begin, end, key);
        if (it == end || *it != key || key == 0) return nullptr;
        return &substructures[static_cast<std::size_t>(it - keys_.begin())];
    }

    std::vector<std::uint64_t> keys_;
    Range records_{};
    std::vector<Range> children_;
};

const TypeTree& type_tree() {
    static const TypeTree tree;
    return tree;
}

}  // namespace

std::optional<std::string_view> v7_structure_type(std::string_view parent,
                                                  std::string_view tag) noexcept {
    const Substructure* row = find_tag(rows_under(parent), tag);
    if (row == nullptr) return std::nullopt;
    return row->type;
}

bool v7_defines(std::string_view parent, std::string_view tag) noexcept {
    return is_extension_tag(tag) || v7_structure_type(parent, tag).has_value();
}

void note_undefined_structures(const Node& record, Pass& pass) {
    // The version 7 row of each open structure by depth; null for one whose
    // subtree is not examined (undefined, an extension, or beneath those).
    const TypeTree& tree = type_tree();
    std::vector<const Substructure*> rows;
    std::vector<std::string_view> tags;
    UndefinedPaths undefined;
    walk(record, [&](const Node& node, std::span<const std::size_t> path) {
        const std::size_t depth = path.size();
        rows.resize(depth + 1);
        tags.resize(depth + 1);
        tags[depth] = node.tag();
        rows[depth] = nullptr;
        if (is_continuation_tag(node.tag()) || is_extension_tag(node.tag())) return;
        if (depth > 0 && rows[depth - 1] == nullptr) return;
        rows[depth] =
            depth == 0 ? tree.record(node.tag()) : tree.child(*rows[depth - 1], node.tag());
        if (rows[depth] != nullptr) return;
        undefined.count(depth == 0 ? std::string(node.tag())
                                   : std::string(tags[depth - 1]) + "." + std::string(node.tag()));
    });
    undefined.note_all(pass);
}

}  // namespace lignor
