// Unicode character knowledge, all of it from ICU and all of it behind this
// one door: white space, letters and digits, full lower-casing,
// normalization form C, and the character sets ICU converts from.
// Texts are UTF-8 everywhere in the core; every function here has an ASCII
// fast path, because nearly every GEDCOM byte is ASCII.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lignor::unicode {

inline constexpr char32_t replacement_character = 0xFFFD;

// Decodes the code point that starts at `pos` and advances `pos` past it.
// Text from the decoder is valid UTF-8; a malformed byte is taken as U+FFFD
// and skipped so that callers can never loop forever.
char32_t next_code_point(std::string_view text, std::size_t& pos);

// Where the code point that ends just before `end` (at least 1) starts. A
// byte that does not end a well-formed sequence counts as a code point of
// its own, so stepping back one code point at a time always ends.
std::size_t previous_code_point_start(std::string_view text, std::size_t end);

// Appends the UTF-8 form of `cp` (surrogates and values past U+10FFFF become U+FFFD).
void append_utf8(std::string& out, char32_t cp);

// The Unicode White_Space property.
bool is_white_space(char32_t cp);

// Alphabetic, or a number of any kind (Nd, Nl, No).
bool is_alphanumeric(char32_t cp);

// Removes Unicode white space from both ends, or from the end only.
std::string_view trim(std::string_view text);
std::string_view trim_end(std::string_view text);
std::string_view trim_start(std::string_view text);

// Full Unicode lower-casing (which may change the length: U+0130 becomes "i̇").
std::string to_lower(std::string_view text);

// The text in Unicode Normalization Form C: a letter and its combining accent
// become the one precomposed letter where Unicode has it, so that two
// spellings of the same name compare equal.
std::string to_nfc(std::string_view text);

// ---- character sets ----------------------------------------------------------

// ICU's own name of the character set `alias` names (ICU matches aliases
// ignoring letter case and punctuation), or nothing when ICU knows none.
std::optional<std::string> charset_name(std::string_view alias);

// The name a character set is known by in public: its MIME name, else its
// IANA name, else ICU's own.
std::string charset_public_name(const std::string& charset);

// One byte of a character set that spends one byte on every character.
struct ByteCharacter {
    std::array<char, 4> utf8{};
    std::uint8_t size = 0;
    bool mapped = false;  // false: the set leaves the byte undefined, read as U+FFFD
};
using ByteTable = std::array<ByteCharacter, 256>;

// The UTF-8 of `cp` as a table entry.
ByteCharacter byte_character(char32_t cp, bool mapped = true);

// What each byte reads as in `charset`, asked of ICU's converter; nothing
// for a set that spends more than one byte on a character or keeps state.
std::optional<ByteTable> single_byte_table(const std::string& charset);

// The whole of `bytes` read through ICU's converter for `charset`, as UTF-8.
// Each sequence the set leaves undefined becomes one U+FFFD and adds one to
// `replaced`.
std::string decode_charset(std::string_view bytes, const std::string& charset,
                           std::uint64_t& replaced);

}  // namespace lignor::unicode
