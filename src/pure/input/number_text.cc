#include "pure/input/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "pure/input/unicode.h"

namespace zembra::input {
namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The interpreter's first step for int() and float() of a str: whitespace of
// any script becomes " ", digits of any script become ASCII digits, other
// ASCII stays, anything else makes the text unreadable.
bool ascii_form(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  const char* p = text.data();
  const char* end = p + text.size();
  while (p != end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      const char c = *p++;
      out += is_space(static_cast<unsigned char>(c)) ? ' ' : c;
      continue;
    }
    const char32_t c = next_code_point(p);
    if (is_space(c)) {
      out += ' ';
    } else if (const int d = decimal_value(c); d >= 0) {
      out += static_cast<char>('0' + d);
    } else {
      return false;
    }
  }
  return true;
}

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Digits with single "_" between them, as int() reads them; appended to out.
bool read_separated_digits(std::string_view s, std::string& out, bool hex) {
  auto digit_ok = [hex](char c) {
    return is_digit(c) || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
  };
  if (s.empty() || !digit_ok(s.front())) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '_') {
      if (i + 1 == s.size() || !digit_ok(s[i + 1])) return false;
      continue;
    }
    if (!digit_ok(c)) return false;
    out += c;
  }
  return true;
}

void strip_leading_zeros(std::string& digits) {
  std::size_t k = 0;
  while (k + 1 < digits.size() && digits[k] == '0') ++k;
  digits.erase(0, k);
  if (digits.empty()) digits = "0";
}

bool equals_ignoring_case(std::string_view s, std::string_view lower_word) {
  if (s.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((s[i] | 0x20) != lower_word[i]) return false;
  }
  return true;
}

// -1, 0, 1 comparing magnitudes that have the same adjusted exponent.
int compare_digits(std::string_view a, std::string_view b) {
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char x = i < a.size() ? a[i] : '0';
    const char y = i < b.size() ? b[i] : '0';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace

int compare(const ExactNumber& a, const ExactNumber& b) {
  const bool az = a.is_zero(), bz = b.is_zero();
  if (az && bz) return 0;
  const int sa = az ? 0 : (a.negative ? -1 : 1);
  const int sb = bz ? 0 : (b.negative ? -1 : 1);
  if (sa != sb) return sa < sb ? -1 : 1;
  int magnitude;
  if (a.adjusted() != b.adjusted()) {
    magnitude = a.adjusted() < b.adjusted() ? -1 : 1;
  } else {
    magnitude = compare_digits(a.digits, b.digits);
  }
  return sa < 0 ? -magnitude : magnitude;
}

ExactNumber exact_from_int(std::int64_t value) {
  ExactNumber out;
  out.negative = value < 0;
  const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  out.digits = std::to_string(magnitude);
  return out;
}

ExactNumber exact_from_integer_text(std::string_view text) {
  ExactNumber out;
  out.negative = !text.empty() && text.front() == '-';
  if (out.negative) text.remove_prefix(1);
  out.digits.assign(text);
  strip_leading_zeros(out.digits);
  if (out.is_zero()) out.negative = false;
  return out;
}

double decimal_text_to_double(std::string_view text) {
  double value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc::result_out_of_range) return value;
  // Out of range: infinite when the first significant digit stands at
  // 10^0 or above, else a zero.
  const bool negative = *begin == '-';
  if (negative) ++begin;
  long long integer_digits = 0, leading_zeros = 0;
  bool significant = false, after_point = false;
  const char* p = begin;
  for (; p != end && *p != 'e' && *p != 'E'; ++p) {
    if (*p == '.') {
      after_point = true;
      continue;
    }
    if (!after_point) ++integer_digits;
    if (!significant) {
      if (*p == '0') {
        ++leading_zeros;
      } else {
        significant = true;
      }
    }
  }
  long long exponent = 0;
  if (p != end) {
    ++p;
    const bool minus = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    for (; p != end; ++p) exponent = std::min(exponent * 10 + (*p - '0'), 1'000'000'000'000LL);
    if (minus) exponent = -exponent;
  }
  const bool huge = integer_digits - leading_zeros - 1 + exponent >= 0;
  value = huge ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -value : value;
}

std::optional<ExactNumber> python_int(std::string_view text) {
  std::string ascii;
  if (!ascii_form(text, ascii)) return std::nullopt;
  std::string_view s = trim_blanks(ascii);
  ExactNumber out;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    out.negative = s.front() == '-';
    s.remove_prefix(1);
  }
  out.digits.clear();
  if (!read_separated_digits(s, out.digits, false)) return std::nullopt;
  strip_leading_zeros(out.digits);
  if (out.is_zero()) out.negative = false;
  return out;
}

std::optional<unsigned __int128> python_hex_u128(std::string_view text) {
  std::string ascii;
  if (!ascii_form(text, ascii)) return std::nullopt;
  std::string_view s = trim_blanks(ascii);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    if (!s.empty() && s.front() == '_') s.remove_prefix(1);  // one separator may follow the prefix
  }
  std::string digits;
  if (!read_separated_digits(s, digits, true)) return std::nullopt;
  unsigned __int128 value = 0;
  for (char c : digits) {
    const unsigned d = is_digit(c) ? static_cast<unsigned>(c - '0') : static_cast<unsigned>((c | 0x20) - 'a' + 10);
    if (value >> 124) return std::nullopt;
    value = (value << 4) | d;
  }
  if (negative && value != 0) return std::nullopt;
  return value;
}

std::optional<double> python_float(std::string_view text) {
  std::string ascii;
  if (!ascii_form(text, ascii)) return std::nullopt;
  std::string_view s = trim_blanks(ascii);
  // Separators only between digits; then they are dropped.
  std::string plain;
  plain.reserve(s.size());
  char prev = '\0';
  for (char c : s) {
    if (c == '_') {
      if (!is_digit(prev)) return std::nullopt;
    } else {
      if (prev == '_' && !is_digit(c)) return std::nullopt;
      plain += c;
    }
    prev = c;
  }
  if (prev == '_') return std::nullopt;
  std::string_view body = plain;
  bool negative = false;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
  // [digits][.digits] with at least one digit, then an optional exponent.
  std::size_t i = 0, mantissa_digits = 0;
  while (i < body.size() && is_digit(body[i])) ++i, ++mantissa_digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && is_digit(body[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return std::nullopt;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    const std::size_t exponent_start = i;
    while (i < body.size() && is_digit(body[i])) ++i;
    if (i == exponent_start) return std::nullopt;
  }
  if (i != body.size()) return std::nullopt;
  const double value = decimal_text_to_double(body);
  return negative ? -value : value;
}

std::optional<ExactNumber> python_decimal(std::string_view text) {
  // Plain ASCII numbers (the usual case) are read in place; anything with
  // spaces, separators or other scripts is first brought to ASCII.
  bool plain = !text.empty();
  for (char c : text) plain = plain && ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E');
  std::string ascii;
  if (!plain) text = strip_spaces(text);
  const char* p = text.data();
  const char* end = plain ? p : p + text.size();
  if (!plain) ascii.reserve(text.size());
  while (p != end) {
    const char32_t c = next_code_point(p);
    if (c == '_') continue;
    if (c > 0 && c < 0x80) {
      ascii += static_cast<char>(c);
    } else if (is_space(c)) {
      ascii += ' ';
    } else if (const int d = decimal_value(c); d >= 0) {
      ascii += static_cast<char>('0' + d);
    } else {
      return std::nullopt;
    }
  }
  std::string_view s = plain ? text : std::string_view(ascii);
  ExactNumber out;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    out.negative = s.front() == '-';
    s.remove_prefix(1);
  }
  out.digits.clear();
  out.digits.reserve(s.size());
  std::size_t i = 0;
  std::int64_t fraction_digits = 0;
  while (i < s.size() && is_digit(s[i])) out.digits += s[i++];
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) {
      out.digits += s[i++];
      ++fraction_digits;
    }
  }
  if (out.digits.empty()) return std::nullopt;  // also NaN, sNaN, Infinity
  // The exponent must fit the interpreter's 64-bit range; far beyond the
  // limits checked below, so it is capped while reading.
  constexpr std::int64_t kCap = 4'000'000'000'000'000'000LL;
  std::int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool minus = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
    const std::size_t start = i;
    while (i < s.size() && is_digit(s[i])) {
      exponent = exponent >= kCap / 10 ? kCap : exponent * 10 + (s[i] - '0');
      ++i;
    }
    if (i == start) return std::nullopt;
    if (minus) exponent = -exponent;
  }
  if (i != s.size()) return std::nullopt;
  strip_leading_zeros(out.digits);
  out.exponent = exponent - fraction_digits;
  // The type's own limits: Emax 999999999999999999, Etiny -1999999999999999997.
  if (out.exponent < -1'999'999'999'999'999'997LL) return std::nullopt;
  if (out.adjusted() > 999'999'999'999'999'999LL) return std::nullopt;
  return out;
}

void append_float_repr(double value, std::string& out) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));
  bool negative = false;
  if (sci.front() == '-') {
    negative = true;
    sci.remove_prefix(1);
  }
  const std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+'), sci.data() + sci.size(), exponent);
  if (negative) out += '-';
  const int point = exponent + 1;  // digits before the decimal point
  if (point > -4 && point <= 16) {
    // Positional: 0.000ddd, ddd.ddd or ddd000.0
    if (point <= 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-point), '0');
      out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
      out += digits;
      out.append(static_cast<std::size_t>(point) - digits.size(), '0');
      out += ".0";
    } else {
      out.append(digits, 0, static_cast<std::size_t>(point));
      out += '.';
      out.append(digits, static_cast<std::size_t>(point));
    }
    return;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out.append(digits, 1);
  }
  out += 'e';
  out += exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) out += '0';
  out += std::to_string(magnitude);
}

void append_integer(const ExactNumber& value, std::string& out) {
  if (value.negative && !value.is_zero()) out += '-';
  out += value.digits;
  if (!value.is_zero()) out.append(static_cast<std::size_t>(value.exponent), '0');
}

ExactNumber exact_integer_part(double value) {
  const double whole = std::trunc(value);
  if (std::fabs(whole) < 9.2e18) return exact_from_int(static_cast<std::int64_t>(whole));
  // Above 2^63 every double is an integer: mantissa * 2^exponent, written
  // out by doubling a decimal digit string.
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(whole), &exponent);
  auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  exponent -= 53;
  std::string digits = std::to_string(mantissa);  // most significant first
  for (int k = 0; k < exponent; ++k) {
    int carry = 0;
    for (std::size_t i = digits.size(); i-- > 0;) {
      const int d = (digits[i] - '0') * 2 + carry;
      digits[i] = static_cast<char>('0' + d % 10);
      carry = d / 10;
    }
    if (carry) digits.insert(digits.begin(), static_cast<char>('0' + carry));
  }
  ExactNumber out;
  out.negative = value < 0;
  out.digits = std::move(digits);
  return out;
}


}  // namespace zembra::input
