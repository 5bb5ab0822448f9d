// Lookups in the generated GEDCOM 7 tables: rows, substructures, payload
// types and enumeration sets, and the count of structures version 7 does not
// define where they stand.
#include "v7defs.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "error.hpp"
#include "queries.hpp"
#include "v7grammar.hpp"

namespace lignor {
namespace {

#include "gedcom7_tables.inc"

using v7::is_extension_tag;

// The standard's table, built once: the row index, and the facts of each
// structure type.
class TypeTree : public v7table::RowIndex {
  public:
    TypeTree() {
        keys_ = key_slots_.data();
        rows_ = row_slots_.data();
        mask_ = slot_count - 1;
        const auto id_of = [&](std::string_view type) {
            return type_ids_.emplace(type, static_cast<std::uint16_t>(type_ids_.size()))
                .first->second;
        };
        row_type_ids_.reserve(substructures.size());
        for (const Substructure& row : substructures) row_type_ids_.push_back(id_of(row.type));
        for (std::size_t row = 0; row < substructures.size(); ++row) {
            const std::uint64_t key =
                key_of(id_of(substructures[row].parent), substructures[row].tag);
            if (key == 0) throw InternalFailure("a standard tag longer than the table's keys");
            std::size_t at = home(key);
            while (key_slots_[at] != 0) at = (at + 1) & mask_;
            key_slots_[at] = key;
            row_slots_[at] = static_cast<std::uint16_t>(row);
        }
        row_types_ = row_type_ids_.data();
        add_facts();
    }

    const v7table::RowIndex& index() const noexcept { return *this; }
    // The facts of each type, by type number, and the slot of each row's
    // type among its parent type's limits.
    std::span<const v7table::Row> rows() const noexcept { return rows_by_number_; }
    std::span<const v7table::TypeFacts> types() const noexcept { return facts_; }
    std::uint16_t type_named(std::string_view type) const noexcept {
        const auto found = type_ids_.find(type);
        return found == type_ids_.end() ? v7table::no_type : found->second;
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

    void add_facts() {
        facts_.resize(type_ids_.size());
        for (const auto& [type, id] : type_ids_) facts_[id].type = type;
        for (const PayloadRow& row : payloads) {
            v7table::TypeFacts& type = facts_.at(type_named(row.type));
            type.payload = payload_of(row.payload);
            if (type.payload == v7table::Payload::Pointer)
                type.target = type_named(row.payload.substr(2, row.payload.size() - 4));
        }
        // Enumeration sets and cardinalities are runs of sorted rows: spans
        // into the arrays made once they no longer grow.
        values_.reserve(enumeration_values.size());
        for (const EnumerationValue& row : enumeration_values) values_.push_back(row.value);
        for (const EnumerationUse& use : enumeration_uses) {
            const auto first =
                std::find_if(enumeration_values.begin(), enumeration_values.end(),
                             [&](const EnumerationValue& value) { return value.set == use.set; });
            const auto last =
                std::find_if(first, enumeration_values.end(),
                             [&](const EnumerationValue& value) { return value.set != use.set; });
            facts_.at(type_named(use.type)).values =
                std::span<const std::string_view>(values_).subspan(
                    static_cast<std::size_t>(first - enumeration_values.begin()),
                    static_cast<std::size_t>(last - first));
        }
        limits_.reserve(cardinalities.size());
        required_.reserve(cardinalities.size());
        std::vector<std::uint16_t> row_slots(substructures.size(), v7table::no_type);
        for (std::size_t first = 0; first < cardinalities.size();) {
            const std::string_view parent = cardinalities[first].parent;
            const std::uint16_t parent_id = type_named(parent);
            std::size_t last = first;
            // The parent's rows, which the table holds together (sorted by parent).
            const auto under = std::lower_bound(
                substructures.begin(), substructures.end(), parent,
                [](const Substructure& row, std::string_view key) { return row.parent < key; });
            const auto under_end =
                std::find_if(under, substructures.end(),
                             [&](const Substructure& row) { return row.parent != parent; });
            for (; last < cardinalities.size() && cardinalities[last].parent == parent; ++last) {
                const CardinalityRow& limit = cardinalities[last];
                const auto tagged = std::find_if(under, under_end, [&](const Substructure& row) {
                    return row.type == limit.type;
                });
                if (tagged == under_end) throw InternalFailure("a cardinality of no substructure");
                row_slots[static_cast<std::size_t>(tagged - substructures.begin())] =
                    static_cast<std::uint16_t>(last - first);
                limits_.push_back({tagged->tag, limit.least, limit.most});
            }
            const std::size_t first_required = required_.size();
            for (std::size_t slot = 0; slot < last - first; ++slot) {
                if (limits_[first + slot].least > 0)
                    required_.push_back(static_cast<std::uint16_t>(slot));
            }
            v7table::TypeFacts& facts = facts_.at(parent_id);
            facts.limits =
                std::span<const v7table::ChildLimit>(limits_).subspan(first, last - first);
            facts.required = std::span<const std::uint16_t>(required_).subspan(
                first_required, required_.size() - first_required);
            first = last;
        }
        for (std::size_t row = 0; row < substructures.size(); ++row) {
            const std::uint16_t slot = row_slots[row];
            const std::uint8_t most =
                slot == v7table::no_type
                    ? 0
                    : facts_.at(type_named(substructures[row].parent)).limits[slot].most;
            rows_by_number_.push_back({row_types_[row], slot, most});
        }
    }

    static v7table::Payload payload_of(std::string_view payload) {
        if (payload.starts_with("@<")) return v7table::Payload::Pointer;
        const auto named = std::ranges::find(payload_types, payload, &PayloadTypeName::uri);
        if (named == payload_types.end())
            throw InternalFailure("a payload type of the standard's table with no name");
        return payload_named(named->type);
    }

    // The matcher each of the standard's payload types is read with.
    static v7table::Payload payload_named(PayloadType type) noexcept {
        using v7table::Payload;
        switch (type) {
            case PayloadType::YesOrNull:
                return Payload::YesOrEmpty;
            case PayloadType::Pointer:
                return Payload::Pointer;
            case PayloadType::String:
                return Payload::Text;
            case PayloadType::ListText:
                return Payload::TextList;
            case PayloadType::AnyURI:
                return Payload::Uri;
            case PayloadType::FilePath:
                return Payload::FilePath;
            case PayloadType::Enum:
                return Payload::Enumeration;
            case PayloadType::ListEnum:
                return Payload::EnumerationList;
            case PayloadType::Age:
                return Payload::Age;
            case PayloadType::Date:
                return Payload::Date;
            case PayloadType::DateExact:
                return Payload::ExactDate;
            case PayloadType::DatePeriod:
                return Payload::DatePeriod;
            case PayloadType::Time:
                return Payload::Time;
            case PayloadType::Name:
                return Payload::PersonalName;
            case PayloadType::Latitude:
                return Payload::Latitude;
            case PayloadType::Longitude:
                return Payload::Longitude;
            case PayloadType::Language:
                return Payload::Language;
            case PayloadType::MediaType:
                return Payload::MediaType;
            case PayloadType::NonNegativeInteger:
                return Payload::NonNegativeInteger;
            case PayloadType::TagDef:
                return Payload::TagDefinition;
        }
        return Payload::Text;
    }

    // Hashed rather than ordered: the tables are built at the first check or
    // conversion of every process, and name types some four thousand times.
    std::unordered_map<std::string_view, std::uint16_t> type_ids_{{"", 0}};  // "" for records
    std::vector<std::uint16_t> row_type_ids_;  // the type id of each row's own type
    std::vector<v7table::Row> rows_by_number_;
    std::vector<v7table::TypeFacts> facts_;  // by type id
    std::vector<std::string_view> values_;
    std::vector<v7table::ChildLimit> limits_;
    std::vector<std::uint16_t> required_;
    // Small enough to stay in the fastest cache: 8 bytes a slot and the row apart.
    std::array<std::uint64_t, slot_count> key_slots_{};
    std::array<std::uint16_t, slot_count> row_slots_{};
};

const TypeTree& type_tree() {
    static const TypeTree tree;
    return tree;
}

}  // namespace

namespace v7table {

const RowIndex& row_index() noexcept {
    return type_tree().index();
}
std::span<const Row> rows() noexcept {
    return type_tree().rows();
}
std::span<const TypeFacts> types() noexcept {
    return type_tree().types();
}
std::uint16_t type_named(std::string_view type) noexcept {
    return type_tree().type_named(type);
}

std::span<const Calendar> calendars() noexcept {
    static const std::vector<Calendar> all = [] {
        std::vector<Calendar> out;
        for (const CalendarWord& month : calendar_months) {
            if (out.empty() || out.back().name != month.calendar)
                out.push_back({month.calendar, {}, {}});
            out.back().months.push_back(month.word);
        }
        for (const CalendarWord& epoch : calendar_epochs) {
            const auto it = std::ranges::find(out, epoch.calendar, &Calendar::name);
            if (it != out.end()) it->epochs.push_back(epoch.word);
        }
        return out;
    }();
    return all;
}

}  // namespace v7table

std::optional<std::string_view> v7_structure_type(std::string_view parent,
                                                  std::string_view tag) noexcept {
    const std::uint32_t row = type_tree().under_type(parent, tag);
    if (row == TypeTree::none) return std::nullopt;
    return substructures[row].type;
}

bool v7_defines(std::string_view parent, std::string_view tag) noexcept {
    return is_extension_tag(tag) || v7_structure_type(parent, tag).has_value();
}

}  // namespace lignor
