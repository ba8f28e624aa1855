#include "pure/analytics/risk.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

// The score must not depend on the target: a fused multiply-add would round
// once where the formula rounds twice, so contraction is off for the formula
// even when the build enables FMA instructions.
#if defined(__clang__)
#define ZB_NO_FP_CONTRACT
#elif defined(__GNUC__)
#define ZB_NO_FP_CONTRACT __attribute__((optimize("fp-contract=off")))
#else
#define ZB_NO_FP_CONTRACT
#endif

namespace zembra::analytics {

static_assert(kRiskFields[kLoanAmountField].default_value == kDefaultLoanAmount);

ZB_NO_FP_CONTRACT double risk_score(const RiskInput& in) noexcept {
#if defined(__clang__)
#pragma clang fp contract(off)
#endif
  const double c = in.credit_score;
  const double d = in.debt_to_income_ratio;
  const double L = in.loan_amount;
  const double a = in.age;
  const double i = in.interest_rate;

  const double base = (100.0 - c / 10.0) + 50.0 * d;
  const double age_reduction = a >= 25.0 ? 5.0 : 0.0;  // false for NaN
  double t = (2.0 * std::log(L + 1.0) + base) - age_reduction;
  t = 0.5 * i + t;
  double q = c - 300.0;
  if (!(q > 0.0)) q = 0.0;  // also catches NaN
  t = t - 0.3 * std::sqrt(q);

  if (t < 0.0) return 0.0;
  if (t > 100.0) return 100.0;
  return t;  // NaN passes through
}

namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr char ascii_lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

constexpr bool equals_ignoring_case(std::string_view text, std::string_view lower) noexcept {
  if (text.size() != lower.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k)
    if (ascii_lower(text[k]) != lower[k]) return false;
  return true;
}

}  // namespace

std::optional<double> parse_loan_amount_text(std::string_view text) noexcept {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity"))
    return negative ? -kInf : kInf;
  if (equals_ignoring_case(text, "nan")) return negative ? -kNaN : kNaN;

  // digits [ '.' digits ] [ ('e'|'E') [sign] digits ], with a digit somewhere
  // in the mantissa.
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && is_digit(text[i])) ++i;
  const std::size_t int_end = i;
  std::size_t frac_begin = i;
  if (i < n && text[i] == '.') {
    frac_begin = ++i;
    while (i < n && is_digit(text[i])) ++i;
  }
  const std::size_t frac_end = i;
  if (int_end == 0 && frac_end == frac_begin) return std::nullopt;

  // The exponent is only needed to tell overflow from underflow below, so it
  // saturates far beyond any magnitude a double can reach.
  constexpr std::int64_t kExponentCap = std::int64_t{1} << 40;
  std::int64_t exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) exponent_negative = text[i++] == '-';
    if (i == n || !is_digit(text[i])) return std::nullopt;
    for (; i < n && is_digit(text[i]); ++i)
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
    if (exponent_negative) exponent = -exponent;
  }
  if (i != n) return std::nullopt;

  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + n, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the double range one way or the other: the decimal position of
    // the first non-zero digit decides which (the range spans 10^-324..10^308,
    // so no finer estimate is needed).
    std::int64_t magnitude = 0;
    std::size_t k = 0;
    while (k < int_end && text[k] == '0') ++k;
    if (k < int_end) {
      magnitude = static_cast<std::int64_t>(int_end - k) - 1;
    } else {
      k = frac_begin;
      while (k < frac_end && text[k] == '0') ++k;
      magnitude = -static_cast<std::int64_t>(k - frac_begin) - 1;
    }
    value = magnitude + exponent >= 0 ? kInf : 0.0;
  } else if (ec != std::errc() || end != text.data() + n) {
    return std::nullopt;  // not expected after the grammar check above
  }
  return negative ? -value : value;
}

}  // namespace zembra::analytics
