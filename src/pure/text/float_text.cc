#include "pure/text/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace zembra {

std::size_t write_float_plain(double value, char* out) noexcept {
  char* p = out;
  if (std::isnan(value)) {
    std::memcpy(p, "NaN", 3);
    return 3;
  }
  if (std::signbit(value)) *p++ = '-';
  if (std::isinf(value)) {
    std::memcpy(p, "inf", 3);
    return static_cast<std::size_t>(p + 3 - out);
  }

  // The shortest round-trip digits come from to_chars in scientific form,
  // "d[.ddd]e±XX"; only their placement is done here.
  char sci[40];
  auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
  const char* end = res.ptr;

  char digits[24];
  int count = 0;
  const char* s = sci;
  for (; s < end && *s != 'e'; ++s)
    if (*s != '.' && count < static_cast<int>(sizeof digits)) digits[count++] = *s;
  int exponent = 0;
  if (s < end) {
    ++s;  // 'e'
    bool negative = *s == '-';
    ++s;  // to_chars always writes the exponent's sign
    for (; s < end; ++s) exponent = exponent * 10 + (*s - '0');
    if (negative) exponent = -exponent;
  }
  while (count > 1 && digits[count - 1] == '0') --count;

  // Number of digits before the decimal point.
  int point = exponent + 1;
  if (point <= 0) {
    *p++ = '0';
    *p++ = '.';
    std::memset(p, '0', static_cast<std::size_t>(-point));
    p += -point;
    std::memcpy(p, digits, static_cast<std::size_t>(count));
    p += count;
  } else if (point >= count) {
    std::memcpy(p, digits, static_cast<std::size_t>(count));
    p += count;
    std::memset(p, '0', static_cast<std::size_t>(point - count));
    p += point - count;
  } else {
    std::memcpy(p, digits, static_cast<std::size_t>(point));
    p += point;
    *p++ = '.';
    std::memcpy(p, digits + point, static_cast<std::size_t>(count - point));
    p += count - point;
  }
  return static_cast<std::size_t>(p - out);
}

void format_float_plain(double value, Buffer& out) {
  out.commit(write_float_plain(value, out.reserve(kMaxFloatPlainSize)));
}

}  // namespace zembra
