#include "pure/text/decimal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace zembra::text {
namespace {

constexpr std::array<std::string_view, 8> kMessages = {
    "Invalid decimal: empty",
    "Invalid decimal: no digits found",
    "Invalid decimal: two decimal points",
    "Invalid decimal: must start lead with a number",
    "Invalid decimal: unknown character",
    "Invalid decimal: overflow from too many digits",
    "Number has a high precision that can not be represented.",
    "Invalid decimal: overflow from mantissa after rounding",
};

constexpr u128 kMaxMantissa = Decimal::kMaxMantissa;
// m * 10 + d stays within the mantissa iff m < kMaxDiv10, or m == kMaxDiv10
// and d <= kMaxMod10; this avoids a 128-bit division per digit.
constexpr u128 kMaxDiv10 = kMaxMantissa / 10;
constexpr unsigned kMaxMod10 = static_cast<unsigned>(kMaxMantissa % 10);

inline bool fits_another_digit(u128 m, unsigned d) {
  return m < kMaxDiv10 || (m == kMaxDiv10 && d <= kMaxMod10);
}

constexpr auto kPow10 = [] {
  std::array<u128, 39> p{};
  p[0] = 1;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

Decimal make(u128 m, unsigned scale, bool negative) {
  Decimal d;
  d.mantissa = m;
  d.scale = static_cast<std::uint8_t>(scale);
  d.negative = negative;
  return d;
}

// Rounding mode: the digit that could not be kept decides (half up).
Expected<Decimal, DecimalError> round_at(u128 m, unsigned scale, bool negative, bool up) {
  if (!up) return make(m, scale, negative);
  if (m < kMaxMantissa) return make(m + 1, scale, negative);
  // m + 1 needs 97 bits: give up one more fraction digit.
  if (scale == 0) return fail(DecimalError::OverflowAfterRounding);
  u128 wide = m + 1;
  u128 kept = wide / 10 + (wide % 10 >= 5 ? 1 : 0);
  return make(kept, scale - 1, negative);
}

// What follows the cut in rounding mode: digits and separators, or the
// error the first other character gets anywhere else in the fraction.
std::optional<DecimalError> rest_error(const char* p, const char* end) {
  for (; p != end; ++p) {
    if (static_cast<unsigned char>(*p - '0') <= 9 || *p == '_') continue;
    return *p == '.' ? DecimalError::TwoDecimalPoints : DecimalError::UnknownCharacter;
  }
  return std::nullopt;
}

// Writes the digits of m right-aligned ending at end; returns the start.
char* write_digits(u128 m, char* end) {
  while (m > UINT64_MAX) {
    // Peel 19 digits at a time so the inner loop runs on 64-bit words.
    constexpr std::uint64_t kChunk = 10000000000000000000ull;
    std::uint64_t low = static_cast<std::uint64_t>(m % kChunk);
    m /= kChunk;
    for (int i = 0; i < 19; ++i) {
      *--end = static_cast<char>('0' + low % 10);
      low /= 10;
    }
  }
  std::uint64_t v = static_cast<std::uint64_t>(m);
  do {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  return end;
}

}  // namespace

std::string_view message(DecimalError error) {
  auto i = static_cast<std::size_t>(error);
  return i < kMessages.size() ? kMessages[i] : std::string_view("Invalid decimal");
}

Expected<Decimal, DecimalError> parse_decimal(std::string_view text, DecimalMode mode) {
  const char* p = text.data();
  const char* end = p + text.size();
  if (p == end) return fail(DecimalError::Empty);

  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
    if (p == end) return fail(DecimalError::NoDigits);
  }
  if (*p != '.' && static_cast<unsigned char>(*p - '0') > 9)
    return fail(DecimalError::MustStartLeadWithNumber);

  u128 m = 0;
  bool any_digit = false;

  // Integer part.
  for (; p != end; ++p) {
    unsigned d = static_cast<unsigned char>(*p - '0');
    if (d <= 9) {
      if (!fits_another_digit(m, d)) return fail(DecimalError::OverflowTooManyDigits);
      m = m * 10 + d;
      any_digit = true;
    } else if (*p == '_') {
      continue;
    } else if (*p == '.') {
      break;
    } else {
      return fail(DecimalError::UnknownCharacter);
    }
  }

  unsigned scale = 0;
  if (p != end) {
    ++p;  // the point
    for (; p != end; ++p) {
      unsigned d = static_cast<unsigned char>(*p - '0');
      if (d <= 9) {
        if (scale == Decimal::kMaxScale || !fits_another_digit(m, d)) {
          if (mode == DecimalMode::Exact) return fail(DecimalError::HighPrecision);
          // The digits past the cut only round, but the text must still be
          // a decimal: stopping here would drop an exponent or junk.
          if (auto error = rest_error(p + 1, end)) return fail(*error);
          return round_at(m, scale, negative, d >= 5);
        }
        m = m * 10 + d;
        ++scale;
        any_digit = true;
      } else if (*p == '_') {
        continue;
      } else if (*p == '.') {
        return fail(DecimalError::TwoDecimalPoints);
      } else {
        return fail(DecimalError::UnknownCharacter);
      }
    }
  }

  if (!any_digit) return fail(DecimalError::NoDigits);
  return make(m, scale, negative);
}

unsigned decimal_digit_count(const Decimal& value) {
  u128 m = value.mantissa | 1;  // zero has one digit, like one
  auto hi = static_cast<std::uint64_t>(m >> 64);
  unsigned bits = hi != 0 ? 64 + static_cast<unsigned>(std::bit_width(hi))
                          : static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(m)));
  // bits * log10(2), then one correction step against the exact power.
  unsigned t = (bits * 1233) >> 12;
  return t - (value.mantissa < kPow10[t] && value.mantissa != 0 ? 1 : 0) + 1;
}

void format_decimal(const Decimal& value, Buffer& out) {
  char digits[40];
  char* digits_end = digits + sizeof digits;
  char* first = write_digits(value.mantissa, digits_end);
  std::size_t n = static_cast<std::size_t>(digits_end - first);
  std::size_t scale = value.scale;

  // Exact size: sign, integer digits (at least one), point and fraction.
  std::size_t int_len = n > scale ? n - scale : 1;
  std::size_t size = (value.negative ? 1 : 0) + int_len + (scale > 0 ? 1 + scale : 0);
  char* w = out.reserve(size);
  char* start = w;
  if (value.negative) *w++ = '-';
  if (n > scale) {
    std::memcpy(w, first, n - scale);
    w += n - scale;
    if (scale > 0) {
      *w++ = '.';
      std::memcpy(w, first + (n - scale), scale);
      w += scale;
    }
  } else {
    *w++ = '0';
    if (scale > 0) {
      *w++ = '.';
      std::memset(w, '0', scale - n);
      w += scale - n;
      std::memcpy(w, first, n);
      w += n;
    }
  }
  out.commit(static_cast<std::size_t>(w - start));
}

std::optional<std::string> expand_exponent(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  bool negative = false;
  if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';

  // Coefficient: digits with at most one point.
  const char* coeff = p;
  std::size_t fraction_digits = 0;
  bool point = false;
  std::size_t digit_count = 0;
  for (; p != end; ++p) {
    if (static_cast<unsigned char>(*p - '0') <= 9) {
      ++digit_count;
      if (point) ++fraction_digits;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  const char* coeff_end = p;
  if (digit_count == 0 || p == end || (*p != 'E' && *p != 'e')) return std::nullopt;
  ++p;

  // Exponent: saturates far beyond anything that changes the outcome.
  bool exp_negative = false;
  if (p != end && (*p == '-' || *p == '+')) exp_negative = *p++ == '-';
  if (p == end) return std::nullopt;
  std::int64_t exponent = 0;
  for (; p != end; ++p) {
    unsigned d = static_cast<unsigned char>(*p - '0');
    if (d > 9) return std::nullopt;
    if (exponent < (std::int64_t(1) << 40)) exponent = exponent * 10 + d;
  }
  if (exp_negative) exponent = -exponent;

  // The digits without the point and without leading zeros.
  char digits[64];
  std::size_t n = 0;
  // The output shows at most 29 integer and 29 fraction digits.
  constexpr std::size_t kKeep = 58;
  std::size_t significant = 0;       // digits after the leading zeros
  for (const char* q = coeff; q != coeff_end; ++q) {
    if (*q == '.') continue;
    if (n == 0 && *q == '0') continue;
    ++significant;
    if (n < kKeep) digits[n++] = *q;
  }
  bool zero = significant == 0;
  // Value = digits * 10^shift, with `significant` digits in all.
  std::int64_t shift = exponent - static_cast<std::int64_t>(fraction_digits);

  constexpr std::int64_t kMaxInt = 29;
  constexpr std::int64_t kMaxFraction = 29;
  std::string out;
  out.reserve(64);
  if (negative) out.push_back('-');

  if (zero) {
    out.push_back('0');
    if (shift < 0) {
      out.push_back('.');
      out.append(static_cast<std::size_t>(std::min(-shift, kMaxFraction)), '0');
    }
    return out;
  }

  std::int64_t sig = static_cast<std::int64_t>(significant);
  std::int64_t int_len = sig + shift;  // digits before the point (may be <= 0)
  if (int_len > kMaxInt) {
    // Too large for the reader whatever follows: 30 digits always overflow.
    for (std::int64_t i = 0; i < kMaxInt + 1; ++i)
      out.push_back(i < static_cast<std::int64_t>(n) ? digits[i] : '0');
    return out;
  }
  // Digit i (0-based, within the significant digits) of the value; digits
  // past the kept ones only appear where the output is cut anyway.
  auto digit_at = [&](std::int64_t i) -> char {
    return i < static_cast<std::int64_t>(n) && i < sig ? digits[i] : '0';
  };
  if (int_len > 0) {
    for (std::int64_t i = 0; i < int_len; ++i) out.push_back(digit_at(i));
  } else {
    out.push_back('0');
  }
  if (shift < 0) {
    std::int64_t fraction_len = std::min(-shift, kMaxFraction);
    out.push_back('.');
    for (std::int64_t k = 0; k < fraction_len; ++k) {
      std::int64_t i = int_len + k;  // index into the significant digits
      out.push_back(i < 0 ? '0' : digit_at(i));
    }
  }
  return out;
}

}  // namespace zembra::text
