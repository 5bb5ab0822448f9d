// The slab pool: a freed read's slabs, with their pages, serve the next read,
// and the pool keeps no more than the largest read took. Each check runs in
// a fresh process (a death test re-running this binary), since the pool is
// the process's and other tests leave slabs in it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "storage.hpp"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace lignor::storage {
namespace {

#if defined(__linux__)

constexpr std::size_t piece_bytes = 1024;
constexpr std::size_t read_bytes = std::size_t{24} << 20;  // reaches the largest slabs

// The pieces of one read, cut in a scope of their own.
std::vector<void*> cut_read() {
    const SlabScope scope;
    std::vector<void*> pieces;
    for (std::size_t cut = 0; cut < read_bytes; cut += piece_bytes)
        pieces.push_back(allocate(piece_bytes));
    return pieces;
}

void release_all(const std::vector<void*>& pieces) {
    for (void* piece : pieces) release(piece);
}

// False in builds that take every piece from the heap (AddressSanitizer).
bool reads_use_slabs() {
    const SlabScope scope;
    void* piece = allocate(piece_bytes);
    const bool on_heap = detail::prefix_of(piece).slab_distance == detail::Prefix::on_heap;
    release(piece);
    return !on_heap;
}

std::set<const char*> slabs_of(const std::vector<void*>& pieces) {
    std::set<const char*> slabs;
    for (const void* piece : pieces) {
        const auto* prefix = &detail::prefix_of(piece);
        slabs.insert(reinterpret_cast<const char*>(prefix) - prefix->slab_distance);
    }
    return slabs;
}

long minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

double resident_mib() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

// Runs `check` (true when it holds, reasons on stderr) in a fresh process.
template <typename Check>
void in_fresh_process(Check check) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(check() ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST(storage, a_freed_reads_slabs_and_pages_serve_the_next_read) {
    if (!reads_use_slabs()) GTEST_SKIP() << "pieces come from the heap in this build";
    in_fresh_process([] {
        const long before_first = minor_faults();
        const std::vector<void*> first = cut_read();
        const long first_faults = minor_faults() - before_first;
        const std::set<const char*> first_slabs = slabs_of(first);
        release_all(first);
        const long before_second = minor_faults();
        const std::vector<void*> second = cut_read();
        const long second_faults = minor_faults() - before_second;
        const bool same_slabs = slabs_of(second) == first_slabs;
        std::fprintf(stderr, "same slabs: %d; page faults: %ld, then %ld\n", same_slabs,
                     first_faults, second_faults);
        return same_slabs && second_faults * 8 < first_faults;
    });
}

TEST(storage, the_pool_keeps_no_more_than_the_largest_read_took) {
    if (!reads_use_slabs()) GTEST_SKIP() << "pieces come from the heap in this build";
    in_fresh_process([] {
        const double before = resident_mib();
        const std::vector<void*> first = cut_read();
        const std::vector<void*> second = cut_read();
        const double both = resident_mib() - before;
        release_all(first);
        release_all(second);
        const double kept = resident_mib() - before;
        const double read_mib = static_cast<double>(read_bytes >> 20);
        std::fprintf(stderr, "resident MiB beyond the start: %.1f with both reads, %.1f after\n",
                     both, kept);
        return both >= 2 * read_mib && kept >= read_mib && kept < 1.5 * read_mib;
    });
}

#endif

}  // namespace
}  // namespace lignor::storage
