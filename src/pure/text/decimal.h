// Decimal text: reading 96-bit decimals from plain text and writing them back.
//
// Syntax: an optional "+" or "-", then digits with at most one ".", and "_"
// as a digit separator that is skipped. No exponent, no spaces, no NaN or
// Infinity. The scale of the text is kept: "1.50" reads as mantissa 150,
// scale 2.
//
// Choices for the corner cases (every text gets exactly one outcome):
//   ""                    Empty
//   "+", "-", ".", "+."   NoDigits: nothing but a sign and/or the point
//   "._"                  NoDigits ("_" after the lead is skipped, see below)
//   "_1", "-_1", "a", " 1", "NaN", "+-1"
//                         MustStartLeadWithNumber: after the optional sign the
//                         first character must be a digit or "."
//   "1_", "1__2", "1_.5", ".5_"
//                         fine: once past the lead, every "_" is skipped, so
//                         these read as 1, 12, 1.5 and 0.5
//   ".5" -> 0.5 (scale 1), "5." -> 5 (scale 0), "-0.00" -> negative zero with
//   scale 2 (the sign is kept; format_decimal writes "-0.00" back, as the
//   interpreter's own decimal type does)
//   "1.2.3", ".."         TwoDecimalPoints
//   "1e3", "1 ", "1-"     UnknownCharacter (the first offending character
//                         after the lead decides, reading left to right)
//
// Integer digits whose value exceeds 2^96 - 1 fail with OverflowTooManyDigits
// in both modes; leading zeros never overflow. The modes differ only in the
// fraction, once a digit can no longer be kept (it would be the 29th fraction
// digit, or it would push the mantissa past 2^96 - 1):
//   Exact     fails with HighPrecision (trailing zeros count as digits).
//   Rounding  rounds half up on that first dropped digit: 5..9 adds one to
//             the mantissa, 0..4 leaves it. The rest of the text is still
//             read: only digits and "_" may follow, the first other character
//             fails as it would before the cut ("." TwoDecimalPoints, anything
//             else UnknownCharacter), so "1.<29 digits>E+5" or a trailing
//             space is refused, never cut short. A "_" is a separator on both
//             sides of the cut ("0.<28 digits>_9" rounds on the 9). If adding
//             one overflows the mantissa, one more fraction digit is dropped
//             (rounding half up again); with no fraction digit left it is
//             OverflowAfterRounding.
//
// The parser does not allocate and works on the digits with u128 arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pure/common/buffer.h"
#include "pure/common/expected.h"
#include "pure/model/values.h"

namespace zembra::text {

enum class DecimalError : std::uint8_t {
  Empty,
  NoDigits,
  TwoDecimalPoints,
  MustStartLeadWithNumber,
  UnknownCharacter,
  OverflowTooManyDigits,
  HighPrecision,
  OverflowAfterRounding,
};

std::string_view message(DecimalError error);

enum class DecimalMode : std::uint8_t {
  Exact,     // the core module's reader
  Rounding,  // the Django module's reader
};

Expected<Decimal, DecimalError> parse_decimal(std::string_view text, DecimalMode mode);

// The longest text format_decimal writes for a valid Decimal (mantissa at
// most 2^96 - 1, i.e. 29 digits; scale at most 28): a sign plus either
// 29 digits and a point, or "0." and 28 fraction digits.
inline constexpr std::size_t kMaxDecimalTextSize = 31;

// Plain positional text: "-" for negatives (negative zero included), the
// integer digits (at least "0"), then, when scale > 0, "." and exactly scale
// fraction digits; trailing zeros are kept, never an exponent. Out-of-range
// values (wider mantissa, larger scale) are still written exactly.
void format_decimal(const Decimal& value, Buffer& out);

// Number of decimal digits of the mantissa; 1 when it is zero.
unsigned decimal_digit_count(const Decimal& value);

// For the text that the interpreter's decimal type writes in scientific
// notation ("1E+2", "1.50E+3", "-1E-7", "0E-10"): the same value in plain
// positional text, as format(value, "f") writes it ("100", "1500",
// "-0.0000001", "0.0000000000"; a zero with a positive exponent is "0").
// Returns nullopt unless the text is a sign, digits with at most one point,
// "E" or "e", and a signed or unsigned exponent (so NaN, Infinity, plain
// numbers and anything else give nullopt).
//
// The result is exact whenever parse_decimal could accept it (at most 29
// integer and 29 fraction digits). Longer results are shortened so that they
// stay small whatever the exponent, yet read identically with parse_decimal
// in both modes: an integer part beyond 29 digits is cut to 30 digits (which
// always fails with OverflowTooManyDigits), a fraction beyond 29 digits is cut
// after the 29th (the dropped digits could only be checked to be digits, the
// 29th alone decides the rounding). At most 60 characters.
std::optional<std::string> expand_exponent(std::string_view text);

}  // namespace zembra::text
