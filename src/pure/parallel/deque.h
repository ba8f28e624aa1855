// A fixed-capacity work-stealing deque of pointers.
//
// One owner thread pushes and pops at the bottom (newest first); any number of
// thieves take from the top (oldest first). This is the Chase-Lev deque in the
// form proven for weak memory models (Lê, Pop, Cohen, Zappa Nardelli, PPoPP
// 2013), with one change: the two standalone seq_cst fences of that paper are
// folded into seq_cst accesses on `bottom_` and `top_`, which gives the same
// store-load ordering and is understood by ThreadSanitizer (it ignores
// standalone fences).
//
// The capacity is fixed: when the deque is full, push() refuses and the owner
// runs the work itself. Joins nest only as deep as the recursion that makes
// them (logarithmic in the input), so a full deque is a curiosity, not a limit.
//
// Items are owned elsewhere: a thief that wins an item may use it; the deque
// only hands out pointers.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zembra::parallel {

template <class T, std::size_t Capacity = 1024>
class WorkStealingDeque {
  static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

 public:
  WorkStealingDeque() {
    for (auto& slot : slots_) slot.store(nullptr, std::memory_order_relaxed);
  }
  WorkStealingDeque(const WorkStealingDeque&) = delete;
  WorkStealingDeque& operator=(const WorkStealingDeque&) = delete;

  // Owner only. Returns false (and keeps nothing) when the deque is full.
  bool push(T* item) noexcept {
    const std::int64_t b = bottom_.load(std::memory_order_relaxed);  // only the owner writes bottom_
    // acquire: a thief's successful CAS on top_ came after its read of the
    // slot it took, so once we see the new top_ that slot may be reused.
    const std::int64_t t = top_.load(std::memory_order_acquire);
    if (b - t >= static_cast<std::int64_t>(Capacity)) return false;
    slot(b).store(item, std::memory_order_relaxed);
    // release: publishes the slot, and everything the owner wrote into the
    // item before pushing it, to a thief that acquires this value of bottom_.
    bottom_.store(b + 1, std::memory_order_release);
    return true;
  }

  // Owner only. The newest item, or nullptr when empty or a thief won the last
  // item.
  T* pop() noexcept {
    const std::int64_t b = bottom_.load(std::memory_order_relaxed) - 1;
    // seq_cst store then seq_cst load of top_: the reservation of slot b must
    // be ordered before reading top_ (a store-load order that acquire/release
    // cannot give), so that a thief reading bottom_ after this sees b and
    // never takes slot b unless it also wins the CAS below.
    bottom_.store(b, std::memory_order_seq_cst);
    std::int64_t t = top_.load(std::memory_order_seq_cst);
    if (t > b) {  // empty: undo the reservation
      bottom_.store(b + 1, std::memory_order_seq_cst);
      return nullptr;
    }
    T* item = slot(b).load(std::memory_order_relaxed);  // written by this thread
    if (t == b) {
      // The last item: thieves may be after it too; top_ decides.
      if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst, std::memory_order_relaxed))
        item = nullptr;
      bottom_.store(b + 1, std::memory_order_seq_cst);
    }
    return item;
  }

  // Any thread. The oldest item, or nullptr when empty or another thread won
  // it (the caller may simply look elsewhere).
  T* steal() noexcept {
    // seq_cst load of top_ then seq_cst load of bottom_: pairs with pop()'s
    // store of bottom_ then load of top_, so the owner and a thief cannot both
    // believe they alone hold the last item. The seq_cst load of bottom_ is
    // also an acquire that pairs with push()'s release.
    std::int64_t t = top_.load(std::memory_order_seq_cst);
    const std::int64_t b = bottom_.load(std::memory_order_seq_cst);
    if (t >= b) return nullptr;
    // Read before claiming: once top_ moves past t the owner may reuse the
    // slot. The slot is atomic, so a lost race reads a stale pointer that is
    // thrown away, never a torn one.
    T* item = slot(t).load(std::memory_order_relaxed);
    // seq_cst CAS: claims slot t against the owner's CAS in pop() and other
    // thieves; a failure means someone else took it.
    if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst, std::memory_order_relaxed))
      return nullptr;
    return item;
  }

  // Any thread; a hint only (the answer may be stale when it arrives).
  bool looks_empty() const noexcept {
    const std::int64_t t = top_.load(std::memory_order_seq_cst);
    const std::int64_t b = bottom_.load(std::memory_order_seq_cst);
    return t >= b;
  }

 private:
  std::atomic<T*>& slot(std::int64_t index) noexcept {
    return slots_[static_cast<std::size_t>(index) & (Capacity - 1)];
  }

  // top_ and bottom_ on separate cache lines: thieves hammer one, the owner
  // the other.
  alignas(64) std::atomic<std::int64_t> top_{0};
  alignas(64) std::atomic<std::int64_t> bottom_{0};
  alignas(64) std::array<std::atomic<T*>, Capacity> slots_;
};

}  // namespace zembra::parallel
