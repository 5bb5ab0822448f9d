// Where the heap parts of nodes live: long payloads and child lists.
//
// A read makes millions of these, so while a `SlabScope` is alive on a thread
// they are cut from large slabs by bumping a pointer, and each slab counts
// the pieces still alive in it: releasing a piece is a decrement, and the
// last one frees the slab, which with its pages then serves a later read
// on any thread (the process keeps up to what its largest read took).
// Outside a scope pieces come from the ordinary heap. Either way every
// piece is released with `release`, so nodes need not know where their
// storage came from, and a node outlives the document it was read into
// without any difference.
//
// A piece may have several owners: a copy of a node shares its child list
// and long texts with the original rather than copying them (a conversion
// copies a whole document and changes little of it). Each piece counts its
// owners; `share` adds one and `leave` removes one, and only the last owner
// destroys what the piece holds and releases it. Owners may live on
// different threads, so the count is atomic; a piece with one owner, the
// usual case, is released without any atomic read-modify-write.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace lignor::storage {

namespace detail {
// What precedes every piece, in 8 bytes (a document has millions of
// pieces): where its slab begins, as the distance back from the prefix
// (`on_heap` for a piece from the heap), and its owners.
struct Prefix {
    static constexpr std::uint32_t on_heap = UINT32_MAX;
    std::uint32_t slab_distance;
    std::uint32_t owners;
};
inline Prefix& prefix_of(const void* piece) noexcept {
    return *(static_cast<Prefix*>(const_cast<void*>(piece)) - 1);
}
inline std::atomic_ref<std::uint32_t> owners_of(const void* piece) noexcept {
    return std::atomic_ref<std::uint32_t>(prefix_of(piece).owners);
}
}  // namespace detail

// `bytes` of storage aligned to 8 bytes, as every node part needs; never null
// (throws bad_alloc).
void* allocate(std::size_t bytes);
// Gives back what `allocate` returned, whatever its count of owners; null
// is ignored. A piece that may be shared is given back only after `leave`.
void release(void* piece) noexcept;

// Adds an owner to `piece` (not null) and returns it.
inline void* share(void* piece) noexcept {
    detail::owners_of(piece).fetch_add(1, std::memory_order_relaxed);
    return piece;
}

// Whether `piece` (not null) has owners besides the caller, who must then
// copy it before changing what it holds.
inline bool is_shared(const void* piece) noexcept {
    return detail::owners_of(piece).load(std::memory_order_acquire) > 1;
}

// Removes the caller as an owner of `piece` (not null). True when it was the
// last: the caller then destroys what the piece holds and calls `release`.
inline bool leave(void* piece) noexcept {
    auto owners = detail::owners_of(piece);
    if (owners.load(std::memory_order_acquire) == 1) return true;  // nobody can share it now
    return owners.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

// Asks the system to back `bytes` of freshly reserved memory at `start` with
// pages now, in one call, rather than one page fault per page as they are
// first written. A hint: where the system cannot, nothing happens.
void prefault(void* start, std::size_t bytes) noexcept;

// Gives the whole pages within `bytes` at `start` back to the system, which
// reads them as zeros if they are touched again: for a buffer its owner has
// finished reading but not yet freed. Returns how many bytes from `start`
// were dealt with (up to the last whole page given back), where the next
// call goes on. A hint: where the system cannot, nothing happens.
std::size_t discard(void* start, std::size_t bytes) noexcept;

// While alive, allocations on this thread are cut from slabs of its own.
class SlabScope {
  public:
    SlabScope();
    ~SlabScope();
    SlabScope(const SlabScope&) = delete;
    SlabScope& operator=(const SlabScope&) = delete;

    struct Cutter;

  private:
    Cutter* cutter_;
    Cutter* outer_;
};

}  // namespace lignor::storage
