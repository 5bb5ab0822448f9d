// The bounds of one read. Every bound has exactly one default; nothing in the
// library reads a configuration, so these are the limits every caller gets.
#pragma once

#include <cstdint>

namespace lignor {

struct ParseLimits {
    std::uint64_t max_file_bytes = 134'217'728;  // 128 MiB of input
    std::uint64_t max_line_length = 16'777'216;  // 16 MiB per line, terminator excluded
    std::uint64_t max_records = 2'000'000;       // level-0 structures
    std::uint64_t max_lines = 20'000'000;        // non-empty lines
    std::uint16_t max_depth = 64;                // highest level number a line may carry
};

}  // namespace lignor
