// Writing an archive one entry at a time (`ArchiveWriterState`): the paths
// admitted, entries stored or deflated, streamed entries patched in place,
// ZIP64 records only where needed, the central directory. The only user of
// zlib (raw DEFLATE and CRC-32).
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "gedzip.hpp"
#include "gedzip_format.hpp"
#include "unicode.hpp"

namespace lignor {
namespace {

using namespace zip;

constexpr std::uint32_t local_signature = 0x04034b50;
constexpr std::size_t local_header_size = 30;
constexpr std::uint16_t utf8_names_flag = 0x0800;
// Every entry is dated 1 January 1980, 00:00:00, so that the same input
// always gives the same bytes.
constexpr std::uint16_t fixed_time = 0;
constexpr std::uint16_t fixed_date = 0x0021;
constexpr int deflate_level = 6;
constexpr std::size_t stream_buffer_size = 65536;

std::string system_text(int error_number) {
    return std::strerror(error_number);
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
        return colliding_path(name, other);
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

void ArchiveWriterState::append_central_record(const LocalHeader& record, std::uint64_t offset) {
    const std::string extra = zip64_extra(record.uncompressed, record.compressed, offset);
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
    put32(out, field32(offset));
    out.append(record.name);
    out.append(extra);
}

void ArchiveWriterState::complete_entry(const LocalHeader& record, std::uint64_t offset,
                                        std::string key) {
    append_central_record(record, offset);
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
    complete_entry(header, offset, std::move(key).value());
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
    complete_entry(header, offset, std::move(key).value());
    return ok();
}

Status ArchiveWriterState::check_dataset() const {
    const auto found = paths_.find(std::string(dataset_entry));
    if (found != paths_.end() && found->second.name == dataset_entry) return ok();
    return zip_error("a GEDZIP archive holds its GEDCOM dataset as " + std::string(dataset_entry) +
                     " at its root, and this one has none yet; add it before finishing");
}

Status ArchiveWriterState::finish(ArchiveSink& sink) {
    if (failed_) {
        return zip_error(
            "a previous write to this archive's sink failed, so the sink may hold a partial "
            "record; "
            "the archive cannot be finished");
    }
    if (Status dataset = check_dataset(); !dataset) return dataset;
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
