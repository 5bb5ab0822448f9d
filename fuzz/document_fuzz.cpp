// Reads arbitrary bytes as a GEDCOM file under small limits, as the file
// declares and as a caller names. Any outcome is fine except a crash, a hang, unbounded memory, a
// document that does not read back to itself after writing, wrapping or a conversion that writes
// what the reader refuses, a conversion to 7.0 that a second one changes, or
// a version 7 check that names a line the text does not have.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "convert.hpp"
#include "document.hpp"
#include "v7check.hpp"
#include "wrap.hpp"

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
    // The version 7 check returns for any tree and names only lines the text
    // has (line 1 of an empty one), each with a message.
    const auto lines = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
    for (const lignor::Version7Problem& problem : lignor::check_version_7(loaded->document)) {
        if (problem.line == 0 || problem.line > std::max<std::uint64_t>(lines, 1) ||
            problem.message.empty())
            std::abort();
    }
    // Written text is the canonical form of the document: it reads back to
    // exactly the same text.
    auto again = lignor::Document::parse_with(text, limits);
    if (!again || again->to_text() != text) std::abort();
    // The bytes for disk read back as exactly their own text behind their
    // byte-order mark, if any, whatever the file declared and wherever its
    // CHAR lines stand, and are written out again as they are. (Their CHAR
    // line may make them a few bytes longer than the text was.)
    const auto check_written_bytes = [&](const lignor::Document& document) {
        const std::string disk = document.to_bytes();
        lignor::ParseLimits reread = limits;
        reread.max_file_bytes += 64;
        auto from_disk = lignor::Document::from_bytes_with(disk, reread);
        const std::string mark = document.writes_byte_order_mark() ? "\xEF\xBB\xBF" : "";
        if (!from_disk || mark + from_disk->document.to_text() != disk ||
            from_disk->document.to_bytes() != disk)
            std::abort();
    };
    check_written_bytes(loaded->document);
    // The same bytes in an encoding a caller names (one, picked by the
    // input's length): single-byte and multi-byte code pages, UTF-8 with
    // its stray bytes, ANSEL, UTF-16 by mark or shape.
    constexpr std::string_view chosen_names[] = {"IBMPC", "MACINTOSH", "windows-1251", "shift_jis",
                                                 "UTF-8", "ANSEL",     "UTF-16",       "IBM037"};
    const auto chosen = lignor::encoding_named(chosen_names[size % std::size(chosen_names)]);
    if (!chosen) std::abort();
    auto as_chosen = lignor::Document::from_bytes_with(bytes, limits, chosen);
    if (as_chosen) {
        if (!as_chosen->report.chosen_by_caller) std::abort();
        check_written_bytes(as_chosen->document);
    } else if (as_chosen.error().message.empty()) {
        std::abort();
    }
    // A conversion to 7.0 writes what the reader reads, and converting its
    // result again changes nothing.
    const lignor::Conversion to_7 = lignor::to_version_7_with(loaded->document, {});
    const std::string text_7 = to_7.document.to_text();
    if (!lignor::Document::parse_with(text_7, lignor::ParseLimits{})) std::abort();
    if (lignor::to_version_7_with(to_7.document, {}).document.to_text() != text_7) std::abort();
    // A conversion to 5.5.1 never fails and writes what the reader reads.
    const lignor::Conversion converted = lignor::to_version_551(loaded->document);
    if (!lignor::Document::parse_with(converted.document.to_text(), lignor::ParseLimits{}))
        std::abort();
    // Wrapping at the tightest limit writes a file that reads back, and
    // finds nothing more to rewrite the second time.
    if (lignor::wrap_long_lines(loaded->document, 32)) {
        const std::string wrapped = loaded->document.to_text();
        if (!lignor::Document::parse_with(wrapped, lignor::ParseLimits{})) std::abort();
        auto second = lignor::wrap_long_lines(loaded->document, 32);
        if (!second || loaded->document.to_text() != wrapped) std::abort();
        for (const lignor::WrappedLine& line : *second)
            if (line.wrapped) std::abort();
    }
    return 0;
}
