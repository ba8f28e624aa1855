// parallel_map: an order-preserving map of an array on the worker pool.
//
// Result i is fn(items[i]), whichever thread computed it. The result vector
// is sized before the work starts and each piece writes its own index range
// in place. fn is called concurrently from several threads.
//
// The pool is looked up first, so the first call of the process creates the
// process-wide pool even for an empty input (and throws PoolError if that
// fails). From outside the pool the whole operation is submitted with
// run_blocking; the calling thread does none of the work. An exception thrown
// by fn is rethrown here once every piece has finished.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <type_traits>
#include <vector>

#include "pure/parallel/algorithm/split.h"
#include "pure/parallel/global_pool.h"
#include "pure/parallel/pool.h"

namespace zembra::parallel {

template <class In, class F>
auto parallel_map(WorkerPool& pool, std::span<const In> items, F&& fn)
    -> std::vector<std::decay_t<std::invoke_result_t<F&, const In&>>> {
  using Out = std::decay_t<std::invoke_result_t<F&, const In&>>;
  // std::vector<bool> packs bits, so neighbouring slots cannot be written from
  // different threads.
  static_assert(!std::is_same_v<Out, bool>, "parallel_map cannot fill a std::vector<bool>; return std::uint8_t");
  static_assert(std::is_default_constructible_v<Out>, "parallel_map pre-sizes its result");

  const std::size_t threads = pool.thread_count();
  std::vector<Out> out(items.size());
  if (items.empty()) return out;
  auto leaf = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) out[i] = std::invoke(fn, items[i]);
    return Unit{};
  };
  auto merge = [](Unit, Unit) { return Unit{}; };
  pool.run_blocking(
      [&] { return detail::split_range(pool, 0, items.size(), detail::SplitBudget(threads), false, leaf, merge); });
  return out;
}

// On the calling worker's pool, or the process-wide pool off the workers.
template <class In, class F>
auto parallel_map(std::span<const In> items, F&& fn) {
  return parallel_map(current_pool(), items, std::forward<F>(fn));
}

template <class In, class F>
auto parallel_map(const std::vector<In>& items, F&& fn) {
  return parallel_map(current_pool(), std::span<const In>(items), std::forward<F>(fn));
}

}  // namespace zembra::parallel
