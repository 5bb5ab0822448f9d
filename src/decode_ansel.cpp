// ANSEL (ANSI Z39.47), the GEDCOM 5.5 default: its letters, and its
// combining marks, which it writes before their letter and Unicode after,
// including a mark whose letter a CONC line carries on.
#include <algorithm>
#include <array>
#include <utility>

#include "decode_parts.hpp"
#include "limits.hpp"
#include "node_line.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor::decode_parts {
namespace {

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

}  // namespace

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
            append_replacement(out, report);
        }
        out += pending;
        pending.clear();
    }
    out += pending;
    return out;
}

}  // namespace lignor::decode_parts
