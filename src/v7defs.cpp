#include "v7defs.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "error.hpp"
#include "queries.hpp"

namespace lignor {
namespace {

#include "gedcom7_tables.inc"

bool is_extension_tag(std::string_view tag) noexcept {
    return tag.starts_with('_');
}

// The standard's table as one hash table from (type of the parent, tag) to
// the row, built once: a walk over a large file asks millions of times, and
// one probe is far cheaper than a search through the parent's rows.
class TypeTree {
  public:
    TypeTree() {
        const auto id_of = [&](std::string_view type) {
            return type_ids_.emplace(type, static_cast<std::uint16_t>(type_ids_.size()))
                .first->second;
        };
        row_types_.reserve(substructures.size());
        for (const Substructure& row : substructures) row_types_.push_back(id_of(row.type));
        for (std::size_t row = 0; row < substructures.size(); ++row) {
            const std::uint64_t key =
                key_of(id_of(substructures[row].parent), substructures[row].tag);
            if (key == 0) throw InternalFailure("a standard tag longer than the table's keys");
            std::size_t at = home(key);
            while (keys_[at] != 0) at = (at + 1) & (slot_count - 1);
            keys_[at] = key;
            rows_[at] = static_cast<std::uint16_t>(row);
        }
    }

    // The row of a record tagged `tag`, or `none`.
    std::uint32_t record(std::string_view tag) const noexcept { return find(key_of(0, tag)); }

    // The row of `tag` under a structure of row `parent`, or `none`.
    std::uint32_t child(std::uint32_t parent, std::string_view tag) const noexcept {
        return find(key_of(row_types_[parent], tag));
    }

    // The row of `tag` under a structure of type `parent` ("" for a record),
    // or `none`.
    std::uint32_t under_type(std::string_view parent, std::string_view tag) const noexcept {
        const auto type = type_ids_.find(parent);
        return type == type_ids_.end() ? none : find(key_of(type->second, tag));
    }

    static constexpr std::uint32_t none = UINT32_MAX;

  private:
    // A power of two, at least twice the rows, so that probes stay short.
    static constexpr std::size_t slot_count = std::bit_ceil(substructures.size() * 2);
    static constexpr std::size_t tag_bytes = 6;  // the longest standard tag (PHRASE)

    // The parent's type and a tag of up to six bytes as one number, which is
    // never 0; 0 for a longer or empty tag, which the table has none of.
    static std::uint64_t key_of(std::uint16_t parent_type, std::string_view tag) noexcept {
        if (tag.empty() || tag.size() > tag_bytes) return 0;
        std::uint64_t key = parent_type;
        for (const char c : tag) key = key << 8 | static_cast<unsigned char>(c);
        return key << 8 * (tag_bytes - tag.size()) | std::uint64_t{tag.size()} << 61;
    }

    static std::size_t home(std::uint64_t key) noexcept {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 40) & (slot_count - 1);
    }

    std::uint32_t find(std::uint64_t key) const noexcept {
        if (key == 0) return none;
        for (std::size_t at = home(key); keys_[at] != 0; at = (at + 1) & (slot_count - 1)) {
            if (keys_[at] == key) return rows_[at];
        }
        return none;
    }

    std::map<std::string_view, std::uint16_t> type_ids_{{"", 0}};  // "" for records
    std::vector<std::uint16_t> row_types_;  // the type id of each row's own type
    // Small enough to stay in the fastest cache: 8 bytes a slot and the row apart.
    std::array<std::uint64_t, slot_count> keys_{};
    std::array<std::uint16_t, slot_count> rows_{};
};

const TypeTree& type_tree() {
    static const TypeTree tree;
    return tree;
}

}  // namespace

std::optional<std::string_view> v7_structure_type(std::string_view parent,
                                                  std::string_view tag) noexcept {
    const std::uint32_t row = type_tree().under_type(parent, tag);
    if (row == TypeTree::none) return std::nullopt;
    return substructures[row].type;
}

bool v7_defines(std::string_view parent, std::string_view tag) noexcept {
    return is_extension_tag(tag) || v7_structure_type(parent, tag).has_value();
}

void UndefinedStructures::visit(const Node& node, std::size_t depth) {
    static_assert(none == TypeTree::none);
    const std::string_view tag = node.tag();
    open_.resize(depth + 1);
    open_[depth] = {none, tag};
    if (is_continuation_tag(tag) || is_extension_tag(tag)) return;
    if (depth > 0 && open_[depth - 1].first == none) return;
    const TypeTree& tree = type_tree();
    const std::uint32_t row =
        depth == 0 ? tree.record(tag) : tree.child(open_[depth - 1].first, tag);
    open_[depth].first = row;
    if (row != none) return;
    std::string path = depth == 0 ? std::string(tag)
                                  : std::string(open_[depth - 1].second) + "." + std::string(tag);
    const auto it = std::find_if(counts_.begin(), counts_.end(),
                                 [&](const auto& entry) { return entry.first == path; });
    if (it != counts_.end()) {
        ++it->second;
    } else {
        counts_.emplace_back(std::move(path), 1);
    }
}

void UndefinedStructures::note_all(Pass& pass) const {
    for (const auto& [path, n] : counts_) {
        const std::string_view tag = std::string_view(path).substr(path.rfind('.') + 1);
        pass.note(path, NoteKind::Kept,
                  "version 7 does not define " + std::string(tag) + " here; " + std::to_string(n) +
                      " structure(s) kept as written, so the output is not valid version 7");
    }
}

void note_undefined_structures(const Node& record, Pass& pass) {
    UndefinedStructures undefined;
    walk(record, [&](const Node& node, std::span<const std::size_t> path) {
        undefined.visit(node, path.size());
    });
    undefined.note_all(pass);
}

}  // namespace lignor
