// Everything asked of ICU: white space, letters and digits, lower-casing,
// normalization, and its code-page converters.
#include "unicode.hpp"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "ascii.hpp"
#include "error.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor::unicode {
namespace {

constexpr bool is_ascii_white_space(unsigned char c) {
    // The White_Space code points below 0x80: TAB, LF, VT, FF, CR and SPACE.
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

constexpr bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::size_t previous_code_point_start(std::string_view text, std::size_t end) {
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && is_continuation(static_cast<unsigned char>(text[start])))
        --start;
    std::size_t probe = start;
    next_code_point(text, probe);
    return probe == end ? start : end - 1;
}

char32_t next_code_point(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length == 1 || pos + length > text.size()) {
        ++pos;
        return replacement_character;
    }
    char32_t cp = lead & (0x3F >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[pos + i]);
        if (!is_continuation(c)) {
            ++pos;
            return replacement_character;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    pos += length;
    return cp;
}

[[gnu::hot]] void append_utf8(std::string& out, char32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = replacement_character;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool is_white_space(char32_t cp) {
    if (cp < 0x80) return is_ascii_white_space(static_cast<unsigned char>(cp));
    return u_isUWhiteSpace(static_cast<UChar32>(cp));
}

bool is_alphanumeric(char32_t cp) {
    if (cp < 0x80) {
        return ascii::is_alnum(static_cast<char>(cp));
    }
    const auto c = static_cast<UChar32>(cp);
    if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
    const auto mask = U_GET_GC_MASK(c);
    return (mask & (U_GC_ND_MASK | U_GC_NL_MASK | U_GC_NO_MASK)) != 0;
}

std::string_view trim_start(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto first = static_cast<unsigned char>(text[pos]);
        if (first < 0x80) {
            if (!is_ascii_white_space(first)) break;
            ++pos;
            continue;
        }
        std::size_t next = pos;
        if (!is_white_space(next_code_point(text, next))) break;
        pos = next;
    }
    return text.substr(pos);
}

[[gnu::hot]] std::string_view trim_end(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0) {
        const auto last = static_cast<unsigned char>(text[end - 1]);
        if (last < 0x80) {
            if (!is_ascii_white_space(last)) break;
            --end;
            continue;
        }
        const std::size_t start = previous_code_point_start(text, end);
        std::size_t probe = start;
        if (!is_white_space(next_code_point(text, probe))) break;
        end = start;
    }
    return text.substr(0, end);
}

[[gnu::hot]] std::string_view trim(std::string_view text) {
    return trim_start(trim_end(text));
}

namespace {

bool is_ascii(std::string_view text) {
    for (char c : text)
        if (!ascii::is_ascii(c)) return false;
    return true;
}

// The text as UTF-16 for ICU, malformed bytes read as U+FFFD.
std::optional<std::vector<UChar>> to_utf16(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8Lenient(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()),
                         &status);
    status = U_ZERO_ERROR;
    std::vector<UChar> utf16(static_cast<std::size_t>(length) + 1);
    u_strFromUTF8Lenient(utf16.data(), static_cast<int32_t>(utf16.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    utf16.resize(static_cast<std::size_t>(length));
    return utf16;
}

std::string from_utf16(const std::vector<UChar>& utf16, std::size_t size_hint) {
    std::string out;
    out.reserve(size_hint);
    const auto length = static_cast<int32_t>(utf16.size());
    for (int32_t i = 0; i < length;) {
        UChar32 cp;
        U16_NEXT(utf16.data(), i, length, cp);
        append_utf8(out, static_cast<char32_t>(cp));
    }
    return out;
}

// Runs one of ICU's preflighting string transforms (called with no room
// first to learn the size, then with room).
template <typename Transform>
std::optional<std::vector<UChar>> transformed(Transform transform) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = transform(nullptr, 0, &status);
    std::vector<UChar> output(static_cast<std::size_t>(length) + 1);
    status = U_ZERO_ERROR;
    transform(output.data(), static_cast<int32_t>(output.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    output.resize(static_cast<std::size_t>(length));
    return output;
}

}  // namespace

std::string to_lower(std::string_view text) {
    if (is_ascii(text)) return ascii::lower_copy(text);
    const auto utf16 = to_utf16(text);
    if (!utf16) return std::string(text);
    // Lower-casing can grow a text (U+0130 becomes two code points).
    const auto lower = transformed([&](UChar* out, int32_t room, UErrorCode* status) {
        return u_strToLower(out, room, utf16->data(), static_cast<int32_t>(utf16->size()), "",
                            status);
    });
    if (!lower) return std::string(text);
    return from_utf16(*lower, text.size() + 8);
}

std::string to_nfc(std::string_view text) {
    if (is_ascii(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) return std::string(text);
    const auto utf16 = to_utf16(text);
    if (!utf16) return std::string(text);
    const auto composed = transformed([&](UChar* out, int32_t room, UErrorCode* error) {
        return unorm2_normalize(nfc, utf16->data(), static_cast<int32_t>(utf16->size()), out, room,
                                error);
    });
    if (!composed) return std::string(text);
    return from_utf16(*composed, text.size());
}

// ---- character sets ----------------------------------------------------------

namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter for a name ICU knows; nothing for any other name.
Converter open_converter(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name.c_str(), &status));
    if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
    if (U_FAILURE(status)) return nullptr;
    return converter;
}

// A converter for a set `charset_name` has found.
Converter open_known_converter(const std::string& charset) {
    Converter converter = open_converter(charset);
    if (!converter) throw InternalFailure("ICU cannot open a character set it named");
    return converter;
}

// ICU's callback for bytes with no character: one U+FFFD for each sequence,
// counted in the std::uint64_t the context points to.
void count_and_replace(const void* context, UConverterToUnicodeArgs* args, const char*, int32_t,
                       UConverterCallbackReason reason, UErrorCode* status) {
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
    ++*static_cast<std::uint64_t*>(const_cast<void*>(context));
    *status = U_ZERO_ERROR;
    const UChar replacement = 0xFFFD;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, status);
}

// ICU's callback while a byte table is made: the bytes with no character
// are marked in the std::bitset<256> the context points to and read as U+FFFD.
void mark_unmapped(const void* context, UConverterToUnicodeArgs* args, const char* bytes,
                   int32_t length, UConverterCallbackReason reason, UErrorCode* status) {
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
    auto& unmapped = *static_cast<std::bitset<256>*>(const_cast<void*>(context));
    for (int32_t i = 0; i < length; ++i) unmapped.set(static_cast<unsigned char>(bytes[i]));
    *status = U_ZERO_ERROR;
    const UChar replacement = 0xFFFD;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, status);
}

void count_replacements(UConverter* converter, std::uint64_t& replaced) {
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter, count_and_replace, &replaced, nullptr, nullptr, &status);
}

}  // namespace

std::optional<std::string> charset_name(std::string_view alias) {
    // An empty name, ICU's converter options (after a comma) and a name cut
    // short by a zero byte name no set.
    if (alias.empty() || alias.find_first_of(std::string_view(",\0", 2)) != std::string_view::npos)
        return std::nullopt;
    const Converter converter = open_converter(std::string(alias));
    if (!converter) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const char* name = ucnv_getName(converter.get(), &status);
    if (U_FAILURE(status)) return std::nullopt;
    return std::string(name);
}

std::string charset_public_name(const std::string& charset) {
    for (const char* standard : {"MIME", "IANA"}) {
        UErrorCode status = U_ZERO_ERROR;
        const char* name = ucnv_getStandardName(charset.c_str(), standard, &status);
        if (U_SUCCESS(status) && name != nullptr) return name;
    }
    return charset;
}

ByteCharacter byte_character(char32_t cp, bool mapped) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = replacement_character;
    ByteCharacter character;
    int32_t size = 0;
    U8_APPEND_UNSAFE(character.utf8.data(), size, cp);
    character.size = static_cast<std::uint8_t>(size);
    character.mapped = mapped;
    return character;
}

std::optional<ByteTable> single_byte_table(const std::string& charset) {
    const Converter converter = open_known_converter(charset);
    if (ucnv_getMaxCharSize(converter.get()) != 1 || ucnv_getMinCharSize(converter.get()) != 1)
        return std::nullopt;
    std::bitset<256> unmapped;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), mark_unmapped, &unmapped, nullptr, nullptr, &status);
    // Every byte in one call: each reads as one character, in byte order.
    std::array<char, 256> every_byte;
    for (unsigned byte = 0; byte < 256; ++byte) every_byte[byte] = static_cast<char>(byte);
    std::array<UChar, 1024> characters;
    const int32_t length =
        ucnv_toUChars(converter.get(), characters.data(), static_cast<int32_t>(characters.size()),
                      every_byte.data(), static_cast<int32_t>(every_byte.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    ByteTable table;
    int32_t at = 0;
    for (unsigned byte = 0; byte < 256; ++byte) {
        if (at >= length) return std::nullopt;
        UChar32 cp = 0;
        U16_NEXT(characters.data(), at, length, cp);
        table[byte] = byte_character(static_cast<char32_t>(cp), !unmapped.test(byte));
    }
    // A set whose bytes read as more than one character has no table.
    if (at != length) return std::nullopt;
    return table;
}

std::string decode_charset(std::string_view bytes, const std::string& charset,
                           std::uint64_t& replaced) {
    const Converter source = open_known_converter(charset);
    const Converter utf8 = open_known_converter("UTF-8");
    count_replacements(source.get(), replaced);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    std::array<char, 16384> chunk;
    std::array<UChar, 4096> pivot;
    UChar* pivot_source = pivot.data();
    UChar* pivot_target = pivot.data();
    const char* from = bytes.data();
    const char* const end = from + bytes.size();
    UBool reset = 1;  // the first call starts the converters afresh
    for (;;) {
        char* target = chunk.data();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_convertEx(utf8.get(), source.get(), &target, chunk.data() + chunk.size(), &from, end,
                       pivot.data(), &pivot_source, &pivot_target, pivot.data() + pivot.size(),
                       reset, 1, &status);
        reset = 0;
        out.append(chunk.data(), static_cast<std::size_t>(target - chunk.data()));
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
    }
    return out;
}

}  // namespace lignor::unicode
