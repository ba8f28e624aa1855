// The worker pool and its primitives: order and results for several pool
// sizes, sorting against std::sort, failures inside tasks, concurrent
// submitters, and pools whose creation fails.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "check.h"
#include "pure/parallel/algorithm/fold.h"
#include "pure/parallel/algorithm/map.h"
#include "pure/parallel/algorithm/sort.h"
#include "pure/parallel/global_pool.h"
#include "pure/parallel/join.h"
#include "pure/parallel/pool.h"
#include "pure/parallel/pool_error.h"

using namespace zembra::parallel;

namespace {

const std::size_t kPoolSizes[] = {1, 2, 3, 8};
const std::size_t kLengths[] = {0, 1, 2, 3, 17, 1000, 100003};

OwnedPool make_pool(std::size_t threads) {
  auto pool = WorkerPool::create(threads);
  if (!pool) {
    std::printf("  cannot start a pool: %s\n", pool.error().c_str());
    std::abort();
  }
  return std::move(*pool);
}

std::vector<std::int64_t> iota(std::size_t n) {
  std::vector<std::int64_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::int64_t>(i);
  return v;
}

template <class Pred>
bool eventually(Pred pred) {
  for (int i = 0; i < 2000; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

// NaN last; NaNs are equal to each other.
bool nan_last(double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); }

bool same_doubles(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
  return true;
}

std::vector<double> pattern(const std::string& kind, std::size_t n, std::mt19937_64& rng) {
  std::vector<double> v(n);
  std::uniform_real_distribution<double> real(-1e6, 1e6);
  for (std::size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(i);
    if (kind == "random") v[i] = real(rng);
    else if (kind == "sorted") v[i] = x;
    else if (kind == "reversed") v[i] = -x;
    else if (kind == "equal") v[i] = 7.0;
    else if (kind == "few") v[i] = static_cast<double>(rng() % 3);
    else if (kind == "organ") v[i] = static_cast<double>(std::min(i, n - i));
    else if (kind == "nan") v[i] = rng() % 4 == 0 ? std::nan("") : real(rng);
    else if (kind == "infinities") v[i] = (rng() % 3 == 0) ? -INFINITY : (rng() % 2 ? INFINITY : -0.0);
  }
  return v;
}

}  // namespace

TEST_CASE("map keeps input order for every pool size and length") {
  for (std::size_t threads : kPoolSizes) {
    OwnedPool pool = make_pool(threads);
    CHECK_EQ(pool->thread_count(), threads);
    for (std::size_t n : kLengths) {
      const auto input = iota(n);
      const auto out = parallel_map(*pool, std::span<const std::int64_t>(input), [](std::int64_t x) {
        return std::to_string(x * 3 + 1);
      });
      CHECK_EQ(out.size(), n);
      bool ordered = true;
      for (std::size_t i = 0; i < n; ++i) ordered = ordered && out[i] == std::to_string(input[i] * 3 + 1);
      CHECK(ordered);
    }
  }
}

TEST_CASE("the process-wide pool serves map, fold and thread_count") {
  const std::size_t threads = thread_count();
  CHECK(threads >= 1);
  CHECK(!global_pool().is_current());
  const auto input = iota(50000);
  const auto out = parallel_map(input, [](std::int64_t x) { return x * x; });
  bool ordered = out.size() == input.size();
  for (std::size_t i = 0; ordered && i < out.size(); ++i) ordered = out[i] == input[i] * input[i];
  CHECK(ordered);
  const auto sum = parallel_fold(
      input, std::int64_t{0}, [](std::int64_t acc, std::int64_t x) { return acc + x; },
      [](std::int64_t a, std::int64_t b) { return a + b; });
  CHECK_EQ(sum, std::int64_t{50000} * 49999 / 2);
  CHECK(parallel_map(std::vector<int>{}, [](int x) { return x; }).empty());
}

TEST_CASE("work from outside runs on the workers; work on a worker runs inline") {
  OwnedPool pool = make_pool(2);
  const auto caller = std::this_thread::get_id();
  const std::vector<int> one{1};
  const auto ids = parallel_map(*pool, std::span<const int>(one), [](int) { return std::this_thread::get_id(); });
  CHECK(ids[0] != caller);
  const bool inline_on_worker = pool->run_blocking([&] {
    const auto here = std::this_thread::get_id();
    return pool->is_current() && thread_count() == 2 && pool->run_blocking([] { return std::this_thread::get_id(); }) == here;
  });
  CHECK(inline_on_worker);
}

// Deeply nested joins, as user code may write them.
std::int64_t fib(WorkerPool& pool, int n) {
  if (n < 2) return n;
  auto [a, b] = join(pool, [&] { return fib(pool, n - 1); }, [&] { return fib(pool, n - 2); });
  return a + b;
}

TEST_CASE("nested joins") {
  for (std::size_t threads : kPoolSizes) {
    OwnedPool pool = make_pool(threads);
    CHECK_EQ(fib(*pool, 22), std::int64_t{17711});
  }
  std::atomic<int> both{0};
  join([&] { both++; }, [&] { both++; });  // void halves, from outside, on the process-wide pool
  CHECK_EQ(both.load(), 2);
}

TEST_CASE("fold combines neighbours left to right") {
  for (std::size_t threads : kPoolSizes) {
    OwnedPool pool = make_pool(threads);
    for (std::size_t n : kLengths) {
      if (n > 5000) continue;  // string concatenation is quadratic
      const auto input = iota(n);
      std::string expected;
      for (auto x : input) expected += std::to_string(x) + ",";
      // Concatenation is associative but not commutative: any reordering of
      // items or of pieces shows.
      const std::string joined = parallel_fold(
          *pool, std::span<const std::int64_t>(input), std::string(),
          [](std::string acc, std::int64_t x) { return acc + std::to_string(x) + ","; },
          [](std::string a, std::string b) { return a + b; });
      CHECK_EQ(joined, expected);
    }
  }
}

TEST_CASE("fold of min and max over doubles") {
  OwnedPool pool = make_pool(4);
  std::mt19937_64 rng(7);
  const auto values = pattern("random", 30011, rng);
  struct MinMax {
    double lo = INFINITY, hi = -INFINITY;
  };
  const auto r = parallel_fold(
      *pool, std::span<const double>(values), MinMax{},
      [](MinMax acc, double x) { return MinMax{std::min(acc.lo, x), std::max(acc.hi, x)}; },
      [](MinMax a, MinMax b) { return MinMax{std::min(a.lo, b.lo), std::max(a.hi, b.hi)}; });
  CHECK_EQ(r.lo, *std::min_element(values.begin(), values.end()));
  CHECK_EQ(r.hi, *std::max_element(values.begin(), values.end()));
}

TEST_CASE("sort agrees with std::sort") {
  const std::size_t lengths[] = {0, 1, 2, 19, 20, 21, 49, 50, 51, 1999, 2000, 2001, 2002, 4001, 4003, 30000, 200000};
  const char* kinds[] = {"random", "sorted", "reversed", "equal", "few", "organ", "nan", "infinities"};
  OwnedPool four = make_pool(4);
  OwnedPool one = make_pool(1);
  std::mt19937_64 rng(42);
  for (const char* kind : kinds) {
    for (std::size_t n : lengths) {
      const auto input = pattern(kind, n, rng);
      auto expected = input;
      std::sort(expected.begin(), expected.end(), nan_last);
      for (int variant = 0; variant < 3; ++variant) {
        auto got = input;
        if (variant == 0) parallel_sort(std::span<double>(got), nan_last);
        if (variant == 1) parallel_sort(*four, std::span<double>(got), nan_last);
        if (variant == 2) parallel_sort(*one, std::span<double>(got), nan_last);
        if (!same_doubles(got, expected)) std::printf("  %s n=%zu variant %d\n", kind, n, variant);
        CHECK(same_doubles(got, expected));
      }
    }
  }
}

TEST_CASE("sort with a broken comparison stays in bounds and keeps every element") {
  OwnedPool pool = make_pool(3);
  std::mt19937_64 rng(3);
  std::atomic<std::uint64_t> coin{12345};
  auto random_answer = [&](double, double) {
    std::uint64_t s = coin.fetch_add(0x9E3779B97F4A7C15ull, std::memory_order_relaxed);
    s ^= s >> 29;
    return (s * 0xBF58476D1CE4E5B9ull) >> 63 != 0;
  };
  auto less_equal = [](double a, double b) { return a <= b; };
  auto bare_less = [](double a, double b) { return a < b; };  // NaN unordered
  auto always = [](double, double) { return true; };
  for (std::size_t n : {5, 21, 100, 2001, 5000, 100000}) {
    for (const char* kind : {"random", "nan", "equal"}) {
      const auto input = pattern(kind, n, rng);
      auto reference = input;
      std::sort(reference.begin(), reference.end(), nan_last);
      for (int which = 0; which < 4; ++which) {
        auto got = input;
        std::span<double> s(got);
        if (which == 0) parallel_sort(*pool, s, random_answer);
        if (which == 1) parallel_sort(*pool, s, less_equal);
        if (which == 2) parallel_sort(*pool, s, bare_less);
        if (which == 3) parallel_sort(*pool, s, always);
        std::sort(got.begin(), got.end(), nan_last);
        CHECK(same_doubles(got, reference));
      }
    }
  }
}

TEST_CASE("a failing task surfaces in the caller and the pool stays usable") {
  OwnedPool pool = make_pool(4);
  const auto input = iota(10000);
  for (std::int64_t bad : {0, 4999, 9999}) {
    bool caught = false;
    try {
      parallel_map(*pool, std::span<const std::int64_t>(input), [&](std::int64_t x) {
        if (x == bad) throw std::runtime_error("bad item " + std::to_string(x));
        return x;
      });
    } catch (const std::runtime_error& e) {
      caught = std::string(e.what()) == "bad item " + std::to_string(bad);
    }
    CHECK(caught);
    const auto again = parallel_map(*pool, std::span<const std::int64_t>(input), [](std::int64_t x) { return x + 1; });
    CHECK_EQ(again.back(), std::int64_t{10000});
  }
  // The other half of a join still completes; the left failure wins.
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> finished{0};
    std::string message;
    try {
      join(
          *pool,
          [&] {
            finished++;
            throw std::runtime_error("left");
          },
          [&] {
            std::this_thread::sleep_for(std::chrono::microseconds(round % 5 * 100));
            finished++;
            throw std::logic_error("right");
          });
    } catch (const std::exception& e) {
      message = e.what();
    }
    CHECK_EQ(finished.load(), 2);
    CHECK_EQ(message, std::string("left"));
  }
  bool right_only = false;
  try {
    join(*pool, [] { return 1; }, []() -> int { throw std::logic_error("right"); });
  } catch (const std::logic_error&) {
    right_only = true;
  }
  CHECK(right_only);
  const auto [a, b] = join(*pool, [] { return 2; }, [] { return std::string("x"); });
  CHECK_EQ(a, 2);
  CHECK_EQ(b, std::string("x"));
  // A comparison that throws deep inside a parallel sort.
  std::mt19937_64 rng(1);
  auto values = pattern("random", 50000, rng);
  const auto before = values;
  bool sort_failed = false;
  std::atomic<int> calls{0};
  try {
    parallel_sort(*pool, std::span<double>(values), [&](double x, double y) {
      if (calls.fetch_add(1) == 300000) throw std::runtime_error("cmp");
      return x < y;
    });
  } catch (const std::runtime_error&) {
    sort_failed = true;
  }
  CHECK(sort_failed);
  std::sort(values.begin(), values.end());
  auto sorted_before = before;
  std::sort(sorted_before.begin(), sorted_before.end());
  CHECK(values == sorted_before);
}

TEST_CASE("many threads submit at once") {
  OwnedPool pool = make_pool(3);
  const auto input = iota(20011);
  std::atomic<int> wrong{0};
  std::vector<std::thread> submitters;
  for (int t = 0; t < 8; ++t) {
    submitters.emplace_back([&, t] {
      std::mt19937_64 rng(t);
      for (int round = 0; round < 30; ++round) {
        WorkerPool& target = t % 2 ? *pool : global_pool();
        const auto out = parallel_map(target, std::span<const std::int64_t>(input),
                                      [t](std::int64_t x) { return x * 2 + t; });
        for (std::size_t i = 0; i < out.size(); ++i)
          if (out[i] != input[i] * 2 + t) wrong++;
        const auto sum = parallel_fold(
            target, std::span<const std::int64_t>(input), std::int64_t{0},
            [](std::int64_t acc, std::int64_t x) { return acc + x; },
            [](std::int64_t l, std::int64_t r) { return l + r; });
        if (sum != std::int64_t{20011} * 20010 / 2) wrong++;
        auto values = pattern("random", 3000 + round * 97, rng);
        parallel_sort(target, std::span<double>(values), nan_last);
        if (!std::is_sorted(values.begin(), values.end())) wrong++;
      }
    });
  }
  for (auto& s : submitters) s.join();
  CHECK_EQ(wrong.load(), 0);
}

TEST_CASE("a pool whose threads cannot all start fails and stops the started ones") {
  std::atomic<int> started{0}, exited{0};
  WorkerPool::ThreadStarter third_fails = [&](void* (*entry)(void*), void* arg, std::size_t stack_size) {
    CHECK(stack_size >= WorkerPool::kStackSize);
    if (started.load() == 2) return EAGAIN;
    started++;
    std::thread([entry, arg, &exited] {
      entry(arg);
      exited++;
    }).detach();
    return 0;
  };
  auto pool = WorkerPool::create(4, third_fails);
  CHECK(!pool);
  if (!pool) CHECK_EQ(pool.error(), std::system_category().message(EAGAIN) + " (os error " + std::to_string(EAGAIN) + ")");
  CHECK(eventually([&] { return exited.load() == 2; }));

  // A pool that goes away lets its workers go too.
  std::atomic<int> exited_after_use{0};
  WorkerPool::ThreadStarter counting = [&](void* (*entry)(void*), void* arg, std::size_t) {
    std::thread([entry, arg, &exited_after_use] {
      entry(arg);
      exited_after_use++;
    }).detach();
    return 0;
  };
  {
    auto used = WorkerPool::create(3, counting);
    CHECK(static_cast<bool>(used));
    const auto input = iota(1000);
    CHECK_EQ(parallel_map(**used, std::span<const std::int64_t>(input), [](std::int64_t x) { return x; }).size(),
             std::size_t{1000});
  }
  CHECK(eventually([&] { return exited_after_use.load() == 3; }));
}

TEST_CASE("running out of memory while starting threads stops the started ones") {
  std::atomic<int> started{0}, exited{0};
  WorkerPool::ThreadStarter third_throws = [&](void* (*entry)(void*), void* arg, std::size_t) -> int {
    if (started.load() == 2) throw std::bad_alloc();
    started++;
    std::thread([entry, arg, &exited] {
      entry(arg);
      exited++;
    }).detach();
    return 0;
  };
  bool threw = false;
  try {
    (void)WorkerPool::create(4, third_throws);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  CHECK(threw);
  CHECK(eventually([&] { return exited.load() == 2; }));
}

// ThreadSanitizer does not support starting threads after a multi-threaded
// fork.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZB_UNDER_TSAN 1
#endif
#endif
#if !defined(__SANITIZE_THREAD__) && !defined(ZB_UNDER_TSAN)
TEST_CASE("a forked child gets a pool of its own") {
  const auto input = iota(10000);
  CHECK_EQ(parallel_map(input, [](std::int64_t x) { return x; }).size(), input.size());  // the parent's pool exists
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);  // a hang in the child fails the case instead of the run
    const auto out = parallel_map(input, [](std::int64_t x) { return x + 1; });
    _exit(out.size() == input.size() && out.back() == 10000 ? 0 : 1);
  }
  int status = 0;
  CHECK(child > 0 && waitpid(child, &status, 0) == child);
  CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

namespace {
std::atomic<int> factory_calls{0};
zembra::Expected<OwnedPool, std::string> failing_factory() {
  factory_calls++;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the others pile up
  return zembra::fail(std::string("Resource temporarily unavailable (os error 11)"));
}
std::atomic<int> good_factory_calls{0};
zembra::Expected<OwnedPool, std::string> good_factory() {
  good_factory_calls++;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return WorkerPool::create(2);
}
}  // namespace

TEST_CASE("the once-only pool cell: one creation, failure for good") {
  PoolCell failing(&failing_factory);
  std::string first;
  try {
    failing.get();
  } catch (const PoolError& e) {
    first = e.what();
  }
  CHECK_EQ(first, std::string("The global thread pool has not been initialized.: "
                              "Resource temporarily unavailable (os error 11)"));
  std::vector<std::thread> users;
  std::atomic<int> later_failures{0};
  for (int i = 0; i < 6; ++i) {
    users.emplace_back([&] {
      try {
        failing.get();
      } catch (const zembra::Fault& e) {
        if (std::string(e.what()) ==
            "The global thread pool has not been initialized.: the pool was already initialized and its creation "
            "failed (Resource temporarily unavailable (os error 11))")
          later_failures++;
      }
    });
  }
  for (auto& u : users) u.join();
  CHECK_EQ(later_failures.load(), 6);
  CHECK_EQ(factory_calls.load(), 1);

  PoolCell good(&good_factory);
  std::vector<WorkerPool*> seen(6);
  users.clear();
  for (int i = 0; i < 6; ++i) users.emplace_back([&, i] { seen[i] = &good.get(); });
  for (auto& u : users) u.join();
  CHECK_EQ(good_factory_calls.load(), 1);
  for (WorkerPool* p : seen) CHECK(p == seen[0]);
  CHECK_EQ(seen[0]->thread_count(), std::size_t{2});
}

namespace {
std::atomic<int> flaky_factory_calls{0};
zembra::Expected<OwnedPool, std::string> out_of_memory_once_factory() {
  if (flaky_factory_calls++ == 0) throw std::bad_alloc();
  return WorkerPool::create(1);
}
}  // namespace

TEST_CASE("the pool cell passes running out of memory on and creates the pool later") {
  PoolCell cell(&out_of_memory_once_factory);
  bool threw = false;
  try {
    cell.get();
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  CHECK(threw);
  CHECK_EQ(cell.get().thread_count(), std::size_t{1});
  CHECK_EQ(flaky_factory_calls.load(), 2);
}

ZB_TEST_MAIN()
