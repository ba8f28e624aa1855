// parallel_fold: folds an array into one accumulator on the worker pool.
//
// Each piece folds its items in index order, starting from a copy of the
// identity: acc = fold(acc, item). A piece's result is combined with the
// identity on its left, combine(identity, acc), and two neighbouring pieces
// as combine(left, right). For an identity that is neutral the result does
// not depend on the cutting; floating-point sums may still differ in the last
// bits between runs and thread counts. fold and combine are called
// concurrently from several threads.
//
// The pool is looked up first, so the first call of the process creates the
// process-wide pool even for an empty input. From outside the pool the
// operation is submitted with run_blocking. An empty input gives
// combine(identity, identity) without running a task.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "pure/parallel/algorithm/split.h"
#include "pure/parallel/global_pool.h"
#include "pure/parallel/pool.h"

namespace zembra::parallel {

template <class In, class Acc, class FoldOp, class CombineOp>
Acc parallel_fold(WorkerPool& pool, std::span<const In> items, const Acc& identity, FoldOp&& fold,
                  CombineOp&& combine) {
  const std::size_t threads = pool.thread_count();
  auto leaf = [&](std::size_t begin, std::size_t end) -> Acc {
    Acc acc = identity;
    for (std::size_t i = begin; i < end; ++i) acc = std::invoke(fold, std::move(acc), items[i]);
    return std::invoke(combine, Acc(identity), std::move(acc));
  };
  auto merge = [&](Acc left, Acc right) -> Acc { return std::invoke(combine, std::move(left), std::move(right)); };
  if (items.empty()) return leaf(0, 0);
  return pool.run_blocking(
      [&] { return detail::split_range(pool, 0, items.size(), detail::SplitBudget(threads), false, leaf, merge); });
}

// On the calling worker's pool, or the process-wide pool off the workers.
template <class In, class Acc, class FoldOp, class CombineOp>
Acc parallel_fold(std::span<const In> items, const Acc& identity, FoldOp&& fold, CombineOp&& combine) {
  return parallel_fold(current_pool(), items, identity, std::forward<FoldOp>(fold),
                       std::forward<CombineOp>(combine));
}

template <class In, class Acc, class FoldOp, class CombineOp>
Acc parallel_fold(const std::vector<In>& items, const Acc& identity, FoldOp&& fold, CombineOp&& combine) {
  return parallel_fold(current_pool(), std::span<const In>(items), identity, std::forward<FoldOp>(fold),
                       std::forward<CombineOp>(combine));
}

}  // namespace zembra::parallel
