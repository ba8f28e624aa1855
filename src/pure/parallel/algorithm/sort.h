// parallel_sort: an unstable in-place sort, a quicksort whose large partitions
// are sorted in parallel.
//
// Slices of at most 20 elements are insertion-sorted; the pivot is the median
// of three samples (of three medians of three for longer slices); a slice
// that keeps partitioning badly falls back to heap sort, which bounds the
// worst case at O(n log n). Runs of elements equal to a slice's left
// neighbour (the pivot that bounded it) are gathered in one pass, so inputs
// with many duplicates stay fast. After each partition, when the longer side
// has at most 2000 elements both sides are sorted on the current thread;
// otherwise they are the two halves of a join. The sort starts on the calling
// thread and reaches the pool only through those joins (so short inputs never
// touch it); a join from outside the pool is submitted with run_blocking.
//
// `less` must be callable concurrently. With a strict weak order the result
// is sorted (to order NaN among doubles, pass a comparison that puts them
// last). Any other comparison leaves the elements in some order: every scan
// is bounded by the slice, so it can neither run off the array nor loop.
// An exception thrown by `less` propagates; the elements are then in some
// order but none is lost.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "pure/parallel/global_pool.h"
#include "pure/parallel/join.h"
#include "pure/parallel/pool.h"

namespace zembra::parallel {
namespace detail {

inline constexpr std::size_t kInsertionSortMax = 20;
inline constexpr std::size_t kSequentialSortMax = 2000;
inline constexpr std::size_t kNintherMin = 50;

template <class T, class Less>
void insertion_sort(T* v, std::size_t n, Less& less) {
  for (std::size_t i = 1; i < n; ++i) {
    if (!less(v[i], v[i - 1])) continue;
    // Holds the element taken out; puts it back into the hole on the way out,
    // even when a comparison throws.
    struct Hole {
      T value;
      T* at;
      ~Hole() { *at = std::move(value); }
    } hole{std::move(v[i]), v + i};
    do {
      *hole.at = std::move(*(hole.at - 1));
      --hole.at;
    } while (hole.at != v && less(hole.value, *(hole.at - 1)));
  }
}

template <class T, class Less>
void sift_down(T* v, std::size_t n, std::size_t node, Less& less) {
  for (;;) {
    std::size_t child = 2 * node + 1;
    if (child >= n) return;
    if (child + 1 < n && less(v[child], v[child + 1])) ++child;
    if (!less(v[node], v[child])) return;
    std::swap(v[node], v[child]);
    node = child;
  }
}

template <class T, class Less>
void heap_sort(T* v, std::size_t n, Less& less) {
  for (std::size_t i = n / 2; i-- > 0;) sift_down(v, n, i, less);
  for (std::size_t end = n; end-- > 1;) {
    std::swap(v[0], v[end]);
    sift_down(v, end, 0, less);
  }
}

// Index of the median of v[a], v[b], v[c].
template <class T, class Less>
std::size_t median_of_three(const T* v, std::size_t a, std::size_t b, std::size_t c, Less& less) {
  if (less(v[b], v[a])) std::swap(a, b);
  if (less(v[c], v[b])) std::swap(b, c);
  if (less(v[b], v[a])) std::swap(a, b);
  return b;
}

template <class T, class Less>
std::size_t choose_pivot(const T* v, std::size_t n, Less& less) {
  const std::size_t a = n / 4, b = n / 2, c = n / 4 * 3;
  if (n < kNintherMin) return median_of_three(v, a, b, c, less);
  return median_of_three(v, median_of_three(v, a - 1, a, a + 1, less), median_of_three(v, b - 1, b, b + 1, less),
                         median_of_three(v, c - 1, c, c + 1, less), less);
}

// With the pivot at v[0], moves the elements that compare below it to its
// left and places it between; returns its final index.
template <class T, class Less>
std::size_t partition_around_first(T* v, std::size_t n, Less& less) {
  const T pivot = v[0];
  std::size_t i = 1, j = n;  // [1, i) below the pivot, [j, n) not below
  for (;;) {
    while (i < j && less(v[i], pivot)) ++i;
    while (i < j && !less(v[j - 1], pivot)) --j;
    if (i >= j) break;
    --j;
    std::swap(v[i], v[j]);
    ++i;
  }
  std::swap(v[0], v[i - 1]);
  return i - 1;
}

// With the pivot at v[0] and no element below it, gathers the elements equal
// to it at the front; returns how many there are (at least the pivot).
template <class T, class Less>
std::size_t gather_equal_to_first(T* v, std::size_t n, Less& less) {
  const T pivot = v[0];
  std::size_t i = 1, j = n;  // [0, i) equal, [j, n) above
  for (;;) {
    while (i < j && !less(pivot, v[i])) ++i;
    while (i < j && less(pivot, v[j - 1])) --j;
    if (i >= j) break;
    --j;
    std::swap(v[i], v[j]);
    ++i;
  }
  return i;
}

// Swaps a few elements at pseudo-random places, so that an input built to
// defeat the pivot choice does not stay that way.
template <class T>
void scramble(T* v, std::size_t n) {
  if (n <= kInsertionSortMax) return;
  std::uint64_t state = n | 1;
  for (std::size_t k = 0; k < 3; ++k) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::swap(v[n / 4 * (k + 1)], v[static_cast<std::size_t>(state % n)]);
  }
}

template <class T, class Less>
class SortTask {
 public:
  SortTask(WorkerPool* pool, Less& less) noexcept : pool_(pool), less_(less) {}

  // `bound`: an element left of the slice that no element of it is below
  // (the pivot that bounded the slice), or nullptr. It never moves again.
  void sort(T* v, std::size_t n, const T* bound, unsigned bad_partitions_left) {
    for (;;) {
      if (n <= kInsertionSortMax) return insertion_sort(v, n, less_);
      if (bad_partitions_left == 0) return heap_sort(v, n, less_);
      std::swap(v[0], v[choose_pivot(v, n, less_)]);
      if (bound && !less_(*bound, v[0])) {
        // The pivot equals the bound: its copies are all in place.
        const std::size_t equal = gather_equal_to_first(v, n, less_);
        v += equal;
        n -= equal;
        continue;
      }
      const std::size_t mid = partition_around_first(v, n, less_);
      T* left = v;
      const std::size_t left_n = mid;
      T* right = v + mid + 1;
      const std::size_t right_n = n - mid - 1;
      const T* pivot = v + mid;
      if (std::min(left_n, right_n) < n / 8) {
        --bad_partitions_left;
        scramble(left, left_n);
        scramble(right, right_n);
      }
      if (std::max(left_n, right_n) > kSequentialSortMax) {
        WorkerPool& pool = pool_ ? *pool_ : current_pool();
        join(
            pool, [&] { sort(left, left_n, bound, bad_partitions_left); },
            [&] { sort(right, right_n, pivot, bad_partitions_left); });
        return;
      }
      // Recurse into the shorter side and loop on the longer one, which keeps
      // the stack logarithmic.
      if (left_n < right_n) {
        sort(left, left_n, bound, bad_partitions_left);
        v = right;
        n = right_n;
        bound = pivot;
      } else {
        sort(right, right_n, pivot, bad_partitions_left);
        n = left_n;
      }
    }
  }

 private:
  WorkerPool* pool_;  // nullptr: the caller's pool, found at the first join
  Less& less_;
};

template <class T, class Less>
void sort_on(WorkerPool* pool, std::span<T> items, Less& less) {
  const std::size_t n = items.size();
  if (n < 2) return;
  SortTask<T, Less> task(pool, less);
  task.sort(items.data(), n, nullptr, static_cast<unsigned>(std::bit_width(n)));
}

}  // namespace detail

// Sorts `items` ascending by `less` on `pool`.
template <class T, class Less>
void parallel_sort(WorkerPool& pool, std::span<T> items, Less less) {
  detail::sort_on(&pool, items, less);
}

// Sorts `items` ascending by `less`; large inputs use the calling worker's
// pool, or the process-wide pool off the workers.
template <class T, class Less>
void parallel_sort(std::span<T> items, Less less) {
  detail::sort_on<T, Less>(nullptr, items, less);
}

}  // namespace zembra::parallel
