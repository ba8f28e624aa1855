#include "pure/parallel/pool.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <system_error>
#include <thread>

namespace zembra::parallel {
namespace {

// The worker the current thread runs as, for the thread's whole life.
constinit thread_local Worker* tls_worker = nullptr;

// Rounds of looking for work (with a yield between) before a worker sleeps:
// enough to bridge the short gaps between the pieces of one operation.
constexpr int kSpinRounds = 32;
// An idle worker keeps looking for work this long before it sleeps: calls
// that come back to back (one request validating several wide records)
// then find the workers awake instead of paying two wake-ups each.
constexpr auto kIdleSpin = std::chrono::microseconds(200);
// A steal that loses a race may leave more items behind; retry a little.
constexpr int kStealAttempts = 4;

struct StartArgs {
  std::shared_ptr<WorkerPool> pool;
  Worker* worker;
};

int start_detached_thread(void* (*entry)(void*), void* arg, std::size_t stack_size) {
  pthread_attr_t attr;
  int err = pthread_attr_init(&attr);
  if (err != 0) return err;
  err = pthread_attr_setstacksize(&attr, stack_size);
  if (err == 0) err = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  if (err == 0) err = pthread_create(&thread, &attr, entry, arg);
  pthread_attr_destroy(&attr);
  return err;
}

std::string os_error_text(int err) {
  return std::system_category().message(err) + " (os error " + std::to_string(err) + ")";
}

std::uint64_t next_random(std::uint64_t& state) noexcept {
  // xorshift64: cheap and good enough to spread thieves over victims.
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

}  // namespace

WorkerPool::WorkerPool(ConstructionKey, std::size_t threads) {
  workers_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) {
    auto worker = std::make_unique<Worker>();
    worker->pool = this;
    worker->index = i;
    worker->rng = 0x9E3779B97F4A7C15ull * (i + 1);
    workers_.push_back(std::move(worker));
  }
}

Expected<OwnedPool, std::string> WorkerPool::create(std::size_t threads, ThreadStarter start) {
  if (!start) start = &start_detached_thread;
  auto pool = std::make_shared<WorkerPool>(ConstructionKey{}, std::max<std::size_t>(threads, 1));
  const std::size_t stack_size = std::max<std::size_t>(kStackSize, static_cast<std::size_t>(PTHREAD_STACK_MIN));
  try {
    for (auto& worker : pool->workers_) {
      auto args = std::make_unique<StartArgs>(StartArgs{pool, worker.get()});
      const int err = start(&WorkerPool::thread_main, args.get(), stack_size);
      if (err != 0) {
        pool->stop();
        return fail(os_error_text(err));
      }
      args.release();  // owned by the new thread now
    }
  } catch (...) {
    pool->stop();  // out of memory part way: the workers started so far end
    throw;
  }
  return OwnedPool(std::move(pool));
}

void* WorkerPool::thread_main(void* start_args) {
  std::shared_ptr<WorkerPool> pool;
  Worker* self;
  {
    std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(start_args));
    pool = std::move(args->pool);
    self = args->worker;
  }
  tls_worker = self;
  pool->run(*self);
  tls_worker = nullptr;
  return nullptr;  // the last worker out frees a stopped pool
}

WorkerPool* WorkerPool::current() noexcept { return tls_worker ? tls_worker->pool : nullptr; }

Worker* WorkerPool::current_worker() const noexcept {
  return tls_worker && tls_worker->pool == this ? tls_worker : nullptr;
}

void WorkerPool::run(Worker& self) noexcept {
  while (Job* job = wait_for_job(self, nullptr)) execute(self, job);
}

bool WorkerPool::offer(Worker& self, Job* job) noexcept {
  if (!self.deque.push(job)) return false;
  announce_work();
  return true;
}

void WorkerPool::inject(Job* job) {
  {
    std::lock_guard<std::mutex> lock(injected_mu_);
    injected_.push_back(job);
    injected_count_.fetch_add(1, std::memory_order_seq_cst);
  }
  announce_work();
}

Job* WorkerPool::take_injected() noexcept {
  if (injected_count_.load(std::memory_order_seq_cst) == 0) return nullptr;
  std::lock_guard<std::mutex> lock(injected_mu_);
  if (injected_.empty()) return nullptr;
  Job* job = injected_.front();
  injected_.pop_front();
  injected_count_.fetch_sub(1, std::memory_order_seq_cst);
  return job;
}

Job* WorkerPool::find_work(Worker& self) noexcept {
  if (Job* job = self.deque.pop()) return job;
  const std::size_t n = workers_.size();
  if (n > 1) {
    const std::size_t first = static_cast<std::size_t>(next_random(self.rng) % n);
    for (std::size_t k = 0; k < n; ++k) {
      Worker& victim = *workers_[(first + k) % n];
      if (&victim == &self) continue;
      for (int attempt = 0; attempt < kStealAttempts; ++attempt) {
        if (Job* job = victim.deque.steal()) return job;
        if (victim.deque.looks_empty()) break;
      }
    }
  }
  return take_injected();
}

bool WorkerPool::has_visible_work() const noexcept {
  if (injected_count_.load(std::memory_order_seq_cst) != 0) return true;
  for (const auto& worker : workers_)
    if (!worker->deque.looks_empty()) return true;
  return false;
}

void WorkerPool::announce_work() noexcept {
  // seq_cst: see the sleeping protocol in pool.h.
  events_.fetch_add(1, std::memory_order_seq_cst);
  if (sleepers_.load(std::memory_order_seq_cst) == 0) return;
  std::lock_guard<std::mutex> lock(sleep_mu_);
  const std::size_t n = workers_.size();
  for (std::size_t k = 0; k < n; ++k) {
    Worker& worker = *workers_[(wake_cursor_ + k) % n];
    if (worker.asleep && !worker.notified) {
      worker.notified = true;
      worker.wake.notify_one();
      wake_cursor_ = (wake_cursor_ + k + 1) % n;
      return;
    }
  }
}

void WorkerPool::wake_waiter(Worker* waiter) noexcept {
  // The caller stored the waiter's flag with seq_cst before this load, and the
  // waiter rereads its flag after bumping sleepers_: one of them sees the other.
  if (waiter == nullptr || sleepers_.load(std::memory_order_seq_cst) == 0) return;
  std::lock_guard<std::mutex> lock(sleep_mu_);
  // The waiter's predicate reads its flag, which is already set.
  if (waiter->asleep) waiter->wake.notify_one();
}

Job* WorkerPool::wait_for_job(Worker& self, const std::atomic<bool>* done) noexcept {
  // A worker waiting for a join must finish it, so only the idle loop stops.
  auto finished = [&] {
    return done ? done->load(std::memory_order_seq_cst) : stopping_.load(std::memory_order_seq_cst);
  };
  int idle_rounds = 0;
  auto idle_since = std::chrono::steady_clock::now();
  for (;;) {
    if (finished()) return nullptr;
    const std::uint64_t seen = events_.load(std::memory_order_seq_cst);
    if (Job* job = find_work(self)) return job;
    if (++idle_rounds < kSpinRounds || std::chrono::steady_clock::now() - idle_since < kIdleSpin) {
      std::this_thread::yield();
      continue;
    }
    idle_rounds = 0;

    // Announce the intent to sleep, then look once more. The scan of the
    // deques stays outside the lock; the cheap recheck under the lock catches
    // work announced by someone who took the lock first.
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    bool took_wakeup = false;
    if (events_.load(std::memory_order_seq_cst) == seen && !finished() && !has_visible_work()) {
      std::unique_lock<std::mutex> lock(sleep_mu_);
      if (events_.load(std::memory_order_seq_cst) == seen && !finished()) {
        self.asleep = true;
        self.notified = false;
        self.wake.wait(lock, [&] { return self.notified || finished(); });
        self.asleep = false;
        took_wakeup = self.notified;
      }
    }
    sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    idle_since = std::chrono::steady_clock::now();
    // Woken for new work but leaving for the join instead: pass the wake-up on.
    if (took_wakeup && done && finished()) announce_work();
  }
}

void WorkerPool::work_until(Worker& self, const std::atomic<bool>& done) noexcept {
  while (Job* job = wait_for_job(self, &done)) execute(self, job);
}

void WorkerPool::stop() noexcept {
  std::lock_guard<std::mutex> lock(sleep_mu_);
  stopping_.store(true, std::memory_order_seq_cst);
  for (auto& worker : workers_) worker->wake.notify_one();
}

}  // namespace zembra::parallel
