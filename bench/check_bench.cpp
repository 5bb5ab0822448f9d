// The version 7 check of the core alone, over the generated document's
// conversion to 7.0, to tell its share of `Gedcom.check_version7()` from the
// binding's (the problems made into Python dicts): convert_bench.py times
// the whole call on the same text.
//
// Input: the generated UTF-8 file document-utf8-<size>mb.ged (default 50
// MiB, see bench_input.hpp), converted to 7.0, written as bytes and read
// back once, untimed, as convert_bench.py does.
//
//     LIGNOR_BENCH_DATA=/tmp/lignor-bench ./check_bench --benchmark_repetitions=3
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_input.hpp"
#include "convert.hpp"
#include "document.hpp"
#include "v7check.hpp"

namespace {

const lignor::Document& version7_document() {
    static const lignor::Document read = [] {
        const std::string bytes =
            lignor::to_version_7_with(bench::document("utf8"), {}).document.to_bytes();
        auto loaded = lignor::Document::from_bytes(bytes);
        if (!loaded) throw std::runtime_error(loaded.error().display());
        return std::move(loaded->document);
    }();
    return read;
}

void check_version_7(benchmark::State& state) {
    const lignor::Document& document = version7_document();
    std::size_t problems = 0;
    for (auto _ : state) {
        const std::vector<lignor::Version7Problem> found = lignor::check_version_7(document);
        problems = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["problems"] = static_cast<double>(problems);
}

}  // namespace

BENCHMARK(check_version_7)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
