// Throughput of reading and writing whole GEDCOM documents.
//
// Input: one generated file per encoding (UTF-8, ANSEL, UTF-16 LE with a
// byte-order mark, Windows-1252 and code page 437 with the same records in
// the same number of bytes), of about LIGNOR_BENCH_SIZE_MB MiB each (default 50),
// named document-<encoding>-<size>mb.ged. They are looked for in the folder
// named by LIGNOR_BENCH_DATA, or else in bench-data/ of the build tree; a
// file that is missing is written there first by
//     /usr/bin/python3 bench/generate_gedcom.py --size-mb <size> --encoding <encoding> ...
// (deterministic: the same size always gives the same bytes). Generated files
// never go into the source tree.
//
// Every rate is bytes per CPU second of this thread (Google Benchmark's
// default, which keeps the figures steady on a busy machine; the kernel's work
// on page faults counts, as it runs on this thread): of the input for reading
// and for the memchr baseline, of the output for writing. The read benchmarks
// time decoding, cutting, parsing and assembly; freeing the document
// afterwards is not timed.
//
//     LIGNOR_BENCH_DATA=/tmp/lignor-bench ./document_bench --benchmark_repetitions=3
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "bench_input.hpp"
#include "decode.hpp"
#include "document.hpp"

namespace {

using bench::document;
using bench::input;

// The floor for any reader: find every line break and do nothing else.
void memchr_line_breaks(benchmark::State& state, const std::string& encoding) {
    const std::string& bytes = input(encoding);
    for (auto _ : state) {
        std::size_t breaks = 0;
        const char* at = bytes.data();
        const char* const end = at + bytes.size();
        while (const void* hit = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
            ++breaks;
            at = static_cast<const char*>(hit) + 1;
        }
        benchmark::DoNotOptimize(breaks);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void from_bytes(benchmark::State& state, const std::string& encoding) {
    const std::string& bytes = input(encoding);
    std::size_t records = 0;
    for (auto _ : state) {
        auto loaded = lignor::Document::from_bytes(bytes);
        state.PauseTiming();
        if (!loaded) {
            state.SkipWithError(loaded.error().display().c_str());
            break;
        }
        records = loaded->document.records.size();
        loaded = lignor::GedcomError{};  // frees the document outside the timing
        state.ResumeTiming();
    }
    state.counters["records"] = static_cast<double>(records);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// Decoding alone, to tell its share of from_bytes from the parser's.
void decode(benchmark::State& state, const std::string& encoding) {
    const std::string& bytes = input(encoding);
    for (auto _ : state) {
        auto decoded = lignor::decode_gedcom_with(bytes, lignor::ParseLimits{});
        benchmark::DoNotOptimize(decoded->text().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void to_text(benchmark::State& state, const std::string& encoding) {
    const lignor::Document& parsed = document(encoding);
    std::size_t written = 0;
    for (auto _ : state) {
        const std::string text = parsed.to_text();
        written += text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(written));
}

void to_bytes(benchmark::State& state, const std::string& encoding) {
    const lignor::Document& parsed = document(encoding);
    std::size_t written = 0;
    for (auto _ : state) {
        const std::string bytes = parsed.to_bytes();
        written += bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(written));
}

}  // namespace

BENCHMARK_CAPTURE(memchr_line_breaks, utf8, std::string("utf8"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(from_bytes, utf8, std::string("utf8"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(from_bytes, ansel, std::string("ansel"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(from_bytes, utf16le, std::string("utf16le"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, utf8, std::string("utf8"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, ansel, std::string("ansel"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, utf16le, std::string("utf16le"))->Unit(benchmark::kMillisecond);
// A code page through the table ICU gives against the built-in Windows-1252.
BENCHMARK_CAPTURE(decode, windows1252, std::string("windows1252"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, cp437, std::string("cp437"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(to_text, utf8, std::string("utf8"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(to_bytes, utf8, std::string("utf8"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(to_bytes, ansel, std::string("ansel"))->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
