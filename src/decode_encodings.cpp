// The encodings and their names: the one table of the six (the report's
// name, the names files and callers give it, its byte-order mark, its
// decoder), and what any other name stands for: a code page with a table of
// its own, or a character set ICU converts from.
#include <algorithm>
#include <array>
#include <cstddef>

#include "ascii.hpp"
#include "decode_parts.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {
namespace decode_parts {
namespace {

// Names as normalised_charset gives them: GEDCOM's CHAR values and Python's
// codec names. The Latin-1 names are Windows-1252's: it is a superset of
// Latin-1's printable characters, so such files read as Windows-1252 with no
// note.
constexpr std::string_view ascii_names[] = {"ASCII", "USASCII", "ANSIZ3947"};
constexpr std::string_view utf8_names[] = {"UTF8", "UTF8SIG"};
constexpr std::string_view utf16_be_names[] = {"UTF16BE"};
constexpr std::string_view utf16_le_names[] = {"UTF16LE"};
constexpr std::string_view ansel_names[] = {"ANSEL"};
constexpr std::string_view windows_1252_names[] = {
    "ANSI", "CP1252", "WINDOWS1252", "IBMWINDOWS", "ISO88591", "LATIN1", "ISOLATIN1"};

// In the order of GedcomEncoding.
constexpr std::array<Encoding, 6> encodings = {{
    {GedcomEncoding::Ascii, "ASCII", ascii_names, "", decode_ascii},
    {GedcomEncoding::Utf8, "UTF-8", utf8_names, "\xEF\xBB\xBF", decode_utf8},
    {GedcomEncoding::Utf16Be, "UTF-16 (big-endian)", utf16_be_names, "\xFE\xFF", decode_utf16_be},
    {GedcomEncoding::Utf16Le, "UTF-16 (little-endian)", utf16_le_names, "\xFF\xFE",
     decode_utf16_le},
    {GedcomEncoding::Ansel, "ANSEL", ansel_names, "", decode_ansel},
    {GedcomEncoding::Windows1252, "ANSI (Windows-1252)", windows_1252_names, "",
     decode_windows_1252},
}};

constexpr bool rows_in_enum_order() {
    for (std::size_t i = 0; i < encodings.size(); ++i)
        if (static_cast<std::size_t>(encodings[i].encoding) != i) return false;
    return encodings.size() == static_cast<std::size_t>(GedcomEncoding::CodePage);
}
static_assert(rows_in_enum_order(), "one row per encoding, in the order of GedcomEncoding");

// UTF-16 in whichever byte order the file shows.
constexpr std::string_view utf16_either_order_names[] = {"UNICODE", "UTF16"};

bool has_name(std::span<const std::string_view> names, std::string_view key) {
    return std::find(names.begin(), names.end(), key) != names.end();
}

// The encoding a normalised name stands for among those named here.
[[gnu::hot]] std::optional<NamedEncoding> named_here(std::string_view key) {
    for (const Encoding& row : encodings)
        if (has_name(row.names, key)) return NamedEncoding{row.encoding, {}, false};
    if (has_name(utf16_either_order_names, key))
        return NamedEncoding{GedcomEncoding::Utf16Le, {}, true};
    if (auto page = code_page_with_table(key))
        return NamedEncoding{GedcomEncoding::CodePage, std::move(page), false};
    return std::nullopt;
}

// The report's name of a character set ICU reads: its public name, with
// Windows capitalised as the pages with tables here spell it.
std::string icu_display(std::string public_name) {
    if (public_name.starts_with("windows-")) public_name[0] = 'W';
    return public_name;
}

}  // namespace

const Encoding& encoding_row(GedcomEncoding encoding) {
    const auto index = static_cast<std::size_t>(encoding);
    if (index >= encodings.size()) throw InternalFailure("a code page has no row of the six");
    return encodings[index];
}

[[gnu::hot]] const Encoding* encoding_by_mark(std::string_view bytes) noexcept {
    for (const Encoding& row : encodings)
        if (!row.mark.empty() && bytes.starts_with(row.mark)) return &row;
    return nullptr;
}

[[gnu::hot]] std::string normalised_charset(std::string_view name) {
    std::string key;
    for (char c : name)
        if (ascii::is_alnum(c)) key.push_back(ascii::to_upper(c));
    return key;
}

[[gnu::hot]] bool is_utf16(GedcomEncoding encoding) noexcept {
    return encoding == GedcomEncoding::Utf16Be || encoding == GedcomEncoding::Utf16Le;
}

std::string_view name_of(GedcomEncoding encoding, const std::optional<CodePage>& page) {
    if (encoding == GedcomEncoding::CodePage && page) return page->display;
    return to_string(encoding);
}

}  // namespace decode_parts

std::string_view to_string(GedcomEncoding encoding) noexcept {
    if (encoding == GedcomEncoding::CodePage) return "code page";
    const auto index = static_cast<std::size_t>(encoding);
    return index < decode_parts::encodings.size() ? decode_parts::encodings[index].display
                                                  : "unknown";
}

[[gnu::hot]] std::optional<NamedEncoding> encoding_named(std::string_view name) {
    using namespace decode_parts;
    name = unicode::trim(name);
    const std::string key = normalised_charset(name);
    if (key.empty()) return std::nullopt;
    if (auto named = named_here(key)) return named;
    const auto charset = unicode::charset_name(name);
    if (!charset) return std::nullopt;
    // Another of ICU's names for a set named here ("latin_1", "ibm-1208",
    // "csPCp852"): its public name is one of ours.
    std::string public_name = unicode::charset_public_name(*charset);
    if (auto named = named_here(normalised_charset(public_name))) return named;
    return NamedEncoding{GedcomEncoding::CodePage,
                         CodePage{*charset, icu_display(std::move(public_name))}, false};
}

}  // namespace lignor
