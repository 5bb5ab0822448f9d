// Reading an archive: the check of its central directory under bounds
// (`Archive::open_with`), ZIP64 values included. Nothing is decompressed.
#include <algorithm>
#include <limits>
#include <unordered_map>

#include "decode.hpp"
#include "gedzip.hpp"
#include "gedzip_format.hpp"

namespace lignor {
namespace {

using namespace zip;

constexpr std::size_t end_record_size = 22;
constexpr std::size_t zip64_locator_size = 20;
constexpr std::size_t central_header_size = 46;
// The end record plus the longest comment it may carry, rounded up.
constexpr std::size_t end_search_window = 67584;
constexpr std::size_t reserve_cap = 1024;

std::uint64_t read_le(std::string_view bytes, std::uint64_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(at) + i]);
    }
    return value;
}
std::uint16_t read16(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint16_t>(read_le(b, at, 2));
}
std::uint32_t read32(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint32_t>(read_le(b, at, 4));
}
std::uint64_t read64(std::string_view b, std::uint64_t at) {
    return read_le(b, at, 8);
}

// Whether `length` bytes starting at `at` lie inside `bytes`.
bool fits(std::string_view bytes, std::uint64_t at, std::uint64_t length) {
    return at <= bytes.size() && length <= bytes.size() - at;
}

GedcomError truncated() {
    return zip_error("the archive is truncated");
}

std::optional<std::size_t> find_end_record(std::string_view bytes) {
    if (bytes.size() < end_record_size) return std::nullopt;
    const std::size_t first =
        bytes.size() > end_search_window ? bytes.size() - end_search_window : 0;
    for (std::size_t at = bytes.size() - end_record_size + 1; at-- > first;) {
        if (read32(bytes, at) == end_signature) return at;
    }
    return std::nullopt;
}

struct DirectoryLocation {
    std::uint64_t count = 0;
    std::uint64_t offset = 0;
};

Result<DirectoryLocation> locate_directory(std::string_view bytes, std::size_t end_at) {
    const std::uint16_t count = read16(bytes, end_at + 10);
    const std::uint32_t size = read32(bytes, end_at + 12);
    const std::uint32_t offset = read32(bytes, end_at + 16);
    if (count != overflow16 && size != overflow32 && offset != overflow32)
        return DirectoryLocation{count, offset};

    if (end_at < zip64_locator_size ||
        read32(bytes, end_at - zip64_locator_size) != zip64_locator_signature) {
        return zip_error("the archive needs a Zip64 directory and has none");
    }
    const std::uint64_t record_at = read64(bytes, end_at - zip64_locator_size + 8);
    if (!fits(bytes, record_at, 4)) return truncated();
    if (read32(bytes, record_at) != zip64_end_signature) {
        return zip_error("the archive's Zip64 directory record is malformed");
    }
    if (!fits(bytes, record_at + 32, 8)) return truncated();
    const std::uint64_t zip64_count = read64(bytes, record_at + 32);
    if (!fits(bytes, record_at + 48, 8)) return truncated();
    return DirectoryLocation{zip64_count, read64(bytes, record_at + 48)};
}

// The values a central record keeps in 32 bits, replaced from its ZIP64
// extra block where they overflowed. A malformed extra field is ignored.
void apply_zip64_extra(std::string_view extra, ArchiveEntry& entry) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const std::uint16_t id = read16(extra, at);
        const std::size_t size = read16(extra, at + 2);
        at += 4;
        if (id != zip64_extra_id) {
            at += size;
            continue;
        }
        const std::string_view data = extra.substr(at, std::min(size, extra.size() - at));
        std::size_t used = 0;
        for (std::uint64_t* field :
             {&entry.uncompressed_size, &entry.compressed_size, &entry.local_header_offset}) {
            if (*field != overflow32) continue;
            if (used + 8 > data.size()) break;
            *field = read64(data, used);
            used += 8;
        }
        return;
    }
}

// Reads the central record at `at`, checks it and advances `at` past it.
class DirectoryReader {
  public:
    DirectoryReader(std::string_view bytes, const ArchiveLimits& limits, std::uint64_t count)
        : bytes_(bytes), limits_(limits) {
        names_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, reserve_cap)));
    }

    Result<ArchiveEntry> next(std::uint64_t index, std::uint64_t& at) {
        if (!fits(bytes_, at, 4)) return truncated();
        if (read32(bytes_, at) != central_signature) {
            return zip_error("file " + number(index) + " of the archive has no directory record");
        }
        if (!fits(bytes_, at, central_header_size)) return truncated();
        ArchiveEntry entry;
        entry.flags = read16(bytes_, at + 8);
        entry.method = read16(bytes_, at + 10);
        entry.crc32 = read32(bytes_, at + 16);
        entry.compressed_size = read32(bytes_, at + 20);
        entry.uncompressed_size = read32(bytes_, at + 24);
        const std::uint16_t name_length = read16(bytes_, at + 28);
        const std::uint16_t extra_length = read16(bytes_, at + 30);
        const std::uint16_t comment_length = read16(bytes_, at + 32);
        const std::uint32_t external = read32(bytes_, at + 38);
        entry.local_header_offset = read32(bytes_, at + 42);
        if (!fits(bytes_, at + central_header_size, std::uint64_t{name_length} + extra_length))
            return truncated();
        if ((entry.flags & 1) != 0) return zip_error("encrypted entries are not supported");

        const std::size_t name_at = static_cast<std::size_t>(at) + central_header_size;
        entry.name = std::string(bytes_.substr(name_at, name_length));
        if (!is_valid_utf8(entry.name)) {
            return zip_error("a file in the archive has a name that is not valid UTF-8");
        }
        apply_zip64_extra(bytes_.substr(name_at + name_length, extra_length), entry);
        if (Status accepted = check(entry, external); !accepted)
            return std::move(accepted).take_error();

        const std::uint64_t record_length =
            central_header_size + std::uint64_t{name_length} + extra_length + comment_length;
        if (at > std::numeric_limits<std::uint64_t>::max() - record_length) {
            return zip_error("an archive offset is too large");
        }
        at += record_length;
        return entry;
    }

    std::uint64_t total() const { return total_; }

  private:
    Status check(ArchiveEntry& entry, std::uint32_t external) {
        const std::string& name = entry.name;
        if ((external >> 28) == 0xA) {
            return zip_error("the archive contains a symbolic link (" + quoted(name) +
                             "), which is not extracted");
        }
        if (Status safe = validate_entry_path(name); !safe) return safe;
        entry.is_dir = name.ends_with('/');
        if (const auto [earlier, added] = names_.try_emplace(entry_path_key(name), name); !added) {
            return colliding_path(name, earlier->second);
        }
        if (entry.uncompressed_size > limits_.max_entry_bytes) {
            return zip_error(name + " expands to " + number(entry.uncompressed_size) +
                             " bytes and the per-file limit is " + number(limits_.max_entry_bytes));
        }
        if (!plausible_ratio(entry.compressed_size, entry.uncompressed_size, limits_.max_ratio)) {
            return zip_error(name + " claims a compression ratio over the " +
                             number(limits_.max_ratio) + "-fold limit");
        }
        total_ = saturating_add(total_, entry.uncompressed_size);
        if (total_ > limits_.max_total_bytes) {
            return zip_error("the archive expands to more than the " +
                             number(limits_.max_total_bytes) + " byte limit");
        }
        if (entry.method != method_stored && entry.method != method_deflate) {
            return zip_error(name + " uses compression method " + number(entry.method) +
                             ", which is not supported");
        }
        return ok();
    }

    std::string_view bytes_;
    const ArchiveLimits& limits_;
    // Each path's key (entry_path_key) to the first name met under it.
    std::unordered_map<std::string, std::string> names_;
    std::uint64_t total_ = 0;
};

}  // namespace

Result<Archive> Archive::open(std::string_view bytes) {
    return open_with(bytes, ArchiveLimits{});
}

Result<Archive> Archive::open_with(std::string_view bytes, const ArchiveLimits& limits) {
    const std::optional<std::size_t> end_at = find_end_record(bytes);
    if (!end_at) return zip_error("the file does not end like a ZIP archive");
    Result<DirectoryLocation> location = locate_directory(bytes, *end_at);
    if (!location) return std::move(location).take_error();
    const std::uint64_t count = location->count;
    if (count > limits.max_entries) {
        return zip_error("the archive holds " + number(count) + " files and the limit is " +
                         number(limits.max_entries));
    }

    Archive archive(bytes, limits);
    // A forged count must not buy a large allocation before the records
    // prove it: the lists grow as records are accepted.
    archive.entries_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, reserve_cap)));
    DirectoryReader reader(bytes, archive.limits_, count);
    std::uint64_t at = location->offset;
    for (std::uint64_t index = 1; index <= count; ++index) {
        Result<ArchiveEntry> entry = reader.next(index, at);
        if (!entry) return std::move(entry).take_error();
        archive.entries_.push_back(std::move(entry).value());
    }
    return archive;
}

std::uint64_t Archive::total_size() const {
    std::uint64_t total = 0;
    for (const ArchiveEntry& entry : entries_)
        total = saturating_add(total, entry.uncompressed_size);
    return total;
}

}  // namespace lignor
