// Building the family graph for documents shaped to stress it: one family
// with many children, one family with many partners and children, and one
// person who is a partner in many families.
//
// The documents are made in memory and read once, untimed; one iteration is
// one `FamilyGraph::make` and one person's three answers. The complexity is
// fitted against the links read: a linear fit with a flat "links" rate means
// a constant amount of work per link, whatever the family's shape.
//
//     ./family_bench --benchmark_filter=partners
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "document.hpp"
#include "family.hpp"

namespace {

using lignor::Document;
using lignor::FamilyGraph;

std::string xref(char letter, std::int64_t number) {
    return std::string("@") + letter + std::to_string(number) + "@";
}

// One family: `partners` partners (HUSB lines) and `children` children (CHIL
// lines), each also linked from its own record by FAMS or FAMC.
std::string one_family(std::int64_t partners, std::int64_t children) {
    std::string text = "0 @F1@ FAM\n";
    for (std::int64_t i = 0; i < partners; ++i) text += "1 HUSB " + xref('P', i) + "\n";
    for (std::int64_t i = 0; i < children; ++i) text += "1 CHIL " + xref('C', i) + "\n";
    for (std::int64_t i = 0; i < partners; ++i)
        text += "0 " + xref('P', i) + " INDI\n1 FAMS @F1@\n";
    for (std::int64_t i = 0; i < children; ++i)
        text += "0 " + xref('C', i) + " INDI\n1 FAMC @F1@\n";
    return text;
}

// One person, "@P@", a partner in `families` families, each with one other
// partner and one child.
std::string one_person_in_many_families(std::int64_t families) {
    std::string text = "0 @P@ INDI\n";
    for (std::int64_t i = 0; i < families; ++i) text += "1 FAMS " + xref('F', i) + "\n";
    for (std::int64_t i = 0; i < families; ++i) {
        text += "0 " + xref('F', i) + " FAM\n1 HUSB @P@\n1 WIFE " + xref('W', i) + "\n1 CHIL " +
                xref('C', i) + "\n";
    }
    return text;
}

std::int64_t links(const Document& document) {
    std::int64_t count = 0;
    for (const lignor::Node& record : document.records) count += record.children().size();
    return count;
}

// One iteration is what the first relatives query of a session costs: the
// graph built, then the three answers for `person`.
void build_graph(benchmark::State& state, const std::string& text, std::string_view person) {
    auto parsed = Document::parse_with(text, lignor::ParseLimits{});
    if (!parsed) {
        state.SkipWithError(parsed.error().display().c_str());
        return;
    }
    const Document& document = parsed.value();
    const std::int64_t work = links(document);
    for (auto _ : state) {
        const FamilyGraph graph = FamilyGraph::make(document);
        benchmark::DoNotOptimize(graph.parents_of(person));
        benchmark::DoNotOptimize(graph.children_of(person));
        benchmark::DoNotOptimize(graph.partners_of(person));
    }
    state.SetComplexityN(work);
    state.counters["links"] = benchmark::Counter(static_cast<double>(work),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void BM_one_family_children(benchmark::State& state) {
    build_graph(state, one_family(2, state.range(0)), "@P0@");
}
BENCHMARK(BM_one_family_children)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 16)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// Partners and children both N: answers for every person would hold about
// 3 N^2 entries; the graph stores N of each and answers one person in N.
void BM_one_family_partners(benchmark::State& state) {
    build_graph(state, one_family(state.range(0), state.range(0)), "@P0@");
}
BENCHMARK(BM_one_family_partners)
    ->RangeMultiplier(2)
    ->Range(256, 16384)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_one_person_in_many_families(benchmark::State& state) {
    build_graph(state, one_person_in_many_families(state.range(0)), "@P@");
}
BENCHMARK(BM_one_person_in_many_families)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 16)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
