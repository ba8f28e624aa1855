#include <algorithm>
#include "analytics/stats.h"

#include <cmath>

namespace zembra::analytics {

void place_median_elements(std::span<double> values) noexcept {
  const std::size_t n = values.size();
  if (n < 2) return;
  auto less = [](double a, double b) { return nan_last_less(a, b); };
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(values.begin(), middle, values.end(), less);
  if (n % 2 == 0) {
    // Everything before the middle is not greater than it; the largest of
    // those is the lower middle element of the sorted order.
    std::iter_swap(std::max_element(values.begin(), middle, less), middle - 1);
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
