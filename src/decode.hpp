// Encoding detection and decoding.
//
// A GEDCOM file arrives as bytes in one of six encodings. Detection looks at
// the byte-order mark, then at the shape of UTF-16 text, then at the file's
// own `1 CHAR` declaration; decoding turns the bytes into UTF-8 and never
// fails on content (what cannot be read becomes U+FFFD and is counted). The
// `EncodingReport` says what was decided and why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "limits.hpp"

namespace lignor {

enum class GedcomEncoding : std::uint8_t { Ascii, Utf8, Utf16Be, Utf16Le, Ansel, Windows1252 };

std::string_view display_name(GedcomEncoding encoding) noexcept;

struct EncodingReport {
    std::vector<std::string> notes;
    std::optional<std::string> declared;
    std::uint64_t undecodable = 0;
    bool bom = false;
    std::optional<GedcomEncoding> encoding;

    // One line: "Read as UTF-8 (byte-order mark), no CHAR declared".
    std::string summary() const;
};

// Decoded UTF-8 text. When the input is already valid UTF-8 the text is a
// view of the caller's bytes (minus any byte-order mark) and no copy is made;
// the view then lives as long as those bytes.
class DecodedText {
  public:
    DecodedText(std::string owned, EncodingReport report)
        : owned_(std::move(owned)), borrowed_(std::nullopt), report(std::move(report)) {}
    DecodedText(std::string_view borrowed, EncodingReport report)
        : borrowed_(borrowed), report(std::move(report)) {}

    std::string_view text() const noexcept { return borrowed_ ? *borrowed_ : owned_; }

  private:
    std::string owned_;
    std::optional<std::string_view> borrowed_;

  public:
    EncodingReport report;
};

// Detects the encoding and decodes the whole file. Fails only when the input
// is larger than `limits.max_file_bytes`.
Result<DecodedText> decode_gedcom_with(std::string_view bytes, const ParseLimits& limits);

// Decodes all of `bytes` as `encoding`, counting replacements in `report`.
std::string decode_as(std::string_view bytes, GedcomEncoding encoding, EncodingReport& report);

std::string decode_utf16(std::string_view bytes, bool big_endian, EncodingReport& report);

// The value of the header's first "1 CHAR " line in the first 8,192 bytes,
// trimmed. The header is the first record tagged HEAD in any letter case; a
// CHAR line under any other record is not a declaration.
// `encoding` says how to read the window: UTF-16 in its byte order, anything
// else (or nothing) byte by byte as Latin-1.
std::optional<std::string> declared_charset(std::string_view bytes,
                                            std::optional<GedcomEncoding> encoding);

// True when the bytes are well-formed UTF-8: no stray or missing continuation
// bytes, no overlong forms, no surrogates and nothing past U+10FFFF. The one
// UTF-8 check of the library, fast on the ASCII runs that most text is.
bool is_valid_utf8(std::string_view bytes) noexcept;

}  // namespace lignor
