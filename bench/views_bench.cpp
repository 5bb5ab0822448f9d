// Throughput of views and plausibility checks over a whole generated document.
//
// Input: the generated UTF-8 file document-utf8-<size>mb.ged (default 50 MiB),
// looked for in the folder named by LIGNOR_BENCH_DATA, or else in bench-data/
// of the build tree, and written there first when missing by
//     /usr/bin/python3 bench/generate_gedcom.py --size-mb <size> --encoding utf8 ...
// (the same file document_bench reads). The document is read once, untimed.
//
// One iteration views every record of the kind named (all records, INDI or
// FAM) and serialises each view to JSON, as the binding does when Python asks
// for all of them. Rates are per CPU second of this thread: "views" counts
// views built, "bytes" the JSON written. `inspect` runs every check over the
// whole document; its rate counts the records inspected.
//
//     LIGNOR_BENCH_DATA=/tmp/lignor-bench ./views_bench --benchmark_repetitions=3
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "bench_input.hpp"
#include "document.hpp"
#include "json.hpp"
#include "validate.hpp"
#include "views.hpp"

namespace {

const lignor::Document& document() {
    return bench::document("utf8");
}

// Views every record that `wanted` accepts with `View` and serialises it.
template <typename View, typename Wanted>
void views_to_json(benchmark::State& state, Wanted wanted) {
    const lignor::Document& parsed = document();
    std::size_t views = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const lignor::Node& record : parsed.records) {
            if (!wanted(record)) continue;
            const std::string json = to_json(View::from_node(record));
            bytes += json.size();
            ++views;
            benchmark::DoNotOptimize(json.data());
        }
    }
    state.counters["views"] =
        benchmark::Counter(static_cast<double>(views), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

bool any_record(const lignor::Node&) {
    return true;
}
bool individual(const lignor::Node& record) {
    return record.tag() == "INDI";
}
bool family(const lignor::Node& record) {
    return record.tag() == "FAM";
}

void record_views(benchmark::State& state) {
    views_to_json<lignor::RecordView>(state, any_record);
}
void individual_views(benchmark::State& state) {
    views_to_json<lignor::IndividualView>(state, individual);
}
void family_views(benchmark::State& state) {
    views_to_json<lignor::FamilyView>(state, family);
}

// Writing alone: every record view built once, untimed, then serialised.
// The binding builds Python objects without JSON; this is the text form's
// cost, the one tests and the JSON oracle pay.
template <typename View, typename Wanted>
void views_json_only(benchmark::State& state, Wanted wanted) {
    std::vector<View> views;
    for (const lignor::Node& record : document().records)
        if (wanted(record)) views.push_back(View::from_node(record));
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const View& view : views) {
            const std::string json = to_json(view);
            bytes += json.size();
            benchmark::DoNotOptimize(json.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// Building alone, to tell the views' share from the JSON writer's.
void record_views_unserialised(benchmark::State& state) {
    const lignor::Document& parsed = document();
    std::size_t views = 0;
    for (auto _ : state) {
        for (const lignor::Node& record : parsed.records) {
            const lignor::RecordView view = lignor::RecordView::from_node(record);
            benchmark::DoNotOptimize(view.title.data());
            ++views;
        }
    }
    state.counters["views"] =
        benchmark::Counter(static_cast<double>(views), benchmark::Counter::kIsRate);
}

void inspect(benchmark::State& state) {
    const lignor::Document& parsed = document();
    std::size_t findings = 0;
    for (auto _ : state) {
        const std::vector<lignor::Finding> found = lignor::inspect(parsed);
        findings = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["findings"] = static_cast<double>(findings);
    state.counters["records"] =
        benchmark::Counter(static_cast<double>(state.iterations() * parsed.records.size()),
                           benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(record_views)->Unit(benchmark::kMillisecond);
BENCHMARK(record_views_unserialised)->Unit(benchmark::kMillisecond);
void record_views_json_only(benchmark::State& state) {
    views_json_only<lignor::RecordView>(state, any_record);
}
void individual_views_json_only(benchmark::State& state) {
    views_json_only<lignor::IndividualView>(state, individual);
}
void family_views_json_only(benchmark::State& state) {
    views_json_only<lignor::FamilyView>(state, family);
}
BENCHMARK(record_views_json_only)->Unit(benchmark::kMillisecond);
BENCHMARK(individual_views_json_only)->Unit(benchmark::kMillisecond);
BENCHMARK(family_views_json_only)->Unit(benchmark::kMillisecond);
BENCHMARK(individual_views)->Unit(benchmark::kMillisecond);
BENCHMARK(family_views)->Unit(benchmark::kMillisecond);
BENCHMARK(inspect)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
