// Adaptive splitting of an index range over the pool, shared by
// parallel_map and parallel_fold.
//
// The range is cut in halves, each cut a join, while a split budget lasts.
// The budget starts at the thread count and halves at every cut, so an
// operation starts with at most 2T pieces; a piece that another worker stole
// renews its budget to at least T, because a thief means idle workers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include "pure/parallel/join.h"
#include "pure/parallel/pool.h"

namespace zembra::parallel::detail {

class SplitBudget {
 public:
  explicit SplitBudget(std::size_t threads) noexcept : threads_(threads), splits_(threads) {}

  // Whether a piece of `length` items is cut once more; spends budget if so.
  bool try_split(std::size_t length, bool migrated) noexcept {
    if (length < 2) return false;
    if (migrated) {
      splits_ = std::max(threads_, splits_ / 2);
      return true;
    }
    if (splits_ == 0) return false;
    splits_ /= 2;
    return true;
  }

 private:
  std::size_t threads_;
  std::size_t splits_;
};

// Runs leaf(begin, end) over pieces of [begin, end) and merges neighbouring
// results with merge(left, right). Must run on a worker of `pool`.
template <class Leaf, class Merge>
auto split_range(WorkerPool& pool, std::size_t begin, std::size_t end, SplitBudget budget, bool migrated,
                 Leaf& leaf, Merge& merge) -> decltype(leaf(begin, end)) {
  if (!budget.try_split(end - begin, migrated)) return leaf(begin, end);
  const std::size_t mid = begin + (end - begin) / 2;
  auto halves = join_context(
      pool, [&](bool m) { return split_range(pool, begin, mid, budget, m, leaf, merge); },
      [&](bool m) { return split_range(pool, mid, end, budget, m, leaf, merge); });
  return merge(std::move(halves.first), std::move(halves.second));
}

}  // namespace zembra::parallel::detail
