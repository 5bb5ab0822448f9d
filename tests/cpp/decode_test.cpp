// Tests of decoding: detection, each encoding's decoder and the report.
#include "decode.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "document.hpp"

namespace lignor {
namespace {

using std::nullopt;
using std::optional;
using std::string;
using std::string_view;
using Notes = std::vector<string>;

DecodedText decode(string_view bytes) {
    auto decoded = decode_gedcom_with(bytes, ParseLimits{});
    EXPECT_TRUE(decoded);
    return std::move(decoded).value();
}

// Bytes of `text` (ASCII) as UTF-16 in the given byte order.
string utf16(string_view text, bool big_endian) {
    string out;
    for (char c : text) {
        if (big_endian) out.push_back('\0');
        out.push_back(c);
        if (!big_endian) out.push_back('\0');
    }
    return out;
}

// ---- detection and the report --------------------------------------------------

struct DetectCase {
    const char* name;
    string bytes;
    GedcomEncoding encoding;
    bool bom;
    std::optional<string> declared;
    Notes notes;
    string summary;
};

class decode_detects : public testing::TestWithParam<DetectCase> {};

TEST_P(decode_detects, encoding_notes_and_summary) {
    const DetectCase& c = GetParam();
    DecodedText decoded = decode(c.bytes);
    EXPECT_EQ(decoded.report.encoding, c.encoding);
    EXPECT_EQ(decoded.report.bom, c.bom);
    EXPECT_EQ(decoded.report.declared, c.declared);
    EXPECT_EQ(decoded.report.notes, c.notes);
    EXPECT_EQ(decoded.report.summary(), c.summary);
}

const string no_char_ansel =
    "File declares no CHAR and is not valid UTF-8; read as ANSEL, the GEDCOM 5.5 default.";

INSTANTIATE_TEST_SUITE_P(
    cases, decode_detects,
    testing::Values(
        DetectCase{
            "empty", "", GedcomEncoding::Utf8, false, {}, {}, "Read as UTF-8, no CHAR declared"},
        DetectCase{"one_byte",
                   "0",
                   GedcomEncoding::Utf8,
                   false,
                   {},
                   {},
                   "Read as UTF-8, no CHAR declared"},
        DetectCase{"utf8_bom_wins_over_declaration",
                   "\xEF\xBB\xBF"
                   "0 HEAD\n1 CHAR ANSEL\n",
                   GedcomEncoding::Utf8,
                   true,
                   "ANSEL",
                   {},
                   "Read as UTF-8 (byte-order mark), declared ANSEL"},
        DetectCase{"utf16le_bom",
                   "\xFF\xFE" + utf16("0 HEAD\n1 CHAR ANSEL\n", false),
                   GedcomEncoding::Utf16Le,
                   true,
                   "ANSEL",
                   {},
                   "Read as UTF-16 (little-endian) (byte-order mark), declared ANSEL"},
        DetectCase{"utf16be_bom",
                   "\xFE\xFF" + utf16("0 HEAD\n", true),
                   GedcomEncoding::Utf16Be,
                   true,
                   {},
                   {},
                   "Read as UTF-16 (big-endian) (byte-order mark), no CHAR declared"},
        DetectCase{"utf16le_by_structure",
                   utf16("0 HEAD\r\n1 CHAR UNICODE\r\n", false),
                   GedcomEncoding::Utf16Le,
                   false,
                   "UNICODE",
                   {"File is UTF-16 (little-endian) but carries no byte-order mark."},
                   "Read as UTF-16 (little-endian), declared UNICODE"},
        DetectCase{"utf16be_odd_length",
                   utf16("0 HEAD\n", true) + "x",
                   GedcomEncoding::Utf16Be,
                   false,
                   {},
                   {"File is UTF-16 (big-endian) but carries no byte-order mark.",
                    "UTF-16 file has an odd number of bytes; the final byte was ignored."},
                   "Read as UTF-16 (big-endian), no CHAR declared"},
        DetectCase{"two_zero_bytes_go_to_the_declaration",
                   string("\0\0abc", 5),
                   GedcomEncoding::Utf8,
                   false,
                   {},
                   {},
                   "Read as UTF-8, no CHAR declared"},
        DetectCase{"no_char_invalid_utf8",
                   "0 HEAD\n1 NOTE \xE2"
                   "e\n",
                   GedcomEncoding::Ansel,
                   false,
                   {},
                   {no_char_ansel},
                   "Read as ANSEL, no CHAR declared"},
        DetectCase{"declared_utf8_invalid",
                   "0 HEAD\n1 CHAR utf-8\n1 NOTE caf\xE9\n",
                   GedcomEncoding::Utf8,
                   false,
                   "utf-8",
                   {"File holds 1 byte(s) of invalid UTF-8; each was read as Windows-1252."},
                   "Read as UTF-8, declared utf-8, 1 invalid byte(s) read as Windows-1252"},
        DetectCase{"ansi_z39_47_is_ascii",
                   "0 HEAD\n1 CHAR ANSI Z39.47\n",
                   GedcomEncoding::Ascii,
                   false,
                   "ANSI Z39.47",
                   {},
                   "Read as ASCII, declared ANSI Z39.47"},
        DetectCase{
            "unicode_without_structure",
            "0 HEAD\r\n1 CHAR UNICODE\r\n",
            GedcomEncoding::Utf8,
            false,
            "UNICODE",
            {"File declares UNICODE but has no byte-order mark and no UTF-16 structure; read "
             "as UTF-8."},
            "Read as UTF-8, declared UNICODE"},
        DetectCase{
            "utf16_word",
            "0 HEAD\n1 CHAR UTF-16\n",
            GedcomEncoding::Utf8,
            false,
            "UTF-16",
            {"File declares UNICODE but has no byte-order mark and no UTF-16 structure; read "
             "as UTF-8."},
            "Read as UTF-8, declared UTF-16"},
        DetectCase{"unrecognised",
                   "0 HEAD\n1 CHAR FAMILYSET\n",
                   GedcomEncoding::Utf8,
                   false,
                   "FAMILYSET",
                   {"Unrecognized CHAR value \"FAMILYSET\"; read as UTF-8."},
                   "Read as UTF-8, declared FAMILYSET (unrecognized)"},
        DetectCase{"unrecognised_and_not_utf8_keeps_accents",
                   "0 HEAD\n1 CHAR FAMILYSET\n1 NOTE Bront\xEB\n",
                   GedcomEncoding::Windows1252,
                   false,
                   "FAMILYSET",
                   {"Unrecognized CHAR value \"FAMILYSET\" and the file is not valid UTF-8; read "
                    "as Windows-1252."},
                   "Read as ANSI (Windows-1252), declared FAMILYSET (unrecognized)"},
        // A CHAR line only a converter that does not read ASCII as ASCII
        // would name cannot be the file's own.
        DetectCase{"ebcdic_declaration_is_unrecognised",
                   "0 HEAD\n1 CHAR IBM037\n",
                   GedcomEncoding::Utf8,
                   false,
                   "IBM037",
                   {"Unrecognized CHAR value \"IBM037\"; read as UTF-8."},
                   "Read as UTF-8, declared IBM037 (unrecognized)"},
        // Code page 864 reads '%' as the Arabic percent sign, and a CHAR
        // line as it stands.
        DetectCase{"code_page_of_other_punctuation",
                   "0 HEAD\n1 CHAR CP864\n1 NOTE 5%\n",
                   GedcomEncoding::CodePage,
                   false,
                   "CP864",
                   {},
                   "Read as IBM864, declared CP864"},
        DetectCase{"code_page_on_utf8_text_reads_utf8",
                   "0 HEAD\n1 CHAR IBMPC\n1 NOTE Fr\xC3\xA9mont\n",
                   GedcomEncoding::Utf8,
                   false,
                   "IBMPC",
                   {"File declares IBM PC (code page 437) but is valid UTF-8; read as UTF-8."},
                   "Read as UTF-8, declared IBMPC"},
        DetectCase{"code_page_with_undefined_bytes",
                   "0 HEAD\n1 CHAR WINDOWS-1253\n1 NOTE \xD2\xE1\n",
                   GedcomEncoding::CodePage,
                   false,
                   "WINDOWS-1253",
                   {"1 byte(s) had no mapping in Windows-1253 and were replaced with U+FFFD."},
                   "Read as Windows-1253, declared WINDOWS-1253, 1 byte(s) undecodable"},
        DetectCase{"ascii_undecodable",
                   "0 HEAD\n1 CHAR ASCII\n1 NOTE \x80\xFF\n",
                   GedcomEncoding::Ascii,
                   false,
                   "ASCII",
                   {"2 byte(s) had no mapping in ASCII and were replaced with U+FFFD."},
                   "Read as ASCII, declared ASCII, 2 byte(s) undecodable"},
        // Wherever text is read as UTF-8, a byte that is not is read as
        // Windows-1252; the file's own U+FFFD is text, not a replacement.
        DetectCase{"utf8_bom_reads_stray_bytes",
                   "\xEF\xBB\xBF"
                   "0 A \xFF\xEF\xBF\xBD\n",
                   GedcomEncoding::Utf8,
                   true,
                   {},
                   {"File holds 1 byte(s) of invalid UTF-8; each was read as Windows-1252."},
                   "Read as UTF-8 (byte-order mark), no CHAR declared, 1 invalid byte(s) read as "
                   "Windows-1252"},
        DetectCase{"unicode_read_as_utf8_reads_stray_bytes",
                   "0 HEAD\n1 CHAR UNICODE\n1 NOTE M\xC3\xBCller caf\xE9\n",
                   GedcomEncoding::Utf8,
                   false,
                   "UNICODE",
                   {"File declares UNICODE but has no byte-order mark and no UTF-16 structure; "
                    "read as UTF-8.",
                    "File holds 1 byte(s) of invalid UTF-8; each was read as Windows-1252."},
                   "Read as UTF-8, declared UNICODE, 1 invalid byte(s) read as Windows-1252"},
        DetectCase{"ascii_on_utf8_text_reads_utf8",
                   "0 HEAD\n1 CHAR ASCII\n1 NOTE M\xC3\xBCller\n",
                   GedcomEncoding::Utf8,
                   false,
                   "ASCII",
                   {"File declares ASCII but is valid UTF-8; read as UTF-8."},
                   "Read as UTF-8, declared ASCII"},
        DetectCase{
            "utf16_notes_in_order",
            utf16("0 A", false) + string("\x00\xD8", 2) + "x",
            GedcomEncoding::Utf16Le,
            false,
            {},
            {"File is UTF-16 (little-endian) but carries no byte-order mark.",
             "UTF-16 file has an odd number of bytes; the final byte was ignored.",
             "1 byte(s) had no mapping in UTF-16 (little-endian) and were replaced with U+FFFD."},
            "Read as UTF-16 (little-endian), no CHAR declared, 1 byte(s) undecodable"},
        DetectCase{"lone_cr_lines_show_their_declaration",
                   "0 HEAD\r1 CHAR ANSI\r1 NOTE Jos\xE9\r0 TRLR\r",
                   GedcomEncoding::Windows1252,
                   false,
                   "ANSI",
                   {},
                   "Read as ANSI (Windows-1252), declared ANSI"}),
    [](const auto& info) { return string(info.param.name); });

TEST(decode_declaration, spellings_normalise_to_one_encoding) {
    const std::pair<string_view, GedcomEncoding> table[] = {
        {"UTF-8", GedcomEncoding::Utf8},
        {"utf8", GedcomEncoding::Utf8},
        {"UTF 8", GedcomEncoding::Utf8},
        {"Utf_8", GedcomEncoding::Utf8},
        {"ANSEL", GedcomEncoding::Ansel},
        {"ansel", GedcomEncoding::Ansel},
        {"ASCII", GedcomEncoding::Ascii},
        {"US-ASCII", GedcomEncoding::Ascii},
        {"ANSI", GedcomEncoding::Windows1252},
        {"CP1252", GedcomEncoding::Windows1252},
        {"Windows-1252", GedcomEncoding::Windows1252},
        {"IBM WINDOWS", GedcomEncoding::Windows1252},
        {"ibm_windows", GedcomEncoding::Windows1252},
        {"ISO-8859-1", GedcomEncoding::Windows1252},
        {"ISO8859-1", GedcomEncoding::Windows1252},
        {"LATIN1", GedcomEncoding::Windows1252},
        {"ISO-LATIN-1", GedcomEncoding::Windows1252},
    };
    for (const auto& [value, expected] : table) {
        const string file = "0 HEAD\n1 CHAR " + string(value) + "  \n0 TRLR\n";
        DecodedText decoded = decode(file);
        EXPECT_EQ(decoded.report.encoding, expected) << value;
        EXPECT_EQ(decoded.report.declared, string(value)) << value;
        EXPECT_TRUE(decoded.report.notes.empty()) << value;
    }
}

TEST(decode_declaration, code_page_spellings_name_one_page) {
    const std::pair<string_view, string_view> table[] = {
        {"IBMPC", "IBM PC (code page 437)"},
        {"IBM-PC", "IBM PC (code page 437)"},
        {"ibm pc", "IBM PC (code page 437)"},
        {"OEM", "IBM PC (code page 437)"},
        {"cp437", "IBM PC (code page 437)"},
        {"MSDOS", "MS-DOS (code page 850)"},
        {"IBM DOS", "MS-DOS (code page 850)"},
        {"CP850", "MS-DOS (code page 850)"},
        {"MACINTOSH", "Mac OS Roman"},
        {"Mac", "Mac OS Roman"},
        {"mac_roman", "Mac OS Roman"},
        {"WINDOWS-1250", "Windows-1250"},
        {"cp1258", "Windows-1258"},
        {"ISO8859-2", "ISO-8859-2"},
        {"latin2", "ISO-8859-2"},
        {"KOI8-R", "KOI8-R"},
    };
    for (const auto& [name, display] : table) {
        const auto named = encoding_named(name);
        ASSERT_TRUE(named) << name;
        EXPECT_EQ(named->encoding, GedcomEncoding::CodePage) << name;
        EXPECT_EQ(named->code_page->display, display) << name;
    }
    // ICU's other names of the six are the six.
    EXPECT_EQ(encoding_named("latin_1")->encoding, GedcomEncoding::Windows1252);
    EXPECT_EQ(encoding_named("utf_16_be")->encoding, GedcomEncoding::Utf16Be);
    for (string_view unknown : {string_view(""), string_view(" - "), string_view("FAMILYSET"),
                                string_view("UTF-8,version=1"), string_view("cp437\0x", 7)})
        EXPECT_EQ(encoding_named(unknown), nullopt) << unknown;
}

TEST(decode_declaration, only_an_exact_level_one_char_line_counts) {
    const string_view misses[] = {"0 HEAD\n 1 CHAR ANSEL\n", "0 HEAD\n2 CHAR ANSEL\n",
                                  "0 HEAD\n1 char ANSEL\n",  "0 HEAD\n1 CHAR\tANSEL\n",
                                  "0 HEAD\n1 CHAR \n",       "0 HEAD\n1  CHAR ANSEL\n"};
    for (string_view bytes : misses)
        EXPECT_EQ(declared_charset(bytes, std::nullopt), std::nullopt) << bytes;
    EXPECT_EQ(declared_charset("0 HEAD\n1 CHAR  ANSEL \t\r\n1 CHAR UTF-8\n", std::nullopt),
              "ANSEL");
    EXPECT_EQ(declared_charset("0 HEAD\n1 CHAR X Y\n", std::nullopt), "X Y");
    // High bytes outside UTF-16 are read as Latin-1.
    EXPECT_EQ(declared_charset("0 HEAD\n1 CHAR \xC9"
                               "A\n",
                               std::nullopt),
              "\xC3\x89"
              "A");
}

TEST(decode_declaration, only_the_first_header_declares) {
    const std::pair<string_view, optional<string>> cases[] = {
        {"1 CHAR ANSEL\n", nullopt},
        {"0 @I1@ INDI\n1 CHAR ANSEL\n0 HEAD\n1 SOUR x\n", nullopt},
        {"0 @I1@ INDI\n1 CHAR ANSEL\n00 @H1@ Head\n1 CHAR ANSI\n", "ANSI"},
        {"0 HEAD\n1 SOUR x\n0 HEAD\n1 CHAR ANSEL\n", nullopt},
        {"0 head\r1 CHAR ANSEL\r1 CHAR ANSI\r0 TRLR\r", "ANSEL"},
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(declared_charset(bytes, std::nullopt), expected) << bytes;
}

TEST(decode_declaration, looks_only_at_the_first_8192_bytes) {
    const string padding = "0 HEAD\n1 NOTE " + string(8192 - 14 - 1, 'x') + "\n";
    ASSERT_EQ(padding.size(), 8192u);
    EXPECT_EQ(declared_charset(padding + "1 CHAR ANSEL\n", std::nullopt), std::nullopt);
    const string inside = padding.substr(0, 8192 - 13) + "1 CHAR ANSEL";
    EXPECT_EQ(declared_charset(inside.substr(0, 8180) + "\n1 CHAR ANSI\n", std::nullopt), "ANSI");
}

TEST(decode_limits, refuses_oversized_input_giving_both_sizes) {
    ParseLimits limits;
    limits.max_file_bytes = 1'048'576;
    EXPECT_TRUE(decode_gedcom_with(string(1'048'576, 'a'), limits));
    auto refused = decode_gedcom_with(string(1'048'577, 'a'), limits);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, "the file is 1048577 bytes and the limit is 1048576");
    EXPECT_EQ(refused.error().line, std::nullopt);
    EXPECT_EQ(refused.error().kind, ErrorKind::Limit);
}

TEST(decode_caller, refuses_utf16_for_bytes_without_its_mark_or_shape) {
    const string none =
        "the data is not UTF-16: it has no UTF-16 byte-order mark and does not begin as UTF-16 "
        "text does";
    const std::tuple<string_view, string, optional<string>> cases[] = {
        {"UNICODE", "0 HEAD\n", none},
        {"UTF-16",
         "\xEF\xBB\xBF"
         "0 HEAD\n",
         none},
        {"utf_16_le", utf16("0 HEAD\n", true),
         "the data is UTF-16 (big-endian), not UTF-16 (little-endian)"},
        {"UTF-16BE", "\xFF\xFE" + utf16("0 HEAD\n", false),
         "the data is UTF-16 (little-endian), not UTF-16 (big-endian)"},
        {"UNICODE", utf16("0 HEAD\n", true), nullopt},
        {"UTF-16LE", "\xFF\xFE", nullopt},
        {"UNICODE", "0", nullopt},
    };
    for (const auto& [name, bytes, refusal] : cases) {
        auto decoded = decode_gedcom_with(bytes, ParseLimits{}, encoding_named(name));
        ASSERT_EQ(decoded.has_value(), !refusal) << name << ' ' << bytes;
        if (!refusal) continue;
        EXPECT_EQ(decoded.error().message, *refusal);
        EXPECT_EQ(decoded.error().kind, ErrorKind::Syntax);
        EXPECT_EQ(decoded.error().line, nullopt);
    }
}

// ---- the decoders ----------------------------------------------------------------

struct BytesCase {
    const char* name;
    string bytes;
    string text;
    std::uint64_t undecodable;
};

class decode_ansel : public testing::TestWithParam<BytesCase> {};

TEST_P(decode_ansel, moves_marks_after_their_letter) {
    EncodingReport report;
    EXPECT_EQ(decode_as(GetParam().bytes, GedcomEncoding::Ansel, report), GetParam().text);
    EXPECT_EQ(report.undecodable, GetParam().undecodable);
}

INSTANTIATE_TEST_SUITE_P(
    cases, decode_ansel,
    testing::Values(BytesCase{"acute_before_e",
                              "\xE2"
                              "e",
                              "e\xCC\x81", 0},
                    BytesCase{"stacked_marks_keep_their_order",
                              "\xE2\xE8"
                              "a",
                              "a\xCC\x81\xCC\x88", 0},
                    BytesCase{"mark_at_the_very_end", "ab\xE2", "ab\xCC\x81", 0},
                    BytesCase{"mark_before_conc_waits_for_its_letter", "arr\xE3\r\n\n3 CONC et",
                              "arr\r\n\n3 CONC e\xCC\x82t", 0},
                    BytesCase{"mark_before_cont_stays_on_its_line", "arr\xE3\n3 CONT et",
                              "arr\xCC\x82\n3 CONT et", 0},
                    BytesCase{"mark_before_an_empty_conc_stays_on_its_line", "arr\xE3\r\n3 CONC",
                              "arr\xCC\x82\r\n3 CONC", 0},
                    BytesCase{"mark_before_lone_cr", "x\xE8\ry", "x\xCC\x88\ry", 0},
                    BytesCase{"spacing_characters", "\xA1\xB2\xC3\xCF\xCD\xCE\xB9",
                              "\xC5\x81\xC3\xB8\xC2\xA9\xC3\x9F"
                              "eo\xC2\xA3",
                              0},
                    BytesCase{"mark_on_a_special_letter", "\xE2\xA2", "\xC3\x98\xCC\x81", 0},
                    BytesCase{"undefined_bytes_count", "\xAF\x80\xBB\xFF\xFC",
                              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 5},
                    BytesCase{"undefined_byte_releases_marks", "\xE2\xAF", "\xEF\xBF\xBD\xCC\x81",
                              1},
                    BytesCase{"double_ligature_and_high_comma",
                              "\xEB"
                              "t\xEC"
                              "s\xFE"
                              "c",
                              "t\xEF\xB8\xA0s\xEF\xB8\xA1"
                              "c\xCC\x93",
                              0}),
    [](const auto& info) { return string(info.param.name); });

TEST(decode_windows_1252, maps_the_0x80_block_and_keeps_undefined_positions) {
    string bytes;
    for (int b = 0x80; b <= 0x9F; ++b) bytes.push_back(static_cast<char>(b));
    EncodingReport report;
    const string text = decode_as(bytes, GedcomEncoding::Windows1252, report);
    EXPECT_EQ(report.undecodable, 0u);
    const string expected =
        "\xE2\x82\xAC\xC2\x81\xE2\x80\x9A\xC6\x92\xE2\x80\x9E\xE2\x80\xA6\xE2\x80\xA0\xE2\x80\xA1"
        "\xCB\x86\xE2\x80\xB0\xC5\xA0\xE2\x80\xB9\xC5\x92\xC2\x8D\xC5\xBD\xC2\x8F"
        "\xC2\x90\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\xA2\xE2\x80\x93\xE2\x80"
        "\x94"
        "\xCB\x9C\xE2\x84\xA2\xC5\xA1\xE2\x80\xBA\xC5\x93\xC2\x9D\xC5\xBE\xC5\xB8";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(decode_as("a\xA0\xE9\xFF", GedcomEncoding::Windows1252, report),
              "a\xC2\xA0\xC3\xA9\xC3\xBF");
}

class decode_utf16_units : public testing::TestWithParam<BytesCase> {};

TEST_P(decode_utf16_units, pairs_and_replaces_surrogates) {
    EncodingReport little, big;
    const string& le = GetParam().bytes;
    string be = le;
    for (size_t i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
    EXPECT_EQ(decode_utf16(le, false, little), GetParam().text);
    EXPECT_EQ(decode_utf16(be, true, big), GetParam().text);
    EXPECT_EQ(little.undecodable, GetParam().undecodable);
    EXPECT_EQ(big.undecodable, GetParam().undecodable);
}

INSTANTIATE_TEST_SUITE_P(
    cases, decode_utf16_units,
    testing::Values(
        BytesCase{"ascii_and_bmp", string("A\0\xB6\0:\x26", 6), "A\xC2\xB6\xE2\x98\xBA", 0},
        BytesCase{"surrogate_pair", string("\x08\xD8\x45\xDF", 4), "\xF0\x92\x8D\x85", 0},
        BytesCase{"high_then_letter",
                  string("\x08\xD8"
                         "A\0",
                         4),
                  "\xEF\xBF\xBD"
                  "A",
                  1},
        BytesCase{"high_then_high_then_low", string("\x08\xD8\x08\xD8\x45\xDF", 6),
                  "\xEF\xBF\xBD\xF0\x92\x8D\x85", 1},
        BytesCase{"high_at_the_end", string("A\0\x08\xD8", 4), "A\xEF\xBF\xBD", 1},
        BytesCase{"lone_low",
                  string("\x45\xDF"
                         "A\0",
                         4),
                  "\xEF\xBF\xBD"
                  "A",
                  1}),
    [](const auto& info) { return string(info.param.name); });

TEST(decode_utf16_units, odd_length_drops_the_last_byte_with_a_note) {
    EncodingReport report;
    EXPECT_EQ(decode_utf16(string("A\0B", 3), false, report), "A");
    EXPECT_EQ(report.notes,
              Notes{"UTF-16 file has an odd number of bytes; the final byte was ignored."});
}

TEST(decode_utf8, each_byte_of_an_invalid_sequence_reads_as_windows_1252) {
    const std::tuple<string_view, string_view, std::uint64_t> table[] = {
        {"\xC3\xA9", "\xC3\xA9", 0},
        {"\xC3 ", "\xC3\x83 ", 1},
        {"\xA9", "\xC2\xA9", 1},
        {"\xC0\xAF", "\xC3\x80\xC2\xAF", 2},
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC", 3},
        {"\xE2\x82", "\xC3\xA2\xE2\x80\x9A", 2},
        {"\xF0\x9F\x98 \xF0\x9F\x98\x80", "\xC3\xB0\xC5\xB8\xCB\x9C \xF0\x9F\x98\x80", 3},
        {"\x81\xFF", "\xC2\x81\xC3\xBF", 2},
    };
    for (const auto& [bytes, text, stray] : table) {
        EncodingReport report;
        EXPECT_EQ(decode_as(bytes, GedcomEncoding::Utf8, report), text) << bytes;
        EXPECT_EQ(report.stray_bytes, stray) << bytes;
        EXPECT_EQ(report.undecodable, 0u) << bytes;
        EXPECT_EQ(is_valid_utf8(bytes), stray == 0) << bytes;
    }
}

TEST(decode_utf8, valid_input_is_not_copied) {
    const string bytes = "0 HEAD\n1 NOTE caf\xC3\xA9\n";
    DecodedText decoded = decode(bytes);
    EXPECT_EQ(decoded.text().data(), bytes.data());
    const string with_bom = "\xEF\xBB\xBF" + bytes;
    DecodedText after_bom = decode(with_bom);
    EXPECT_EQ(after_bom.text(), bytes);
}

}  // namespace
}  // namespace lignor
