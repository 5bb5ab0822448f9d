// Encoding detection and decoding: the byte-order mark, the shape of the
// first bytes and the CHAR line decide; each decoder turns bytes into UTF-8
// text, and the report says in one line how and why.
#include "decode.hpp"

#include <array>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ascii.hpp"
#include "node.hpp"
#include "storage.hpp"
#include "unicode.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {
namespace {

constexpr std::size_t declaration_window = 8192;

// ---- UTF-8 -----------------------------------------------------------------

bool all_ascii_word(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080ULL) == 0;
}

// Where the run of ASCII bytes that starts at `pos` ends. Nearly every byte
// of a GEDCOM file is ASCII, so this loop is most of the cost of checking
// and copying text: 32 bytes at a time where the processor allows.
std::size_t skip_ascii(std::string_view bytes, std::size_t pos) {
    const char* const data = bytes.data();
#if defined(__SSE2__)
    while (pos + 32 <= bytes.size()) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos + 16));
        if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0) break;
        pos += 32;
    }
#endif
    while (pos + 8 <= bytes.size() && all_ascii_word(data + pos)) pos += 8;
    while (pos < bytes.size() && static_cast<unsigned char>(data[pos]) < 0x80) ++pos;
    return pos;
}

// The bytes that may follow `lead` as the second byte of a well-formed
// sequence, and the sequence's length (0 for a byte that cannot lead).
struct LeadRule {
    unsigned char length;
    unsigned char low;
    unsigned char high;
};

constexpr LeadRule lead_rule(unsigned char lead) {
    if (lead < 0x80) return {1, 0, 0};
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Bytes of the well-formed prefix at `pos`: the whole sequence when it is
// complete, otherwise its maximal valid part (at least 1 for a bad lead).
// `complete` says which.
std::size_t utf8_sequence(std::string_view bytes, std::size_t pos, bool& complete) {
    const LeadRule rule = lead_rule(static_cast<unsigned char>(bytes[pos]));
    if (rule.length == 0) {
        complete = false;
        return 1;
    }
    if (rule.length == 1) {
        complete = true;
        return 1;
    }
    std::size_t taken = 1;
    for (; taken < rule.length; ++taken) {
        if (pos + taken >= bytes.size()) break;
        const auto c = static_cast<unsigned char>(bytes[pos + taken]);
        const unsigned char low = taken == 1 ? rule.low : 0x80;
        const unsigned char high = taken == 1 ? rule.high : 0xBF;
        if (c < low || c > high) break;
    }
    complete = taken == rule.length;
    return taken;
}

// Each maximal ill-formed subsequence becomes one U+FFFD, counted as one
// replacement. A U+FFFD the file itself holds is valid text, not a
// replacement, and is not counted.
[[gnu::hot]] std::string utf8_lossy(std::string_view bytes, EncodingReport& report) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        bool complete = false;
        const std::size_t length = utf8_sequence(bytes, pos, complete);
        if (complete) {
            out.append(bytes.data() + pos, length);
        } else {
            out.append("\xEF\xBF\xBD");
            ++report.undecodable;
        }
        pos += length;
    }
    return out;
}

// ---- single-byte encodings ---------------------------------------------------

// Appends the ASCII run starting at `pos` and returns where it ends.
std::size_t copy_ascii_run(std::string_view bytes, std::size_t pos, std::string& out) {
    const std::size_t start = pos;
    pos = skip_ascii(bytes, pos);
    out.append(bytes.data() + start, pos - start);
    return pos;
}

[[gnu::hot]] std::string decode_ascii(std::string_view bytes, EncodingReport& report) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        pos = copy_ascii_run(bytes, pos, out);
        if (pos == bytes.size()) break;
        out.append("\xEF\xBF\xBD");
        ++report.undecodable;
        ++pos;
    }
    return out;
}

bool reads_ascii_as_itself(const unicode::ByteTable& table) {
    for (unsigned byte = 0; byte < 0x80; ++byte) {
        const unicode::ByteCharacter& c = table[byte];
        if (c.size != 1 || static_cast<unsigned char>(c.utf8[0]) != byte) return false;
    }
    return true;
}

void append_byte_character(const unicode::ByteCharacter& c, std::string& out,
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

constexpr std::array<char16_t, 32> windows_1252_high = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

// The five positions Windows-1252 leaves undefined read as the C1 controls
// of the same number, so that every byte survives as a character.
[[gnu::hot]] const unicode::ByteTable& windows_1252_table() {
    static const unicode::ByteTable table = [] {
        unicode::ByteTable t;
        for (unsigned byte = 0; byte < 256; ++byte) {
            const bool high_block = byte >= 0x80 && byte < 0xA0;
            t[byte] = unicode::byte_character(high_block ? windows_1252_high[byte - 0x80] : byte);
        }
        return t;
    }();
    return table;
}

// The IBM PC code page tables swap 0x1A, 0x1C and 0x7F among the controls,
// a mainframe convention; in a file whose letters, digits, punctuation and
// line breaks are ASCII, those bytes are the ASCII controls too.
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

// Text declared UTF-8 that holds a few invalid bytes: the valid sequences
// are copied and each byte of an invalid one is read as Windows-1252 (and
// counted), so that the valid letters survive and no byte is lost.
[[gnu::hot]] std::string utf8_with_stray_bytes(std::string_view bytes, EncodingReport& report) {
    const unicode::ByteTable& stray = windows_1252_table();
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        pos = copy_ascii_run(bytes, pos, out);
        if (pos == bytes.size()) break;
        bool complete = false;
        const std::size_t length = utf8_sequence(bytes, pos, complete);
        if (complete) {
            out.append(bytes.data() + pos, length);
        } else {
            for (std::size_t i = 0; i < length; ++i)
                append_byte_character(stray[static_cast<unsigned char>(bytes[pos + i])], out,
                                      report);
            report.stray_bytes += length;
        }
        pos += length;
    }
    return out;
}

// ANSEL (ANSI Z39.47): index = byte - 0xA0; 0 marks a byte with no mapping.
constexpr std::array<char16_t, 96> ansel_high = [] {
    std::array<char16_t, 96> t{};
    const std::pair<unsigned, char16_t> spacing[] = {
        {0xA1, 0x0141},
        {0xA2, 0x00D8},
        {0xA3, 0x0110},
        {0xA4, 0x00DE},
        {0xA5, 0x00C6},
        {0xA6, 0x0152},
        {0xA7, 0x02B9},
        {0xA8, 0x00B7},
        {0xA9, 0x266D},
        {0xAA, 0x00AE},
        {0xAB, 0x00B1},
        {0xAC, 0x01A0},
        {0xAD, 0x01AF},
        {0xAE, 0x02BB},
        {0xB0, 0x02BC},
        {0xB1, 0x0142},
        {0xB2, 0x00F8},
        {0xB3, 0x0111},
        {0xB4, 0x00FE},
        {0xB5, 0x00E6},
        {0xB6, 0x0153},
        {0xB7, 0x02BA},
        {0xB8, 0x0131},
        {0xB9, 0x00A3},
        {0xBA, 0x00F0},
        {0xBC, 0x01A1},
        {0xBD, 0x01B0},
        {0xBE, 0x25A1},
        {0xBF, 0x25A0},
        {0xC0, 0x00B0},
        {0xC1, 0x2113},
        {0xC2, 0x2117},
        {0xC3, 0x00A9},
        {0xC4, 0x266F},
        {0xC5, 0x00BF},
        {0xC6, 0x00A1},
        {0xCD, 0x0065},
        {0xCE, 0x006F},
        {0xCF, 0x00DF},
        // Combining marks, written before their base letter in ANSEL.
        {0xE0, 0x0309},
        {0xE1, 0x0300},
        {0xE2, 0x0301},
        {0xE3, 0x0302},
        {0xE4, 0x0303},
        {0xE5, 0x0304},
        {0xE6, 0x0306},
        {0xE7, 0x0307},
        {0xE8, 0x0308},
        {0xE9, 0x030C},
        {0xEA, 0x030A},
        {0xEB, 0xFE20},
        {0xEC, 0xFE21},
        {0xED, 0x0315},
        {0xEE, 0x030B},
        {0xEF, 0x0310},
        {0xF0, 0x0327},
        {0xF1, 0x0328},
        {0xF2, 0x0323},
        {0xF3, 0x0324},
        {0xF4, 0x0325},
        {0xF5, 0x0333},
        {0xF6, 0x0332},
        {0xF7, 0x0326},
        {0xF8, 0x031C},
        {0xF9, 0x032E},
        {0xFA, 0xFE22},
        {0xFB, 0xFE23},
        {0xFE, 0x0313},
    };
    for (const auto& [byte, cp] : spacing) t[byte - 0xA0] = cp;
    return t;
}();

constexpr bool is_ansel_mark(unsigned char byte) {
    return (byte >= 0xE0 && byte <= 0xFB) || byte == 0xFE;
}

// Where the payload of the line after the line break at `at` begins, when
// that line (past any empty lines, which the reader drops) is a CONC line
// with a payload; npos otherwise.
[[gnu::hot]] std::size_t continuation_payload(std::string_view bytes, std::size_t at) {
    const std::size_t start = bytes.find_first_not_of("\r\n", at);
    if (start == std::string_view::npos) return std::string_view::npos;
    const std::size_t end = std::min(bytes.find_first_of("\r\n", start), bytes.size());
    const std::string_view line = bytes.substr(start, end - start);
    ParsedLine parsed;
    if (read_line(line, ParseLimits{}.max_depth, parsed) != LineFault::None ||
        parsed.tag != "CONC" || !parsed.value || parsed.value->empty()) {
        return std::string_view::npos;
    }
    const std::size_t payload =
        start + static_cast<std::size_t>(parsed.value->data() - line.data());
    // The line up to its payload is copied as it stands, so it must be ASCII.
    if (skip_ascii(bytes, start) < payload) return std::string_view::npos;
    return payload;
}

[[gnu::hot]] std::string decode_ansel(std::string_view bytes, EncodingReport& report) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    std::string pending;  // UTF-8 of the marks waiting for their base letter
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (pending.empty()) {
            pos = copy_ascii_run(bytes, pos, out);
            if (pos == bytes.size()) break;
        }
        const auto byte = static_cast<unsigned char>(bytes[pos++]);
        if (is_ansel_mark(byte)) {
            unicode::append_utf8(pending, ansel_high[byte - 0xA0]);
            continue;
        }
        const bool line_break = byte == '\n' || byte == '\r';
        if (line_break && !pending.empty()) {
            // A word split across CONC right after its accent: the marks wait
            // for the continuation's first letter.
            const std::size_t payload = continuation_payload(bytes, pos - 1);
            if (payload != std::string_view::npos) {
                out.append(bytes.data() + pos - 1, payload - (pos - 1));
                pos = payload;
                continue;
            }
            // Anywhere else a mark stays on the line it was written on.
            out += pending;
            pending.clear();
        }
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
        } else if (byte >= 0xA0 && ansel_high[byte - 0xA0] != 0) {
            unicode::append_utf8(out, ansel_high[byte - 0xA0]);
        } else {
            out.append("\xEF\xBF\xBD");
            ++report.undecodable;
        }
        out += pending;
        pending.clear();
    }
    out += pending;
    return out;
}

// ---- names of encodings --------------------------------------------------------

[[gnu::hot]] bool starts_with(std::string_view bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

[[gnu::hot]] std::string normalised_charset(std::string_view declared) {
    std::string key;
    for (char c : declared)
        if (ascii::is_alnum(c)) key.push_back(ascii::to_upper(c));
    return key;
}

// ISO-8859-1 under its common spellings. Windows-1252 is a superset of its
// printable characters, so these files read as Windows-1252 with no note.
bool is_latin1_name(std::string_view key) {
    return key == "ISO88591" || key == "LATIN1" || key == "ISOLATIN1";
}

// The six encodings under the names GEDCOM files and Python give them
// (normalised), or nothing.
[[gnu::hot]] std::optional<NamedEncoding> six_encodings_named(std::string_view key) {
    const auto named = [](GedcomEncoding encoding) { return NamedEncoding{encoding, {}, false}; };
    if (key == "UTF8" || key == "UTF8SIG") return named(GedcomEncoding::Utf8);
    if (key == "ANSEL") return named(GedcomEncoding::Ansel);
    if (key == "ASCII" || key == "USASCII" || key == "ANSIZ3947")
        return named(GedcomEncoding::Ascii);
    if (key == "ANSI" || key == "CP1252" || key == "WINDOWS1252" || key == "IBMWINDOWS" ||
        is_latin1_name(key)) {
        return named(GedcomEncoding::Windows1252);
    }
    if (key == "UNICODE" || key == "UTF16") return NamedEncoding{GedcomEncoding::Utf16Le, {}, true};
    if (key == "UTF16LE") return named(GedcomEncoding::Utf16Le);
    if (key == "UTF16BE") return named(GedcomEncoding::Utf16Be);
    return std::nullopt;
}

// What GEDCOM exporters call the two DOS code pages, names ICU does not know.
std::string_view exporters_code_page(std::string_view key) {
    if (key == "IBMPC" || key == "OEM") return "ibm-437";
    if (key == "MSDOS" || key == "IBMDOS") return "ibm-850";
    return {};
}

// The report's name of a code page: what genealogists call the pages GEDCOM
// exporters write, the public name of any other.
std::string code_page_display(const std::string& charset, std::string public_name) {
    constexpr std::pair<std::string_view, std::string_view> familiar[] = {
        {"ibm-437", "IBM PC (code page 437)"},
        {"ibm-850", "MS-DOS (code page 850)"},
        {"macintosh", "Mac OS Roman"},
    };
    for (const auto& [alias, display] : familiar)
        if (unicode::charset_name(alias) == charset) return std::string(display);
    if (starts_with(public_name, "windows-")) public_name[0] = 'W';
    return public_name;
}

bool is_utf16(GedcomEncoding encoding) {
    return encoding == GedcomEncoding::Utf16Be || encoding == GedcomEncoding::Utf16Le;
}

std::string_view name_of(GedcomEncoding encoding, const std::optional<CodePage>& page) {
    if (encoding == GedcomEncoding::CodePage && page) return page->display;
    return to_string(encoding);
}

// ---- detection ---------------------------------------------------------------

struct Choice {
    GedcomEncoding encoding;
    std::optional<std::string> note = std::nullopt;
    std::optional<CodePage> code_page = std::nullopt;
    // Invalid UTF-8 in text read as UTF-8 is read byte by byte as
    // Windows-1252 rather than replaced.
    bool keep_stray_bytes = false;
};

// The encoding a byte-order mark announces, and the mark's length.
[[gnu::hot]] std::optional<std::pair<GedcomEncoding, std::size_t>> byte_order_mark(
    std::string_view bytes) {
    if (starts_with(bytes, "\xEF\xBB\xBF")) return std::pair{GedcomEncoding::Utf8, std::size_t{3}};
    if (starts_with(bytes, "\xFE\xFF")) return std::pair{GedcomEncoding::Utf16Be, std::size_t{2}};
    if (starts_with(bytes, "\xFF\xFE")) return std::pair{GedcomEncoding::Utf16Le, std::size_t{2}};
    return std::nullopt;
}

// UTF-16 without a mark, recognised by exactly one zero in the first two
// bytes: "0" of "0 HEAD" and its zero high byte.
[[gnu::hot]] std::optional<GedcomEncoding> utf16_by_structure(std::string_view bytes) {
    if (bytes.size() < 2 || (bytes[0] == 0) == (bytes[1] == 0)) return std::nullopt;
    return bytes[1] == 0 ? GedcomEncoding::Utf16Le : GedcomEncoding::Utf16Be;
}

std::string unrecognised(const std::string& declared) {
    return "Unrecognized CHAR value " + quoted(declared);
}

// True when `page` reads printable ASCII, tab and line breaks as themselves,
// as a file whose CHAR line could be read byte by byte must.
bool reads_gedcom_lines(const CodePage& page) {
    std::string ascii = "\t\n\r";
    for (char c = 0x20; c < 0x7F; ++c) ascii.push_back(c);
    std::uint64_t replaced = 0;
    return unicode::decode_charset(ascii, page.charset, replaced) == ascii;
}

[[gnu::hot]] Choice choose_by_declaration(const std::optional<std::string>& declared,
                                          std::string_view bytes, bool valid_utf8) {
    if (!declared) {
        if (valid_utf8) return {GedcomEncoding::Utf8};
        return {GedcomEncoding::Ansel,
                "File declares no CHAR and is not valid UTF-8; read as ANSEL, the GEDCOM 5.5 "
                "default."};
    }
    std::optional<NamedEncoding> named = encoding_named(*declared);
    if (named && named->code_page && !reads_gedcom_lines(*named->code_page)) named.reset();
    if (!named) {
        // An unknown name on bytes that are not UTF-8 is most often a Latin
        // code page: Windows-1252 keeps every byte as a character, where
        // UTF-8 would lose each accented letter.
        if (!valid_utf8) {
            return {GedcomEncoding::Windows1252,
                    unrecognised(*declared) +
                        " and the file is not valid UTF-8; read as Windows-1252."};
        }
        return {GedcomEncoding::Utf8, unrecognised(*declared) + "; read as UTF-8."};
    }
    if (is_utf16(named->encoding)) {
        return {GedcomEncoding::Utf8,
                "File declares UNICODE but has no byte-order mark and no UTF-16 structure; read "
                "as UTF-8."};
    }
    if (named->encoding == GedcomEncoding::Utf8) return {GedcomEncoding::Utf8, {}, {}, true};
    // Text in a code page is almost never valid UTF-8 once it holds a letter
    // past ASCII, while a file converted to UTF-8 with its CHAR line left as
    // it was is common: such text is read as what it is.
    if (named->code_page && valid_utf8 && skip_ascii(bytes, 0) < bytes.size()) {
        return {GedcomEncoding::Utf8, "File declares " + named->code_page->display +
                                          " but is valid UTF-8; read as UTF-8."};
    }
    return {named->encoding, {}, named->code_page};
}

// Marks, UTF-16 structure and the declaration, in that order. `body` loses
// the mark; `valid_utf8` is set when the whole file was checked.
[[gnu::hot]] Choice detect(std::string_view& body, EncodingReport& report,
                           std::optional<bool>& valid_utf8) {
    const std::string_view bytes = body;
    if (const auto mark = byte_order_mark(bytes)) {
        report.bom = true;
        body.remove_prefix(mark->second);
        report.declared = declared_charset(
            bytes, is_utf16(mark->first) ? std::optional(mark->first) : std::nullopt);
        return {mark->first};
    }
    if (const auto utf16 = utf16_by_structure(bytes)) {
        report.notes.push_back("File is " + std::string(to_string(*utf16)) +
                               " but carries no byte-order mark.");
        report.declared = declared_charset(bytes, utf16);
        return {*utf16};
    }
    report.declared = declared_charset(bytes, std::nullopt);
    valid_utf8 = is_valid_utf8(bytes);
    return choose_by_declaration(report.declared, bytes, *valid_utf8);
}

// The caller's encoding, whatever the file says. A byte-order mark of
// another encoding is dropped and reported as ignored.
[[gnu::hot]] Choice follow_caller(const NamedEncoding& chosen, std::string_view& body,
                                  EncodingReport& report) {
    report.chosen_by_caller = true;
    const auto mark = byte_order_mark(body);
    GedcomEncoding encoding = chosen.encoding;
    if (chosen.either_byte_order) {
        encoding = mark && is_utf16(mark->first)
                       ? mark->first
                       : utf16_by_structure(body).value_or(GedcomEncoding::Utf16Le);
    }
    if (mark) {
        body.remove_prefix(mark->second);
        if (mark->first == encoding) {
            report.bom = true;
        } else {
            report.ignored_bom = mark->first;
            report.notes.push_back("File begins with a " + std::string(to_string(mark->first)) +
                                   " byte-order mark; it was ignored because the caller chose " +
                                   std::string(name_of(encoding, chosen.code_page)) + ".");
        }
    }
    report.declared =
        declared_charset(body, is_utf16(encoding) ? std::optional(encoding) : std::nullopt);
    return {encoding, {}, chosen.code_page, true};
}

[[gnu::hot]] std::string latin1_to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 16);
    for (char c : bytes) unicode::append_utf8(out, static_cast<unsigned char>(c));
    return out;
}

// The value of a "1 CHAR " line, or nothing when the line is not one.
[[gnu::hot]] std::optional<std::string> charset_of_line(std::string_view line) {
    line = unicode::trim_end(line);
    constexpr std::string_view prefix = "1 CHAR ";
    if (!starts_with(line, prefix)) return std::nullopt;
    return std::string(unicode::trim(line.substr(prefix.size())));
}

// The tag of a level-0 line as the document reader reads it ("0 HEAD",
// "00 @H1@ Head"), or nothing for any other line.
[[gnu::hot]] std::optional<std::string_view> record_tag_of_line(std::string_view line) {
    ParsedLine parsed;
    if (read_line(line, 0, parsed) != LineFault::None) return std::nullopt;
    return parsed.tag;
}

}  // namespace

std::string_view to_string(GedcomEncoding encoding) noexcept {
    switch (encoding) {
        case GedcomEncoding::Ascii:
            return "ASCII";
        case GedcomEncoding::Utf8:
            return "UTF-8";
        case GedcomEncoding::Utf16Be:
            return "UTF-16 (big-endian)";
        case GedcomEncoding::Utf16Le:
            return "UTF-16 (little-endian)";
        case GedcomEncoding::Ansel:
            return "ANSEL";
        case GedcomEncoding::Windows1252:
            return "ANSI (Windows-1252)";
        case GedcomEncoding::CodePage:
            return "code page";
    }
    return "unknown";
}

[[gnu::hot]] std::optional<NamedEncoding> encoding_named(std::string_view name) {
    name = unicode::trim(name);
    const std::string key = normalised_charset(name);
    if (key.empty()) return std::nullopt;
    if (auto six = six_encodings_named(key)) return six;
    const std::string_view exporters = exporters_code_page(key);
    const auto charset = unicode::charset_name(exporters.empty() ? name : exporters);
    if (!charset) return std::nullopt;
    // Another of ICU's names for one of the six ("latin_1", "ibm-1208").
    std::string public_name = unicode::charset_public_name(*charset);
    if (auto six = six_encodings_named(normalised_charset(public_name))) return six;
    return NamedEncoding{GedcomEncoding::CodePage,
                         CodePage{*charset, code_page_display(*charset, std::move(public_name))},
                         false};
}

std::string EncodingReport::encoding_name() const {
    return encoding ? std::string(name_of(*encoding, code_page)) : "unknown";
}

std::string EncodingReport::summary() const {
    std::string out = "Read as " + encoding_name();
    if (bom) out += " (byte-order mark)";
    if (chosen_by_caller) out += ", chosen by the caller";
    if (ignored_bom)
        out += ", " + std::string(to_string(*ignored_bom)) + " byte-order mark ignored";
    if (declared) {
        out += ", declared ";
        out += *declared;
    } else {
        out += ", no CHAR declared";
    }
    if (undecodable > 0) out += ", " + std::to_string(undecodable) + " byte(s) undecodable";
    if (stray_bytes > 0)
        out += ", " + std::to_string(stray_bytes) + " invalid byte(s) read as Windows-1252";
    return out;
}

[[gnu::hot]] bool is_valid_utf8(std::string_view bytes) noexcept {
    const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        pos = skip_ascii(bytes, pos);
        if (pos >= bytes.size()) break;
        // Two-byte letters (Latin, Greek, Cyrillic) are the usual non-ASCII
        // text of a GEDCOM file: checked inline.
        if (data[pos] >= 0xC2 && data[pos] <= 0xDF && pos + 1 < bytes.size() &&
            (data[pos + 1] & 0xC0) == 0x80) {
            pos += 2;
            continue;
        }
        bool complete = false;
        pos += utf8_sequence(bytes, pos, complete);
        if (!complete) return false;
    }
    return true;
}

[[gnu::hot]] std::string decode_utf16(std::string_view bytes, bool big_endian,
                                      EncodingReport& report) {
    if (bytes.size() % 2 != 0) {
        report.notes.emplace_back(
            "UTF-16 file has an odd number of bytes; the final byte was ignored.");
        bytes.remove_suffix(1);
    }
    const auto unit_at = [&](std::size_t i) -> char32_t {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return big_endian ? (char32_t{a} << 8 | b) : (char32_t{b} << 8 | a);
    };
    const std::size_t units = bytes.size() / 2;
    std::string out;
    out.reserve(units + units / 4);
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = unit_at(i);
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            const char32_t low = i + 1 < units ? unit_at(i + 1) : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unicode::append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
            } else {
                out.append("\xEF\xBF\xBD");
                ++report.undecodable;
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            out.append("\xEF\xBF\xBD");
            ++report.undecodable;
        } else {
            unicode::append_utf8(out, unit);
        }
    }
    return out;
}

[[gnu::hot]] std::string decode_as(std::string_view bytes, GedcomEncoding encoding,
                                   EncodingReport& report) {
    switch (encoding) {
        case GedcomEncoding::Ascii:
            return decode_ascii(bytes, report);
        case GedcomEncoding::Utf8: {
            if (is_valid_utf8(bytes)) return std::string(bytes);
            return utf8_lossy(bytes, report);
        }
        case GedcomEncoding::Utf16Be:
            return decode_utf16(bytes, true, report);
        case GedcomEncoding::Utf16Le:
            return decode_utf16(bytes, false, report);
        case GedcomEncoding::Ansel:
            return decode_ansel(bytes, report);
        case GedcomEncoding::Windows1252:
            return decode_single_byte(bytes, windows_1252_table(), report);
        case GedcomEncoding::CodePage:
            break;
    }
    throw InternalFailure("decode_as reads the six encodings; a code page needs decode_code_page");
}

[[gnu::hot]] std::string decode_code_page(std::string_view bytes, const CodePage& page,
                                          EncodingReport& report) {
    if (const auto table = unicode::single_byte_table(page.charset))
        return decode_single_byte(bytes, with_ascii_controls(*table), report);
    return unicode::decode_charset(bytes, page.charset, report.undecodable);
}

[[gnu::hot]] std::optional<std::string> declared_charset(std::string_view bytes,
                                                         std::optional<GedcomEncoding> encoding) {
    std::string_view window = bytes.substr(0, std::min(bytes.size(), declaration_window));
    const bool utf16 = encoding == GedcomEncoding::Utf16Be || encoding == GedcomEncoding::Utf16Le;
    // A byte-order mark is not text: without this the header's first line
    // would not read as a line.
    const std::string_view mark = !utf16                                ? "\xEF\xBB\xBF"
                                  : encoding == GedcomEncoding::Utf16Be ? "\xFE\xFF"
                                                                        : "\xFF\xFE";
    if (starts_with(window, mark)) window.remove_prefix(mark.size());
    std::string text;
    if (utf16) {
        EncodingReport scratch;
        text = decode_utf16(window, encoding == GedcomEncoding::Utf16Be, scratch);
    } else {
        text = latin1_to_utf8(window);
    }
    // Only a CHAR line of the header counts: the first record tagged HEAD in
    // any case, as the document's header() picks it, so that what to_bytes
    // declares is what the next read obeys. Lines end in LF, CR LF or a lone
    // CR (classic Macintosh files).
    bool in_header = false;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of("\r\n");
        const std::string_view line = rest.substr(0, end);
        if (const auto tag = record_tag_of_line(line)) {
            if (in_header) break;
            in_header = ascii::iequals(*tag, "HEAD");
        } else if (in_header) {
            if (auto value = charset_of_line(line)) return value;
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return std::nullopt;
}

namespace {

[[gnu::hot]] std::string decode_choice(std::string_view body, const Choice& choice,
                                       EncodingReport& report) {
    switch (choice.encoding) {
        case GedcomEncoding::Utf8:
            return choice.keep_stray_bytes ? utf8_with_stray_bytes(body, report)
                                           : utf8_lossy(body, report);
        case GedcomEncoding::CodePage:
            return decode_code_page(body, *choice.code_page, report);
        default:
            return decode_as(body, choice.encoding, report);
    }
}

}  // namespace

[[gnu::hot]] void DecodedText::discard_before(std::size_t offset) noexcept {
    offset = std::min(offset, owned_.size());
    if (borrowed_ || offset <= discarded_) return;
    discarded_ += storage::discard(owned_.data() + discarded_, offset - discarded_);
}

[[gnu::hot]] Result<DecodedText> decode_gedcom_with(std::string_view bytes,
                                                    const ParseLimits& limits,
                                                    const std::optional<NamedEncoding>& chosen) {
    if (bytes.size() > limits.max_file_bytes) {
        return GedcomError::whole(ErrorKind::Limit,
                                  file_size_message(bytes.size(), limits.max_file_bytes));
    }
    EncodingReport report;
    std::string_view body = bytes;
    std::optional<bool> valid_utf8;
    Choice choice =
        chosen ? follow_caller(*chosen, body, report) : detect(body, report, valid_utf8);
    if (choice.note) report.notes.push_back(std::move(*choice.note));
    report.encoding = choice.encoding;
    report.code_page = choice.code_page;
    // Valid UTF-8 read as UTF-8 is the text itself: no copy.
    if (choice.encoding == GedcomEncoding::Utf8 && (valid_utf8 ? *valid_utf8 : is_valid_utf8(body)))
        return DecodedText(body, std::move(report));
    std::string text = decode_choice(body, choice, report);
    if (report.stray_bytes > 0) {
        report.notes.push_back("File holds " + std::to_string(report.stray_bytes) +
                               " byte(s) of invalid UTF-8; each was read as Windows-1252.");
    }
    if (report.undecodable > 0) {
        report.notes.push_back(std::to_string(report.undecodable) + " byte(s) had no mapping in " +
                               report.encoding_name() + " and were replaced with U+FFFD.");
    }
    return DecodedText(std::move(text), std::move(report));
}

}  // namespace lignor
