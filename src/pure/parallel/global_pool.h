// The process-wide worker pool, created on first use.
//
// The pool is sized once from the environment (thread_count.h) and never
// stopped. Creation happens once: concurrent first users wait for it and see
// its outcome; a failed creation is not retried, and every use from then on
// throws PoolError. Only running out of memory (std::bad_alloc) while
// creating it fails that one use and leaves creation to the next. A child made by fork() starts over with a pool of its own,
// since the parent's worker threads do not exist there.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "pure/parallel/pool.h"
#include "pure/parallel/pool_error.h"

namespace zembra::parallel {

// A pool created once by a factory: not created, ready, or failed for good.
class PoolCell {
 public:
  using Factory = Expected<OwnedPool, std::string> (*)();

  explicit PoolCell(Factory factory) noexcept : factory_(factory) {}
  PoolCell(const PoolCell&) = delete;
  PoolCell& operator=(const PoolCell&) = delete;

  // The pool, created on the first call. Throws PoolError when creation fails
  // (with the factory's description) and on every call after that; passes
  // std::bad_alloc on without deciding the outcome.
  WorkerPool& get();

 private:
  enum class State { kNotCreated, kReady, kFailed };

  Factory factory_;
  std::atomic<WorkerPool*> ready_{nullptr};  // set once the pool is ready
  std::mutex mu_;
  State state_ = State::kNotCreated;  // guarded by mu_
  std::optional<OwnedPool> pool_;     // guarded by mu_
  std::string failure_;               // guarded by mu_
};

// The process-wide pool. Throws PoolError when it cannot be created.
WorkerPool& global_pool();

// The pool of the calling worker, or the process-wide pool off the workers.
WorkerPool& current_pool();

// The number of threads of current_pool(); may create the process-wide pool.
std::size_t thread_count();

// WorkerPool::run_blocking on current_pool().
template <class F>
decltype(auto) run_blocking(F&& task) {
  return current_pool().run_blocking(std::forward<F>(task));
}

}  // namespace zembra::parallel
