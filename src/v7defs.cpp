#include "v7defs.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
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

}  // namespace

std::optional<std::string_view> v7_structure_type(std::string_view parent,
                                                  std::string_view tag) noexcept {
    const auto key = std::pair(parent, tag);
    const auto it = std::lower_bound(substructures.begin(), substructures.end(), key,
                                     [](const Substructure& row, const auto& wanted) {
                                         return std::pair(row.parent, row.tag) < wanted;
                                     });
    if (it == substructures.end() || it->parent != parent || it->tag != tag) return std::nullopt;
    return it->type;
}

bool v7_defines(std::string_view parent, std::string_view tag) noexcept {
    return is_extension_tag(tag) || v7_structure_type(parent, tag).has_value();
}

void note_undefined_structures(const Node& record, Pass& pass) {
    // The version 7 type of each open structure by depth; none for one whose
    // subtree is not examined (undefined, an extension, or beneath those).
    std::vector<std::optional<std::string_view>> types;
    std::vector<std::string_view> tags;
    UndefinedPaths undefined;
    walk(record, [&](const Node& node, std::span<const std::size_t> path) {
        const std::size_t depth = path.size();
        types.resize(depth + 1);
        tags.resize(depth + 1);
        tags[depth] = node.tag();
        types[depth] = std::nullopt;
        if (is_continuation_tag(node.tag()) || is_extension_tag(node.tag())) return;
        if (depth > 0 && !types[depth - 1]) return;
        const std::string_view parent = depth == 0 ? std::string_view() : *types[depth - 1];
        types[depth] = v7_structure_type(parent, node.tag());
        if (types[depth]) return;
        undefined.count(depth == 0 ? std::string(node.tag())
                                   : std::string(tags[depth - 1]) + "." + std::string(node.tag()));
    });
    undefined.note_all(pass);
}

}  // namespace lignor
