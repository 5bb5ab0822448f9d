// The structures of a converted record that version 7 does not define,
// named by Kept notes.
#include <algorithm>
#include <string>

#include "convert7_rules.hpp"
#include "queries.hpp"
#include "v7grammar.hpp"

namespace lignor {

void UndefinedStructures::visit(const Node& node, std::size_t depth) {
    static_assert(none == v7table::no_row);
    const std::string_view tag = node.tag();
    const std::uint32_t parent = depth == 0 ? none : open_[depth - 1].first;
    visit(node, depth,
          depth == 0       ? v7table::record_row(tag)
          : parent == none ? none
                           : v7table::child_row(parent, tag));
}

void UndefinedStructures::visit(const Node& node, std::size_t depth, std::uint32_t row) {
    const std::string_view tag = node.tag();
    open_.resize(depth + 1);
    open_[depth] = {none, tag};
    if (is_continuation_tag(tag) || v7::is_extension_tag(tag)) return;
    if (depth > 0 && open_[depth - 1].first == none) return;
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
