// What the files of version 7's grammars share, private to them.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "ascii.hpp"

namespace lignor::v7::parts {

inline bool all_digits(std::string_view text) noexcept {
    return !text.empty() && std::ranges::all_of(text, ascii::is_digit);
}

// Up to `N` words separated by single spaces; false for more, or for an
// empty word (a doubled, leading or trailing space).
template <std::size_t N>
struct Words {
    std::array<std::string_view, N> words{};
    std::size_t count = 0;

    bool split(std::string_view text) noexcept {
        count = 0;
        while (true) {
            const std::size_t space = text.find(' ');
            const std::string_view word = text.substr(0, space);
            if (word.empty() || count == N) return false;
            words[count++] = word;
            if (space == std::string_view::npos) return true;
            text.remove_prefix(space + 1);
        }
    }
    std::span<const std::string_view> all() const noexcept { return {words.data(), count}; }
};

using WordSpan = std::span<const std::string_view>;

}  // namespace lignor::v7::parts
