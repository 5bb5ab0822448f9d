// Encoding detection and decoding.
//
// A GEDCOM file arrives as bytes in one of six encodings or in one of the
// code pages real exports declare (IBM PC, MS-DOS, Macintosh, the Windows and
// ISO 8859 sets, anything ICU converts from). Detection looks at the
// byte-order mark, then at the shape of UTF-16 text, then at the file's own
// `1 CHAR` declaration, unless the caller names the encoding; decoding turns
// the bytes into UTF-8 and never fails on content (what cannot be read
// becomes U+FFFD and is counted; invalid bytes in text read as UTF-8 are read
// as Windows-1252). The `EncodingReport` says what was decided and why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "limits.hpp"

namespace lignor {

// `CodePage`: any other character set: a code page with a table of its own
// (code_page_tables.inc) or a set ICU converts from.
enum class GedcomEncoding : std::uint8_t {
    Ascii,
    Utf8,
    Utf16Be,
    Utf16Le,
    Ansel,
    Windows1252,
    CodePage
};

// "UTF-8", "ANSI (Windows-1252)"...; "code page" for `CodePage`, whose
// reports name the page itself.
std::string_view to_string(GedcomEncoding encoding) noexcept;

struct CodePageTable;

// A character set other than the six.
struct CodePage {
    // Python's codec name of a page with a table here ("cp437"), else ICU's
    // name of the set ("ibm-1098_P100-1995").
    std::string charset;
    std::string display;                   // the report's: "IBM PC (code page 437)"
    const CodePageTable* table = nullptr;  // null: read through ICU

    bool operator==(const CodePage&) const = default;
};

// The encoding a CHAR value or a caller names.
struct NamedEncoding {
    GedcomEncoding encoding = GedcomEncoding::Utf8;
    std::optional<CodePage> code_page;  // set exactly when `encoding` is CodePage
    bool either_byte_order = false;     // "UNICODE", "UTF-16": UTF-16 in the file's order

    bool operator==(const NamedEncoding&) const = default;
};

// The encoding `name` stands for, spelled as GEDCOM files spell CHAR values
// (letter case and punctuation do not count: "IBM-PC", "ibm pc") or as
// Python names its codecs ("cp437", "mac_roman", "utf_16_le"): the six
// encodings under their GEDCOM names, the Latin-1 names as Windows-1252,
// every code page Python's codecs read through a table under Python's names
// and the GEDCOM exporters' ("IBMPC", "MSDOS", "MACINTOSH"), and every other
// name ICU knows for a character set. Nothing for a name neither knows.
std::optional<NamedEncoding> encoding_named(std::string_view name);

struct EncodingReport {
    std::vector<std::string> notes;
    std::optional<std::string> declared;
    // The declared value names no encoding a GEDCOM file could be in.
    bool declared_unrecognised = false;
    std::uint64_t undecodable = 0;
    bool bom = false;
    std::optional<GedcomEncoding> encoding;
    std::optional<CodePage> code_page;  // the page read, when `encoding` is CodePage
    bool chosen_by_caller = false;      // the caller named the encoding
    // A byte-order mark the caller's choice overruled: the encoding it announced.
    std::optional<GedcomEncoding> ignored_bom;
    // Bytes of invalid UTF-8, in text otherwise read as UTF-8, each read as
    // Windows-1252 so that nothing is lost.
    std::uint64_t stray_bytes = 0;

    // The name of what the text was read as: "UTF-8", "IBM PC (code page
    // 437)", "unknown".
    std::string encoding_name() const;
    // One line: "Read as UTF-8 (byte-order mark), no CHAR declared",
    // "Read as UTF-8, declared KLINGON (unrecognized)".
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
    // Lets the memory of the text before `offset` go, once the caller has
    // read it for the last time: a text decoded into a copy is as large as
    // the file, and a read need not hold it whole beside the records it
    // makes. The text there reads as zeros afterwards. Borrowed text is the
    // caller's and stays as it is.
    void discard_before(std::size_t offset) noexcept;

  private:
    std::string owned_;
    std::optional<std::string_view> borrowed_;
    std::size_t discarded_ = 0;  // of owned_, from its start

  public:
    EncodingReport report;
};

// Detects the encoding and decodes the whole file; `chosen`, when given,
// is the caller's word and wins over the file's marks and declaration. Fails
// only when the input is larger than `limits.max_file_bytes`, and when the
// caller names UTF-16 for bytes that show neither its mark nor its shape.
Result<DecodedText> decode_gedcom_with(std::string_view bytes, const ParseLimits& limits,
                                       const std::optional<NamedEncoding>& chosen = std::nullopt);

// Decodes all of `bytes` as `encoding` (one of the six), counting
// replacements and stray bytes in `report`.
std::string decode_as(std::string_view bytes, GedcomEncoding encoding, EncodingReport& report);

// Decodes all of `bytes` through `page`, counting replacements in `report`.
std::string decode_code_page(std::string_view bytes, const CodePage& page, EncodingReport& report);

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
