// Summary statistics of an array of doubles: mean, median, population
// standard deviation, minimum, maximum and count.
//
// The work is split so that a parallel fold and a parallel sort can do it:
//   1. fold the values with stats_fold / stats_combine from kStatsIdentity;
//   2. mean = stats_mean(acc, n); when deviation_pass_needed(mean), fold the
//      values with SquaredDeviationFold{mean} / squared_deviation_combine
//      from 0.0 (otherwise pass 0.0 on, the result ignores it);
//   3. place_median_elements(values, acc), on the values still in input
//      order (or sort them stably with nan_last_less);
//   4. stats_summary(acc, squared_deviations, values).
// The variance comes from deviations from the mean rather than from the sum
// of squares minus the squared mean, which cancels catastrophically for
// values far from zero.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace zembra::analytics {

namespace stats_detail {
constexpr bool is_nan(double x) noexcept { return x != x; }
constexpr bool sign_bit(double x) noexcept { return std::bit_cast<std::uint64_t>(x) >> 63; }
}  // namespace stats_detail

// NaN never replaces a number and a number replaces NaN. A tie between 0.0
// and -0.0 gives -0.0, whichever side it comes from, so the result does not
// depend on how a parallel fold split the array.
constexpr double min_ignoring_nan(double a, double b) noexcept {
  if (b < a) return b;
  if (a < b) return a;
  if (stats_detail::is_nan(a)) return b;
  if (stats_detail::is_nan(b)) return a;
  return stats_detail::sign_bit(b) ? b : a;  // equal: prefer -0.0
}

// Mirror of min_ignoring_nan; a tie between 0.0 and -0.0 gives 0.0.
constexpr double max_ignoring_nan(double a, double b) noexcept {
  if (b > a) return b;
  if (a > b) return a;
  if (stats_detail::is_nan(a)) return b;
  if (stats_detail::is_nan(b)) return a;
  return stats_detail::sign_bit(b) ? a : b;  // equal: prefer +0.0
}

// First pass: running sum, minimum and maximum. The sum propagates NaN and
// infinities by IEEE arithmetic; minimum and maximum ignore NaN. The counts
// of negative numbers and of zeros say where the zeros sit in sorted order,
// which the median needs to tell 0.0 from -0.0.
struct StatsAccumulator {
  double sum;
  double min;
  double max;
  std::size_t below_zero;  // x < 0
  std::size_t zeros;       // x == 0, either sign
};

inline constexpr StatsAccumulator kStatsIdentity = {
    0.0, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), 0, 0};

constexpr StatsAccumulator stats_fold(StatsAccumulator acc, double x) noexcept {
  return {acc.sum + x, min_ignoring_nan(acc.min, x), max_ignoring_nan(acc.max, x),
          acc.below_zero + (x < 0.0 ? 1u : 0u), acc.zeros + (x == 0.0 ? 1u : 0u)};
}

constexpr StatsAccumulator stats_combine(StatsAccumulator left, StatsAccumulator right) noexcept {
  return {left.sum + right.sum, min_ignoring_nan(left.min, right.min), max_ignoring_nan(left.max, right.max),
          left.below_zero + right.below_zero, left.zeros + right.zeros};
}

// mean = sum / n (n >= 1).
constexpr double stats_mean(const StatsAccumulator& acc, std::size_t n) noexcept {
  return acc.sum / static_cast<double>(n);
}

// Deviations from an infinite or NaN mean are undefined; the standard
// deviation is then reported as 0.0 and the second pass can be skipped.
constexpr bool deviation_pass_needed(double mean) noexcept {
  return mean >= -std::numeric_limits<double>::max() && mean <= std::numeric_limits<double>::max();
}

// Second pass: sum of (x - mean)^2, identity 0.0.
struct SquaredDeviationFold {
  double mean;
  constexpr double operator()(double acc, double x) const noexcept {
    const double d = x - mean;
    return acc + d * d;
  }
};

constexpr double squared_deviation_combine(double left, double right) noexcept { return left + right; }

// Sort order for the median: ascending, with every NaN after every number
// (NaNs are equivalent among themselves, as are 0.0 and -0.0). This is a
// strict weak ordering. A NaN among the values therefore sorts last, and the
// median is NaN only when NaNs reach the middle position. The median is that
// of a stable sort: equal numbers keep their input order, which decides only
// between 0.0 and -0.0 (other equal numbers are the same bits), so for input
// without NaN it is statistics.median's, bit for bit.
constexpr bool nan_last_less(double a, double b) noexcept {
  return a < b || (stats_detail::is_nan(b) && !stats_detail::is_nan(a));
}

// Puts in positions n/2 and, for an even count, n/2 - 1 the elements a stable
// sort by nan_last_less would put there, leaving the others in no particular
// order: the median needs nothing more than these, in linear time. `values`
// must be in input order and `acc` their first-pass fold.
void place_median_elements(std::span<double> values, const StatsAccumulator& acc) noexcept;

struct StatsSummary {
  double mean;
  double median;
  double stdev;  // population standard deviation (divides by n)
  double min;
  double max;
  std::size_t count;
};

// Final numbers from the first pass, the second pass's sum of squared
// deviations, and the values stably sorted by nan_last_less, or at least
// their middle elements placed by place_median_elements (`sorted` must hold all
// n >= 1 values; for an empty span every double is NaN and count is 0).
//   median: the middle element for odd n, else the two middle elements added
//           and multiplied by 0.5;
//   stdev:  sqrt(squared_deviations / n) when that variance is > 0 and the
//           mean is finite, else 0.0.
StatsSummary stats_summary(const StatsAccumulator& acc, double squared_deviations,
                           std::span<const double> sorted) noexcept;

}  // namespace zembra::analytics
