// The pieces the decode files share, private to them (decode.cpp,
// decode_encodings.cpp, decode_utf.cpp, decode_single_byte.cpp,
// decode_ansel.cpp) and their tests: the ASCII fast path, UTF-8 sequences,
// each encoding's decoder, the code pages with tables of their own, and the
// one table of the encodings.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "decode.hpp"
#include "unicode.hpp"

namespace lignor {

// What a code page's table holds for a byte the page leaves undefined: the
// mark Python's tables use.
inline constexpr char16_t undefined_byte = 0xFFFE;

// A code page read through its own table, generated from Python's codecs
// (code_page_tables.inc).
struct CodePageTable {
    std::string_view codec;                // Python's name: "cp437"
    std::string_view display;              // the report's: "IBM PC (code page 437)"
    std::array<char16_t, 256> characters;  // per byte; `undefined_byte` for none
};

namespace decode_parts {

// ---- ASCII and UTF-8 (decode_utf.cpp) ----------------------------------------

// Where the run of ASCII bytes that starts at `pos` ends.
std::size_t skip_ascii(std::string_view bytes, std::size_t pos) noexcept;
// Appends the ASCII run starting at `pos` and returns where it ends.
std::size_t copy_ascii_run(std::string_view bytes, std::size_t pos, std::string& out);
// Bytes of the well-formed UTF-8 prefix at `pos`: the whole sequence when it
// is complete, otherwise its maximal valid part (at least 1 for a bad lead).
// `complete` says which.
std::size_t utf8_sequence(std::string_view bytes, std::size_t pos, bool& complete) noexcept;

// U+FFFD in place of what could not be read, counted.
inline void append_replacement(std::string& out, EncodingReport& report) {
    out.append("\xEF\xBF\xBD");
    ++report.undecodable;
}

// ---- the decoders ---------------------------------------------------------------
// Each turns all of `bytes` into UTF-8 and counts in `report` what it could
// not read.

// Bytes past 0x7F become U+FFFD.
std::string decode_ascii(std::string_view bytes, EncodingReport& report);
// Valid sequences are copied; each byte of an invalid one is read as
// Windows-1252 and counted in `stray_bytes`, so that nothing is lost.
std::string decode_utf8(std::string_view bytes, EncodingReport& report);
std::string decode_utf16_be(std::string_view bytes, EncodingReport& report);
std::string decode_utf16_le(std::string_view bytes, EncodingReport& report);
// Combining marks, written before their letter, are moved after it.
std::string decode_ansel(std::string_view bytes, EncodingReport& report);
std::string decode_windows_1252(std::string_view bytes, EncodingReport& report);

// ---- single-byte tables (decode_single_byte.cpp) ------------------------------

// Windows-1252, its five undefined positions read as the C1 controls of the
// same number, so that every byte survives as a character.
const unicode::ByteTable& windows_1252_table();
// Appends what one byte reads as, counting it when the set leaves it undefined.
void append_byte_character(const unicode::ByteCharacter& c, std::string& out,
                           EncodingReport& report);
// The page with a table of its own that `key` (a name as normalised_charset
// gives it) names, or nothing.
std::optional<CodePage> code_page_with_table(std::string_view key);

// ---- the encodings (decode_encodings.cpp) --------------------------------------

using Decoder = std::string (*)(std::string_view bytes, EncodingReport& report);

// One of the six encodings: everything the library knows of it.
struct Encoding {
    GedcomEncoding encoding;
    std::string_view display;                 // the report's name
    std::span<const std::string_view> names;  // as normalised_charset gives them
    std::string_view mark;                    // its byte-order mark; empty for none
    Decoder decode;
};

// The row of one of the six; `CodePage` has none.
const Encoding& encoding_row(GedcomEncoding encoding);
// The encoding whose byte-order mark `bytes` begins with.
const Encoding* encoding_by_mark(std::string_view bytes) noexcept;
// A name with letters and digits only, upper-cased: "utf-8" and "UTF 8" are "UTF8".
std::string normalised_charset(std::string_view name);
bool is_utf16(GedcomEncoding encoding) noexcept;
// The report's name of what was read: the page's own for a code page.
std::string_view name_of(GedcomEncoding encoding, const std::optional<CodePage>& page);

}  // namespace decode_parts
}  // namespace lignor
