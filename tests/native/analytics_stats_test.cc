// Statistics accumulators, the NaN-last order and the final numbers.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "pure/analytics/stats.h"
#include "check.h"

using namespace zembra::analytics;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Same value, with NaN equal to NaN and 0.0 distinct from -0.0.
bool same(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The whole pipeline as the caller runs it, with the folds split at `cut`
// (like two pieces of a parallel fold, each started from the identity).
StatsSummary summarize(std::vector<double> v, std::size_t cut) {
  cut = std::min(cut, v.size());
  StatsAccumulator left = kStatsIdentity, right = kStatsIdentity;
  for (std::size_t k = 0; k < cut; ++k) left = stats_fold(left, v[k]);
  for (std::size_t k = cut; k < v.size(); ++k) right = stats_fold(right, v[k]);
  const StatsAccumulator acc = stats_combine(stats_combine(kStatsIdentity, left), right);

  double squared = 0.0;
  const double mean = stats_mean(acc, v.size());
  if (deviation_pass_needed(mean)) {
    const SquaredDeviationFold step{mean};
    double l = 0.0, r = 0.0;
    for (std::size_t k = 0; k < cut; ++k) l = step(l, v[k]);
    for (std::size_t k = cut; k < v.size(); ++k) r = step(r, v[k]);
    squared = squared_deviation_combine(l, r);
  }
  place_median_elements(v, acc);
  return stats_summary(acc, squared, v);
}

struct StatsCase {
  const char* name;
  std::vector<double> values;
  StatsSummary expected;
};

}  // namespace

TEST_CASE("summary of small lists, NaN and infinities") {
  const StatsCase cases[] = {
      {"single", {5}, {5, 5, 0, 5, 5, 1}},
      {"even", {1, 2, 3, 4}, {2.5, 2.5, std::sqrt(1.25), 1, 4, 4}},
      {"odd unsorted", {3, 1, 2}, {2, 2, std::sqrt(2.0 / 3.0), 1, 3, 3}},
      {"sum overflows", {1e308, 1e308}, {kInf, kInf, 0, 1e308, 1e308, 2}},
      {"lone NaN", {kNaN}, {kNaN, kNaN, 0, kInf, -kInf, 1}},
      {"NaN sorts last", {3, kNaN, 1}, {kNaN, 3, 0, 1, 3, 3}},
      {"NaNs reach the middle", {kNaN, 2, kNaN, 1}, {kNaN, kNaN, 0, 1, 2, 4}},
      {"NaN first, then numbers", {kNaN, 4, 2}, {kNaN, 4, 0, 2, 4, 3}},
      {"infinity", {kInf, 1}, {kInf, kInf, 0, 1, kInf, 2}},
      {"both infinities", {kInf, -kInf}, {kNaN, kNaN, 0, -kInf, kInf, 2}},
      {"equal values", {7.25, 7.25, 7.25}, {7.25, 7.25, 0, 7.25, 7.25, 3}},
      // Far from zero the sum of squares has no bits left for the spread;
      // deviations from the mean keep it exact.
      {"large offset", {1e9, 1e9 + 1, 1e9 + 2, 1e9 + 3}, {1e9 + 1.5, 1e9 + 1.5, std::sqrt(1.25), 1e9, 1e9 + 3, 4}},
      {"offset 1e15", {1e15 + 2, 1e15 - 2}, {1e15, 1e15, 2, 1e15 - 2, 1e15 + 2, 2}},
      // Squared deviations overflow: IEEE gives +inf.
      {"deviation overflow", {1e200, -1e200}, {0, 0, kInf, -1e200, 1e200, 2}},
      {"signed zeros", {0.0, -0.0}, {0, 0, 0, -0.0, 0.0, 2}},
      // The middle zero is the one a stable sort puts there: input order.
      {"middle zero in input order", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -0.0, -1},
       {-1.0 / 15, 0.0, std::sqrt(14.0) / 15, -1, 0, 15}},
      {"negative zero in the middle", {0.0, -0.0, 0.0}, {0, -0.0, 0, -0.0, 0, 3}},
      {"two negative zeros in the middle", {1, 0.0, -0.0, -0.0, -1, 0.0}, {0, -0.0, std::sqrt(1.0 / 3), -1, 1, 6}},
  };
  for (const auto& c : cases) {
    for (std::size_t cut = 0; cut <= c.values.size(); ++cut) {
      const StatsSummary s = summarize(c.values, cut);
      const StatsSummary& e = c.expected;
      if (!(same(s.mean, e.mean) && same(s.median, e.median) && same(s.stdev, e.stdev) && same(s.min, e.min) &&
            same(s.max, e.max) && s.count == e.count)) {
        std::printf("  %s (cut %zu): mean %.17g median %.17g stdev %.17g min %g max %g count %zu\n", c.name, cut,
                    s.mean, s.median, s.stdev, s.min, s.max, s.count);
        ++zbtest::failures();
      }
    }
  }
}

TEST_CASE("the placed middle elements are those of a stable sort") {
  std::mt19937_64 rng(11);
  const double pool[] = {-0.0, 0.0, -0.0, 0.0, 1.0, -1.0, 2.5, -kInf, kInf, kNaN};
  for (int round = 0; round < 4000; ++round) {
    std::vector<double> v(1 + rng() % 40);
    for (double& x : v) x = pool[rng() % (round % 3 == 0 ? 4 : std::size(pool))];
    StatsAccumulator acc = kStatsIdentity;
    for (double x : v) acc = stats_fold(acc, x);
    std::vector<double> sorted = v;
    std::stable_sort(sorted.begin(), sorted.end(), nan_last_less);
    std::vector<double> placed = v;
    place_median_elements(placed, acc);
    const std::size_t n = v.size();
    CHECK(same(placed[n / 2], sorted[n / 2]));
    if (n % 2 == 0) CHECK(same(placed[n / 2 - 1], sorted[n / 2 - 1]));
    // Still the same values: only their order changed.
    auto key = [](double x) { return std::isnan(x) ? ~std::uint64_t{0} : std::bit_cast<std::uint64_t>(x); };
    std::vector<std::uint64_t> before, after;
    for (double x : v) before.push_back(key(x));
    for (double x : placed) after.push_back(key(x));
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    CHECK(before == after);
  }
}

TEST_CASE("median of an even count adds, then halves") {
  // (a + b) * 0.5, not a + (b - a) / 2: the two differ in the last bit here.
  const std::vector<double> v = {0.1, 0.7};
  CHECK(same(summarize(v, 1).median, (0.1 + 0.7) * 0.5));
}

TEST_CASE("min and max ignore NaN and settle signed-zero ties") {
  const struct {
    double a, b, min, max;
  } cases[] = {
      {1, 2, 1, 2},        {2, 1, 1, 2},          {kNaN, 3, 3, 3},     {3, kNaN, 3, 3},
      {kInf, kNaN, kInf, kInf}, {-0.0, 0.0, -0.0, 0.0}, {0.0, -0.0, -0.0, 0.0}, {-kInf, kInf, -kInf, kInf},
  };
  for (const auto& c : cases) {
    CHECK(same(min_ignoring_nan(c.a, c.b), c.min));
    CHECK(same(max_ignoring_nan(c.a, c.b), c.max));
  }
  CHECK(std::isnan(min_ignoring_nan(kNaN, kNaN)));
  // Folding NaN into the identity leaves the identity's bounds.
  const StatsAccumulator acc = stats_fold(kStatsIdentity, kNaN);
  CHECK(same(acc.min, kInf) && same(acc.max, -kInf) && std::isnan(acc.sum));
}

TEST_CASE("NaN-last order is a strict weak ordering") {
  const double v[] = {-kInf, -1.0, -0.0, 0.0, 5e-324, 1.0, kInf, kNaN, -kNaN};
  auto equiv = [](double a, double b) { return !nan_last_less(a, b) && !nan_last_less(b, a); };
  for (double a : v) {
    CHECK(!nan_last_less(a, a));
    for (double b : v) {
      CHECK(!(nan_last_less(a, b) && nan_last_less(b, a)));
      for (double c : v) {
        if (nan_last_less(a, b) && nan_last_less(b, c)) CHECK(nan_last_less(a, c));
        if (equiv(a, b) && equiv(b, c)) CHECK(equiv(a, c));
      }
    }
  }
  CHECK(nan_last_less(kInf, kNaN));
  CHECK(!nan_last_less(kNaN, kInf));
}

TEST_CASE("empty input has count 0") {
  const StatsSummary s = stats_summary(kStatsIdentity, 0.0, {});
  CHECK_EQ(s.count, std::size_t{0});
  CHECK(std::isnan(s.mean) && std::isnan(s.stdev));
}

ZB_TEST_MAIN()
