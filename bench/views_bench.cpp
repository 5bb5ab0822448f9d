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

#include "document.hpp"
#include "validate.hpp"
#include "views.hpp"

namespace {

namespace fs = std::filesystem;

int size_mb() {
    const char* text = std::getenv("LIGNOR_BENCH_SIZE_MB");
    return text ? std::atoi(text) : 50;
}

fs::path data_folder() {
    const char* folder = std::getenv("LIGNOR_BENCH_DATA");
    return folder ? fs::path(folder) : fs::path(LIGNOR_BENCH_DATA_DIR);
}

std::string shell_quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void generate(const fs::path& file) {
    fs::create_directories(file.parent_path());
    const fs::path partial = file.string() + ".partial";
    const std::string command = "/usr/bin/python3 " +
                                shell_quoted(std::string(LIGNOR_BENCH_DIR) + "/generate_gedcom.py") +
                                " --size-mb " + std::to_string(size_mb()) +
                                " --encoding utf8 --output " + shell_quoted(partial.string());
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    // Renamed only when complete, so an interrupted run never leaves a short file.
    fs::rename(partial, file);
}

const lignor::Document& document() {
    static const lignor::Document parsed = [] {
        const fs::path file = data_folder() / ("document-utf8-" + std::to_string(size_mb()) + "mb.ged");
        if (!fs::exists(file)) generate(file);
        std::string bytes(fs::file_size(file), '\0');
        std::ifstream stream(file, std::ios::binary);
        if (!stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
            throw std::runtime_error("cannot read " + file.string());
        }
        auto loaded = lignor::Document::from_bytes(bytes);
        if (!loaded) throw std::runtime_error(loaded.error().display());
        return std::move(loaded->document);
    }();
    return parsed;
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
            const std::string json = View::from_node(record).to_json();
            bytes += json.size();
            ++views;
            benchmark::DoNotOptimize(json.data());
        }
    }
    state.counters["views"] = benchmark::Counter(static_cast<double>(views), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

bool any_record(const lignor::Node&) { return true; }
bool individual(const lignor::Node& record) { return record.tag() == "INDI"; }
bool family(const lignor::Node& record) { return record.tag() == "FAM"; }

void record_views(benchmark::State& state) { views_to_json<lignor::RecordView>(state, any_record); }
void individual_views(benchmark::State& state) {
    views_to_json<lignor::IndividualView>(state, individual);
}
void family_views(benchmark::State& state) { views_to_json<lignor::FamilyView>(state, family); }

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
    state.counters["views"] = benchmark::Counter(static_cast<double>(views), benchmark::Counter::kIsRate);
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
    state.counters["records"] = benchmark::Counter(
        static_cast<double>(state.iterations() * parsed.records.size()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(record_views)->Unit(benchmark::kMillisecond);
BENCHMARK(record_views_unserialised)->Unit(benchmark::kMillisecond);
BENCHMARK(individual_views)->Unit(benchmark::kMillisecond);
BENCHMARK(family_views)->Unit(benchmark::kMillisecond);
BENCHMARK(inspect)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
