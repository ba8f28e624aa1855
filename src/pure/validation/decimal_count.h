// Digit and decimal-place counts read off a decimal's text, without parsing
// it, for checks that only have the text.
#pragma once

#include <cstdint>
#include <string_view>

namespace zembra {

struct DecimalCounts {
  std::uint64_t digits = 0;
  std::uint64_t places = 0;
  friend bool operator==(const DecimalCounts&, const DecimalCounts&) = default;
};

// Counts any text, well-formed or not; characters are Unicode code points.
//  - One leading "-" is dropped ("+" stays and counts as a character).
//  - At the first "e" or "E" the text splits into mantissa and exponent; the
//    exponent ([+-]digits, signed 32-bit, anything else or overflow reads as
//    0) shifts the mantissa's counts: digits = max(d + max(exp, 0), 1),
//    places = max(p - exp, 0).
//  - Mantissa: digits = characters other than the first "." once leading
//    "0"s are removed, at least 1; places = characters after the first ".".
// Examples: 123.45 -> (5, 2), 0.001 -> (1, 3), 1.50 -> (3, 2), 007 -> (1, 0),
// 1E+2 -> (3, 0), 1.5E-7 -> (2, 8), NaN -> (3, 0), Infinity -> (8, 0).
DecimalCounts count_decimal_text(std::string_view text) noexcept;

}  // namespace zembra
