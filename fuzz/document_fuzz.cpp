// Reads arbitrary bytes as a GEDCOM file under small limits. Any outcome is
// fine except a crash, a hang, unbounded memory, or a document that does not
// read back to itself after writing.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    lignor::ParseLimits limits;
    limits.max_file_bytes = 1 << 20;
    limits.max_line_length = 4096;
    limits.max_records = 10000;
    limits.max_lines = 100000;
    auto loaded = lignor::Document::from_bytes_with(bytes, limits);
    if (!loaded) {
        if (loaded.error().message.empty()) std::abort();
        return 0;
    }
    (void)loaded->report.summary();
    const std::string text = loaded->document.to_text();
    // Written text is the canonical form of the document: it reads back to
    // exactly the same text.
    auto again = lignor::Document::parse_with(text, limits);
    if (!again || again->to_text() != text) std::abort();
    // The bytes for disk differ at most in the header's CHAR line and read
    // back to as many records.
    auto bytes_again = lignor::Document::parse_with(loaded->document.to_bytes(), limits);
    if (!bytes_again || bytes_again->records.size() != again->records.size()) std::abort();
    return 0;
}
