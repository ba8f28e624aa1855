#include "pure/validation/decimal_count.h"

#include <cstddef>

#include "pure/validation/code_points.h"

namespace zembra {
namespace {

// A signed 32-bit decimal with an optional sign; 0 for anything else.
std::int64_t read_exponent(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return 0;
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return 0;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return 0;
  }
  return negative ? -magnitude : magnitude;
}

std::uint64_t without_leading_zeros(std::string_view text) {
  std::size_t zeros = text.find_first_not_of('0');
  if (zeros == std::string_view::npos) return 0;
  return count_code_points(text.substr(zeros));
}

DecimalCounts count_mantissa(std::string_view text) {
  std::size_t point = text.find('.');
  if (point == std::string_view::npos) {
    std::uint64_t digits = without_leading_zeros(text);
    return {digits ? digits : 1, 0};
  }
  std::string_view before = text.substr(0, point);
  std::string_view after = text.substr(point + 1);
  // Leading zeros of the joined digits: all of `before` may be zeros, and
  // then the zeros continue into `after`.
  std::uint64_t digits = without_leading_zeros(before);
  if (digits == 0) digits = without_leading_zeros(after);
  else digits += count_code_points(after);
  return {digits ? digits : 1, count_code_points(after)};
}

}  // namespace

DecimalCounts count_decimal_text(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  std::size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos) return count_mantissa(text);

  DecimalCounts m = count_mantissa(text.substr(0, e));
  std::int64_t exp = read_exponent(text.substr(e + 1));
  // Counts are below 2^63 (they come from a text's length) and |exp| is at
  // most 2^31, so none of this can wrap.
  DecimalCounts out;
  out.digits = m.digits + static_cast<std::uint64_t>(exp > 0 ? exp : 0);
  if (exp >= 0)
    out.places = m.places > static_cast<std::uint64_t>(exp) ? m.places - static_cast<std::uint64_t>(exp) : 0;
  else
    out.places = m.places + static_cast<std::uint64_t>(-exp);
  return out;
}

}  // namespace zembra
