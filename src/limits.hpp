// The bounds of one read. Every bound has exactly one default; nothing in the
// library reads a configuration, so these are the limits every caller gets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace lignor {

struct ParseLimits {
    std::uint64_t max_file_bytes = 134'217'728;  // 128 MiB of input
    std::uint64_t max_line_length = 16'777'216;  // 16 MiB per line, terminator excluded
    std::uint64_t max_records = 2'000'000;       // level-0 structures
    std::uint64_t max_lines = 20'000'000;        // non-empty lines
    std::uint16_t max_depth = 64;                // highest level number a line may carry
};

// Text as written against those bounds: its lines and bytes (each line with
// its LF), and the longest line (without).
struct TextExtent {
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    std::uint64_t longest_line = 0;

    void add_line(std::uint64_t length) noexcept {
        ++lines;
        bytes += length + 1;
        longest_line = std::max(longest_line, length);
    }
    TextExtent& operator+=(const TextExtent& other) noexcept {
        lines += other.lines;
        bytes += other.bytes;
        longest_line = std::max(longest_line, other.longest_line);
        return *this;
    }
    friend bool operator==(const TextExtent&, const TextExtent&) = default;
};

// What an edit does to a document's text: the lines it takes away, the lines
// it writes anew, the records it adds, and whether it may change the
// header's CHAR line, which to_bytes rewrites.
struct TextChange {
    TextExtent removed;
    TextExtent added;
    std::uint64_t records_added = 0;
    bool touches_header = false;
};

// Why input over `max_file_bytes` is refused, to the byte (whole
// mebibytes would give "0 MB and the limit is 0 MB" for a tightened bound):
// "the file is {size} bytes and the limit is {limit}".
inline std::string file_size_message(std::uint64_t size, std::uint64_t limit) {
    return "the file is " + std::to_string(size) + " bytes and the limit is " +
           std::to_string(limit);
}

}  // namespace lignor
