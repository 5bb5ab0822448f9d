// Where the heap parts of nodes live: long payloads and child lists.
//
// A read makes millions of these, so while a `SlabScope` is alive on a thread
// they are cut from large slabs by bumping a pointer, and each slab counts
// the pieces still alive in it: releasing a piece is a decrement, and the
// last one frees the slab. Outside a scope pieces come from the ordinary
// heap. Either way every piece is released with `release`, so nodes need not
// know where their storage came from, and a node outlives the document it
// was read into without any difference.
#pragma once

#include <cstddef>

namespace lignor::storage {

// `bytes` of storage aligned for any node part; never null (throws bad_alloc).
void* allocate(std::size_t bytes);
// Gives back what `allocate` returned; null is ignored.
void release(void* piece) noexcept;

// Asks the system to back `bytes` of freshly reserved memory at `start` with
// pages now, in one call, rather than one page fault per page as they are
// first written. A hint: where the system cannot, nothing happens.
void prefault(void* start, std::size_t bytes) noexcept;

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
