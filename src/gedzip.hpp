// GEDZIP archives: a GEDCOM 7 dataset and its media in one ZIP file.
//
// Reading is a check of the central directory only: `Archive::open_with`
// refuses hostile archives (too many or too large entries, implausible
// compression ratios, unsafe or duplicate paths, symbolic links, encryption,
// unknown methods) before anything is decompressed, and nothing here ever
// decompresses. Writing is one entry at a time into a sink, with ZIP64
// records only where offsets or counts need them, and a fixed timestamp on
// every entry so that the same input always gives the same bytes.
//
// The directory check is gedzip_read.cpp, the entry-path policy
// gedzip_path.cpp, the memory and POSIX file sinks and sources
// gedzip_sinks.cpp, the writer gedzip_write.cpp (the only user of zlib: raw
// DEFLATE and CRC-32); gedzip_format.hpp holds what the reader and the writer
// share of the format.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "error.hpp"

namespace lignor {

// ----- bounds and reading ----------------------------------------------------

// The bounds an archive is read and written under. Every limit is
// inclusive: a value equal to the limit passes.
struct ArchiveLimits {
    std::uint64_t max_entries = 100000;
    std::uint64_t max_entry_bytes = std::uint64_t{1} << 30;
    std::uint64_t max_total_bytes = std::uint64_t{1} << 32;
    std::uint64_t max_ratio = 1000;
};

// One central directory record as accepted, with ZIP64 values applied.
struct ArchiveEntry {
    std::string name;
    std::uint64_t uncompressed_size = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t local_header_offset = 0;
    std::uint32_t crc32 = 0;
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    bool is_dir = false;
};

// An archive whose central directory passed every check. It borrows the
// caller's bytes, so it must not outlive them.
class Archive {
  public:
    static Result<Archive> open(std::string_view bytes);
    static Result<Archive> open_with(std::string_view bytes, const ArchiveLimits& limits);

    const std::vector<ArchiveEntry>& entries() const { return entries_; }
    const ArchiveLimits& limits() const { return limits_; }
    std::string_view bytes() const { return bytes_; }

    // The sum of the entries' uncompressed sizes, saturating.
    std::uint64_t total_size() const;

  private:
    Archive(std::string_view bytes, const ArchiveLimits& limits) : bytes_(bytes), limits_(limits) {}

    std::string_view bytes_;
    ArchiveLimits limits_;
    std::vector<ArchiveEntry> entries_;
};

// ----- entry names -------------------------------------------------------------

// Refuses a name that is not safe to extract on Windows, macOS and Linux:
// empty or very long, absolute, with backslashes, control or reserved
// characters, empty, `.` or `..` components, components Windows would alter
// (a trailing space or full stop) or treat as devices (`CON`, `LPT1`, ...).
Status validate_entry_path(std::string_view path);

// Whether the writer compresses an entry of this name: text formats yes,
// media (already compressed or not worth it) no.
bool should_deflate(std::string_view name);

// The key two names collide under: trailing `/`s removed, ASCII lower-cased.
std::string entry_path_key(std::string_view name);

// Why `name` cannot join an archive that holds `earlier` under the same key:
// the same path again, or one that differs only in letter case, which
// extracts to the same file where letter case does not count.
GedcomError colliding_path(std::string_view name, std::string_view earlier);

// The entry a GEDZIP archive holds its GEDCOM dataset in, at its root.
inline constexpr std::string_view dataset_entry = "gedcom.ged";

// ----- sinks and sources ---------------------------------------------------------

// The outcome of one low-level read or write.
struct IoOutcome {
    std::size_t count = 0;  // bytes moved
    int error = 0;          // an errno value; 0 when the call succeeded
};

// Where archive bytes go. `write` takes a prefix of the bytes and says how
// many it took; taking none is a failure, and EINTR asks for a retry.
// Only a sink that can flush, tell, seek and truncate can hold streamed
// entries; the defaults refuse with ESPIPE.
class ArchiveSink {
  public:
    virtual ~ArchiveSink() = default;
    virtual IoOutcome write(std::string_view bytes) = 0;
    virtual int flush() { return 0; }
    // The physical position of the next byte written, in `count`.
    virtual IoOutcome position() { return {0, ESPIPE}; }
    virtual int seek(std::uint64_t) { return ESPIPE; }
    // Cuts the sink back to its first `length` bytes and writes on from
    // there: how a streamed entry that could not be completed is taken back.
    virtual int truncate(std::uint64_t) { return ESPIPE; }
};

// A growable byte buffer.
class MemorySink final : public ArchiveSink {
  public:
    IoOutcome write(std::string_view bytes) override;
    std::string& bytes() { return bytes_; }
    std::string take() { return std::move(bytes_); }

  private:
    std::string bytes_;
};

// A file descriptor behind an 8 KiB write buffer. The sink owns the
// descriptor and closes it when destroyed (after a best-effort flush).
class FileSink final : public ArchiveSink {
  public:
    static constexpr std::size_t buffer_size = 8192;

    explicit FileSink(int descriptor);
    FileSink(FileSink&& other) noexcept;
    FileSink& operator=(FileSink&&) = delete;
    FileSink(const FileSink&) = delete;
    ~FileSink() override;

    IoOutcome write(std::string_view bytes) override;
    int flush() override;
    IoOutcome position() override;
    int seek(std::uint64_t offset) override;
    int truncate(std::uint64_t length) override;

    // Flushes and closes now; returns the first errno met, or 0.
    int close();

  private:
    int descriptor_;
    std::string buffer_;
};

// Where a streamed entry's bytes come from. A read of zero bytes is the end;
// EINTR asks for a retry.
class ArchiveSource {
  public:
    virtual ~ArchiveSource() = default;
    virtual IoOutcome read(char* buffer, std::size_t size) = 0;
};

// A file descriptor behind an 8 KiB read buffer. It does not own the
// descriptor.
class FileSource final : public ArchiveSource {
  public:
    static constexpr std::size_t buffer_size = 8192;

    explicit FileSource(int descriptor) : descriptor_(descriptor) {}
    IoOutcome read(char* buffer, std::size_t size) override;

  private:
    int descriptor_;
    std::string buffer_ = std::string(buffer_size, '\0');
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};

// ----- writing -----------------------------------------------------------------

// Everything a writer keeps besides its sink: the byte count of the sink so
// far, the central directory records, the paths used and whether a write
// failed part-way. `ArchiveWriter` pairs one with its sink.
//
// The writer refuses whatever its own reader (`Archive::open_with` under the
// same limits) would refuse, and whatever extraction would lose: data under
// a folder's name, a path that is a file for one entry and a folder for
// another, and two names that differ only in Unicode normal form.
class ArchiveWriterState {
  public:
    explicit ArchiveWriterState(const ArchiveLimits& limits) : limits_(limits) {}

    Status add(ArchiveSink& sink, std::string_view name, std::string_view data);
    Status add_streamed_reserving(ArchiveSink& sink, std::string_view name, ArchiveSource& reader,
                                  std::uint64_t declared, std::optional<std::uint64_t> reserve);
    // Refused, with nothing written, until the archive holds its dataset.
    Status finish(ArchiveSink& sink);
    // Whether the archive holds its dataset (`dataset_entry`), which GEDZIP
    // requires; the refusal says what to add.
    Status check_dataset() const;

    bool failed() const { return failed_; }
    std::uint64_t written() const { return written_; }
    std::size_t entry_count() const { return paths_.size(); }
    const ArchiveLimits& limits() const { return limits_; }

  private:
    struct LocalHeader;

    Result<std::string> admit(std::string_view name, std::uint64_t size) const;
    Status check_extractable(std::string_view name, const std::string& key,
                             std::uint64_t size) const;
    Status check_ratio(std::string_view name, std::uint64_t compressed,
                       std::uint64_t uncompressed) const;
    Status write_all(ArchiveSink& sink, std::string_view bytes);
    Status write_local_header(ArchiveSink& sink, const LocalHeader& header);
    Status stream_payload(ArchiveSink& sink, std::string_view name, ArchiveSource& reader,
                          std::uint64_t declared, bool deflate, std::uint32_t& crc);
    Status complete_local_header(ArchiveSink& sink, const LocalHeader& header,
                                 std::uint64_t header_start, std::uint64_t entry_length);
    Status take_back(ArchiveSink& sink, std::uint64_t header_start, std::uint64_t offset,
                     GedcomError error);
    // The central record says what the local header says, with the entry's offset.
    void append_central_record(const LocalHeader& entry, std::uint64_t offset);
    void complete_entry(const LocalHeader& entry, std::uint64_t offset, std::string key);
    Status fail(GedcomError error);

    ArchiveLimits limits_;
    std::uint64_t written_ = 0;
    std::uint64_t total_ = 0;  // the entries' uncompressed sizes, saturating
    std::string central_directory_;
    struct WrittenPath {
        std::string name;
        bool folder = false;
    };
    // Each entry by its key (see `written_path_key`).
    std::unordered_map<std::string, WrittenPath> paths_;
    // The keys of the folders that entries lie in.
    std::unordered_set<std::string> parent_folders_;
    bool failed_ = false;
};

// Writes an archive into a sink one entry at a time. `Sink` derives from
// `ArchiveSink`; streamed entries need one that seeks (`FileSink`).
template <typename Sink>
class ArchiveWriter {
  public:
    explicit ArchiveWriter(Sink sink, const ArchiveLimits& limits = ArchiveLimits{})
        : sink_(std::move(sink)), state_(limits) {}

    // One entry from bytes in memory, deflated when the name is text and
    // that makes it shorter.
    Status add(std::string_view name, std::string_view data) {
        return state_.add(sink_, name, data);
    }

    // One entry of `declared` bytes read from `reader` through one 64 KiB
    // buffer; the local header is written first with reserved sizes and
    // patched in place afterwards.
    Status add_streamed_reserving(std::string_view name, ArchiveSource& reader,
                                  std::uint64_t declared,
                                  std::optional<std::uint64_t> reserve = std::nullopt) {
        return state_.add_streamed_reserving(sink_, name, reader, declared, reserve);
    }

    // Writes the central directory and end records and hands the sink back.
    // An archive without its dataset is refused, and the writer kept.
    Result<Sink> finish() && {
        Status finished = state_.finish(sink_);
        if (!finished) return std::move(finished).take_error();
        return std::move(sink_);
    }

    Status check_dataset() const { return state_.check_dataset(); }
    bool failed() const { return state_.failed(); }
    std::size_t entry_count() const { return state_.entry_count(); }
    Sink& sink() { return sink_; }

  private:
    Sink sink_;
    ArchiveWriterState state_;
};

}  // namespace lignor
