#include "gedzip.hpp"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "ascii.hpp"
#include "decode.hpp"
#include "unicode.hpp"

namespace lignor {
namespace {

constexpr std::uint32_t end_signature = 0x06054b50;
constexpr std::uint32_t zip64_locator_signature = 0x07064b50;
constexpr std::uint32_t zip64_end_signature = 0x06064b50;
constexpr std::uint32_t central_signature = 0x02014b50;
constexpr std::uint32_t local_signature = 0x04034b50;

constexpr std::size_t end_record_size = 22;
constexpr std::size_t zip64_locator_size = 20;
constexpr std::size_t central_header_size = 46;
constexpr std::size_t local_header_size = 30;
// The end record plus the longest comment it may carry, rounded up.
constexpr std::size_t end_search_window = 67584;
constexpr std::size_t reserve_cap = 1024;

constexpr std::uint32_t overflow32 = 0xFFFFFFFF;
constexpr std::uint16_t overflow16 = 0xFFFF;
constexpr std::uint16_t zip64_extra_id = 0x0001;
constexpr std::uint16_t utf8_names_flag = 0x0800;
constexpr std::uint16_t method_stored = 0;
constexpr std::uint16_t method_deflate = 8;
// Every entry is dated 1 January 1980, 00:00:00, so that the same input
// always gives the same bytes.
constexpr std::uint16_t fixed_time = 0;
constexpr std::uint16_t fixed_date = 0x0021;
constexpr int deflate_level = 6;
constexpr std::size_t stream_buffer_size = 65536;

GedcomError zip_error(std::string message) {
    return GedcomError::whole(ErrorKind::Zip, std::move(message));
}

std::string number(std::uint64_t value) {
    return std::to_string(value);
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

std::string system_text(int error_number) {
    return std::strerror(error_number);
}

// ----- little-endian fields --------------------------------------------------

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

void put_le(std::string& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void put16(std::string& out, std::uint64_t value) {
    put_le(out, value, 2);
}
void put32(std::string& out, std::uint64_t value) {
    put_le(out, value, 4);
}
void put64(std::string& out, std::uint64_t value) {
    put_le(out, value, 8);
}

// A 32-bit field's value, or the marker that sends readers to ZIP64.
std::uint64_t field32(std::uint64_t value) {
    return value >= overflow32 ? overflow32 : value;
}

// ----- reading -----------------------------------------------------------------

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

// Whether an entry of `compressed` bytes may plausibly expand to `uncompressed`.
bool plausible_ratio(std::uint64_t compressed, std::uint64_t uncompressed,
                     std::uint64_t max_ratio) {
    if (uncompressed == 0) return true;
    if (compressed == 0) return false;
    if (max_ratio != 0 && compressed > std::numeric_limits<std::uint64_t>::max() / max_ratio)
        return true;
    return compressed * max_ratio >= uncompressed;
}

// Reads the central record at `at`, checks it and advances `at` past it.
class DirectoryReader {
  public:
    DirectoryReader(std::string_view bytes, const ArchiveLimits& limits, std::uint64_t count)
        : bytes_(bytes), limits_(limits) {
        keys_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, reserve_cap)));
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
        if (!keys_.insert(entry_path_key(name)).second) {
            return zip_error("the archive contains the same path more than once (" + quoted(name) +
                             ")");
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
    std::unordered_set<std::string> keys_;
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

// ----- entry names -------------------------------------------------------------

namespace {

bool is_control(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

bool is_windows_device(std::string_view component) {
    const std::string_view stem = component.substr(0, component.find('.'));
    if (stem.empty()) return false;
    const std::string upper = ascii::upper_copy(stem);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (upper == device) return true;
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

Status check_component(std::string_view path, std::string_view component) {
    if (component.empty() || component == "." || component == "..") {
        return zip_error(std::string(path) + " contains an unsafe path component");
    }
    if (component.back() == ' ' || component.back() == '.' || is_windows_device(component)) {
        return zip_error(std::string(path) +
                         " contains a path component that is unsafe on Windows");
    }
    return ok();
}

}  // namespace

Status validate_entry_path(std::string_view path) {
    if (path.empty()) return zip_error("the archive contains a file with no name");
    if (path.size() > 4096)
        return zip_error("the archive contains a file with an unreasonably long path");
    const std::string text(path);
    if (path.front() == '/' || path.front() == '\\')
        return zip_error(text + " is an absolute path");
    if (path.find('\\') != std::string_view::npos)
        return zip_error(text + " uses a backslash, which a ZIP path may not");
    for (std::size_t at = 0; at < path.size();) {
        if (is_control(unicode::next_code_point(path, at))) {
            return zip_error("the archive contains a control character in a file path");
        }
    }
    if (path.find_first_of("\"*:<>?|") != std::string_view::npos) {
        return zip_error(text + " contains a character that is unsafe in a portable path");
    }
    std::string_view rest = path.ends_with('/') ? path.substr(0, path.size() - 1) : path;
    for (;;) {
        const std::size_t slash = rest.find('/');
        if (Status safe = check_component(path, rest.substr(0, slash)); !safe) return safe;
        if (slash == std::string_view::npos) return ok();
        rest.remove_prefix(slash + 1);
    }
}

bool should_deflate(std::string_view name) {
    const std::string lower = ascii::lower_copy(name);
    for (const char* suffix : {".ged", ".txt", ".xml", ".json", ".csv", ".md", ".svg"}) {
        if (lower.ends_with(suffix)) return true;
    }
    return false;
}

std::string entry_path_key(std::string_view name) {
    while (name.ends_with('/')) name.remove_suffix(1);
    return ascii::lower_copy(name);
}

// ----- sinks and sources ---------------------------------------------------------

IoOutcome MemorySink::write(std::string_view bytes) {
    bytes_.append(bytes);
    return {bytes.size(), 0};
}

FileSink::FileSink(int descriptor) : descriptor_(descriptor) {
    buffer_.reserve(buffer_size);
}

FileSink::FileSink(FileSink&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), buffer_(std::move(other.buffer_)) {}

FileSink::~FileSink() {
    // An abandoned archive keeps what was written, like any buffered file.
    if (descriptor_ >= 0) (void)close();
}

IoOutcome FileSink::write(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > buffer_size) {
        if (const int error = flush()) return {0, error};
    }
    if (bytes.size() >= buffer_size) {
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
        if (written < 0) return {0, errno};
        return {static_cast<std::size_t>(written), 0};
    }
    buffer_.append(bytes);
    return {bytes.size(), 0};
}

int FileSink::flush() {
    std::size_t done = 0;
    int error = 0;
    while (done < buffer_.size()) {
        const ssize_t written = ::write(descriptor_, buffer_.data() + done, buffer_.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    buffer_.erase(0, done);
    return error;
}

IoOutcome FileSink::position() {
    if (const int error = flush()) return {0, error};
    const off_t at = ::lseek(descriptor_, 0, SEEK_CUR);
    if (at < 0) return {0, errno};
    return {static_cast<std::size_t>(at), 0};
}

int FileSink::seek(std::uint64_t offset) {
    if (const int error = flush()) return error;
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return EOVERFLOW;
    if (::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
    return 0;
}

int FileSink::truncate(std::uint64_t length) {
    if (const int error = flush()) return error;
    if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return EOVERFLOW;
    if (::ftruncate(descriptor_, static_cast<off_t>(length)) != 0) return errno;
    if (::lseek(descriptor_, static_cast<off_t>(length), SEEK_SET) < 0) return errno;
    return 0;
}

int FileSink::close() {
    if (descriptor_ < 0) return 0;
    int error = flush();
    if (::close(std::exchange(descriptor_, -1)) != 0 && error == 0) error = errno;
    return error;
}

IoOutcome FileSource::read(char* buffer, std::size_t size) {
    if (start_ == end_ && size >= buffer_size) {
        // A large read gains nothing from the buffer.
        const ssize_t got = ::read(descriptor_, buffer, size);
        if (got < 0) return {0, errno};
        return {static_cast<std::size_t>(got), 0};
    }
    if (start_ == end_) {
        const ssize_t got = ::read(descriptor_, buffer_.data(), buffer_.size());
        if (got < 0) return {0, errno};
        start_ = 0;
        end_ = static_cast<std::size_t>(got);
    }
    const std::size_t count = std::min(size, end_ - start_);
    std::memcpy(buffer, buffer_.data() + start_, count);
    start_ += count;
    return {count, 0};
}

// ----- writing -----------------------------------------------------------------

namespace {

// zlib takes at most 4 GiB per call; larger inputs go in slices.
constexpr std::size_t zlib_slice = std::size_t{1} << 30;

std::uint32_t crc32_of(std::uint32_t crc, std::string_view data) {
    while (!data.empty()) {
        const std::size_t slice = std::min(data.size(), zlib_slice);
        crc = static_cast<std::uint32_t>(
            ::crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(slice)));
        data.remove_prefix(slice);
    }
    return crc;
}

// A raw DEFLATE stream (no zlib or gzip wrapper) at level 6.
class Deflater {
  public:
    Deflater() {
        const int status =
            deflateInit2(&stream_, deflate_level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        if (status == Z_MEM_ERROR) throw std::bad_alloc();
        if (status != Z_OK) throw InternalFailure("the DEFLATE encoder could not be set up");
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses `input` (at most 4 GiB) into `output` from `produced` on;
    // with `finish`, ends the stream. Returns the zlib status.
    int run(std::string_view input, char* output, std::size_t output_size, bool finish) {
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        stream_.avail_in = static_cast<uInt>(input.size());
        stream_.next_out = reinterpret_cast<Bytef*>(output);
        stream_.avail_out = static_cast<uInt>(output_size);
        return deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
    }
    std::size_t input_left() const { return stream_.avail_in; }
    std::size_t output_left() const { return stream_.avail_out; }

  private:
    z_stream stream_{};
};

// The whole of `data` deflated, when that is strictly shorter than `data`.
std::optional<std::string> deflate_if_shorter(std::string_view data) {
    if (data.empty()) return std::nullopt;
    Deflater deflater;
    // Room for one byte less than the input: running out of it means the
    // compressed form would not be shorter.
    std::string output(data.size() - 1, '\0');
    std::size_t produced = 0;
    for (;;) {
        const std::string_view slice = data.substr(0, zlib_slice);
        const bool last = slice.size() == data.size();
        const std::size_t room = std::min(output.size() - produced, zlib_slice);
        const int status = deflater.run(slice, output.data() + produced, room, last);
        produced += room - deflater.output_left();
        data.remove_prefix(slice.size() - deflater.input_left());
        if (status == Z_STREAM_END) break;
        if (status == Z_STREAM_ERROR || produced == output.size()) return std::nullopt;
    }
    output.resize(produced);
    return output;
}

// Whether a local header needs the ZIP64 extra field for its sizes.
bool local_zip64_sizes(std::uint64_t compressed, std::uint64_t uncompressed) {
    return compressed >= overflow32 || uncompressed >= overflow32;
}

// The central record's ZIP64 extra field: each value that overflowed its
// 32-bit field, in the fixed order; empty when none did.
std::string zip64_extra(std::uint64_t uncompressed, std::uint64_t compressed,
                        std::uint64_t offset) {
    std::string values;
    for (const std::uint64_t value : {uncompressed, compressed, offset}) {
        if (value >= overflow32) put64(values, value);
    }
    if (values.empty()) return values;
    std::string extra;
    put16(extra, zip64_extra_id);
    put16(extra, values.size());
    return extra + values;
}

// The writer's key for a path: the reader's key (trailing `/`s removed,
// ASCII lower-cased) of the name in normalization form C. File systems such
// as macOS's store a name's accents in one form whichever form they are
// given in, so two names that differ only there extract to one file.
std::string written_path_key(std::string_view name) {
    return entry_path_key(unicode::to_nfc(name));
}

// Calls `visit` with each folder `name` lies in, outermost first: `a` and
// `a/b` for both `a/b/c` and `a/b/c/`.
template <typename Visit>
void for_each_parent(std::string_view name, Visit visit) {
    for (std::size_t slash = name.find('/');
         slash != std::string_view::npos && slash + 1 < name.size();
         slash = name.find('/', slash + 1)) {
        visit(name.substr(0, slash));
    }
}

std::string not_in_place() {
    return "the sink did not overwrite its bytes in place after a seek (a file opened for "
           "appending cannot "
           "hold a streamed entry)";
}

GedcomError write_failure(const std::string& error) {
    return zip_error("the archive could not be written: " + error);
}

// Writes all of `bytes`, retrying interrupted and partial writes; adds what
// the sink took to `counter` when given. Returns the failure's text.
std::optional<std::string> write_fully(ArchiveSink& sink, std::string_view bytes,
                                       std::uint64_t* counter) {
    while (!bytes.empty()) {
        const IoOutcome outcome = sink.write(bytes);
        if (outcome.error == EINTR) continue;
        if (outcome.error != 0) return system_text(outcome.error);
        if (outcome.count == 0) return std::string("failed to write whole buffer");
        const std::size_t taken = std::min(outcome.count, bytes.size());
        if (counter != nullptr) *counter = saturating_add(*counter, taken);
        bytes.remove_prefix(taken);
    }
    return std::nullopt;
}

}  // namespace

struct ArchiveWriterState::LocalHeader {
    std::string_view name;
    std::uint16_t method = method_stored;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;
    std::uint64_t uncompressed = 0;
    bool zip64 = false;
};

struct ArchiveWriterState::CentralRecord {
    std::string_view name;
    std::uint16_t method = method_stored;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;
    std::uint64_t uncompressed = 0;
    std::uint64_t offset = 0;
};

Status ArchiveWriterState::fail(GedcomError error) {
    failed_ = true;
    return error;
}

Result<std::string> ArchiveWriterState::admit(std::string_view name, std::uint64_t size) const {
    if (failed_) {
        return zip_error(
            "a previous write to this archive's sink failed, so the sink may hold a partial "
            "record; "
            "no further entries can be added");
    }
    if (Status safe = validate_entry_path(name); !safe) return std::move(safe).take_error();
    std::string key = written_path_key(name);
    if (const auto found = paths_.find(key); found != paths_.end()) {
        const std::string& other = found->second.name;
        if (entry_path_key(other) != entry_path_key(name)) {
            return zip_error(std::string(name) + " is the same path as " + quoted(other) +
                             " in another Unicode normal form");
        }
        return zip_error("the archive contains the same path more than once (" + quoted(name) +
                         ")");
    }
    if (paths_.size() >= limits_.max_entries) {
        return zip_error("the archive already holds " + number(paths_.size()) +
                         " files and the limit is " + number(limits_.max_entries));
    }
    if (size > limits_.max_entry_bytes) {
        return zip_error(std::string(name) + " is larger than the " +
                         number(limits_.max_entry_bytes) + " byte per-entry limit");
    }
    if (Status extractable = check_extractable(name, key, size); !extractable)
        return std::move(extractable).take_error();
    if (saturating_add(total_, size) > limits_.max_total_bytes) {
        return zip_error(std::string(name) + " would make the archive expand to more than the " +
                         number(limits_.max_total_bytes) + " byte limit");
    }
    return key;
}

Status ArchiveWriterState::check_extractable(std::string_view name, const std::string& key,
                                             std::uint64_t size) const {
    const std::string text(name);
    if (name.ends_with('/')) {
        if (size > 0) return zip_error(text + " names a folder, which cannot hold data");
    } else if (parent_folders_.contains(key)) {
        return zip_error(text + " is already a folder in the archive");
    }
    std::optional<std::string_view> file_above;
    for_each_parent(name, [&](std::string_view parent) {
        const auto found = paths_.find(written_path_key(parent));
        const bool is_file = found != paths_.end() && !found->second.folder;
        if (is_file && !file_above) file_above = parent;
    });
    if (file_above) {
        return zip_error(text + " lies under " + quoted(*file_above) +
                         ", which the archive holds as a file");
    }
    return ok();
}

Status ArchiveWriterState::check_ratio(std::string_view name, std::uint64_t compressed,
                                       std::uint64_t uncompressed) const {
    if (plausible_ratio(compressed, uncompressed, limits_.max_ratio)) return ok();
    return zip_error(std::string(name) + " compresses more than the " + number(limits_.max_ratio) +
                     "-fold limit allows");
}

Status ArchiveWriterState::write_all(ArchiveSink& sink, std::string_view bytes) {
    if (auto error = write_fully(sink, bytes, &written_)) return fail(write_failure(*error));
    return ok();
}

Status ArchiveWriterState::write_local_header(ArchiveSink& sink, const LocalHeader& header) {
    std::string bytes;
    bytes.reserve(local_header_size + header.name.size() + 20);
    put32(bytes, local_signature);
    put16(bytes, header.zip64 ? 45 : 20);
    put16(bytes, utf8_names_flag);
    put16(bytes, header.method);
    put16(bytes, fixed_time);
    put16(bytes, fixed_date);
    put32(bytes, header.crc);
    put32(bytes, header.zip64 ? overflow32 : header.compressed);
    put32(bytes, header.zip64 ? overflow32 : header.uncompressed);
    put16(bytes, header.name.size());
    put16(bytes, header.zip64 ? 20 : 0);
    bytes.append(header.name);
    if (header.zip64) {
        put16(bytes, zip64_extra_id);
        put16(bytes, 16);
        put64(bytes, header.uncompressed);
        put64(bytes, header.compressed);
    }
    return write_all(sink, bytes);
}

void ArchiveWriterState::append_central_record(const CentralRecord& record) {
    const std::string extra = zip64_extra(record.uncompressed, record.compressed, record.offset);
    const std::uint16_t version = extra.empty() ? 20 : 45;
    std::string& out = central_directory_;
    put32(out, central_signature);
    put16(out, version);
    put16(out, version);
    put16(out, utf8_names_flag);
    put16(out, record.method);
    put16(out, fixed_time);
    put16(out, fixed_date);
    put32(out, record.crc);
    put32(out, field32(record.compressed));
    put32(out, field32(record.uncompressed));
    put16(out, record.name.size());
    put16(out, extra.size());
    put16(out, 0);                                      // comment length
    put16(out, 0);                                      // disk number start
    put16(out, 0);                                      // internal attributes
    put32(out, record.name.ends_with('/') ? 0x10 : 0);  // the MS-DOS directory bit
    put32(out, field32(record.offset));
    out.append(record.name);
    out.append(extra);
}

void ArchiveWriterState::complete_entry(const CentralRecord& record, std::string key) {
    append_central_record(record);
    for_each_parent(record.name, [&](std::string_view parent) {
        parent_folders_.insert(written_path_key(parent));
    });
    paths_.emplace(std::move(key),
                   WrittenPath{std::string(record.name), record.name.ends_with('/')});
    total_ = saturating_add(total_, record.uncompressed);
}

// An entry that failed for a reason of its own (its source, its size, its
// compression) is cut off the sink, so the archive is as it was before. When
// the sink itself failed, or cannot be cut back, the writer stays failed.
Status ArchiveWriterState::take_back(ArchiveSink& sink, std::uint64_t header_start,
                                     std::uint64_t offset, GedcomError error) {
    if (failed_) return error;
    if (sink.truncate(header_start) != 0) return fail(std::move(error));
    written_ = offset;
    return error;
}

Status ArchiveWriterState::add(ArchiveSink& sink, std::string_view name, std::string_view data) {
    // The bytes are already in memory and cannot change under us, so the
    // bounds are checked on them directly instead of on a copy.
    Result<std::string> key = admit(name, data.size());
    if (!key) return std::move(key).take_error();
    const std::uint32_t crc = crc32_of(0, data);
    const std::optional<std::string> deflated =
        should_deflate(name) ? deflate_if_shorter(data) : std::nullopt;
    const std::string_view payload = deflated ? std::string_view(*deflated) : data;
    const std::uint16_t method = deflated ? method_deflate : method_stored;
    if (Status plausible = check_ratio(name, payload.size(), data.size()); !plausible)
        return plausible;

    const std::uint64_t offset = written_;
    const LocalHeader header{name,        method,
                             crc,         payload.size(),
                             data.size(), local_zip64_sizes(payload.size(), data.size())};
    if (Status done = write_local_header(sink, header); !done) return done;
    if (Status done = write_all(sink, payload); !done) return done;
    complete_entry({name, method, crc, payload.size(), data.size(), offset},
                   std::move(key).value());
    return ok();
}

Status ArchiveWriterState::stream_payload(ArchiveSink& sink, std::string_view name,
                                          ArchiveSource& reader, std::uint64_t declared,
                                          bool deflate, std::uint32_t& crc) {
    const std::string label(name);
    std::string buffer(stream_buffer_size, '\0');
    std::optional<Deflater> deflater;
    std::array<char, 16384> compressed{};
    if (deflate) deflater.emplace();
    // Hands `chunk` to the payload: straight to the sink, or through DEFLATE.
    const auto write_payload = [&](std::string_view chunk, bool finish) -> Status {
        if (!deflater) return write_all(sink, chunk);
        for (;;) {
            const int status = deflater->run(chunk, compressed.data(), compressed.size(), finish);
            if (status == Z_STREAM_ERROR)
                throw InternalFailure("the DEFLATE encoder refused its input");
            chunk.remove_prefix(chunk.size() - deflater->input_left());
            const std::size_t produced = compressed.size() - deflater->output_left();
            if (Status done = write_all(sink, {compressed.data(), produced}); !done) return done;
            if (finish ? status == Z_STREAM_END : deflater->output_left() != 0) return ok();
        }
    };

    crc = crc32_of(0, {});
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(declared - total + 1, buffer.size()));
        const IoOutcome got = reader.read(buffer.data(), want);
        if (got.error == EINTR) continue;
        if (got.error != 0)
            return zip_error(label + " could not be read: " + system_text(got.error));
        if (got.count == 0) break;
        total += got.count;
        if (total > declared) {
            return zip_error(label + " yielded more than the " + number(declared) +
                             " bytes declared for it");
        }
        const std::string_view chunk(buffer.data(), got.count);
        crc = crc32_of(crc, chunk);
        if (Status done = write_payload(chunk, false); !done) return done;
    }
    if (deflater) {
        if (Status done = write_payload({}, true); !done) return done;
    }
    if (total < declared) {
        return zip_error(label + " ended after " + number(total) + " of the " + number(declared) +
                         " bytes declared for it");
    }
    return ok();
}

Status ArchiveWriterState::complete_local_header(ArchiveSink& sink, const LocalHeader& header,
                                                 std::uint64_t header_start,
                                                 std::uint64_t entry_length) {
    const auto sink_failure = [&](int error) { return fail(write_failure(system_text(error))); };
    const auto seek_to = [&](std::uint64_t at) -> Status {
        if (const int error = sink.seek(at)) return sink_failure(error);
        return ok();
    };
    const auto expect_position = [&](std::uint64_t at) -> Status {
        if (const int error = sink.flush()) return sink_failure(error);
        const IoOutcome position = sink.position();
        if (position.error != 0) return sink_failure(position.error);
        if (position.count != at) return fail(write_failure(not_in_place()));
        return ok();
    };
    // The patch overwrites bytes already counted, so it is not counted again.
    const auto patch = [&](const std::string& bytes) -> Status {
        if (auto error = write_fully(sink, bytes, nullptr)) return fail(write_failure(*error));
        return ok();
    };

    std::string crc;
    put32(crc, header.crc);
    if (header.zip64) {
        std::string sizes;
        put64(sizes, header.uncompressed);
        put64(sizes, header.compressed);
        const std::uint64_t sizes_at = header_start + local_header_size + header.name.size() + 4;
        if (Status s = seek_to(header_start + 14); !s) return s;
        if (Status s = patch(crc); !s) return s;
        if (Status s = expect_position(header_start + 18); !s) return s;
        if (Status s = seek_to(sizes_at); !s) return s;
        if (Status s = patch(sizes); !s) return s;
        if (Status s = expect_position(sizes_at + 16); !s) return s;
    } else {
        std::string fields = crc;
        put32(fields, field32(header.compressed));
        put32(fields, field32(header.uncompressed));
        if (Status s = seek_to(header_start + 14); !s) return s;
        if (Status s = patch(fields); !s) return s;
        if (Status s = expect_position(header_start + 26); !s) return s;
    }
    if (const int error = sink.flush()) return sink_failure(error);
    if (Status s = seek_to(header_start + entry_length); !s) return s;
    return expect_position(header_start + entry_length);
}

Status ArchiveWriterState::add_streamed_reserving(ArchiveSink& sink, std::string_view name,
                                                  ArchiveSource& reader, std::uint64_t declared,
                                                  std::optional<std::uint64_t> reserve) {
    Result<std::string> key = admit(name, declared);
    if (!key) return std::move(key).take_error();
    const bool deflate = declared > 0 && should_deflate(name);
    // The header's room is fixed before any data is seen, from DEFLATE's
    // worst case, so that it never has to grow.
    const std::uint64_t reserved =
        reserve   ? *reserve
        : deflate ? saturating_add(saturating_add(declared, declared / 8), 1024)
                  : declared;

    const std::uint64_t offset = written_;
    const IoOutcome start = sink.position();
    if (start.error != 0) {
        return fail(
            zip_error("the archive's position could not be read: " + system_text(start.error)));
    }
    LocalHeader header{name,     deflate ? method_deflate : method_stored, 0, reserved,
                       declared, local_zip64_sizes(reserved, declared)};
    if (Status done = write_local_header(sink, header); !done) return done;
    const std::uint64_t data_start = written_;
    if (Status done = stream_payload(sink, name, reader, declared, deflate, header.crc); !done)
        return take_back(sink, start.count, offset, std::move(done).take_error());

    header.compressed = written_ - data_start;
    if (!header.zip64 && header.compressed >= overflow32) {
        return take_back(
            sink, start.count, offset,
            zip_error(std::string(name) + " compressed to more than its header reserved room for"));
    }
    if (Status plausible = check_ratio(name, header.compressed, declared); !plausible)
        return take_back(sink, start.count, offset, std::move(plausible).take_error());
    if (Status done = complete_local_header(sink, header, start.count, written_ - offset); !done)
        return done;
    complete_entry({name, header.method, header.crc, header.compressed, declared, offset},
                   std::move(key).value());
    return ok();
}

Status ArchiveWriterState::finish(ArchiveSink& sink) {
    if (failed_) {
        return zip_error(
            "a previous write to this archive's sink failed, so the sink may hold a partial "
            "record; "
            "the archive cannot be finished");
    }
    const std::uint64_t directory_offset = written_;
    const std::uint64_t directory_size = central_directory_.size();
    const std::uint64_t count = paths_.size();
    if (Status done = write_all(sink, central_directory_); !done) return done;

    std::string end;
    if (count >= overflow16 || directory_size >= overflow32 || directory_offset >= overflow32) {
        const std::uint64_t zip64_end_at = written_;
        put32(end, zip64_end_signature);
        put64(end, 44);  // the size of the rest of the record
        put16(end, 45);  // version made by
        put16(end, 45);  // version needed
        put32(end, 0);   // this disk
        put32(end, 0);   // disk of the central directory
        put64(end, count);
        put64(end, count);
        put64(end, directory_size);
        put64(end, directory_offset);
        put32(end, zip64_locator_signature);
        put32(end, 0);
        put64(end, zip64_end_at);
        put32(end, 1);  // total disks
    }
    put32(end, end_signature);
    put16(end, 0);
    put16(end, 0);
    put16(end, std::min<std::uint64_t>(count, overflow16));
    put16(end, std::min<std::uint64_t>(count, overflow16));
    put32(end, field32(directory_size));
    put32(end, field32(directory_offset));
    put16(end, 0);  // comment length
    if (Status done = write_all(sink, end); !done) return done;
    if (const int error = sink.flush()) {
        return fail(zip_error("the archive could not be flushed: " + system_text(error)));
    }
    return ok();
}

}  // namespace lignor
