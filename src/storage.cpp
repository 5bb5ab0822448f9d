// Slabs for node parts: the per-thread cutter, counted release and the
// page prefault hint.
#include "storage.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__linux__)
#include <pthread.h>
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
    std::size_t resident = 0;  // from the start, what may have pages; set when cutting ends
};

// Every piece is preceded by where its slab begins and its owners; the prefix
// keeps the piece itself aligned.
using detail::Prefix;
constexpr std::size_t slab_header = (sizeof(Slab) + alignment - 1) & ~(alignment - 1);
static_assert(sizeof(Prefix) == alignment && largest_slab_bytes < Prefix::on_heap);
static_assert(largest_cut + sizeof(Prefix) + alignment <= first_slab_bytes);

// Slabs of at least a populate step get their pages a step at a time, one
// call each, as cutting reaches them: a page fault per 4 KiB would cost a
// large part of reading a big file, and a step at a time the last slab's
// unwritten part is never resident. Smaller slabs get their pages as they
// are first written, so that a small file's memory is what it uses.
//
// Slabs never ask for transparent huge pages. Populating 128 MiB of them
// took 0.02-0.05 s in most runs but 0.27-0.6 s in one of six
// (`enabled=madvise`, `defrag=madvise`: the request may wait for the system
// to make 2 MiB of free memory ready; here, no compaction was counted and
// the wait was clearing the pages), where 4 KiB pages took a steady
// 0.08-0.16 s. The pool below saves more, and has no slow mode.
constexpr std::size_t populate_step = std::size_t{1} << 20;
static_assert(largest_slab_bytes % populate_step == 0 && largest_cut < populate_step);

// An address rounded up or down to a whole (4 KiB) page.
constexpr std::uintptr_t page_bytes = 4096;
std::uintptr_t page_up(const void* address) noexcept {
    return (reinterpret_cast<std::uintptr_t>(address) + page_bytes - 1) & ~(page_bytes - 1);
}
std::uintptr_t page_down(const void* address) noexcept {
    return reinterpret_cast<std::uintptr_t>(address) & ~(page_bytes - 1);
}

void* map_slab(std::size_t bytes) {
#if defined(__linux__)
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

// Slabs whose last piece has gone wait here, whole and with their pages, for
// the next read on any thread: a script that frees one document and reads
// another, or a service that reads many, cuts the next read from memory it
// already has instead of handing pages back to the system only to fault
// them in again. The pool keeps at most as many bytes as the largest read
// so far took in slabs, so it never holds more than one such read needed;
// slabs beyond that, and a last slab cut short, go back to the system.
class SlabPool {
  public:
    struct Taken {
        void* memory;
        std::size_t resident;  // from the start, the part that has pages
    };

    // A slab of `bytes` (one of the slab sizes) kept here, or null memory.
    Taken take(std::size_t bytes) noexcept {
        const std::lock_guard lock(mutex_);
        Slabs& slabs = free_[class_of(bytes)];
        Free* slab = slabs.first;
        if (slab == nullptr) return {nullptr, 0};
        slabs.first = slab->next;
        if (slabs.first == nullptr) slabs.last = nullptr;
        kept_ -= bytes;
        return {slab, slab->resident};
    }

    // Keeps `slab` for a later read when there is room; false when the
    // caller is to give it back to the system. Slabs with all their pages
    // are taken first, those cut short (a read's last) after them.
    bool keep(Slab* slab) noexcept {
        const std::size_t bytes = slab->bytes;
        const std::size_t resident = slab->resident;
        const std::lock_guard lock(mutex_);
        if (kept_ + bytes > room_) return false;
        Slabs& slabs = free_[class_of(bytes)];
        slab->~Slab();
        auto* kept = new (static_cast<void*>(slab)) Free{nullptr, resident};
        if (slabs.first == nullptr) {
            slabs.first = slabs.last = kept;
        } else if (resident == bytes) {
            kept->next = std::exchange(slabs.first, kept);
        } else {
            slabs.last = slabs.last->next = kept;
        }
        kept_ += bytes;
        return true;
    }

    // Held around fork(), so that no other thread holds it as the child's
    // copy of the memory is made.
    void lock() noexcept { mutex_.lock(); }
    void unlock() noexcept { mutex_.unlock(); }

    // A read took `bytes` in slabs: the pool may keep that much.
    void allow(std::size_t bytes) noexcept {
        const std::lock_guard lock(mutex_);
        room_ = std::max(room_, bytes);
    }

  private:
    struct Free {
        Free* next;
        std::size_t resident;
    };
    static_assert(sizeof(Free) <= sizeof(Slab));
    struct Slabs {
        Free* first = nullptr;
        Free* last = nullptr;
    };
    // One list per slab size: 64 KiB to 4 MiB.
    static constexpr std::size_t classes = 7;
    static_assert(first_slab_bytes << (classes - 1) == largest_slab_bytes);
    static std::size_t class_of(std::size_t bytes) noexcept {
        return static_cast<std::size_t>(std::countr_zero(bytes / first_slab_bytes));
    }

    std::mutex mutex_;
    std::array<Slabs, classes> free_{};
    std::size_t kept_ = 0;
    std::size_t room_ = 0;
};

// Never destroyed, so a node freed as the process exits still finds it.
static_assert(std::is_trivially_destructible_v<SlabPool>);
constinit SlabPool slab_pool;
SlabPool& pool() noexcept {
    // A fork while another thread held the pool's lock would leave the
    // child's copy held for ever: the forking thread takes it around the fork
    // and lets it go on both sides.
    static const bool fork_safe = [] {
        return pthread_atfork([] { slab_pool.lock(); }, [] { slab_pool.unlock(); },
                              [] { slab_pool.unlock(); }) == 0;
    }();
    static_cast<void>(fork_safe);
    return slab_pool;
}

void drop(Slab* slab, std::uint64_t count = 1) noexcept {
    if (slab->alive.fetch_sub(count, std::memory_order_acq_rel) == count && !pool().keep(slab)) {
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
    std::size_t slab_bytes = 0;  // taken by this scope, in all

    void* cut(std::size_t bytes) {
        const std::size_t needed = sizeof(Prefix) + ((bytes + alignment - 1) & ~(alignment - 1));
        if (static_cast<std::size_t>(end - next) < needed) make_room(needed);
        auto* prefix = reinterpret_cast<Prefix*>(next);
        prefix->slab_distance = static_cast<std::uint32_t>(next - reinterpret_cast<char*>(slab));
        prefix->owners = 1;
        ++cut_count;
        next += needed;
        return prefix + 1;
    }

    // A slab from the pool has pages as far as a read before wrote it; the
    // rest, and all of a fresh slab, is populated as cutting reaches it.
    void start_slab() {
        const std::size_t bytes = next_bytes;
        auto [memory, resident] = pool().take(bytes);
        if (!memory) memory = map_slab(bytes);
        if (!memory) throw std::bad_alloc();
        finish();
        next_bytes = std::min(bytes * 2, largest_slab_bytes);
        slab_bytes += bytes;
        slab = new (memory) Slab(bytes);
        next = static_cast<char*>(memory) + slab_header;
        slab_end = static_cast<char*>(memory) + bytes;
        end = bytes < populate_step ? slab_end : static_cast<char*>(memory) + resident;
        if (end < next) populate_more();
    }

    // Room for `needed` bytes (up to the largest cut): the slab populated
    // further, or a new slab.
    void make_room(std::size_t needed) {
        while (static_cast<std::size_t>(end - next) < needed) {
            if (end < slab_end) {
                populate_more();
            } else {
                start_slab();
            }
        }
    }

    void populate_more() noexcept {
        const std::size_t step = std::min(populate_step, static_cast<std::size_t>(slab_end - end));
        prefault(end, step);
        end += step;
    }

    // Called when the scope ends: the pages of the last slab past its last
    // piece go back to the system, as nothing more will be cut from it (up
    // to a populated step may be resident unwritten), and the pool learns
    // how much a read may take.
    void finish_last() noexcept {
        if (slab) trim_tail();
        finish();
        pool().allow(slab_bytes);
    }

    void trim_tail() noexcept {
        char* const kept = std::min(reinterpret_cast<char*>(page_up(next)), end);
        discard(kept, static_cast<std::size_t>(end - kept));
        end = kept;
    }

    void finish() noexcept {
        if (slab) {
            slab->resident = static_cast<std::size_t>(end - reinterpret_cast<char*>(slab));
            drop(slab, cutting_bias - cut_count);
        }
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
