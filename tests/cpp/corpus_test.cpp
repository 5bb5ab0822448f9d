// Every real file in the shared corpus: a file that reads writes back byte for
// byte (line terminators become LF, empty lines go); a file that is refused
// is refused with the message and line a person can act on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "convert_pass.hpp"
#include "document.hpp"
#include "queries.hpp"
#include "v7check.hpp"

namespace lignor {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The decoded text as the writer should give it back: LF endings, no empty lines.
std::string expected_round_trip(std::string_view text) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        if (end > pos) {
            out.append(text.substr(pos, end - pos));
            out.push_back('\n');
        }
        pos = end;
        if (pos < text.size())
            pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
    }
    return out;
}

// Files the reader refuses, with the display text of the refusal, from the
// list the Python tests read too.
std::map<std::string, std::string> refused_files() {
    std::map<std::string, std::string> refused;
    std::istringstream lines(slurp(LIGNOR_REFUSED_CORPUS));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        if (line.empty() || line.front() == '#' || tab == std::string::npos) continue;
        refused.emplace(line.substr(0, tab), line.substr(tab + 1));
    }
    return refused;
}

TEST(corpus, every_file_round_trips_or_is_refused_with_its_line) {
    const fs::path folder(LIGNOR_CORPUS_DIR);
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no corpus at " << folder;
    const std::map<std::string, std::string> refused = refused_files();
    ASSERT_FALSE(refused.empty());
    int read = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        const std::string extension = entry.path().extension().string();
        if (extension != ".ged" && extension != ".GED") continue;
        const std::string bytes = slurp(entry.path());
        auto loaded = Document::from_bytes(bytes);
        if (const auto it = refused.find(name); it != refused.end()) {
            ASSERT_FALSE(loaded) << name;
            EXPECT_EQ(loaded.error().display(), it->second) << name;
            continue;
        }
        ASSERT_TRUE(loaded) << name << ": " << loaded.error().display();
        auto decoded = decode_gedcom_with(bytes, ParseLimits{});
        ASSERT_TRUE(decoded);
        EXPECT_EQ(loaded->document.to_text(), expected_round_trip(decoded->text())) << name;
        EXPECT_EQ(loaded->report.summary(), decoded->report.summary()) << name;
        ++read;
    }
    EXPECT_GT(read, 30);
}

// Rewriting the structures of every record into version 7's form settles in
// one pass: a second finds nothing to change. A CONC line survives only in a
// record whose notes say why it was kept.
TEST(corpus, version_7_structure_rewriting_settles_in_one_pass) {
    const fs::path folder(LIGNOR_CORPUS_DIR);
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no corpus at " << folder;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        auto loaded = Document::from_bytes(slurp(entry.path()));
        if (!loaded) continue;
        std::vector<Node>& records = loaded->document.records;
        const NoteRecordIds note_records(records);
        Pass pass;
        for (Node& record : records) {
            pass.record = record.xref() ? std::optional<std::string>(*record.xref()) : std::nullopt;
            const std::size_t first_note = pass.notes.size();
            structures_to_7_node(record, note_records, pass);
            bool conc_left = false;
            walk(record, [&](const Node& node, auto) { conc_left |= node.tag() == "CONC"; });
            const bool conc_explained =
                std::any_of(pass.notes.begin() + static_cast<std::ptrdiff_t>(first_note),
                            pass.notes.end(), [](const ConversionNote& note) {
                                return note.kind == NoteKind::Kept &&
                                       note.detail.find("CONC line(s) kept") != std::string::npos;
                            });
            EXPECT_TRUE(!conc_left || conc_explained) << name << " " << record.tag();
        }
        const std::string once = loaded->document.to_text();
        Pass again;
        bool changed = false;
        for (Node& record : records)
            changed = structures_to_7_node(record, note_records, again) || changed;
        EXPECT_FALSE(changed) << name;
        EXPECT_EQ(loaded->document.to_text(), once) << name;
    }
}

// Whether `record` holds a `tag` structure whose logical value is `value`.
bool holds_as_written(const Node& record, std::string_view tag, const std::string& value) {
    bool found = false;
    walk(record, [&](const Node& node, auto) {
        found = found || (node.tag() == tag && node.logical_value() == value);
    });
    return found;
}

// The conversion of every 5.5.x file to 7.0 leaves no empty payload after a
// space and no continuation line repeating its record's identifier; an
// enumerated value, age, alias or event payload still outside version 7's
// grammar is one its record held exactly so (kept, never a botched rewrite).
TEST(corpus, version_7_values_are_rewritten_or_kept_as_written) {
    using Kind = Version7ProblemKind;
    const fs::path folder(LIGNOR_CORPUS_DIR);
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no corpus at " << folder;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        auto loaded = Document::from_bytes(slurp(entry.path()));
        if (!loaded || !loaded->document.version().value_or("").starts_with("5.5")) continue;
        const Document& original = loaded->document;
        const Conversion conversion = to_version_7_with(original, {});
        for (const Version7Problem& problem : check_version_7(conversion.document)) {
            const Node* record =
                problem.record ? conversion.document.record(*problem.record) : nullptr;
            const Node* node = record ? node_at(*record, problem.path) : nullptr;
            if (!node) continue;
            const std::string where = name + " line " + std::to_string(problem.line);
            EXPECT_NE(problem.kind, Kind::TrailingSpace) << where;
            if (problem.kind == Kind::IdentifierOnSubstructure) {
                EXPECT_FALSE(is_continuation_tag(node->tag()) &&
                             same_xref(*node->xref(), *problem.record))
                    << where;
            }
            const std::string_view tag = node->tag();
            const bool value_rule = problem.kind == Kind::Enumeration ||
                                    (problem.kind == Kind::Payload &&
                                     (tag == "AGE" || tag == "ALIA" ||
                                      problem.message.find("only \"Y\"") != std::string::npos));
            if (value_rule) {
                EXPECT_TRUE(
                    holds_as_written(*original.record(*problem.record), tag, node->logical_value()))
                    << where << ": " << problem.message;
            }
        }
    }
}

// Byte-exact fixtures of our own, named by the axis they exercise.
struct Fixture {
    const char* file;
    const char* summary;
    const char* text;
};

TEST(fixtures, read_to_the_expected_text_and_report) {
    const Fixture fixtures[] = {
        {"ansel_cr.ged", "Read as ANSEL, declared ANSEL",
         "0 HEAD\n1 CHAR ANSEL\n0 @N1@ NOTE arr\n1 CONC e\xCC\x82t\xCC\x81\n0 @I1@ INDI\n"
         "1 NAME Jose\xCC\x81 /Mu\xCC\x88ller/\n0 TRLR\n"},
        {"windows1252_cr.ged", "Read as ANSI (Windows-1252), declared ANSI",
         "0 HEAD\n1 CHAR ANSI\n0 @I1@ INDI\n1 NAME Jos\xC3\xA9 /Pe\xC3\xB1"
         "a/\n0 TRLR\n"},
        {"utf16le_bom_crlf.ged",
         "Read as UTF-16 (little-endian) (byte-order mark), declared UNICODE",
         "0 HEAD\n1 CHAR UNICODE\n0 @I1@ INDI\n1 NAME Ana /\xC5\x81ukasiewicz/\n"
         "1 NOTE \xF0\x92\x8D\x85\n0 TRLR\n"},
        {"utf16be_nobom_lf.ged", "Read as UTF-16 (big-endian), declared UNICODE",
         "0 HEAD\n1 CHAR UNICODE\n0 @I1@ INDI\n1 NAME Ana /\xC5\x81ukasiewicz/\n"
         "1 NOTE \xF0\x92\x8D\x85\n0 TRLR\n"},
    };
    for (const Fixture& fixture : fixtures) {
        const std::string bytes = slurp(fs::path(LIGNOR_TEST_DATA_DIR) / fixture.file);
        ASSERT_FALSE(bytes.empty()) << fixture.file;
        auto loaded = Document::from_bytes(bytes);
        ASSERT_TRUE(loaded) << fixture.file << ": " << loaded.error().display();
        EXPECT_EQ(loaded->report.summary(), fixture.summary) << fixture.file;
        EXPECT_EQ(loaded->document.to_text(), fixture.text) << fixture.file;
        // Written for disk, the text is UTF-8 and says so.
        auto again = Document::from_bytes(loaded->document.to_bytes());
        ASSERT_TRUE(again);
        EXPECT_EQ(again->report.encoding, GedcomEncoding::Utf8) << fixture.file;
        EXPECT_EQ(again->report.declared, "UTF-8") << fixture.file;
    }
}

TEST(fixtures, decoded_text_is_bounded_as_well_as_the_raw_bytes) {
    // 24 ANSEL bytes decode to 28 bytes of UTF-8: within a 24-byte raw
    // limit, beyond it once decoded.
    ParseLimits limits;
    limits.max_file_bytes = 24;
    auto refused = Document::from_bytes_with("0 HEAD\n1 CHAR ANSEL\n\xB2\xB2\xB2\xB2", limits);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().display(), "the file is 28 bytes and the limit is 24");
    limits.max_file_bytes = 30;
    EXPECT_TRUE(Document::from_bytes_with("0 HEAD\n1 CHAR ANSEL\n0 X \xB2\xB2", limits));
}

}  // namespace
}  // namespace lignor
