#include "pure/analytics/stats.h"

#include <algorithm>
#include <cmath>

namespace zembra::analytics {

void place_median_elements(std::span<double> values, const StatsAccumulator& acc) noexcept {
  const std::size_t n = values.size();
  if (n < 2) return;

  // Middle positions of the sorted order: n/2 - 1 (for an even count) and n/2.
  const std::size_t position[2] = {n % 2 == 0 ? n / 2 - 1 : n / 2, n / 2};

  // A stable sort puts the zeros at [below_zero, below_zero + zeros) in input
  // order. A middle position among them gets the sign of the zero that
  // belongs there, found before the selection reorders the values.
  bool among_zeros[2];
  bool negative[2] = {false, false};
  for (int k = 0; k < 2; ++k)
    among_zeros[k] = position[k] >= acc.below_zero && position[k] - acc.below_zero < acc.zeros;
  if (among_zeros[0] || among_zeros[1]) {
    const std::size_t last = position[among_zeros[1] ? 1 : 0] - acc.below_zero;
    std::size_t seen = 0;  // zeros met so far
    for (double x : values) {
      if (x != 0.0) continue;
      for (int k = 0; k < 2; ++k)
        if (among_zeros[k] && position[k] - acc.below_zero == seen) negative[k] = stats_detail::sign_bit(x);
      if (seen++ == last) break;
    }
  }

  auto less = [](double a, double b) { return nan_last_less(a, b); };
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(values.begin(), middle, values.end(), less);
  if (n % 2 == 0) {
    // Everything before the middle is not greater than it; the largest of
    // those is the lower middle element of the sorted order.
    std::iter_swap(std::max_element(values.begin(), middle, less), middle - 1);
  }

  // The selection left some zero at each middle position among the zeros;
  // swap in one of the right sign (the values stay a permutation). The lower
  // position is settled first and then left alone.
  for (int k = 0; k < 2; ++k) {
    if (!among_zeros[k]) continue;
    double& slot = values[position[k]];
    if (stats_detail::sign_bit(slot) == negative[k]) continue;
    for (std::size_t i = 0; i < n; ++i) {
      if (k == 1 && i == position[0]) continue;
      if (values[i] == 0.0 && stats_detail::sign_bit(values[i]) == negative[k]) {
        std::swap(slot, values[i]);
        break;
      }
    }
  }
}

StatsSummary stats_summary(const StatsAccumulator& acc, double squared_deviations,
                           std::span<const double> sorted) noexcept {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const std::size_t n = sorted.size();
  if (n == 0) return {kNaN, kNaN, kNaN, kNaN, kNaN, 0};

  const double count = static_cast<double>(n);
  const double mean = stats_mean(acc, n);
  const double median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) * 0.5;

  double stdev = 0.0;
  if (deviation_pass_needed(mean)) {
    const double variance = squared_deviations / count;
    if (variance > 0.0) stdev = std::sqrt(variance);  // NaN and 0 stay 0.0
  }
  return {mean, median, stdev, acc.min, acc.max, n};
}

}  // namespace zembra::analytics
