// Reads one GEDCOM file into memory, parses it and reports what it found, so
// that the peak memory of a whole read can be measured from outside:
//
//     /usr/bin/time -v ./parse_rss file.ged          (see "Maximum resident set size")
//     ./parse_rss file.ged --write out.ged            (also writes the document's to_bytes)
//     ./parse_rss file.ged --convert                  (resident memory a parse adds, and what
//                                                       its conversion to 7.0 adds, notes freed;
//                                                       all of it and the anonymous part alone)
//
// The file's bytes stay in memory for the whole read, as they do for any
// caller of Document::from_bytes, so the peak includes them.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "convert.hpp"
#include "document.hpp"

#if defined(__linux__)
#include <malloc.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads into a string of exactly the file's size, so the peak holds the file once.
bool read_file(const char* path, std::string& bytes) {
    std::ifstream stream(path, std::ios::binary | std::ios::ate);
    if (!stream) return false;
    bytes.resize(static_cast<std::size_t>(stream.tellg()));
    stream.seekg(0);
    return static_cast<bool>(stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

bool write_file(const char* path, std::string_view bytes) {
    std::ofstream stream(path, std::ios::binary);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(stream);
}

// Resident bytes of this process now, all of them and the anonymous ones
// alone (0 where the system does not say). The difference is pages of files,
// mostly the library's code as a first call pages it in: a small file's read
// counts several hundred KiB of them, which are not the document's.
struct Resident {
    double all = 0;
    double anonymous = 0;
};

Resident resident_bytes() {
    long pages = 0;
    long resident = 0;
    long file_backed = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld %ld", &pages, &resident, &file_backed) != 3) resident = 0;
        std::fclose(statm);
    }
    if (resident == 0) return {};
    return {static_cast<double>(resident) * 4096.0,
            static_cast<double>(resident - file_backed) * 4096.0};
}

// What the converted document holds beyond the original: converted, its
// notes dropped and the heap's free memory handed back, then measured.
void report_conversion(const lignor::Document& document, std::size_t file_bytes,
                       Resident before_parse, Resident after_parse) {
    lignor::Conversion conversion = lignor::to_version_7_with(document, {});
    std::vector<lignor::ConversionNote>().swap(conversion.notes);
#if defined(__linux__)
    malloc_trim(0);
#endif
    const Resident after = resident_bytes();
    const double parse = after_parse.all - before_parse.all;
    const double converted = after.all - after_parse.all;
    const double parse_anonymous = after_parse.anonymous - before_parse.anonymous;
    const double converted_anonymous = after.anonymous - after_parse.anonymous;
    const auto file = static_cast<double>(file_bytes);
    std::printf(
        "parse added %.1f MiB (%.2f bytes per byte); the converted document adds %.1f MiB "
        "(%.2f of the parse)\n",
        parse / 1048576.0, parse / file, converted / 1048576.0, converted / parse);
    std::printf(
        "anonymous memory alone: parse %.2f bytes per byte; the converted document %.2f "
        "of the parse\n",
        parse_anonymous / file, converted_anonymous / parse_anonymous);
}

}  // namespace

int main(int argc, char** argv) {
    const bool write = argc == 4 && std::string_view(argv[2]) == "--write";
    const bool convert = argc == 3 && std::string_view(argv[2]) == "--convert";
    if (argc != 2 && !write && !convert) {
        std::fprintf(stderr, "usage: %s FILE [--write OUTPUT | --convert]\n", argv[0]);
        return 2;
    }
    std::string bytes;
    if (!read_file(argv[1], bytes)) {
        std::fprintf(stderr, "%s: cannot read the file\n", argv[1]);
        return 1;
    }
    const Resident before_parse = resident_bytes();
    const Clock::time_point start = Clock::now();
    auto loaded = lignor::Document::from_bytes(bytes);
    const double parse_seconds = seconds_since(start);
    const Resident after_parse = resident_bytes();
    if (!loaded) {
        std::fprintf(stderr, "%s: %s\n", argv[1], loaded.error().display().c_str());
        return 1;
    }
    std::printf("%s: %zu records, %zu bytes, parsed in %.3f s (%.0f MB/s)\n", argv[1],
                loaded->document.records.size(), bytes.size(), parse_seconds,
                static_cast<double>(bytes.size()) / 1e6 / parse_seconds);
    std::printf("%s\n", loaded->report.summary().c_str());
    if (convert) report_conversion(loaded->document, bytes.size(), before_parse, after_parse);
    if (write && !write_file(argv[3], loaded->document.to_bytes())) {
        std::fprintf(stderr, "%s: cannot write the file\n", argv[3]);
        return 1;
    }
    return 0;
}
