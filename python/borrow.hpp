// The per-object borrow flag.
//
// A document object may be read by several calls at once (a read can call
// back into Python, which may read the same object again, or the interpreter
// may switch to another thread that reads it) but edited only by one call
// with nobody else looking. The flag counts shared borrows in
// progress, or holds -1 while an exclusive borrow is in progress; it changes
// only by compare-and-swap. The guards below take a borrow for their scope
// and throw `BorrowConflict` when the flag refuses, saying what happened;
// the call boundary turns that into `RuntimeError`.
//
// This header knows nothing of Python, so the flag is tested on its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace lignor::python {

struct BorrowConflict {
    std::string message;
};

class BorrowFlag {
  public:
    // `what` names the object the flag guards in its refusals ("document").
    explicit BorrowFlag(std::string_view what) : what_(what) {}

    // Adds one shared borrow unless an exclusive one is in progress.
    bool try_share() noexcept {
        std::intptr_t seen = state_.load();
        do {
            if (seen == exclusive) return false;
        } while (!state_.compare_exchange_weak(seen, seen + 1));
        return true;
    }
    // Takes the exclusive borrow when nothing else is borrowed.
    bool try_exclusive() noexcept {
        std::intptr_t expected = 0;
        return state_.compare_exchange_strong(expected, exclusive);
    }
    void release_shared() noexcept { state_.fetch_sub(1); }
    void release_exclusive() noexcept {
        std::intptr_t expected = exclusive;
        state_.compare_exchange_strong(expected, 0);
    }
    std::intptr_t state() const noexcept { return state_.load(); }

    // Why a read cannot start: an edit is running.
    BorrowConflict being_changed() const {
        return {"the " + std::string(what_) + " is being changed by another call" + still_running +
                ", so it cannot be read until that call returns"};
    }
    // Why an edit cannot start: a read or an edit is running.
    BorrowConflict in_use() const {
        return {"the " + std::string(what_) + " is in use by another call" + still_running +
                ", so it cannot be changed until that call returns"};
    }

  private:
    static constexpr std::intptr_t exclusive = -1;
    // Where the other call can be: the only two ways calls overlap.
    static constexpr const char* still_running =
        " still running (on another thread, or in Python code that call runs)";

    std::atomic<std::intptr_t> state_{0};
    std::string_view what_;
};

// A read of the object for the guard's scope.
class SharedBorrow {
  public:
    explicit SharedBorrow(BorrowFlag& flag) : flag_(flag) {
        if (!flag_.try_share()) throw flag_.being_changed();
    }
    ~SharedBorrow() { flag_.release_shared(); }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

  private:
    BorrowFlag& flag_;
};

// An edit of the object for the guard's scope.
class ExclusiveBorrow {
  public:
    explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(flag) {
        if (!flag_.try_exclusive()) throw flag_.in_use();
    }
    ~ExclusiveBorrow() { flag_.release_exclusive(); }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

  private:
    BorrowFlag& flag_;
};

}  // namespace lignor::python
