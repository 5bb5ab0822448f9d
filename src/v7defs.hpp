// What GEDCOM 7 defines where: which tag may stand under which structure,
// after the standard's own substructure table (generated into
// gedcom7_tables.inc, compiled into v7defs.cpp alone), the facts of each
// structure type, and the calendars of the appendix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "node.hpp"

namespace lignor {

// The GEDCOM 7 structure type that `tag` has under a structure of type
// `parent`, or none when version 7 does not define `tag` there. Types are
// the standard's URIs without their common prefix "https://gedcom.io/terms/v7/"
// ("record-INDI", "INDI-NAME", "DATE"); a record's parent is "". Extension
// tags (`_X`) are not in the table: see v7_defines.
std::optional<std::string_view> v7_structure_type(std::string_view parent,
                                                  std::string_view tag) noexcept;

// Whether version 7 allows `tag` under a structure of type `parent`:
// extension tags are allowed everywhere.
bool v7_defines(std::string_view parent, std::string_view tag) noexcept;

// The standard's tables as a walk over a whole document asks them: rows of
// the substructure table by number, and the facts of each row's structure
// type (payload type, enumeration values, how many of each child).
namespace v7table {

inline constexpr std::uint32_t no_row = UINT32_MAX;
inline constexpr std::uint16_t no_type = UINT16_MAX;

enum class Payload : std::uint8_t {
    None,
    YesOrEmpty,
    Pointer,
    Text,
    TextList,
    Uri,
    FilePath,
    Enumeration,
    EnumerationList,
    Age,
    Date,
    ExactDate,
    DatePeriod,
    Time,
    PersonalName,
    Latitude,
    Longitude,
    Language,
    MediaType,
    NonNegativeInteger,
    TagDefinition,
};

// How many children of one type a structure may have; `most` 0 is many.
struct ChildLimit {
    std::string_view tag;
    std::uint8_t least;
    std::uint8_t most;
};

struct TypeFacts {
    std::string_view type;
    Payload payload = Payload::None;
    std::uint16_t target = no_type;            // the record type a pointer payload must lead to
    std::span<const std::string_view> values;  // an enumeration's, sorted
    std::span<const ChildLimit> limits;        // of its child types
    std::span<const std::uint16_t> required;   // the indices of `limits` with `least` > 0
};

// One row of the substructure table: its structure type's number, the
// index of that type in its parent type's `limits` (no_type when none), and
// the most its parent may have of it (0 for many, or when it has no slot).
struct Row {
    std::uint16_t type;
    std::uint16_t slot;
    std::uint8_t most;
};

// The substructure table as one open-addressed hash from (type of the parent,
// tag) to the row. Its lookups are inline: a walk over a large file asks
// millions of times, and one probe of a table that stays in the fastest
// cache costs less than a call.
class RowIndex {
  public:
    // The row of a record tagged `tag`, or no_row.
    std::uint32_t record(std::string_view tag) const noexcept { return find(key_of(0, tag)); }
    // The row of `tag` under a structure of row `parent`, or no_row.
    std::uint32_t child(std::uint32_t parent, std::string_view tag) const noexcept {
        return find(key_of(row_types_[parent], tag));
    }

  protected:
    static constexpr std::size_t tag_bytes = 6;  // the longest standard tag (PHRASE)

    // The parent's type and a tag of up to six bytes as one number, which is
    // never 0; 0 for a longer or empty tag, which the table has none of.
    static std::uint64_t key_of(std::uint16_t parent_type, std::string_view tag) noexcept {
        if (tag.empty() || tag.size() > tag_bytes) return 0;
        std::uint64_t key = parent_type;
        for (const char c : tag) key = key << 8 | static_cast<unsigned char>(c);
        return key << 8 * (tag_bytes - tag.size()) | std::uint64_t{tag.size()} << 61;
    }

    std::size_t home(std::uint64_t key) const noexcept {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 40) & mask_;
    }

    std::uint32_t find(std::uint64_t key) const noexcept {
        if (key == 0) return no_row;
        for (std::size_t at = home(key); keys_[at] != 0; at = (at + 1) & mask_) {
            if (keys_[at] == key) return rows_[at];
        }
        return no_row;
    }

    const std::uint64_t* keys_ = nullptr;       // 0 for an empty slot
    const std::uint16_t* rows_ = nullptr;       // the row of each filled slot
    const std::uint16_t* row_types_ = nullptr;  // the type of each row's structure
    std::size_t mask_ = 0;                      // the slot count less one, a power of two
};

// The one index, built on first use.
const RowIndex& row_index() noexcept;

// The row of a record tagged `tag`, or no_row.
inline std::uint32_t record_row(std::string_view tag) noexcept {
    return row_index().record(tag);
}
// The row of `tag` under a structure of row `parent`, or no_row.
inline std::uint32_t child_row(std::uint32_t parent, std::string_view tag) noexcept {
    return row_index().child(parent, tag);
}
// Every row by number, and the facts of every structure type by number.
std::span<const Row> rows() noexcept;
std::span<const TypeFacts> types() noexcept;
// The number of a structure type ("record-INDI"), or no_type.
std::uint16_t type_named(std::string_view type) noexcept;

// The values of the enumerations code checks itself against when compiling
// (role_values, medium_values), sorted.
#include "gedcom7_enumerations.inc"

// A calendar the standard defines: its name, its months in order, and the
// epochs it permits.
struct Calendar {
    std::string_view name;
    std::vector<std::string_view> months;
    std::vector<std::string_view> epochs;
};
std::span<const Calendar> calendars() noexcept;

}  // namespace v7table

}  // namespace lignor
