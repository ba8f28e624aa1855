// Any text that reads as a decimal (either mode) must write back as plain
// text that the exact reader reads to the same value; exponent expansion
// must stay small and agree with the reader on plain texts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pure/text/decimal.h"

using namespace zembra;
using namespace zembra::text;

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

void check_round_trip(const Decimal& d) {
  require(d.mantissa <= Decimal::kMaxMantissa && d.scale <= Decimal::kMaxScale);
  Buffer out;
  format_decimal(d, out);
  require(out.size() <= kMaxDecimalTextSize);
  auto again = parse_decimal(out.view(), DecimalMode::Exact);
  require(again.ok() && *again == d);
  unsigned digits = decimal_digit_count(d);
  require(digits >= 1 && digits <= 29);
}

bool plain_digits(std::string_view s) {
  for (char c : s)
    if (c == '_') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto exact = parse_decimal(text, DecimalMode::Exact);
  auto rounded = parse_decimal(text, DecimalMode::Rounding);
  if (exact) {
    check_round_trip(*exact);
    // Whatever the exact reader accepts, the rounding reader reads alike.
    require(rounded.ok() && *rounded == *exact);
    // The same number with a zero exponent expands to the same value.
    if (plain_digits(text)) {
      auto expanded = expand_exponent(std::string(text) + "E0");
      require(expanded.has_value());
      auto back = parse_decimal(*expanded, DecimalMode::Exact);
      require(back.ok() && *back == *exact);
    }
  }
  if (rounded) check_round_trip(*rounded);

  if (auto expanded = expand_exponent(text)) {
    require(expanded->size() <= 60);
    auto e = parse_decimal(*expanded, DecimalMode::Exact);
    if (e) check_round_trip(*e);
    auto r = parse_decimal(*expanded, DecimalMode::Rounding);
    if (r) check_round_trip(*r);
  }
  return 0;
}
