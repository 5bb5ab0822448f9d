// Opens arbitrary bytes as a GEDZIP archive under small bounds. Any refusal
// is fine; a crash, a hang or unbounded memory is not, and neither is an
// accepted archive that breaks the bounds it was opened under. Every
// accepted directory is written out again (names only) and must open to the
// names the writer took. The writer refuses a name the reader accepted only
// for what extraction would lose (a path that is a file and a folder, two
// names equal in Unicode normal form), with a message naming the entry, and
// finishes only with the dataset, gedcom.ged, which it adds when missing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "gedzip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    lignor::ArchiveLimits limits;
    limits.max_entries = 256;
    limits.max_entry_bytes = 1 << 20;
    limits.max_total_bytes = 4 << 20;
    limits.max_ratio = 100;
    auto archive = lignor::Archive::open_with(bytes, limits);
    if (!archive) {
        if (archive.error().message.empty() || archive.error().kind != lignor::ErrorKind::Zip)
            std::abort();
        return 0;
    }
    const auto& entries = archive->entries();
    if (entries.size() > limits.max_entries || archive->total_size() > limits.max_total_bytes)
        std::abort();

    lignor::ArchiveWriter<lignor::MemorySink> writer{lignor::MemorySink{}, limits};
    std::vector<std::string> taken;
    for (const lignor::ArchiveEntry& entry : entries) {
        if (entry.uncompressed_size > limits.max_entry_bytes) std::abort();
        if (entry.method != 0 && entry.method != 8) std::abort();
        const lignor::Status added = writer.add(entry.name, {});
        if (added) {
            taken.push_back(entry.name);
        } else if (!added.error().message.starts_with(entry.name + " ")) {
            std::abort();
        }
    }
    // Every GEDZIP archive holds its dataset; one the writer cannot take
    // (a name it collides with, no room left) keeps the archive unfinished.
    if (!writer.check_dataset()) {
        if (writer.add(lignor::dataset_entry, {})) {
            taken.emplace_back(lignor::dataset_entry);
        } else {
            if (std::move(writer).finish()) std::abort();
            return 0;
        }
    }
    auto written = std::move(writer).finish();
    if (!written) std::abort();
    const std::string copy = written->take();
    auto again = lignor::Archive::open_with(copy, limits);
    if (!again || again->entries().size() != taken.size()) std::abort();
    for (std::size_t i = 0; i < taken.size(); ++i) {
        if (again->entries()[i].name != taken[i]) std::abort();
    }
    return 0;
}
