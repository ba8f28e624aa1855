// A pool of worker threads that run data-parallel work.
//
// Each worker owns a work-stealing deque. join() offers its right half on the
// current worker's deque, where idle workers can steal it; work from threads
// outside the pool enters through a shared queue (run_blocking), and the
// outside thread sleeps on a mutex and condition variable of its own until
// its task is done. Idle workers sleep on their own condition variable and
// are woken when work arrives. A task's exception is captured where it ran
// and rethrown in the thread that waits for it; the pool stays usable.
//
// The process-wide pool lives in global_pool.h. Pools made with create() are
// for tests and tools; their workers stop when the OwnedPool goes away.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <thread>
#include <vector>

#include "pure/common/expected.h"
#include "pure/parallel/deque.h"
#include "pure/parallel/job.h"

namespace zembra::parallel {

class OwnedPool;

// One worker thread's state. It lives in the pool; the thread finds it through
// thread-local state.
struct Worker {
  WorkerPool* pool = nullptr;
  std::size_t index = 0;
  WorkStealingDeque<Job, 256> deque;
  std::uint64_t rng = 0;  // victim choice; only this worker touches it
  // Guarded by the pool's sleep mutex.
  std::condition_variable wake;
  bool asleep = false;
  bool notified = false;  // woken to look for new work
};

class WorkerPool {
 public:
  // Starts one detached thread running entry(arg) with the given stack size.
  // Returns 0, or an OS error number (then entry(arg) never runs).
  using ThreadStarter = std::function<int(void* (*entry)(void*), void* arg, std::size_t stack_size)>;

  // Worker stack size, raised to the platform minimum where that is larger.
  static constexpr std::size_t kStackSize = std::size_t{2} << 20;

  // Starts `threads` workers (at least one). When a thread cannot be started,
  // the workers already running are told to stop and the error text of the
  // OS is returned. `start` replaces the thread starter, for tests.
  static Expected<OwnedPool, std::string> create(std::size_t threads, ThreadStarter start = {});

  std::size_t thread_count() const noexcept { return workers_.size(); }

  // True on one of this pool's worker threads.
  bool is_current() const noexcept { return current_worker() != nullptr; }

  // The pool of the worker thread calling, or nullptr off the workers.
  static WorkerPool* current() noexcept;

  // Runs task() to completion and returns its result. On a worker of this pool
  // it runs inline; otherwise it is queued, one sleeping worker is woken, and
  // the caller sleeps until it is done. An exception thrown by the task is
  // rethrown here.
  template <class F>
  std::invoke_result_t<F&> run_blocking(F&& task);

  // --- Machinery for join(); not meant for other callers. ---

  // This pool's worker running the caller, or nullptr.
  Worker* current_worker() const noexcept;
  // Puts a job on the worker's deque for thieves; false when the deque is full.
  bool offer(Worker& self, Job* job) noexcept;
  // Takes the newest job back from the worker's own deque.
  Job* take_back(Worker& self) noexcept { return self.deque.pop(); }
  // Runs other work until `done` is set.
  void work_until(Worker& self, const std::atomic<bool>& done) noexcept;
  void execute(Worker& self, Job* job) noexcept { job->execute(job->origin != &self); }
  // Wakes `waiter` if it sleeps in work_until(); called after setting its flag.
  void wake_waiter(Worker* waiter) noexcept;

  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };
  WorkerPool(ConstructionKey, std::size_t threads);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

 private:
  friend class OwnedPool;

  static void* thread_main(void* start_args);
  void run(Worker& self) noexcept;
  void inject(Job* job);
  Job* take_injected() noexcept;
  Job* find_work(Worker& self) noexcept;
  // A job to run, or nullptr once `done` is set (or, when `done` is null, once
  // the pool is stopping).
  Job* wait_for_job(Worker& self, const std::atomic<bool>* done) noexcept;
  bool has_visible_work() const noexcept;
  void announce_work() noexcept;
  void stop() noexcept;

  std::vector<std::unique_ptr<Worker>> workers_;

  std::mutex injected_mu_;
  std::deque<Job*> injected_;                    // guarded by injected_mu_
  std::atomic<std::size_t> injected_count_{0};  // lets idle workers skip the lock

  // Sleeping protocol. Whoever publishes work bumps events_ (seq_cst), then
  // reads sleepers_ and, if anyone may sleep, wakes one under sleep_mu_. A
  // worker about to sleep bumps sleepers_ (seq_cst), then rereads events_,
  // and once more under sleep_mu_ before waiting. In the single order of
  // seq_cst operations one of the two sees the other, so work is never left
  // behind by a worker that went to sleep just as it arrived. A finished join
  // wakes its waiting owner the same way, with the job's flag for events_.
  std::atomic<std::uint64_t> events_{0};
  std::atomic<std::size_t> sleepers_{0};
  std::mutex sleep_mu_;
  std::size_t wake_cursor_ = 0;  // guarded by sleep_mu_; spreads wake-ups
  std::atomic<bool> stopping_{false};
};

// Owner of a pool made with create(): tells its workers to stop when it goes
// away. Workers finish what they run and exit on their own.
class OwnedPool {
 public:
  explicit OwnedPool(std::shared_ptr<WorkerPool> pool) noexcept : pool_(std::move(pool)) {}
  OwnedPool(OwnedPool&&) noexcept = default;
  OwnedPool& operator=(OwnedPool&&) = delete;
  ~OwnedPool() {
    if (pool_) pool_->stop();
  }

  WorkerPool& operator*() const noexcept { return *pool_; }
  WorkerPool* operator->() const noexcept { return pool_.get(); }
  WorkerPool* get() const noexcept { return pool_.get(); }

 private:
  std::shared_ptr<WorkerPool> pool_;
};

namespace detail {

// A task queued from outside the pool; its submitter waits on the job's own
// mutex and condition variable.
template <class F, class R>
class InjectedJob : public Job {
 public:
  explicit InjectedJob(F& fn) noexcept : Job(&InjectedJob::execute_fn), fn_(fn) {}

  void wait() {
    // Short operations finish before a sleep and a wake-up would: look at
    // the flag for a moment first. The lock below is still taken, so the
    // worker is done with this job when wait() returns.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
    while (!done_.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until) {
      std::this_thread::yield();
    }
    std::unique_lock<std::mutex> lock(mu_);
    finished_cv_.wait(lock, [this] { return finished_; });
  }

  ResultSlot<R> result;

 private:
  static void execute_fn(Job* base, bool) noexcept {
    auto* self = static_cast<InjectedJob*>(base);
    self->result.run(self->fn_);
    // Signal while holding the lock: the waiter cannot return, and free this
    // job, before the lock is released.
    std::lock_guard<std::mutex> lock(self->mu_);
    self->finished_ = true;
    self->done_.store(true, std::memory_order_release);
    self->finished_cv_.notify_one();
  }

  F& fn_;
  std::mutex mu_;
  std::condition_variable finished_cv_;
  bool finished_ = false;                // guarded by mu_
  std::atomic<bool> done_{false};        // the same, for the spin in wait()
};

}  // namespace detail

template <class F>
std::invoke_result_t<F&> WorkerPool::run_blocking(F&& task) {
  using R = std::invoke_result_t<F&>;
  if (is_current()) return std::invoke(task);
  detail::InjectedJob<std::remove_reference_t<F>, R> job(task);
  inject(&job);
  job.wait();
  if constexpr (std::is_void_v<R>) {
    job.result.rethrow_if_failed();
  } else {
    return job.result.take();
  }
}

}  // namespace zembra::parallel
