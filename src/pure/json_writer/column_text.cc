#include "pure/json_writer/column_text.h"

#include <limits>

#include "pure/json_writer/json_text.h"

namespace zembra::json {
namespace {

u128 power_of_ten(unsigned exponent) {
  u128 p = 1;
  for (unsigned i = 0; i < exponent; ++i) p *= 10;
  return p;
}

void two_digits(std::int32_t v, Buffer& out) {
  char* p = out.reserve(2);
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
  out.commit(2);
}

// ".ffffff": six digits of microseconds.
void write_fraction(std::int32_t microseconds, Buffer& out) {
  char* p = out.reserve(7);
  p[0] = '.';
  for (int i = 6; i >= 1; --i) {
    p[i] = static_cast<char>('0' + microseconds % 10);
    microseconds /= 10;
  }
  out.commit(7);
}

}  // namespace

std::optional<Decimal> rescale_decimal(const Decimal& value, unsigned places) {
  // 10**38 is the largest power of ten a 128-bit mantissa holds.
  constexpr unsigned kMaxPower = 38;
  if (places > std::numeric_limits<std::uint8_t>::max()) return std::nullopt;
  Decimal out = value;
  out.scale = static_cast<std::uint8_t>(places);
  if (places >= value.scale) {
    unsigned grow = places - value.scale;
    if (grow > kMaxPower) return value.mantissa == 0 ? std::optional<Decimal>(out) : std::nullopt;
    u128 factor = power_of_ten(grow);
    if (value.mantissa > std::numeric_limits<u128>::max() / factor) return std::nullopt;
    out.mantissa = value.mantissa * factor;
    return out;
  }
  unsigned drop = value.scale - places;  // at most 255, but the mantissa has at most 39 digits
  if (drop > kMaxPower) {
    out.mantissa = 0;
    return out;
  }
  u128 divisor = power_of_ten(drop);
  u128 quotient = value.mantissa / divisor;
  u128 remainder = value.mantissa % divisor;
  u128 half = divisor / 2;
  if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
  out.mantissa = quotient;
  return out;
}

void format_duration(std::int64_t days, std::int32_t seconds, std::int32_t microseconds, Buffer& out) {
  if (days != 0) {
    write_int(days, out);
    out.push_back(' ');
  }
  std::int32_t hours = seconds / 3600;
  std::int32_t minutes = seconds / 60 % 60;
  two_digits(hours, out);
  out.push_back(':');
  two_digits(minutes, out);
  out.push_back(':');
  two_digits(seconds % 60, out);
  if (microseconds != 0) write_fraction(microseconds, out);
}

void format_iso_time(const Time& time, Buffer& out) {
  auto seconds = static_cast<std::int32_t>(time.seconds);
  two_digits(seconds / 3600, out);
  out.push_back(':');
  two_digits(seconds / 60 % 60, out);
  out.push_back(':');
  two_digits(seconds % 60, out);
  auto microseconds = static_cast<std::int32_t>(time.nanos / 1000);
  if (microseconds != 0) write_fraction(microseconds, out);
}

void format_iso_datetime_utc(const DateTime& datetime, Buffer& out) {
  text::format_date(datetime.date, out);
  out.push_back('T');
  format_iso_time(datetime.time, out);
  out.push_back('Z');
}

}  // namespace zembra::json
