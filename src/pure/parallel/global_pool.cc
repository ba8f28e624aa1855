#include "pure/parallel/global_pool.h"

#include <pthread.h>

#include <exception>
#include <memory>
#include <new>

#include "pure/parallel/thread_count.h"

namespace zembra::parallel {

WorkerPool& PoolCell::get() {
  if (WorkerPool* pool = ready_.load(std::memory_order_acquire)) return *pool;
  std::lock_guard<std::mutex> lock(mu_);
  switch (state_) {
    case State::kReady:
      return **pool_;
    case State::kFailed:
      throw PoolError(std::string(kPoolCreationFailedEarlier) + " (" + failure_ + ")");
    case State::kNotCreated:
      break;
  }
  // Running out of memory is passed on as it is (the caller reports it as
  // such) and the next use tries again; any other exception of the factory
  // fails creation for good like an error it returns.
  std::optional<Expected<OwnedPool, std::string>> created;
  try {
    created.emplace(factory_());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    created.emplace(fail(std::string(e.what())));
  }
  if (!*created) {
    state_ = State::kFailed;
    failure_ = created->error();
    throw PoolError(failure_);
  }
  pool_.emplace(std::move(**created));
  state_ = State::kReady;
  ready_.store(pool_->get(), std::memory_order_release);
  return **pool_;
}

namespace {

Expected<OwnedPool, std::string> create_process_pool() {
  return WorkerPool::create(thread_count_from_environment());
}

// Never destroyed: detached workers and late callers may outlive static
// destruction at exit.
union ProcessCell {
  ProcessCell() : cell(&create_process_pool) {}
  ~ProcessCell() {}
  PoolCell cell;
};

ProcessCell& process_storage() {
  static ProcessCell storage;
  // A forked child is a new process without the parent's worker threads: it
  // gets a cell of its own, and so a pool of its own on first use. The
  // parent's pool is abandoned, not destroyed (its locks may be held by
  // threads that do not exist in the child).
  static const int registered =
      pthread_atfork(nullptr, nullptr, [] { std::construct_at(&process_storage().cell, &create_process_pool); });
  (void)registered;
  return storage;
}

}  // namespace

WorkerPool& global_pool() { return process_storage().cell.get(); }

WorkerPool& current_pool() {
  if (WorkerPool* pool = WorkerPool::current()) return *pool;
  return global_pool();
}

std::size_t thread_count() { return current_pool().thread_count(); }

}  // namespace zembra::parallel
