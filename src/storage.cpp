// Slabs for node parts: the per-thread cutter, counted release and the
// page prefault hint.
#include "storage.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

namespace lignor::storage {
namespace {

// Under AddressSanitizer every piece comes from the heap, so that a read or
// write past a piece's end is caught rather than landing in its neighbour.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool use_slabs = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool use_slabs = false;
#else
constexpr bool use_slabs = true;
#endif
#else
constexpr bool use_slabs = true;
#endif

// A read's slabs grow from 64 KiB to 4 MiB, so a small file costs little
// while a large one is cut from large slabs.
constexpr std::size_t first_slab_bytes = std::size_t{1} << 16;
constexpr std::size_t largest_slab_bytes = std::size_t{1} << 22;
constexpr std::size_t largest_cut = first_slab_bytes / 4;  // bigger pieces go to the heap
constexpr std::size_t alignment = 8;

// While a slab is being cut from, its count carries a large bias and the
// cutter counts its pieces privately, so a cut costs no atomic operation; a
// release meanwhile only lowers the bias. Finishing the slab trades the bias
// for the pieces cut, and the last release frees it.
constexpr std::uint64_t cutting_bias = std::uint64_t{1} << 48;

struct Slab {
    explicit Slab(std::size_t bytes) : bytes(bytes) {}
    std::atomic<std::uint64_t> alive{cutting_bias};
    std::size_t bytes;
};

// Every piece is preceded by where its slab begins and its owners; the prefix
// keeps the piece itself aligned.
using detail::Prefix;
constexpr std::size_t slab_header = (sizeof(Slab) + alignment - 1) & ~(alignment - 1);
static_assert(sizeof(Prefix) == alignment && largest_slab_bytes < Prefix::on_heap);
static_assert(largest_slab_bytes % (std::size_t{1} << 21) == 0,
              "the largest slabs are whole huge pages");
static_assert(largest_cut + sizeof(Prefix) + alignment <= first_slab_bytes);

// The largest slabs, which only a large file reaches, are aligned to huge
// pages, ask for them and have them populated a huge page at a time, one
// call each, as cutting reaches them, where the system allows: a fresh slab
// would otherwise cost a page fault per 4 KiB, a large part of reading a big
// file, and huge pages cost the system far less per byte to hand out. A step
// at a time, so that the last slab's unwritten part is never resident.
// Smaller slabs get their pages as they are first written, so that a small
// file's memory is what it uses, not its last slab whole.
constexpr std::size_t huge_page_bytes = std::size_t{1} << 21;
constexpr std::size_t populate_step = huge_page_bytes;
static_assert(largest_slab_bytes % populate_step == 0 && largest_cut < populate_step);

#if defined(__linux__)

// An address rounded up or down to a whole (4 KiB) page.
constexpr std::uintptr_t page_bytes = 4096;
std::uintptr_t page_up(const void* address) noexcept {
    return (reinterpret_cast<std::uintptr_t>(address) + page_bytes - 1) & ~(page_bytes - 1);
}
std::uintptr_t page_down(const void* address) noexcept {
    return reinterpret_cast<std::uintptr_t>(address) & ~(page_bytes - 1);
}

void* map_aligned_huge(std::size_t bytes) {
    const std::size_t reserved = bytes + huge_page_bytes;
    void* memory =
        mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t aligned = (start + huge_page_bytes - 1) & ~(huge_page_bytes - 1);
    if (aligned > start) munmap(memory, aligned - start);
    const std::uintptr_t tail = start + reserved - (aligned + bytes);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    auto* slab = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    madvise(slab, bytes, MADV_HUGEPAGE);
#endif
    return slab;
}
#endif

void* map_slab(std::size_t bytes) {
#if defined(__linux__)
    if (bytes >= largest_slab_bytes) return map_aligned_huge(bytes);
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
#else
    return std::malloc(bytes);
#endif
}

void unmap_slab(void* memory, std::size_t bytes) noexcept {
#if defined(__linux__)
    munmap(memory, bytes);
#else
    (void)bytes;
    std::free(memory);
#endif
}

void drop(Slab* slab, std::uint64_t count = 1) noexcept {
    if (slab->alive.fetch_sub(count, std::memory_order_acq_rel) == count) {
        const std::size_t bytes = slab->bytes;
        slab->~Slab();
        unmap_slab(slab, bytes);
    }
}

}  // namespace

struct SlabScope::Cutter {
    Slab* slab = nullptr;
    char* next = nullptr;
    char* end = nullptr;       // of the part cut from: the slab's end, or what is populated
    char* slab_end = nullptr;  // of the whole slab
    std::uint64_t cut_count = 0;
    std::size_t next_bytes = first_slab_bytes;

    void* cut(std::size_t bytes) {
        const std::size_t needed = sizeof(Prefix) + ((bytes + alignment - 1) & ~(alignment - 1));
        if (static_cast<std::size_t>(end - next) < needed) make_room();
        auto* prefix = reinterpret_cast<Prefix*>(next);
        prefix->slab_distance = static_cast<std::uint32_t>(next - reinterpret_cast<char*>(slab));
        prefix->owners = 1;
        ++cut_count;
        next += needed;
        return prefix + 1;
    }

    void start_slab() {
        const std::size_t bytes = next_bytes;
        void* memory = map_slab(bytes);
        if (!memory) throw std::bad_alloc();
        finish();
        next_bytes = std::min(bytes * 2, largest_slab_bytes);
        end = static_cast<char*>(memory);
        slab_end = end + bytes;
        if (bytes >= largest_slab_bytes) {
            populate_more();
        } else {
            end = slab_end;
        }
        slab = new (memory) Slab(bytes);
        next = static_cast<char*>(memory) + slab_header;
    }

    // Room for any piece up to the largest cut: the next step of the slab
    // populated, or a new slab.
    void make_room() {
        if (end < slab_end) {
            populate_more();
        } else {
            start_slab();
        }
    }

    void populate_more() noexcept {
        prefault(end, populate_step);
        end += populate_step;
    }

    // Called when the scope ends: the pages of the last slab past its last
    // piece go back to the system, as nothing more will be cut from it (of
    // a largest slab, up to a populated step may be resident unwritten).
    void finish_last() noexcept {
        if (slab) trim_tail();
        finish();
    }

    void trim_tail() noexcept {
#if defined(__linux__)
        const auto start = reinterpret_cast<std::uintptr_t>(slab);
        const std::uintptr_t kept = page_up(next) - start;
        if (kept < slab->bytes) {
            munmap(reinterpret_cast<void*>(start + kept), slab->bytes - kept);
            slab->bytes = kept;
        }
#endif
    }

    void finish() noexcept {
        if (slab) drop(slab, cutting_bias - cut_count);
        slab = nullptr;
        next = end = slab_end = nullptr;
        cut_count = 0;
    }
};

namespace {

thread_local SlabScope::Cutter* active = nullptr;

void* from_heap(std::size_t bytes) {
    void* memory = std::malloc(sizeof(Prefix) + bytes);
    if (!memory) throw std::bad_alloc();
    auto* prefix = static_cast<Prefix*>(memory);
    prefix->slab_distance = Prefix::on_heap;
    prefix->owners = 1;
    return prefix + 1;
}

}  // namespace

void prefault(void* start, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    const std::uintptr_t first = page_up(start);
    const std::uintptr_t last = page_down(static_cast<char*>(start) + bytes);
    // Worth a system call only for large buffers; older kernels refuse it.
    if (last > first && last - first >= 64 * page_bytes) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    }
#else
    (void)start;
    (void)bytes;
#endif
}

[[gnu::hot]] std::size_t discard(void* start, std::size_t bytes) noexcept {
#if defined(__linux__)
    const std::uintptr_t first = page_up(start);
    const std::uintptr_t last = page_down(static_cast<char*>(start) + bytes);
    if (last <= first) return 0;
    madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    return last - reinterpret_cast<std::uintptr_t>(start);
#else
    (void)start;
    (void)bytes;
    return 0;
#endif
}

[[gnu::hot]] void* allocate(std::size_t bytes) {
    if (use_slabs && active && bytes <= largest_cut) return active->cut(bytes);
    return from_heap(bytes);
}

[[gnu::hot]] void release(void* piece) noexcept {
    if (!piece) return;
    Prefix* prefix = static_cast<Prefix*>(piece) - 1;
    if (prefix->slab_distance == Prefix::on_heap) {
        std::free(prefix);
    } else {
        drop(reinterpret_cast<Slab*>(reinterpret_cast<char*>(prefix) - prefix->slab_distance));
    }
}

[[gnu::hot]] SlabScope::SlabScope() : cutter_(new Cutter()), outer_(active) {
    active = cutter_;
}

[[gnu::hot]] SlabScope::~SlabScope() {
    active = outer_;
    cutter_->finish_last();
    delete cutter_;
}

}  // namespace lignor::storage
