// The pieces date reading and writing share, private to the date files
// (dates.cpp, dates_read.cpp, dates_write.cpp) and their tests: the months of
// each calendar, digit helpers, and the steps the reader is made of.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "dates.hpp"

namespace lignor::date_parts {

// The largest year the reader takes and the writers write.
inline constexpr std::int32_t max_year = 9999;

// The Gregorian months as GEDCOM writes them.
inline constexpr std::string_view gedcom_months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

struct MonthTable {
    std::span<const std::string_view> codes;  // as GEDCOM writes them
    std::span<const std::string_view> names;  // for display
};

// A calendar's months; the Gregorian twelve for every calendar without months of its own.
MonthTable months_of(Calendar calendar) noexcept;
bool has_own_months(Calendar calendar) noexcept;

// Where the run of ASCII digits that starts at `pos` ends.
std::size_t digits_end(std::string_view text, std::size_t pos) noexcept;
// The value of a run of ASCII digits, stopping at `cap` so that long runs of
// digits cannot overflow; callers compare against limits below the cap.
std::uint32_t digits_value(std::string_view digits, std::uint32_t cap) noexcept;
void append_number(std::string& out, std::int64_t value);

// The tokens of a date point. A point has at most four tokens, so a few
// inline slots suffice; `count` keeps counting past them so that a caller
// can still tell how many there were.
class TokenList {
  public:
    static constexpr std::size_t capacity = 8;

    void push(std::string_view token) noexcept {
        if (count_ < capacity) items_[count_] = token;
        ++count_;
    }
    std::size_t size() const noexcept { return count_; }
    // The tokens kept (all of them while size() <= capacity).
    std::span<const std::string_view> stored() const noexcept {
        return {items_.data(), count_ < capacity ? count_ : capacity};
    }
    std::string_view operator[](std::size_t index) const noexcept { return items_[index]; }

  private:
    std::array<std::string_view, capacity> items_{};
    std::size_t count_ = 0;
};

std::optional<DatePoint> parse_point(std::string_view text);
std::optional<std::uint8_t> month_number(std::string_view token);
std::optional<std::uint8_t> parse_day(std::string_view token);
std::optional<std::int32_t> parse_year(std::string_view token);
std::optional<DatePoint> parse_dual_year(std::string_view text);
// Finds the first keyword of the list that occurs with one space on each
// side, ignoring ASCII case, and returns the text before and after it.
std::optional<std::pair<std::string_view, std::string_view>> split_keyword(
    std::string_view text, std::span<const std::string_view> keywords);
// When the text begins with one of the keywords (ignoring case) followed by a
// space, a "." or a digit, returns what follows it.
std::optional<std::string_view> strip_keyword(std::string_view text,
                                              std::span<const std::string_view> keywords);
// Cuts a piece wherever it changes between ASCII digits and anything else and
// drops the runs that hold no letter or digit.
TokenList split_runs(std::string_view piece);

struct DualYear {
    std::int32_t first = 0;
    std::int32_t second = 0;
    friend bool operator==(const DualYear&, const DualYear&) = default;
};
// The first dual year ("1700/01") in a text, with its second year expanded (1701).
std::optional<DualYear> dual_year(std::string_view text);
// Whether the text holds a second dual year after its first ("FROM 1699/00 TO 1700/01").
bool holds_several_dual_years(std::string_view text);

// The reader's vocabulary, keywords in upper case and month names in lower
// case as full lower-casing gives them: what its tests read every word of.
struct Qualifier {
    DateKind kind;
    std::span<const std::string_view> words;
};
struct MonthName {
    std::string_view name;
    std::uint8_t month;
};
struct Vocabulary {
    std::span<const Qualifier> qualifiers;
    std::span<const std::string_view> between;
    std::span<const std::string_view> and_words;
    std::span<const std::string_view> from;
    std::span<const std::string_view> to;
    std::span<const MonthName> months;
};
const Vocabulary& vocabulary() noexcept;

}  // namespace lignor::date_parts
