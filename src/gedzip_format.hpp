// The ZIP format as the archive reader (gedzip_read.cpp) and writer
// (gedzip_write.cpp) both use it: record signatures, the markers that send
// a reader to ZIP64 values, the compression methods, and the checks and
// messages both apply.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "error.hpp"

namespace lignor::zip {

inline constexpr std::uint32_t end_signature = 0x06054b50;
inline constexpr std::uint32_t zip64_locator_signature = 0x07064b50;
inline constexpr std::uint32_t zip64_end_signature = 0x06064b50;
inline constexpr std::uint32_t central_signature = 0x02014b50;
inline constexpr std::uint32_t overflow32 = 0xFFFFFFFF;
inline constexpr std::uint16_t overflow16 = 0xFFFF;
inline constexpr std::uint16_t zip64_extra_id = 0x0001;
inline constexpr std::uint16_t method_stored = 0;
inline constexpr std::uint16_t method_deflate = 8;

inline GedcomError zip_error(std::string message) {
    return GedcomError::whole(ErrorKind::Zip, std::move(message));
}

inline std::string number(std::uint64_t value) {
    return std::to_string(value);
}

inline std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

// Whether an entry of `compressed` bytes may plausibly expand to `uncompressed`.
inline bool plausible_ratio(std::uint64_t compressed, std::uint64_t uncompressed,
                            std::uint64_t max_ratio) {
    if (uncompressed == 0) return true;
    if (compressed == 0) return false;
    if (max_ratio != 0 && compressed > std::numeric_limits<std::uint64_t>::max() / max_ratio)
        return true;
    return compressed * max_ratio >= uncompressed;
}

}  // namespace lignor::zip
