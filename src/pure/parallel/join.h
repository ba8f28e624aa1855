// join: run two tasks, possibly at the same time, and return both results.
//
// On a worker the left task runs on the current thread while the right one
// waits on the worker's deque for an idle worker to steal it; if nobody has
// taken it by the time the left task is done, the current thread runs it
// too. Called from outside the pool, the whole join is submitted with
// run_blocking. When a task throws, the other one still runs to completion;
// then the exception is rethrown here (the left one's first if both threw).
//
// join_context passes each task a `migrated` flag: true when it runs on
// another thread than the one that called join (the adaptive splitting of the
// primitives takes that as a sign of idle workers).
#pragma once

#include <atomic>
#include <functional>
#include <type_traits>
#include <utility>

#include "pure/parallel/global_pool.h"
#include "pure/parallel/job.h"
#include "pure/parallel/pool.h"

namespace zembra::parallel {

template <class A, class B>
using JoinResult = std::pair<ValueOrUnit<std::decay_t<std::invoke_result_t<A&>>>,
                             ValueOrUnit<std::decay_t<std::invoke_result_t<B&>>>>;

template <class A, class B>
using JoinContextResult =
    std::pair<ValueOrUnit<std::invoke_result_t<A&, bool>>, ValueOrUnit<std::invoke_result_t<B&, bool>>>;

namespace detail {

// The right half of a join, offered to thieves from the joiner's frame.
template <class F, class R>
class JoinJob : public Job {
 public:
  JoinJob(F& fn, WorkerPool& pool, Worker& owner) noexcept
      : Job(&JoinJob::execute_fn, &owner), fn_(fn), pool_(pool) {}

  // The owner took the job back: no one else will touch it.
  void run_here() noexcept { result.run(fn_, false); }
  const std::atomic<bool>& done() const noexcept { return done_; }

  ResultSlot<R> result;

 private:
  static void execute_fn(Job* base, bool migrated) noexcept {
    auto* self = static_cast<JoinJob*>(base);
    self->result.run(self->fn_, migrated);
    WorkerPool& pool = self->pool_;
    Worker* owner = self->origin;
    // From here on the owner may return and free this job. seq_cst pairs with
    // the owner's reread of the flag after it announces that it sleeps;
    // being a release, it also publishes `result`.
    self->done_.store(true, std::memory_order_seq_cst);
    pool.wake_waiter(owner);
  }

  F& fn_;
  WorkerPool& pool_;
  std::atomic<bool> done_{false};
};

template <class A, class B>
JoinContextResult<A, B> join_on_worker(WorkerPool& pool, Worker& self, A& left, B& right) {
  using RA = std::invoke_result_t<A&, bool>;
  using RB = std::invoke_result_t<B&, bool>;
  JoinJob<B, RB> right_job(right, pool, self);
  const bool offered = pool.offer(self, &right_job);

  ResultSlot<RA> left_result;
  left_result.run(left, false);

  if (!offered) {
    right_job.run_here();
  } else {
    // Everything the left task queued has been settled by now, so the newest
    // entry of the deque is the right task unless a thief took it.
    while (!right_job.done().load(std::memory_order_acquire)) {
      Job* job = pool.take_back(self);
      if (job == &right_job) {
        right_job.run_here();
        break;
      }
      if (job == nullptr) {
        pool.work_until(self, right_job.done());
        break;
      }
      pool.execute(self, job);  // not expected; run it rather than lose it
    }
  }
  auto left_value = left_result.take();
  return {std::move(left_value), right_job.result.take()};
}

}  // namespace detail

template <class A, class B>
JoinContextResult<A, B> join_context(WorkerPool& pool, A&& left, B&& right) {
  if (Worker* self = pool.current_worker()) return detail::join_on_worker(pool, *self, left, right);
  return pool.run_blocking([&] { return detail::join_on_worker(pool, *pool.current_worker(), left, right); });
}

template <class A, class B>
JoinResult<A, B> join(WorkerPool& pool, A&& left, B&& right) {
  auto left_task = [&](bool) { return std::invoke(left); };
  auto right_task = [&](bool) { return std::invoke(right); };
  return join_context(pool, left_task, right_task);
}

// On the calling worker's pool, or the process-wide pool off the workers.
template <class A, class B>
JoinResult<A, B> join(A&& left, B&& right) {
  return join(current_pool(), std::forward<A>(left), std::forward<B>(right));
}

}  // namespace zembra::parallel
