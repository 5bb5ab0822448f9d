// The encodings that spend one byte on every character: ASCII, Windows-1252
// and the code pages, each read through a table of what every byte reads as.
// A page Python's codecs carry a table for is read through that table,
// generated into code_page_tables.inc: those tables follow the pages' makers
// (Microsoft's for the DOS and Windows pages), where ICU's IBM tables differ
// in places (byte 0xE6 of code page 437 is U+00B5, not U+03BC; 0xAA of code
// page 852 is U+00AC, which ICU leaves undefined), and they read alike on
// every machine whatever its ICU. Any other page is read through ICU.
#include <algorithm>
#include <array>
#include <cstddef>

#include "decode_parts.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {
namespace decode_parts {
namespace {

// A name of a page with a table here, and the page's place among them.
struct CodePageName {
    std::string_view name;
    std::size_t page;
};

#include "code_page_tables.inc"

bool reads_ascii_as_itself(const unicode::ByteTable& table) {
    for (unsigned byte = 0; byte < 0x80; ++byte) {
        const unicode::ByteCharacter& c = table[byte];
        if (c.size != 1 || static_cast<unsigned char>(c.utf8[0]) != byte) return false;
    }
    return true;
}

// Every byte through `table`, the one loop of all single-byte encodings.
// Where the table reads ASCII as itself, ASCII runs are copied whole.
[[gnu::hot]] std::string decode_single_byte(std::string_view bytes, const unicode::ByteTable& table,
                                            EncodingReport& report) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    const bool ascii_runs = reads_ascii_as_itself(table);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (ascii_runs) {
            pos = copy_ascii_run(bytes, pos, out);
            if (pos == bytes.size()) break;
        }
        append_byte_character(table[static_cast<unsigned char>(bytes[pos++])], out, report);
    }
    return out;
}

const CodePageTable& table_of_codec(std::string_view codec) {
    const auto* page = std::find_if(code_page_tables.begin(), code_page_tables.end(),
                                    [&](const CodePageTable& t) { return t.codec == codec; });
    if (page == code_page_tables.end()) throw InternalFailure("a code page table is missing");
    return *page;
}

// What each byte of `page` reads as; a byte the page leaves undefined reads
// as U+FFFD, counted, or with `undefined_as_same_number` as the character of
// the same number.
[[gnu::hot]] unicode::ByteTable byte_table(const CodePageTable& page,
                                           bool undefined_as_same_number = false) {
    unicode::ByteTable table;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const char16_t c = page.characters[byte];
        if (c != undefined_byte) {
            table[byte] = unicode::byte_character(c);
        } else {
            table[byte] = undefined_as_same_number
                              ? unicode::byte_character(byte)
                              : unicode::byte_character(unicode::replacement_character, false);
        }
    }
    return table;
}

// ICU's IBM PC code page tables swap 0x1A, 0x1C and 0x7F among the
// controls, a mainframe convention; in a file whose letters, digits,
// punctuation and line breaks are ASCII, those bytes are the ASCII controls
// too.
[[gnu::hot]] unicode::ByteTable with_ascii_controls(unicode::ByteTable table) {
    for (unsigned byte : {0x09u, 0x0Au, 0x0Du}) {
        if (table[byte].size != 1 || static_cast<unsigned char>(table[byte].utf8[0]) != byte)
            return table;
    }
    for (unsigned byte = 0x20; byte < 0x7F; ++byte) {
        if (table[byte].size != 1 || static_cast<unsigned char>(table[byte].utf8[0]) != byte)
            return table;
    }
    for (unsigned byte = 0; byte < 0x80; ++byte) table[byte] = unicode::byte_character(byte);
    return table;
}

}  // namespace

[[gnu::hot]] std::string decode_ascii(std::string_view bytes, EncodingReport& report) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        pos = copy_ascii_run(bytes, pos, out);
        if (pos == bytes.size()) break;
        append_replacement(out, report);
        ++pos;
    }
    return out;
}

[[gnu::hot]] void append_byte_character(const unicode::ByteCharacter& c, std::string& out,
                                        EncodingReport& report) {
    // Most letters past ASCII take two bytes: pushed inline, where append
    // would call out.
    if (c.size == 2) {
        out.push_back(c.utf8[0]);
        out.push_back(c.utf8[1]);
    } else {
        out.append(c.utf8.data(), c.size);
    }
    if (!c.mapped) ++report.undecodable;
}

[[gnu::hot]] const unicode::ByteTable& windows_1252_table() {
    static const unicode::ByteTable table = byte_table(table_of_codec("cp1252"), true);
    return table;
}

[[gnu::hot]] std::string decode_windows_1252(std::string_view bytes, EncodingReport& report) {
    return decode_single_byte(bytes, windows_1252_table(), report);
}

std::optional<CodePage> code_page_with_table(std::string_view key) {
    const auto* named = std::lower_bound(
        code_page_names.begin(), code_page_names.end(), key,
        [](const CodePageName& entry, std::string_view wanted) { return entry.name < wanted; });
    if (named == code_page_names.end() || named->name != key) return std::nullopt;
    const CodePageTable& page = code_page_tables[named->page];
    return CodePage{std::string(page.codec), std::string(page.display), &page};
}

}  // namespace decode_parts

[[gnu::hot]] std::string decode_code_page(std::string_view bytes, const CodePage& page,
                                          EncodingReport& report) {
    using namespace decode_parts;
    if (page.table != nullptr) return decode_single_byte(bytes, byte_table(*page.table), report);
    if (const auto table = unicode::single_byte_table(page.charset))
        return decode_single_byte(bytes, with_ascii_controls(*table), report);
    return unicode::decode_charset(bytes, page.charset, report.undecodable);
}

}  // namespace lignor
