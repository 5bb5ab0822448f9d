// ASCII character classes and letter case, byte by byte, with no locale and
// no ICU. GEDCOM's tags, identifiers, keywords and charset names are ASCII,
// and their case rules touch A-Z and a-z only: every other byte, UTF-8 lead
// and continuation bytes included, stays as it is. Full Unicode lower-casing
// is `unicode::to_lower`.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lignor::ascii {

constexpr bool is_ascii(char c) noexcept {
    return static_cast<unsigned char>(c) < 0x80;
}
constexpr bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}
constexpr bool is_upper(char c) noexcept {
    return c >= 'A' && c <= 'Z';
}
constexpr bool is_lower(char c) noexcept {
    return c >= 'a' && c <= 'z';
}
constexpr bool is_alnum(char c) noexcept {
    return is_digit(c) || is_upper(c) || is_lower(c);
}

constexpr char to_lower(char c) noexcept {
    return is_upper(c) ? static_cast<char>(c + ('a' - 'A')) : c;
}
constexpr char to_upper(char c) noexcept {
    return is_lower(c) ? static_cast<char>(c - ('a' - 'A')) : c;
}

inline std::string lower_copy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = to_lower(c);
    return out;
}
inline std::string upper_copy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = to_upper(c);
    return out;
}

namespace detail {

inline constexpr std::uint64_t ones = 0x0101010101010101ULL;

// Lower-cases the ASCII capitals of eight bytes at once.
constexpr std::uint64_t lower_word(std::uint64_t word) noexcept {
    const std::uint64_t low7 = word & (0x7F * ones);
    const std::uint64_t above_z = low7 + (0x7F - 'Z') * ones;
    const std::uint64_t from_a = low7 + (0x80 - 'A') * ones;
    const std::uint64_t capital = (from_a ^ above_z) & ~word & (0x80 * ones);
    return word | (capital >> 2);
}

}  // namespace detail

// True when both texts are equal once A-Z are folded to a-z; every other
// byte must match exactly. Long texts (identifiers can be) are compared
// eight bytes at a time.
inline bool iequals(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    std::size_t pos = 0;
    if (a.size() >= 16) {
        for (; pos + 8 <= a.size(); pos += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a.data() + pos, 8);
            std::memcpy(&y, b.data() + pos, 8);
            if (x != y && detail::lower_word(x) != detail::lower_word(y)) return false;
        }
    }
    for (; pos < a.size(); ++pos)
        if (a[pos] != b[pos] && to_lower(a[pos]) != to_lower(b[pos])) return false;
    return true;
}

}  // namespace lignor::ascii
