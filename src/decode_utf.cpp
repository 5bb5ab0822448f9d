// UTF-8 and UTF-16: the one UTF-8 check of the library, the ASCII fast path
// every decoder shares, UTF-8 with stray bytes kept, and UTF-16 in either
// byte order.
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decode_parts.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor {
namespace decode_parts {
namespace {

bool all_ascii_word(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080ULL) == 0;
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

}  // namespace

// Nearly every byte of a GEDCOM file is ASCII, so this loop is most of the
// cost of checking and copying text: 32 bytes at a time where the processor
// allows.
[[gnu::hot]] std::size_t skip_ascii(std::string_view bytes, std::size_t pos) noexcept {
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

[[gnu::hot]] std::size_t copy_ascii_run(std::string_view bytes, std::size_t pos, std::string& out) {
    const std::size_t start = pos;
    pos = skip_ascii(bytes, pos);
    out.append(bytes.data() + start, pos - start);
    return pos;
}

[[gnu::hot]] std::size_t utf8_sequence(std::string_view bytes, std::size_t pos,
                                       bool& complete) noexcept {
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

// Text read as UTF-8 that holds a few invalid bytes is most often a file
// whose exporter let a few Windows-1252 letters through: read so, the valid
// letters survive beside them and no byte is lost.
[[gnu::hot]] std::string decode_utf8(std::string_view bytes, EncodingReport& report) {
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

[[gnu::hot]] std::string decode_utf16_be(std::string_view bytes, EncodingReport& report) {
    return decode_utf16(bytes, true, report);
}

[[gnu::hot]] std::string decode_utf16_le(std::string_view bytes, EncodingReport& report) {
    return decode_utf16(bytes, false, report);
}

}  // namespace decode_parts

[[gnu::hot]] bool is_valid_utf8(std::string_view bytes) noexcept {
    const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        pos = decode_parts::skip_ascii(bytes, pos);
        if (pos >= bytes.size()) break;
        // Two-byte letters (Latin, Greek, Cyrillic) are the usual non-ASCII
        // text of a GEDCOM file: checked inline.
        if (data[pos] >= 0xC2 && data[pos] <= 0xDF && pos + 1 < bytes.size() &&
            (data[pos + 1] & 0xC0) == 0x80) {
            pos += 2;
            continue;
        }
        bool complete = false;
        pos += decode_parts::utf8_sequence(bytes, pos, complete);
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
                decode_parts::append_replacement(out, report);
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            decode_parts::append_replacement(out, report);
        } else {
            unicode::append_utf8(out, unit);
        }
    }
    return out;
}

}  // namespace lignor
