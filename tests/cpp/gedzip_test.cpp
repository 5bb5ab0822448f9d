// Tests of GEDZIP archives: reading, the entry-path policy, writing, and
// hostile archives.
#include "gedzip.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

// Records below are written with designated initializers naming only the
// fields a case is about; the rest keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace lignor {
namespace {

// ----- building archives by hand -----------------------------------------------
// The reader looks at the central directory and end records only, so a test
// archive is just those, with whatever values a case needs.

void put(std::string& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t get(std::string_view bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

struct Record {
    std::string name;
    std::uint64_t compressed = 10;
    std::uint64_t uncompressed = 10;
    std::uint16_t method = 0;
    std::uint16_t flags = 0x0800;
    std::uint32_t external = 0;
    std::uint32_t offset = 0;
    std::string extra;
};

std::string central_record(const Record& r) {
    std::string out;
    put(out, 0x02014b50, 4);
    put(out, 20, 2);
    put(out, 20, 2);
    put(out, r.flags, 2);
    put(out, r.method, 2);
    put(out, 0, 4);  // time and date
    put(out, 0x12345678, 4);
    put(out, r.compressed, 4);
    put(out, r.uncompressed, 4);
    put(out, r.name.size(), 2);
    put(out, r.extra.size(), 2);
    put(out, 0, 2);
    put(out, 0, 4);  // disk start, internal attributes
    put(out, r.external, 4);
    put(out, r.offset, 4);
    return out + r.name + r.extra;
}

std::string end_record(std::uint64_t count, std::uint64_t size, std::uint64_t offset,
                       std::string_view comment = {}) {
    std::string out;
    put(out, 0x06054b50, 4);
    put(out, 0, 4);
    put(out, count, 2);
    put(out, count, 2);
    put(out, size, 4);
    put(out, offset, 4);
    put(out, comment.size(), 2);
    return out + std::string(comment);
}

// Some leading bytes (standing for entry data), the records, the end record.
std::string archive_of(const std::vector<Record>& records, std::string_view comment = {}) {
    std::string out = "data";
    std::string directory;
    for (const Record& r : records) directory += central_record(r);
    const std::size_t offset = out.size();
    return out + directory + end_record(records.size(), directory.size(), offset, comment);
}

std::string message_of_open(std::string_view bytes, const ArchiveLimits& limits = {}) {
    auto archive = Archive::open_with(bytes, limits);
    if (archive) return "opened";
    EXPECT_EQ(archive.error().kind, ErrorKind::Zip);
    EXPECT_FALSE(archive.error().line.has_value());
    return archive.error().message;
}

// ----- reading -------------------------------------------------------------------

struct RefusalRow {
    const char* what;
    std::string bytes;
    std::string message;
};

TEST(gedzip_reading, refuses_hostile_central_directories_with_their_message) {
    const std::uint32_t symlink = 0xA1FF0000;
    const RefusalRow rows[] = {
        {"empty input", "", "the file does not end like a ZIP archive"},
        {"21 bytes", std::string(21, 'P'), "the file does not end like a ZIP archive"},
        {"no end record", std::string(5000, '\0'), "the file does not end like a ZIP archive"},
        {"zip64 count, no locator", end_record(0xFFFF, 0, 0),
         "the archive needs a Zip64 directory and has none"},
        {"zip64 offset, no locator", end_record(1, 0, 0xFFFFFFFF),
         "the archive needs a Zip64 directory and has none"},
        {"zip bomb ratio", archive_of({{.name = "a.ged", .compressed = 9, .uncompressed = 10000}}),
         "a.ged claims a compression ratio over the 1000-fold limit"},
        {"nothing claims much", archive_of({{.name = "a.ged", .compressed = 0, .uncompressed = 1}}),
         "a.ged claims a compression ratio over the 1000-fold limit"},
        {"zip bomb total",
         archive_of({{.name = "a", .compressed = 1 << 29, .uncompressed = 1 << 30},
                     {.name = "b", .compressed = 1 << 29, .uncompressed = 1 << 30},
                     {.name = "c", .compressed = 1 << 29, .uncompressed = 1 << 30},
                     {.name = "d", .compressed = 1 << 29, .uncompressed = 1 << 30},
                     {.name = "e", .compressed = 1 << 29, .uncompressed = 1 << 30}}),
         "the archive expands to more than the 4294967296 byte limit"},
        {"entry too large",
         archive_of({{.name = "big.jpg", .compressed = 1u << 30, .uncompressed = (1u << 30) + 1}}),
         "big.jpg expands to 1073741825 bytes and the per-file limit is 1073741824"},
        {"traversal", archive_of({{.name = "../evil.ged"}}),
         "../evil.ged contains an unsafe path component"},
        {"absolute", archive_of({{.name = "/etc/passwd"}}), "/etc/passwd is an absolute path"},
        {"backslash", archive_of({{.name = "media\\a.jpg"}}),
         "media\\a.jpg uses a backslash, which a ZIP path may not"},
        {"device name", archive_of({{.name = "media/CON.jpg"}}),
         "media/CON.jpg contains a path component that is unsafe on Windows"},
        {"symbolic link", archive_of({{.name = "harmless.txt", .external = symlink}}),
         "the archive contains a symbolic link (\"harmless.txt\"), which is not extracted"},
        {"link before path", archive_of({{.name = "../x", .external = symlink}}),
         "the archive contains a symbolic link (\"../x\"), which is not extracted"},
        {"link named with a terminal escape",
         archive_of({{.name = "a\x1b[2J", .external = symlink}}),
         "the archive contains a symbolic link (\"a\\u{1b}[2J\"), which is not extracted"},
        {"duplicate in other case",
         archive_of({{.name = "Photos/A.JPG"}, {.name = "photos/a.jpg"}}),
         "photos/a.jpg differs from \"Photos/A.JPG\" only in letter case, so both would extract "
         "to one file where letter case does not count (Windows, macOS)"},
        {"directory and file",
         archive_of({{.name = "dir"}, {.name = "dir/", .compressed = 0, .uncompressed = 0}}),
         "the archive contains the same path more than once (\"dir/\")"},
        {"duplicate before size",
         archive_of({{.name = "a.jpg"},
                     {.name = "A.jpg", .compressed = 1u << 31, .uncompressed = 1u << 31}}),
         "A.jpg differs from \"a.jpg\" only in letter case, so both would extract to one file "
         "where letter case does not count (Windows, macOS)"},
        {"encrypted", archive_of({{.name = "a.txt", .flags = 0x0801}}),
         "encrypted entries are not supported"},
        {"unknown method", archive_of({{.name = "a.txt", .method = 12}}),
         "a.txt uses compression method 12, which is not supported"},
        {"name not UTF-8", archive_of({{.name = "caf\xe9.txt"}}),
         "a file in the archive has a name that is not valid UTF-8"},
        {"overlong UTF-8", archive_of({{.name = "\xc0\xaf.txt"}}),
         "a file in the archive has a name that is not valid UTF-8"},
    };
    for (const RefusalRow& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(message_of_open(row.bytes), row.message);
    }
}

TEST(gedzip_reading, refuses_truncation_at_every_structure) {
    const std::string record = central_record({.name = "a.txt"});
    std::string zip64_locator;
    put(zip64_locator, 0x07064b50, 4);
    put(zip64_locator, 0, 4);
    put(zip64_locator, 1 << 20, 8);  // far past the end
    put(zip64_locator, 1, 4);
    std::string short_zip64 = "";
    put(short_zip64, 0x06064b50, 4);
    put(short_zip64, 44, 8);
    std::string short_zip64_locator;
    put(short_zip64_locator, 0x07064b50, 4);
    put(short_zip64_locator, 0, 4);
    put(short_zip64_locator, 0, 8);
    put(short_zip64_locator, 1, 4);
    std::string wrong_zip64_locator = short_zip64_locator;
    const RefusalRow rows[] = {
        // Records at the very end of the file sit in the end record's comment.
        {"directory past the end", end_record(1, 46, 1000), "the archive is truncated"},
        {"fixed fields cut", end_record(1, 46, 22, record.substr(0, 30)),
         "the archive is truncated"},
        {"name cut", end_record(1, 46, 22, record.substr(0, 48)), "the archive is truncated"},
        {"second record missing", end_record(2, 46, 22, record), "the archive is truncated"},
        {"not a record", std::string(50, 'x') + end_record(1, 46, 0),
         "file 1 of the archive has no directory record"},
        {"second not a record", record + std::string(50, 'x') + end_record(2, 96, 0),
         "file 2 of the archive has no directory record"},
        {"zip64 record past the end", zip64_locator + end_record(0xFFFF, 0, 0),
         "the archive is truncated"},
        {"zip64 record cut", short_zip64 + short_zip64_locator + end_record(0xFFFF, 0, 0),
         "the archive is truncated"},
        {"zip64 record malformed",
         std::string(12, 'z') + wrong_zip64_locator + end_record(0xFFFF, 0, 0),
         "the archive's Zip64 directory record is malformed"},
    };
    for (const RefusalRow& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(message_of_open(row.bytes), row.message);
    }
}

TEST(gedzip_reading, bounds_are_inclusive) {
    EXPECT_EQ(
        message_of_open(archive_of({{.name = "a.ged", .compressed = 10, .uncompressed = 10000}})),
        "opened");
    EXPECT_EQ(
        message_of_open(archive_of({{.name = "empty.jpg", .compressed = 0, .uncompressed = 0}})),
        "opened");
    EXPECT_EQ(message_of_open(
                  archive_of({{.name = "a", .compressed = 1u << 30, .uncompressed = 1u << 30}})),
              "opened");

    ArchiveLimits limits;
    limits.max_entries = 3;
    limits.max_total_bytes = 30;
    const std::vector<Record> three = {{.name = "a"}, {.name = "b"}, {.name = "c"}};
    EXPECT_EQ(message_of_open(archive_of(three), limits), "opened");
    std::vector<Record> four = three;
    four.push_back({.name = "d"});
    EXPECT_EQ(message_of_open(archive_of(four), limits),
              "the archive holds 4 files and the limit is 3");
    limits.max_entries = 4;
    EXPECT_EQ(message_of_open(archive_of(four), limits),
              "the archive expands to more than the 30 byte limit");
}

TEST(gedzip_reading, a_forged_entry_count_is_refused_before_any_record_is_read) {
    // No records follow these claims at all: the count check comes first,
    // and a count under the limit fails at the first missing record.
    std::string zip64;
    put(zip64, 0x06064b50, 4);
    put(zip64, 44, 8);
    put(zip64, 45, 4);
    put(zip64, 0, 8);
    put(zip64, std::uint64_t{1} << 60, 8);
    put(zip64, std::uint64_t{1} << 60, 8);
    put(zip64, 0, 8);
    put(zip64, 0, 8);
    std::string locator;
    put(locator, 0x07064b50, 4);
    put(locator, 0, 4);
    put(locator, 0, 8);
    put(locator, 1, 4);
    EXPECT_EQ(message_of_open(zip64 + locator + end_record(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)),
              "the archive holds 1152921504606846976 files and the limit is 100000");
    EXPECT_EQ(message_of_open(end_record(65000, 0, 22)), "the archive is truncated");
}

TEST(gedzip_reading, finds_the_end_record_behind_the_longest_comment) {
    const std::string comment(65535, 'c');
    auto archive = Archive::open(archive_of({{.name = "a.txt"}}, comment));
    ASSERT_TRUE(archive) << archive.error().message;
    EXPECT_EQ(archive->entries().size(), 1u);
    EXPECT_EQ(archive->total_size(), 10u);
}

TEST(gedzip_reading, applies_zip64_extra_values_and_ignores_malformed_extras) {
    std::string extra;
    put(extra, 0x5455, 2);  // another block first
    put(extra, 1, 2);
    extra.push_back('x');
    put(extra, 0x0001, 2);
    put(extra, 16, 2);
    put(extra, 5000, 8);  // uncompressed
    put(extra, 4000, 8);  // compressed; no room for the offset
    std::string cut_extra;
    put(cut_extra, 0x0001, 2);
    put(cut_extra, 8, 1);  // a block header that does not fit
    auto archive = Archive::open(archive_of({
        {.name = "big.ged",
         .compressed = 0xFFFFFFFF,
         .uncompressed = 0xFFFFFFFF,
         .offset = 0xFFFFFFFF,
         .extra = extra},
        {.name = "b.ged", .offset = 7, .extra = cut_extra},
    }));
    ASSERT_TRUE(archive) << archive.error().message;
    const ArchiveEntry& big = archive->entries()[0];
    EXPECT_EQ(big.uncompressed_size, 5000u);
    EXPECT_EQ(big.compressed_size, 4000u);
    EXPECT_EQ(big.local_header_offset, 0xFFFFFFFFu);
    EXPECT_EQ(big.crc32, 0x12345678u);
    EXPECT_EQ(archive->entries()[1].local_header_offset, 7u);
    EXPECT_EQ(archive->total_size(), 5010u);
}

TEST(gedzip_reading, empty_archive_is_the_end_record_alone) {
    auto archive = Archive::open(end_record(0, 0, 0));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->entries().empty());
    EXPECT_EQ(archive->total_size(), 0u);
}

TEST(gedzip_reading, corpus_samples_open_and_measure) {
    for (const char* name : {"minimal70.gdz", "maximal70.gdz"}) {
        const std::filesystem::path path = std::filesystem::path(LIGNOR_CORPUS_DIR) / name;
        if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is absent";
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        auto archive = Archive::open(bytes);
        ASSERT_TRUE(archive) << name << ": " << archive.error().message;
        EXPECT_FALSE(archive->entries().empty()) << name;
        std::uint64_t total = 0;
        bool has_dataset = false;
        for (const ArchiveEntry& entry : archive->entries()) {
            total += entry.uncompressed_size;
            has_dataset = has_dataset || entry.name == "gedcom.ged";
        }
        EXPECT_TRUE(has_dataset) << name;
        EXPECT_EQ(archive->total_size(), total);
    }
}

// ----- entry paths -----------------------------------------------------------------

TEST(gedzip_paths, validate_entry_path_applies_its_rules_in_order) {
    const std::pair<std::string, std::string> rows[] = {
        {"gedcom.ged", ""},
        {"media/", ""},
        {".profile", ""},
        {"a b/c.jpg", ""},
        {"\u00a0nbsp.txt", ""},
        {"COM0", ""},
        {"COM10", ""},
        {"console.txt", ""},
        {".nul", ""},
        {"Photos/LPT9x.jpg", ""},
        {std::string(4096, 'a'), ""},
        {"", "the archive contains a file with no name"},
        {std::string(4097, 'a'), "the archive contains a file with an unreasonably long path"},
        {"/x", "/x is an absolute path"},
        {"\\x", "\\x is an absolute path"},
        {"a\\b", "a\\b uses a backslash, which a ZIP path may not"},
        {"a\tb", "the archive contains a control character in a file path"},
        {"a\x7f", "the archive contains a control character in a file path"},
        {"a\u0085b", "the archive contains a control character in a file path"},
        {"C:/x", "C:/x contains a character that is unsafe in a portable path"},
        {"what?.txt", "what?.txt contains a character that is unsafe in a portable path"},
        {"a\"b", "a\"b contains a character that is unsafe in a portable path"},
        {"a//b.ged", "a//b.ged contains an unsafe path component"},
        {"a/./b", "a/./b contains an unsafe path component"},
        {"../b", "../b contains an unsafe path component"},
        {"dir//", "dir// contains an unsafe path component"},
        {"file.", "file. contains a path component that is unsafe on Windows"},
        {"name ", "name  contains a path component that is unsafe on Windows"},
        {"con.txt", "con.txt contains a path component that is unsafe on Windows"},
        {"Aux.tar.gz", "Aux.tar.gz contains a path component that is unsafe on Windows"},
        {"lpt1", "lpt1 contains a path component that is unsafe on Windows"},
        {"media/nul/x.jpg", "media/nul/x.jpg contains a path component that is unsafe on Windows"},
        {"Photos/LPT9.jpg", "Photos/LPT9.jpg contains a path component that is unsafe on Windows"},
        {"conout$.log", "conout$.log contains a path component that is unsafe on Windows"},
    };
    for (const auto& [path, message] : rows) {
        SCOPED_TRACE(path.substr(0, 40));
        const Status checked = validate_entry_path(path);
        EXPECT_EQ(checked ? std::string() : checked.error().message, message);
    }
}

TEST(gedzip_paths, should_deflate_text_formats_only) {
    for (const char* name :
         {"tree.ged", "notes.GED", "a/b/readme.MD", "x.txt", "d.xml", "d.json", "d.csv", "i.svg"}) {
        EXPECT_TRUE(should_deflate(name)) << name;
    }
    for (const char* name :
         {"", ".m", "photo.jpg", "scan.tiff", "doc.pdf", "archive.zip", "ged", "Makefile"}) {
        EXPECT_FALSE(should_deflate(name)) << name;
    }
}

// ----- writing ---------------------------------------------------------------------

std::string finished(ArchiveWriter<MemorySink>&& writer) {
    auto sink = std::move(writer).finish();
    EXPECT_TRUE(sink) << sink.error().message;
    return sink ? sink->take() : std::string();
}

std::string error_of(const Status& status) {
    return status ? "ok" : status.error().message;
}

// The GEDCOM dataset every GEDZIP archive holds; its text does not matter here.
template <typename Sink>
void add_dataset(ArchiveWriter<Sink>& writer) {
    EXPECT_EQ(error_of(writer.add("gedcom.ged", "")), "ok");
}

TEST(gedzip_writer, an_archive_is_finished_only_with_its_dataset) {
    const std::string refusal =
        "a GEDZIP archive holds its GEDCOM dataset as gedcom.ged at its root, and this one has "
        "none yet; add it before finishing";
    for (const char* elsewhere : {"", "GEDCOM.GED", "data/gedcom.ged", "gedcom.ged/"}) {
        ArchiveWriter<MemorySink> writer{MemorySink{}};
        if (*elsewhere != '\0') {
            EXPECT_EQ(error_of(writer.add(elsewhere, "")), "ok");
        }
        const std::size_t written = writer.sink().bytes().size();
        EXPECT_EQ(std::move(writer).finish().error().message, refusal) << elsewhere;
        EXPECT_EQ(writer.sink().bytes().size(), written) << elsewhere;
    }
    ArchiveWriter<MemorySink> writer{MemorySink{}};
    add_dataset(writer);
    const std::string bytes = finished(std::move(writer));
    EXPECT_EQ(bytes.substr(bytes.size() - 22), end_record(1, 56, 40));
}

TEST(gedzip_writer, writes_fixed_headers_and_deflates_text_only_when_shorter) {
    ArchiveWriter<MemorySink> writer{MemorySink{}};
    const std::string tree(10000, 'G');
    ASSERT_EQ(error_of(writer.add("x.txt", "abc")), "ok");
    ASSERT_EQ(error_of(writer.add("photo.jpg", std::string(100, 'p'))), "ok");
    ASSERT_EQ(error_of(writer.add("gedcom.ged", tree)), "ok");
    ASSERT_EQ(error_of(writer.add("media/", "")), "ok");
    const std::string bytes = finished(std::move(writer));

    // The first local header, field by field.
    EXPECT_EQ(get(bytes, 0, 4), 0x04034b50u);
    EXPECT_EQ(get(bytes, 4, 2), 20u);
    EXPECT_EQ(get(bytes, 6, 2), 0x0800u);
    EXPECT_EQ(get(bytes, 8, 2), 0u);
    EXPECT_EQ(get(bytes, 10, 2), 0u);
    EXPECT_EQ(get(bytes, 12, 2), 0x0021u);
    EXPECT_EQ(get(bytes, 14, 4), 0x352441C2u);  // CRC-32 of "abc"
    EXPECT_EQ(bytes.substr(30, 8), "x.txtabc");

    auto archive = Archive::open(bytes);
    ASSERT_TRUE(archive) << archive.error().message;
    const auto& entries = archive->entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].method, 0);
    EXPECT_EQ(entries[0].crc32, 0x352441C2u);
    EXPECT_EQ(entries[1].method, 0);
    EXPECT_EQ(entries[1].compressed_size, 100u);
    EXPECT_EQ(entries[1].local_header_offset, 38u);
    EXPECT_EQ(entries[2].method, 8);
    EXPECT_LT(entries[2].compressed_size, 100u);
    EXPECT_EQ(entries[2].uncompressed_size, 10000u);
    EXPECT_TRUE(entries[3].is_dir);
    EXPECT_EQ(archive->total_size(), 10103u);
    for (const ArchiveEntry& entry : entries) EXPECT_EQ(entry.flags, 0x0800) << entry.name;
}

TEST(gedzip_writer, the_same_input_gives_the_same_bytes) {
    const auto write = [] {
        ArchiveWriter<MemorySink> writer{MemorySink{}};
        EXPECT_EQ(error_of(writer.add("gedcom.ged", std::string(5000, 'x') + "0 TRLR\n")), "ok");
        EXPECT_EQ(error_of(writer.add("media/a.jpg", "jpeg")), "ok");
        return finished(std::move(writer));
    };
    EXPECT_EQ(write(), write());
}

TEST(gedzip_writer, refusals_leave_the_writer_usable) {
    ArchiveLimits limits;
    limits.max_entries = 2;
    limits.max_entry_bytes = 4;
    ArchiveWriter<MemorySink> writer{MemorySink{}, limits};
    EXPECT_EQ(error_of(writer.add("gedcom.ged", "1")), "ok");
    EXPECT_EQ(error_of(writer.add("gedcom.ged", "2")),
              "the archive contains the same path more than once (\"gedcom.ged\")");
    EXPECT_EQ(error_of(writer.add("Gedcom.GED", "2")),
              "Gedcom.GED differs from \"gedcom.ged\" only in letter case, so both would extract "
              "to one file where letter case does not count (Windows, macOS)");
    EXPECT_EQ(error_of(writer.add("../x", "2")), "../x contains an unsafe path component");
    EXPECT_EQ(error_of(writer.add("big.jpg", "12345")),
              "big.jpg is larger than the 4 byte per-entry limit");
    EXPECT_EQ(error_of(writer.add("dir/", "")), "ok");
    EXPECT_EQ(error_of(writer.add("dir", "")),
              "the archive contains the same path more than once (\"dir\")");
    EXPECT_EQ(error_of(writer.add("c.txt", "3")),
              "the archive already holds 2 files and the limit is 2");
    EXPECT_FALSE(writer.failed());
    auto archive_bytes = finished(std::move(writer));
    auto archive = Archive::open(archive_bytes);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries().size(), 2u);
}

TEST(gedzip_writer, sixty_five_thousand_entries_get_zip64_end_records) {
    ArchiveWriter<MemorySink> writer{MemorySink{}};
    add_dataset(writer);
    for (int i = 1; i < 65535; ++i)
        ASSERT_EQ(error_of(writer.add("e" + std::to_string(i), "")), "ok");
    const std::string bytes = finished(std::move(writer));
    const std::size_t end = bytes.size() - 22;
    EXPECT_EQ(get(bytes, end + 8, 2), 0xFFFFu);
    EXPECT_EQ(get(bytes, end + 10, 2), 0xFFFFu);
    EXPECT_EQ(get(bytes, end - 20, 4), 0x07064b50u);
    const std::uint64_t zip64_at = get(bytes, end - 20 + 8, 8);
    EXPECT_EQ(zip64_at, end - 20 - 56);
    EXPECT_EQ(get(bytes, zip64_at + 32, 8), 65535u);
    auto archive = Archive::open(bytes);
    ASSERT_TRUE(archive) << archive.error().message;
    EXPECT_EQ(archive->entries().size(), 65535u);
}

// A sink that misbehaves on cue: it takes at most `chunk` bytes a call,
// answers EINTR every other call, and fails (with `error`, or by taking
// nothing) once `capacity` bytes are in.
class FlakySink final : public ArchiveSink {
  public:
    std::string bytes;
    std::size_t capacity = SIZE_MAX;
    std::size_t chunk = SIZE_MAX;
    int error = ENOSPC;
    bool interrupt = false;

    IoOutcome write(std::string_view data) override {
        if (interrupt && (calls_++ % 2 == 0)) return {0, EINTR};
        if (bytes.size() >= capacity) return {0, error};
        const std::size_t taken = std::min({data.size(), chunk, capacity - bytes.size()});
        bytes.append(data.substr(0, taken));
        return {taken, 0};
    }

  private:
    std::size_t calls_ = 0;
};

std::string reference_archive() {
    ArchiveWriter<MemorySink> writer{MemorySink{}};
    EXPECT_EQ(error_of(writer.add("gedcom.ged", std::string(3000, 'g'))), "ok");
    EXPECT_EQ(error_of(writer.add("a.jpg", std::string(3000, 'j'))), "ok");
    return finished(std::move(writer));
}

TEST(gedzip_writer, short_and_interrupted_writes_are_retried) {
    FlakySink sink;
    sink.chunk = 7;
    sink.interrupt = true;
    ArchiveWriter<FlakySink> writer{std::move(sink)};
    EXPECT_EQ(error_of(writer.add("gedcom.ged", std::string(3000, 'g'))), "ok");
    EXPECT_EQ(error_of(writer.add("a.jpg", std::string(3000, 'j'))), "ok");
    auto done = std::move(writer).finish();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->bytes, reference_archive());
}

TEST(gedzip_writer, a_failing_sink_poisons_the_writer) {
    struct Row {
        int error;
        std::string text;
    };
    for (const Row& row :
         {Row{ENOSPC, "No space left on device"}, Row{0, "failed to write whole buffer"}}) {
        FlakySink sink;
        sink.capacity = 100;
        sink.error = row.error;
        ArchiveWriter<FlakySink> writer{std::move(sink)};
        EXPECT_EQ(error_of(writer.add("a.jpg", std::string(500, 'j'))),
                  "the archive could not be written: " + row.text);
        EXPECT_TRUE(writer.failed());
        EXPECT_EQ(error_of(writer.add("b.jpg", "b")),
                  "a previous write to this archive's sink failed, so the sink may hold a partial "
                  "record; no "
                  "further entries can be added");
        auto done = std::move(writer).finish();
        ASSERT_FALSE(done);
        EXPECT_EQ(done.error().message,
                  "a previous write to this archive's sink failed, so the sink may hold a partial "
                  "record; the "
                  "archive cannot be finished");
    }
}

TEST(gedzip_writer, the_full_device_poisons_a_file_writer) {
    const int descriptor = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) GTEST_SKIP() << "/dev/full is not available";
    ArchiveWriter<FileSink> writer{FileSink(descriptor)};
    EXPECT_EQ(error_of(writer.add("a.jpg", std::string(100000, 'j'))),
              "the archive could not be written: No space left on device");
    EXPECT_TRUE(writer.failed());
}

// ----- streaming -------------------------------------------------------------------

// A seekable in-memory file; in append mode every write lands at the end,
// as with O_APPEND.
class SeekableSink final : public ArchiveSink {
  public:
    std::string bytes;
    std::size_t at = 0;
    bool append = false;
    bool truncatable = true;

    IoOutcome write(std::string_view data) override {
        if (append) at = bytes.size();
        if (bytes.size() < at + data.size()) bytes.resize(at + data.size());
        bytes.replace(at, data.size(), data);
        at += data.size();
        return {data.size(), 0};
    }
    IoOutcome position() override { return {at, 0}; }
    int seek(std::uint64_t offset) override {
        at = static_cast<std::size_t>(offset);
        return 0;
    }
    int truncate(std::uint64_t length) override {
        if (!truncatable) return EPERM;
        bytes.resize(static_cast<std::size_t>(length));
        at = bytes.size();
        return 0;
    }
};

// Yields `data` in pieces of at most `piece` bytes, interrupting once, then
// `error` instead of the end when one is set.
class PieceSource final : public ArchiveSource {
  public:
    PieceSource(std::string data, std::size_t piece) : data_(std::move(data)), piece_(piece) {}
    int error = 0;

    IoOutcome read(char* buffer, std::size_t size) override {
        if (!interrupted_) {
            interrupted_ = true;
            return {0, EINTR};
        }
        if (at_ == data_.size() && error != 0) return {0, error};
        const std::size_t count = std::min({size, piece_, data_.size() - at_});
        std::memcpy(buffer, data_.data() + at_, count);
        at_ += count;
        return {count, 0};
    }

  private:
    std::string data_;
    std::size_t piece_;
    std::size_t at_ = 0;
    bool interrupted_ = false;
};

std::string text_of(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i)
        text += "1 NOTE line " + std::to_string(i * 7919 % 1000) + "\n";
    text.resize(size);
    return text;
}

TEST(gedzip_streaming, a_streamed_media_entry_matches_one_added_from_memory) {
    const std::string photo = text_of(200000);
    ArchiveWriter<SeekableSink> streamed{SeekableSink{}};
    PieceSource source(photo, 30000);
    ASSERT_EQ(error_of(streamed.add_streamed_reserving("photo.jpg", source, photo.size())), "ok");
    add_dataset(streamed);
    auto streamed_sink = std::move(streamed).finish();
    ASSERT_TRUE(streamed_sink);

    ArchiveWriter<MemorySink> in_memory{MemorySink{}};
    ASSERT_EQ(error_of(in_memory.add("photo.jpg", photo)), "ok");
    add_dataset(in_memory);
    EXPECT_EQ(streamed_sink->bytes, finished(std::move(in_memory)));
}

TEST(gedzip_streaming, a_streamed_text_entry_is_deflated_and_patched_in_place) {
    const std::string text = text_of(300000);
    ArchiveWriter<SeekableSink> writer{SeekableSink{}};
    ASSERT_EQ(error_of(writer.add("first.jpg", "x")), "ok");
    PieceSource source(text, 65536);
    ASSERT_EQ(error_of(writer.add_streamed_reserving("gedcom.ged", source, text.size())), "ok");
    PieceSource empty("", 1);
    ASSERT_EQ(error_of(writer.add_streamed_reserving("empty.txt", empty, 0)), "ok");
    auto sink = std::move(writer).finish();
    ASSERT_TRUE(sink);
    auto archive = Archive::open(sink->bytes);
    ASSERT_TRUE(archive) << archive.error().message;
    const ArchiveEntry& tree = archive->entries()[1];
    EXPECT_EQ(tree.method, 8);
    EXPECT_EQ(tree.uncompressed_size, text.size());
    EXPECT_LT(tree.compressed_size, text.size() / 4);
    // The local header now says what the central record says.
    const std::size_t header = static_cast<std::size_t>(tree.local_header_offset);
    EXPECT_EQ(get(sink->bytes, header + 14, 4), tree.crc32);
    EXPECT_EQ(get(sink->bytes, header + 18, 4), tree.compressed_size);
    EXPECT_EQ(get(sink->bytes, header + 22, 4), tree.uncompressed_size);
    EXPECT_EQ(archive->entries()[2].method, 0);  // nothing to deflate
    EXPECT_EQ(archive->entries()[2].local_header_offset, header + 30 + 10 + tree.compressed_size);
}

TEST(gedzip_streaming, a_reserve_past_four_gib_puts_the_sizes_in_a_zip64_field) {
    ArchiveWriter<SeekableSink> writer{SeekableSink{}};
    PieceSource source(text_of(1000), 100);
    ASSERT_EQ(
        error_of(writer.add_streamed_reserving("a.txt", source, 1000, std::uint64_t{1} << 32)),
        "ok");
    add_dataset(writer);
    auto sink = std::move(writer).finish();
    ASSERT_TRUE(sink);
    const std::string& bytes = sink->bytes;
    EXPECT_EQ(get(bytes, 4, 2), 45u);
    EXPECT_EQ(get(bytes, 18, 4), 0xFFFFFFFFu);
    EXPECT_EQ(get(bytes, 28, 2), 20u);
    EXPECT_EQ(get(bytes, 30 + 5 + 4, 8), 1000u);
    auto archive = Archive::open(bytes);
    ASSERT_TRUE(archive);
    EXPECT_EQ(get(bytes, 30 + 5 + 12, 8), archive->entries()[0].compressed_size);
}

TEST(gedzip_streaming, an_entry_that_fails_on_its_own_account_is_taken_back) {
    struct Row {
        const char* what;
        std::string data;
        std::uint64_t declared;
        int error;
        std::string message;
    };
    const Row rows[] = {
        {"grows", text_of(100001), 100000, 0,
         "tree.ged yielded more than the 100000 bytes declared for it"},
        {"grows from nothing", "x", 0, 0, "tree.ged yielded more than the 0 bytes declared for it"},
        {"shrinks", text_of(5), 10, 0, "tree.ged ended after 5 of the 10 bytes declared for it"},
        {"read error", text_of(5), 10, EIO, "tree.ged could not be read: Input/output error"},
        {"compresses too well", std::string(1000000, '\0'), 1000000, 0,
         "tree.ged compresses more than the 1000-fold limit allows"},
    };
    ArchiveWriter<MemorySink> expected{MemorySink{}};
    ASSERT_EQ(error_of(expected.add("first.jpg", "1")), "ok");
    ASSERT_EQ(error_of(expected.add("later.jpg", "2")), "ok");
    add_dataset(expected);
    const std::string reference = finished(std::move(expected));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ArchiveWriter<SeekableSink> writer{SeekableSink{}};
        ASSERT_EQ(error_of(writer.add("first.jpg", "1")), "ok");
        PieceSource source(row.data, 4096);
        source.error = row.error;
        EXPECT_EQ(error_of(writer.add_streamed_reserving("tree.ged", source, row.declared)),
                  row.message);
        EXPECT_FALSE(writer.failed());
        ASSERT_EQ(error_of(writer.add("later.jpg", "2")), "ok");
        add_dataset(writer);
        auto sink = std::move(writer).finish();
        ASSERT_TRUE(sink);
        EXPECT_EQ(sink->bytes, reference);
    }
}

TEST(gedzip_streaming, refusals_before_writing_leave_the_writer_usable) {
    ArchiveLimits limits;
    limits.max_entry_bytes = 10;
    ArchiveWriter<SeekableSink> writer{SeekableSink{}, limits};
    PieceSource source("12345678901", 4);
    EXPECT_EQ(error_of(writer.add_streamed_reserving("a.jpg", source, 11)),
              "a.jpg is larger than the 10 byte per-entry limit");
    EXPECT_EQ(error_of(writer.add_streamed_reserving("a\\b", source, 1)),
              "a\\b uses a backslash, which a ZIP path may not");
    EXPECT_FALSE(writer.failed());
    EXPECT_TRUE(writer.sink().bytes.empty());
}

TEST(gedzip_streaming, an_entry_that_cannot_be_cut_off_leaves_the_writer_failed) {
    SeekableSink sink;
    sink.truncatable = false;
    ArchiveWriter<SeekableSink> writer{std::move(sink)};
    PieceSource source("xx", 2);
    EXPECT_EQ(error_of(writer.add_streamed_reserving("a.jpg", source, 1)),
              "a.jpg yielded more than the 1 bytes declared for it");
    EXPECT_TRUE(writer.failed());
}

TEST(gedzip_streaming, refuses_entries_past_the_total_its_reader_accepts) {
    ArchiveLimits limits;
    limits.max_total_bytes = 10;
    ArchiveWriter<SeekableSink> writer{SeekableSink{}, limits};
    EXPECT_EQ(error_of(writer.add("a.jpg", "123456")), "ok");
    EXPECT_EQ(error_of(writer.add("b.jpg", "12345")),
              "b.jpg would make the archive expand to more than the 10 byte limit");
    PieceSource source("12345", 5);
    EXPECT_EQ(error_of(writer.add_streamed_reserving("c.jpg", source, 5)),
              "c.jpg would make the archive expand to more than the 10 byte limit");
    EXPECT_EQ(error_of(writer.add("d.jpg", "1234")), "ok");
    add_dataset(writer);
    auto sink = std::move(writer).finish();
    ASSERT_TRUE(sink);
    auto archive = Archive::open_with(sink->bytes, limits);
    ASSERT_TRUE(archive) << archive.error().message;
    EXPECT_EQ(archive->total_size(), 10u);
}

TEST(gedzip_streaming, needs_a_sink_that_overwrites_in_place) {
    const std::string not_in_place =
        "the archive could not be written: the sink did not overwrite its bytes in place after a "
        "seek (a file "
        "opened for appending cannot hold a streamed entry)";
    SeekableSink appending;
    appending.append = true;
    ArchiveWriter<SeekableSink> writer{std::move(appending)};
    PieceSource source("abc", 3);
    EXPECT_EQ(error_of(writer.add_streamed_reserving("a.jpg", source, 3)), not_in_place);
    EXPECT_TRUE(writer.failed());

    ArchiveWriter<MemorySink> memory{MemorySink{}};
    PieceSource again("abc", 3);
    EXPECT_EQ(error_of(memory.add_streamed_reserving("a.jpg", again, 3)),
              "the archive's position could not be read: Illegal seek");
    EXPECT_TRUE(memory.failed());

    // A real file opened for appending.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("gedzip-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "append.gdz").string();
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    ASSERT_GE(descriptor, 0);
    ArchiveWriter<FileSink> file_writer{FileSink(descriptor)};
    PieceSource third("abc", 3);
    EXPECT_EQ(error_of(file_writer.add_streamed_reserving("a.jpg", third, 3)), not_in_place);
    std::filesystem::remove_all(folder);
}

TEST(gedzip_streaming, a_file_source_streams_a_real_file_into_a_real_file) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("gedzip-src-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string text = text_of(250000);
    const std::filesystem::path source_path = folder / "tree.ged";
    std::ofstream(source_path, std::ios::binary) << text;
    const std::string target = (folder / "out.gdz").string();
    {
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        ASSERT_GE(out, 0);
        ArchiveWriter<FileSink> writer{FileSink(out)};
        const int in = ::open(source_path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(in, 0);
        FileSource source(in);
        EXPECT_EQ(error_of(writer.add_streamed_reserving("gedcom.ged", source, text.size())), "ok");
        ::close(in);
        EXPECT_EQ(error_of(writer.add("small.txt", "hello")), "ok");
        auto sink = std::move(writer).finish();
        ASSERT_TRUE(sink);
        EXPECT_EQ(sink->close(), 0);
    }
    std::ifstream in(target, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto archive = Archive::open(bytes);
    ASSERT_TRUE(archive) << archive.error().message;
    EXPECT_EQ(archive->total_size(), text.size() + 5);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace lignor
