// What stays invalid: the conformance check of the converted text, whose
// every problem no Kept note names already gets one.
#include <algorithm>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "convert7_rules.hpp"
#include "v7check.hpp"

namespace lignor::to7 {
namespace {

// "BIRT.RIN" of "INDI.BIRT.RIN", "INDI.RIN" of itself: a structure's
// parent's tag and its own, the form the notes of undefined structures name
// it by.
std::string_view parent_and_own_tag_of(std::string_view dotted) noexcept {
    const std::size_t last = dotted.rfind('.');
    if (last == std::string_view::npos || last == 0) return dotted;
    const std::size_t before = dotted.rfind('.', last - 1);
    return before == std::string_view::npos ? dotted : dotted.substr(before + 1);
}

// The tag path a note names for a problem: below its record, as the other
// notes name structures, its last two tags ("BIRT.RIN") or its one tag; a
// problem of the record itself is named by the record's tag.
std::string_view note_tag_of(std::string_view dotted) noexcept {
    const std::size_t first = dotted.find('.');
    return first == std::string_view::npos ? dotted
                                           : parent_and_own_tag_of(dotted.substr(first + 1));
}

std::string_view last_tag_of(std::string_view dotted) noexcept {
    return dotted.substr(dotted.rfind('.') + 1);
}

// A record's identifier, "" for none: a view into a note or a problem.
std::string_view record_key(const std::optional<std::string>& record) noexcept {
    return record ? std::string_view(*record) : std::string_view();
}

// The tags each record's Kept notes name: a handful in most files, several
// a record in some (a tag version 7 lacks on every event). A record's notes
// follow one another, and so do the problems asked about, so the table is
// consulted about once a record.
class KeptNames {
  public:
    explicit KeptNames(const std::vector<ConversionNote>& notes) {
        std::vector<std::string_view>* tags = nullptr;
        std::string_view record;
        for (const ConversionNote& note : notes) {
            if (note.kind != NoteKind::Kept) continue;
            if (tags == nullptr || record_key(note.record) != record) {
                record = record_key(note.record);
                tags = &by_record_[record];
            }
            tags->push_back(note.tag);
        }
    }

    bool names(std::string_view record, std::string_view tag) {
        if (record != last_record_ || last_tags_ == nullptr) {
            const auto found = by_record_.find(record);
            last_record_ = record;
            last_tags_ = found == by_record_.end() ? &none_ : &found->second;
        }
        return std::ranges::find(*last_tags_, tag) != last_tags_->end();
    }

  private:
    std::unordered_map<std::string_view, std::vector<std::string_view>> by_record_;
    std::vector<std::string_view> none_;
    std::string_view last_record_;
    const std::vector<std::string_view>* last_tags_ = nullptr;
};

// Problems of one record's identifier and kind: the first and how many.
struct ProblemGroup {
    const Version7Problem* first;
    std::size_t count;
};

// Groups `problems` by record identifier and kind, in the order first met.
// A record's problems follow one another, so most join the group of the
// one before; the others are looked up by identifier (a view into the
// problems) and kind, without a string made for any.
class ProblemGroups {
  public:
    explicit ProblemGroups(std::size_t expected) {
        groups_.reserve(expected);
        index_.reserve(expected);
    }

    void add(const Version7Problem& problem) {
        const std::string_view record = record_key(problem.record);
        if (last_ < groups_.size() && groups_[last_].first->kind == problem.kind &&
            record_key(groups_[last_].first->record) == record) {
            ++groups_[last_].count;
            return;
        }
        const auto [it, added] = index_.try_emplace(Key{record, problem.kind}, groups_.size());
        if (added) groups_.push_back({&problem, 0});
        last_ = it->second;
        ++groups_[last_].count;
    }

    const std::vector<ProblemGroup>& groups() const noexcept { return groups_; }

  private:
    using Key = std::pair<std::string_view, Version7ProblemKind>;
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept {
            return std::hash<std::string_view>{}(key.first) * 31 +
                   static_cast<std::size_t>(key.second);
        }
    };

    std::vector<ProblemGroup> groups_;
    std::unordered_map<Key, std::size_t, KeyHash> index_;
    std::size_t last_ = 0;  // the group the last problem joined
};

// "{count} line(s) of this record are not valid version 7 ({kind}) ...",
// made in one piece.
std::string remaining_problem_detail(const ProblemGroup& group) {
    const Version7Problem& first = *group.first;
    static constexpr std::string_view lines = " line(s) of this record are not valid version 7 (";
    static constexpr std::string_view kept =
        ") and have no lossless version 7 form, so they are kept as written; the first is line ";
    return joined({std::to_string(group.count), lines, to_string(first.kind), kept,
                   std::to_string(first.line), ", ", first.tag, ": ", first.message});
}

}  // namespace

// Names, with one Kept note per record and kind of problem, every problem
// of the converted text that no Kept note of its record names already (by
// its tag, or its parent's tag and its own): whatever the rules above could
// not express without loss.
void note_remaining_problems(Conversion& conversion) {
    const std::vector<Version7Problem> problems = check_version_7(conversion.document);
    if (problems.empty()) return;
    KeptNames named(conversion.notes);
    const auto is_named = [&](std::string_view record, std::string_view tag) {
        return named.names(record, tag);
    };
    ProblemGroups grouped(problems.size());
    for (const Version7Problem& problem : problems) {
        const std::string_view record = record_key(problem.record);
        if (!is_named(record, parent_and_own_tag_of(problem.tag)) &&
            !is_named(record, last_tag_of(problem.tag))) {
            grouped.add(problem);
        }
    }
    // The notes are written straight after the others, without a copy.
    Pass pass;
    pass.notes = std::move(conversion.notes);
    pass.notes.reserve(pass.notes.size() + grouped.groups().size());
    for (const ProblemGroup& group : grouped.groups()) {
        pass.record = group.first->record;
        pass.note(note_tag_of(group.first->tag), NoteKind::Kept, remaining_problem_detail(group));
    }
    conversion.notes = std::move(pass.notes);
}

}  // namespace lignor::to7
