// Tests of the document: reading under bounds, writing back byte for byte, and
// its questions.
#include "document.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace lignor {
namespace {

using std::nullopt;
using std::optional;
using std::string;
using std::string_view;

// ---- reading and writing documents ------------------------------------------

Result<Document> read(string_view text, const ParseLimits& limits = {}) {
    return Document::parse_with(text, limits);
}

void expect_error(const Result<Document>& result, string_view message, optional<uint64_t> line) {
    ASSERT_FALSE(result) << "expected: " << message;
    EXPECT_EQ(result.error().message, message);
    EXPECT_EQ(result.error().line, line);
}

TEST(document_read, empty_input_and_bare_line_breaks_give_no_records) {
    for (string_view text : {"", "\n", "\r\n\r\n", "\r\r\n\n"}) {
        auto document = read(text);
        ASSERT_TRUE(document);
        EXPECT_TRUE(document->records.empty());
    }
}

TEST(document_read, line_numbers_count_empty_lines_whatever_the_terminator) {
    for (string_view text :
         {"0 HEAD\r\n1 CHAR ANSEL\r\n\r\n0 TRLR x y", "0 HEAD\n1 CHAR ANSEL\n\n0 TRLR x y",
          "0 HEAD\r1 CHAR ANSEL\r\r0 TRLR x y"}) {
        auto ok = read(text);
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->records.size(), 2u);
        EXPECT_EQ(ok->to_text(), "0 HEAD\n1 CHAR ANSEL\n0 TRLR x y\n");
        string broken(text);
        broken.replace(broken.find("0 TRLR"), 1, "x");
        expect_error(read(broken), "the line does not begin with a level", 4);
    }
}

TEST(document_read, mixed_terminators_read_alike) {
    auto lf = read("0 A\n1 B\n0 C\n");
    auto mixed = read("0 A\r\n1 B\r0 C");
    ASSERT_TRUE(lf && mixed);
    EXPECT_EQ(lf->to_text(), mixed->to_text());
}

TEST(document_read, assembles_records_by_level) {
    auto document = read("0 A\n1 B\n2 C\n1 D\n0 E\n");
    ASSERT_TRUE(document);
    ASSERT_EQ(document->records.size(), 2u);
    const Node& a = document->records[0];
    ASSERT_EQ(a.children().size(), 2u);
    EXPECT_EQ(a.children()[0].tag(), "B");
    EXPECT_EQ(a.children()[0].children().at(0).tag(), "C");
    EXPECT_EQ(a.children()[1].tag(), "D");
    EXPECT_EQ(document->records[1].tag(), "E");
    auto jump = read("0 A\n1 B\n2 C\n3 D\n1 E\n");
    ASSERT_TRUE(jump);
    EXPECT_EQ(jump->records[0].children().size(), 2u);
}

TEST(document_read, structure_errors) {
    expect_error(read("1 HEAD\n"), "a record must begin at level 0", 1);
    expect_error(read("\n\n2 X\n"), "a record must begin at level 0", 3);
    expect_error(read("0 INDI\n2 NAME x\n"), "the line skips a nesting level", 2);
    EXPECT_EQ(read("1 HEAD\n").error().display(), "GEDCOM line 1: a record must begin at level 0");
    EXPECT_EQ(read("0 INDI\n2 NAME x\n").error().kind, ErrorKind::Structure);
}

TEST(document_read, every_line_is_checked_before_nesting) {
    // The nesting error comes first in the file, but line errors outrank it.
    expect_error(read("0 A\n2 B\n0 C\n0C\n"), "the line has no tag", 4);
    ParseLimits limits;
    limits.max_lines = 3;
    expect_error(read("0 A\n2 B\n0 C\n0 D\n", limits), "the file has too many lines", 4);
    // Past the line bound nothing is built, and a line error before it still wins.
    expect_error(read("0 A\n0C\n\n0 C\n0 D\n", limits), "the line has no tag", 2);
    limits = {};
    limits.max_records = 1;
    expect_error(read("0 A\n2 B\n0 C\n", limits), "the line skips a nesting level", 2);
    expect_error(read("0 A\n0 C\n2 B\n", limits), "the file has too many records", 2);
}

// The line bound is held before anything is built, by a count of line
// breaks 16 bytes at a time: texts of every mix of terminators and empty
// lines, long enough to cross many such blocks, are refused exactly one line
// past it.
TEST(document_read, the_line_bound_holds_whatever_the_terminators) {
    std::mt19937 random(7);
    // Each terminator and the lines it ends: a lone CR, CR LF and LF each end one.
    constexpr std::pair<string_view, std::uint64_t> breaks[] = {
        {"\n", 1}, {"\r\n", 1}, {"\r", 1}, {"\n\n", 2}, {"\r\r\n", 2}};
    for (int round = 0; round < 40; ++round) {
        string text;
        std::uint64_t lines = 0;
        std::uint64_t number = 1;       // of the line being written
        std::uint64_t last_number = 0;  // of the last non-empty line
        const auto count = 1 + random() % 3000;
        for (std::uint64_t i = 0; i < count; ++i) {
            text += i == 0 ? "0 HEAD" : "1 NOTE " + string(random() % 12, 'x');
            ++lines;
            last_number = number;
            const auto& [terminator, ended] = breaks[random() % std::size(breaks)];
            text += terminator;
            number += ended;
        }
        if (round % 2 == 0) text.pop_back();  // a last line with no break, or a lone CR
        ParseLimits limits;
        limits.max_lines = lines;
        EXPECT_TRUE(read(text, limits));
        limits.max_lines = lines - 1;
        expect_error(read(text, limits), "the file has too many lines", last_number);
    }
    // Lines of four bytes put every break in the same four byte lanes.
    string same_lanes;
    for (int i = 0; i < 5000; ++i) same_lanes += "0 A\n";
    ParseLimits limits;
    limits.max_lines = 4999;
    expect_error(read(same_lanes, limits), "the file has too many lines", 5000);
}

TEST(document_read, bounds_hold_at_the_limit_and_refuse_one_past) {
    ParseLimits limits;
    limits.max_records = 2;
    EXPECT_TRUE(read("0 A\n1 X\n0 B\n", limits));
    expect_error(read("0 A\n0 B\n\n0 C\n1 D\n", limits), "the file has too many records", 4);

    limits = {};
    limits.max_lines = 3;
    EXPECT_TRUE(read("0 A\n\n\n1 B\n\n0 C\n", limits));
    expect_error(read("0 A\n\n1 B\n\n0 C\n1 D\n", limits), "the file has too many lines", 6);

    limits = {};
    limits.max_line_length = 10;
    EXPECT_TRUE(read("0 A 678910\n", limits));
    expect_error(read("0 A\n0 A 6789101\n", limits), "the line is longer than the limit", 2);
    // The line count is checked before the length, the length before the grammar.
    limits.max_lines = 1;
    expect_error(read("0 A\nxxxxxxxxxxxxxxx\n", limits), "the file has too many lines", 2);
    limits.max_lines = 5;
    expect_error(read("0 A\nxxxxxxxxxxxxxxx\n", limits), "the line is longer than the limit", 2);

    limits = {};
    limits.max_depth = 3;
    EXPECT_TRUE(read("0 A\n1 B\n2 C\n3 D\n", limits));
    expect_error(read("0 A\n1 B\n2 C\n3 D\n4 E\n", limits),
                 "the line is nested deeper than the limit", 5);

    limits = {};
    limits.max_file_bytes = 8;
    EXPECT_TRUE(read("0 A\n0 B\n", limits));
    auto big = read("0 A\n0 BC\n", limits);
    ASSERT_FALSE(big);
    EXPECT_EQ(big.error().display(), "the file is 9 bytes and the limit is 8");
    EXPECT_EQ(big.error().kind, ErrorKind::Limit);
}

TEST(document_read, default_limits) {
    const ParseLimits limits;
    EXPECT_EQ(limits.max_file_bytes, 134'217'728u);
    EXPECT_EQ(limits.max_line_length, 16'777'216u);
    EXPECT_EQ(limits.max_records, 2'000'000u);
    EXPECT_EQ(limits.max_lines, 20'000'000u);
    EXPECT_EQ(limits.max_depth, 64u);
    const string oversized(134'217'729, '\n');
    EXPECT_EQ(read(oversized).error().message,
              "the file is 134217729 bytes and the limit is 134217728");
}

TEST(document_read, deep_nesting_to_the_depth_limit_does_not_recurse_unboundedly) {
    ParseLimits limits;
    limits.max_depth = 2000;
    string text;
    for (unsigned level = 0; level <= 2000; ++level) text += std::to_string(level) + " X\n";
    auto document = read(text, limits);
    ASSERT_TRUE(document);
    const Node* node = &document->records[0];
    unsigned depth = 0;
    while (!node->children().empty()) {
        node = &node->children()[0];
        ++depth;
    }
    EXPECT_EQ(depth, 2000u);
    EXPECT_EQ(document->to_text(), text);
    EXPECT_EQ(Document(*document).records.size(), 1u);
}

TEST(document_read, hostile_depth_stops_at_the_default_limit) {
    string text;
    for (unsigned level = 0; level < 100000; ++level)
        text += std::to_string(level % 65536) + " X\n";
    expect_error(read(text), "the line is nested deeper than the limit", 66);
}

TEST(document_read, a_leftover_byte_order_mark_is_not_skipped) {
    expect_error(read("\xEF\xBB\xBF"
                      "0 HEAD\n"),
                 "the line does not begin with a level", 1);
}

TEST(document_write, reading_writing_reading_is_stable) {
    const string_view text =
        "0 HEAD\r\n1 CHAR ANSEL\r\n01  NOTE  x \r\n0 @I1@ INDI\n1 NAME a /b/\n2 CONC c\n0 TRLR";
    auto first = read(text);
    ASSERT_TRUE(first);
    const string written = first->to_text();
    EXPECT_EQ(written,
              "0 HEAD\n1 CHAR ANSEL\n01  NOTE  x \n0 @I1@ INDI\n1 NAME a /b/\n2 CONC c\n0 TRLR\n");
    auto second = read(written);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->to_text(), written);
    EXPECT_EQ(second->records[0].children()[1].verbatim(), "01  NOTE  x ");
}

TEST(document_write, to_bytes_makes_char_truthful_on_a_copy) {
    auto ansel = read("0 HEAD\n1  SOUR x\n1 CHAR ANSEL\n2 VERS 1\n0 TRLR\n");
    ASSERT_TRUE(ansel);
    EXPECT_EQ(ansel->to_bytes(), "0 HEAD\n1  SOUR x\n1 CHAR UTF-8\n2 VERS 1\n0 TRLR\n");
    EXPECT_EQ(ansel->records[0].children()[1].value(), "ANSEL");

    for (string_view unchanged : {"0 HEAD\n1 CHAR utf-8 \n0 TRLR\n", "0 HEAD\n1 SOUR x\n0 TRLR\n",
                                  "0 HEAD\n1 CHAR \xE2\x80\x83UTF-8\n"}) {
        auto document = read(unchanged);
        ASSERT_TRUE(document);
        EXPECT_EQ(document->to_bytes(), document->to_text());
    }
    auto absent = read("0 HEAD\n1 CHAR\n1 CHAR ANSEL\n");
    ASSERT_TRUE(absent);
    EXPECT_EQ(absent->to_bytes(), "0 HEAD\n1 CHAR UTF-8\n1 CHAR ANSEL\n");
    auto verbatim_header = read("00 @H@ HEAD\n1 CHAR ASCII\n");
    ASSERT_TRUE(verbatim_header);
    EXPECT_EQ(verbatim_header->to_bytes(), "00 @H@ HEAD\n1 CHAR UTF-8\n");
    // The header is the first record tagged HEAD in any letter case, wherever it stands.
    auto later = read("0 @I1@ INDI\n0 Head\n1 CHAR ANSEL\n0 HEAD\n1 CHAR ANSEL\n");
    ASSERT_TRUE(later);
    EXPECT_EQ(later->to_bytes(), "0 @I1@ INDI\n0 Head\n1 CHAR UTF-8\n0 HEAD\n1 CHAR ANSEL\n");
    EXPECT_TRUE(later->declare_utf8_encoding());
    EXPECT_EQ(later->to_text(), later->to_bytes());
}

// Version 7 asks every data stream to begin with U+FEFF; a file read from
// bytes is written back with a mark exactly when it had one.
TEST(document_write, to_bytes_writes_the_byte_order_mark_of_version_7_and_of_the_file) {
    const string mark = "\xEF\xBB\xBF";
    const Document made = Document::new_v7();
    EXPECT_EQ(made.to_bytes(), mark + made.to_text());
    const string text = "0 HEAD\n1 CHAR ANSEL\n0 TRLR\n";
    const string written = mark + "0 HEAD\n1 CHAR UTF-8\n0 TRLR\n";
    EXPECT_EQ(Document::from_bytes(mark + text)->document.to_bytes(), written);
    EXPECT_EQ(Document::from_bytes(written)->document.to_bytes(), written);
    EXPECT_EQ(Document::from_bytes(text)->document.to_bytes(), written.substr(mark.size()));
    const string utf16(
        "\xFF\xFE"
        "0\0 \0H\0E\0A\0D\0\n\0",
        16);
    EXPECT_EQ(Document::from_bytes(utf16)->document.to_bytes(), mark + "0 HEAD\n");
}

TEST(document_write, declare_utf8_encoding_finds_the_first_header_anywhere) {
    auto document = read("0 @I1@ INDI\n0 HEAD\n1 CHAR Utf-8\n");
    ASSERT_TRUE(document);
    EXPECT_FALSE(document->declare_utf8_encoding());
    document = read("0 @I1@ INDI\n0 HEAD\n1  CHAR ANSEL\n");
    EXPECT_TRUE(document->declare_utf8_encoding());
    EXPECT_EQ(document->to_text(), "0 @I1@ INDI\n0 HEAD\n1 CHAR UTF-8\n");
    document = read("0 HEAD\n1 SOUR x\n");
    EXPECT_FALSE(document->declare_utf8_encoding());
}

}  // namespace
}  // namespace lignor
