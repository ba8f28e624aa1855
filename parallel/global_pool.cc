#include "parallel/global_pool.h"

#include <exception>

#include "parallel/thread_count.h"

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
  // A factory that throws (out of memory) fails creation like any other error.
  std::optional<Expected<OwnedPool, std::string>> created;
  try {
    created.emplace(factory_());
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

PoolCell& process_cell() {
  // Never destroyed: detached workers and late callers may outlive static
  // destruction at exit.
  union Holder {
    Holder() : cell(&create_process_pool) {}
    ~Holder() {}
    PoolCell cell;
  };
  static Holder holder;
  return holder.cell;
}

}  // namespace

WorkerPool& global_pool() { return process_cell().get(); }

WorkerPool& current_pool() {
  if (WorkerPool* pool = WorkerPool::current()) return *pool;
  return global_pool();
}

std::size_t thread_count() { return current_pool().thread_count(); }

}  // namespace zembra::parallel
