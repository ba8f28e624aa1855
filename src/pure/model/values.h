// Plain value types shared by the text formats and field values.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zembra {

using u128 = unsigned __int128;

// value = (negative ? -1 : 1) * mantissa / 10^scale. The mantissa uses at
// most 96 bits and the scale is 0..28; the scale of the text is kept, so
// "1.50" has mantissa 150 and scale 2.
struct Decimal {
  u128 mantissa = 0;
  std::uint8_t scale = 0;
  bool negative = false;

  static constexpr u128 kMaxMantissa = (u128(1) << 96) - 1;
  static constexpr std::uint8_t kMaxScale = 28;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

// Proleptic Gregorian calendar date.
struct Date {
  std::int32_t year = 1;
  std::uint8_t month = 1;
  std::uint8_t day = 1;
  friend bool operator==(const Date&, const Date&) = default;
};

// Time of day without zone.
struct Time {
  std::uint32_t seconds = 0;  // since midnight, 0..86399
  std::uint32_t nanos = 0;    // 0..999'999'999
  friend bool operator==(const Time&, const Time&) = default;
};

// Naive date and time (UTC wall time when read from an aware value).
struct DateTime {
  Date date;
  Time time;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

struct Uuid {
  std::array<std::uint8_t, 16> bytes{};
  friend bool operator==(const Uuid&, const Uuid&) = default;
};

struct ByteString {
  std::string data;
  friend bool operator==(const ByteString&, const ByteString&) = default;
};

}  // namespace zembra
